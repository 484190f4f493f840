// marluneEmulator: the service and its API gateway on 127.0.0.1, for demonstrations and
// end-to-end tests of the client. Reads its options, builds the service and serves it until
// asked to stop (SIGTERM or SIGINT; Ctrl-C or Ctrl-Break on Windows).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/emulator_log.h"
#include "server/http_server.h"
#include "server/tls_context.h"
#include "service/emulator_options.h"
#include "service/emulator_service.h"
#include "service/scenario.h"

namespace {

const char kHost[] = "127.0.0.1";

// Exits with 2, as for a wrong option, when `error` is set.
int refuse(const std::string& error) {
  std::fprintf(stderr, "marluneEmulator: %s\n", error.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(emulatorUsage().c_str(), stdout);
      return 0;
    }
  }
  EmulatorOptions options;
  std::string error;
  if (!parseEmulatorOptions(args, options, error)) {
    std::fprintf(stderr, "marluneEmulator: %s\n%s", error.c_str(), emulatorUsage().c_str());
    return 2;
  }
  Scenario scenario;
  if (!options.scenarioPath.empty() && !loadScenarioFile(options.scenarioPath, scenario, error)) {
    return refuse(error);
  }
  std::unique_ptr<TlsContext> tls;
  if (!options.tlsCertPath.empty()) {
    tls = TlsContext::load(options.tlsCertPath, options.tlsKeyPath, error);
    if (!tls) return refuse(error);
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
  HttpServer server([&service](const RecordedRequest& request,
                               const Arrival& arrival) { return service.handle(request, arrival); },
                    settings, log);
  const int port = server.bind(kHost, options.port);
  if (port < 0) {
    std::fprintf(stderr, "marluneEmulator: cannot listen on %s:%d\n", kHost, options.port);
    return 1;
  }
  server.stopOnSignals([&log](const std::string& reason) { log.line("stopping on " + reason); });
  log.line("listening on " + std::string(kHost) + ":" + std::to_string(port) + "; " +
           describeEmulatorOptions(options));
  std::printf("listening on %s:%d\n", kHost, port);
  std::fflush(stdout);
  return server.listen() ? 0 : 1;
}
