// marluneEmulator: the service and its API gateway on 127.0.0.1 (or another address), for
// demonstrations and end-to-end tests of the client. Reads its options, builds the service and
// serves it until asked to stop (SIGTERM or SIGINT; Ctrl-C or Ctrl-Break on Windows).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "marlune_version.h"
#include "server/emulator_log.h"
#include "server/http_server.h"
#include "server/tls_context.h"
#include "service/emulator_options.h"
#include "service/emulator_service.h"
#include "service/scenario.h"

namespace {

// Exits with 2, as for a wrong option, when `reason` is set.
int refuse(const std::string& reason) {
  std::fprintf(stderr, "marluneEmulator: %s\n", reason.c_str());
  return 2;
}

// Answers --help and --version, given alone; true when it did.
bool printRequestedInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) return false;
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(emulatorUsage().c_str(), stdout);
  } else if (args[0] == "--version" || args[0] == "-v") {
    std::string text = std::string("marluneEmulator ") + MARLUNE_VERSION;
    if (*MARLUNE_GIT_DESCRIBE != '\0') text += std::string(" (") + MARLUNE_GIT_DESCRIBE + ")";
    std::puts(text.c_str());
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (printRequestedInfo(args)) return 0;
  EmulatorOptions options;
  std::string reason;
  if (!parseEmulatorOptions(args, options, reason)) return refuse(reason + "; see --help");
  Scenario scenario;
  if (!options.scenarioPath.empty() && !loadScenarioFile(options.scenarioPath, scenario, reason)) {
    return refuse(reason);
  }
  std::unique_ptr<TlsContext> tls;
  if (!options.tlsCertPath.empty()) {
    tls = TlsContext::load(options.tlsCertPath, options.tlsKeyPath, reason);
    if (!tls) return refuse(reason);
  }
  EmulatorLog log;
  if (!options.logPath.empty() && !log.openFile(options.logPath)) {
    std::fprintf(stderr, "marluneEmulator: cannot open log file %s\n", options.logPath.c_str());
    return 1;
  }

  EmulatorService service(options, log);
  service.useScenario(scenario);
  HttpServer::Settings settings;
  settings.keepAlive = std::chrono::seconds(options.keepAliveSeconds);
  settings.closeConnections = options.closeConnections;
  settings.tls = tls.get();
  settings.requestBytes = static_cast<size_t>(options.requestBytes);
  HttpServer server([&service](const RecordedRequest& request,
                               const Arrival& arrival) { return service.handle(request, arrival); },
                    settings, log);
  const char* host = options.host.c_str();
  const int port = server.bind(host, options.port, reason);
  if (port < 0) {
    std::fprintf(stderr, "marluneEmulator: cannot listen on %s:%d: %s\n", host, options.port,
                 reason.c_str());
    return 1;
  }
  if (!isLoopbackAddress(options.host)) {
    const std::string warning =
        "warning: listening on " + options.host + ", the emulator is reachable from other machines";
    std::fprintf(stderr, "marluneEmulator: %s\n", warning.c_str());
    log.line(warning);
  }
  server.stopOnSignals([&log](const std::string& reason) { log.line("stopping on " + reason); });
  log.line("listening on " + options.host + ":" + std::to_string(port) + "; " +
           describeEmulatorOptions(options));
  std::printf("listening on %s:%d\n", host, port);
  std::fflush(stdout);
  return server.listen() ? 0 : 1;
}
