// marluneEmulator: the service and its API gateway on 127.0.0.1, for demonstrations and
// end-to-end tests of the client. Runs until asked to stop (SIGTERM or SIGINT; Ctrl-C on Windows).
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator_log.h"
#include "emulator_options.h"
#include "emulator_server.h"
#include "emulator_service.h"
#include "scenario.h"
#include "stop_request.h"
#include "tls_transport.h"

namespace {

const char kHost[] = "127.0.0.1";

std::string usage() {
  std::string text = emulatorUsage();
  if (!tlsAvailable())
    text += "this build serves HTTP only: --tls-cert and --tls-key are refused\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage().c_str(), stdout);
      return 0;
    }
  }
  EmulatorOptions options;
  std::string error;
  if (!parseEmulatorOptions(args, options, error)) {
    std::fprintf(stderr, "marluneEmulator: %s\n%s", error.c_str(), usage().c_str());
    return 2;
  }

  Scenario scenario;
  if (!options.scenarioPath.empty() && !loadScenarioFile(options.scenarioPath, scenario, error)) {
    std::fprintf(stderr, "marluneEmulator: %s\n", error.c_str());
    return 2;
  }

  std::unique_ptr<TransportMaker> tls;
  if (!options.tlsCertPath.empty()) {
    tls = loadTlsTransports(options.tlsCertPath, options.tlsKeyPath, error);
    if (!tls) {
      std::fprintf(stderr, "marluneEmulator: %s\n", error.c_str());
      return 2;
    }
  }

  catchStopRequests();

  EmulatorLog log;
  if (!options.logPath.empty() && !log.openFile(options.logPath)) {
    std::fprintf(stderr, "marluneEmulator: cannot open log file %s\n", options.logPath.c_str());
    return 1;
  }
  EmulatorService service(options, log);
  service.useScenario(scenario);
  EmulatorServer::Settings settings;
  settings.keepAliveSeconds = options.keepAliveSeconds;
  settings.closeConnections = options.closeConnections;
  settings.tls = tls.get();
  EmulatorServer server(
      [&service](const RecordedRequest& request, const Arrival& arrival) {
        return service.handle(request, arrival);
      },
      settings, log);
  int port = server.bind(kHost, options.port);
  if (port < 0) {
    std::fprintf(stderr, "marluneEmulator: cannot listen on %s:%d\n", kHost, options.port);
    return 1;
  }
  log.line("listening on " + std::string(kHost) + ":" + std::to_string(port) + "; " +
           describeEmulatorOptions(options));
  std::printf("listening on %s:%d\n", kHost, port);
  std::fflush(stdout);

  std::atomic<bool> stopping{false};
  std::atomic<bool> served{true};
  std::thread serving([&] {
    served = server.listen();
    if (!stopping) requestStop();  // wakes the main thread
  });
  const std::string reason = waitForStopRequest();
  stopping = true;
  log.line("stopping on " + reason);
  server.stop();
  serving.join();
  return served ? 0 : 1;
}
