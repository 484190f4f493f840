// Feeds arbitrary bytes to the configuration loader as the configuration file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/translate_job.h"
#include "util/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (FLAGS_minloglevel = google::GLOG_FATAL, true);
  (void)quiet;
  static const std::string path = "/tmp/marlune-config-fuzz-" + std::to_string(getpid()) + ".json";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  TranslateJob job;
  job.projectId = "1";  // keeps the loader from looking the project up over the network
  job.loadConfig(path);
  return 0;
}
