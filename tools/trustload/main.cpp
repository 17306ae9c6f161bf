// trustload: drives a running trustd on this host through the generated
// stubs, over TLS with a bearer token as trustctl connects, and reports
// throughput, latency, errors and the daemon's resident memory.
#include <csignal>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "load.hpp"
#include "process.hpp"

namespace {

// Exit statuses: 0 every answer as expected; 1 an unexpected answer, or the
// run could not begin; 2 bad command line or settings.
constexpr int kOk = 0, kFailed = 1, kUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  Trustload::Options options;
  bool printMix = false;
  CLI::App app("trustload: a load generator for a trustd on this host (loopback only)");
  app.add_option("--server", options.server, "trustd's URL, http(s)://<loopback IP>[:port]")
      ->capture_default_str();
  app.add_option("--cacert", options.cacert, "the CA file of trustd's certificate (https)");
  app.add_option("--token-file", options.tokenFile, "the bearer token file (mode 600)");
  app.add_option("--connections", options.connections, "concurrent clients, one TCP connection each")
      ->check(CLI::Range(1, Trustload::kMaxConnections))
      ->capture_default_str();
  app.add_option("--duration", options.durationSeconds,
                 "seconds measured (default 10; 600 with --calls alone)")
      ->check(CLI::Range(0.1, Trustload::kMaxDurationSeconds));
  app.add_option("--calls", options.calls, "measured calls at most")->check(CLI::Range(1.0, 1e12));
  app.add_option("--warmup", options.warmupSeconds, "seconds of calls before measuring")
      ->check(CLI::Range(0.0, Trustload::kMaxWarmupSeconds))
      ->capture_default_str();
  app.add_option("--timeout", options.timeoutSeconds, "seconds one call may take, connecting included")
      ->check(CLI::Range(1.0, Trustload::kMaxTimeoutSeconds))
      ->capture_default_str();
  app.add_option("--pid", options.pid, "trustd's process id: its VmRSS is sampled every 100 ms")
      ->check(CLI::Range(1, 1 << 30));
  app.add_option("--json", options.jsonFile, "also write the report as JSON to this file");
  app.add_flag("--mix", printMix, "print the mix of operations and exit");
  app.footer(
      "Example:\n  trustload --server https://127.0.0.1:8443 --cacert ca.pem --token-file admin.token \\\n"
      "      --connections 64 --duration 10 --warmup 2 --pid \"$(pidof trustd)\" --json load.json\n"
      "The token needs a role that may create and delete (admin).");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }
  if (printMix) {
    std::cout << Trustload::MixTable();
    return kOk;
  }

  Trustload::RunSettings settings;
  const auto endpoint = Trustload::ParseLoopbackServer(options.server);
  if (!endpoint) {
    std::cerr << "trustload: " << endpoint.Error() << "\n";
    return kUsage;
  }
  settings.endpoint = endpoint.Value();
  if (settings.endpoint.tls && options.cacert.empty()) {
    std::cerr << "trustload: https needs --cacert\n";
    return kUsage;
  }
  settings.cacert = options.cacert;
  if (!options.tokenFile.empty()) {
    auto token = Trustload::ReadTokenFile(options.tokenFile);
    if (!token) {
      std::cerr << "trustload: " << token.Error() << "\n";
      return kUsage;
    }
    settings.token = std::move(token).Value();
  }
  settings.connections = options.connections;
  settings.warmupSeconds = options.warmupSeconds;
  settings.calls = options.calls;
  settings.durationSeconds =
      options.durationSeconds.value_or(options.calls ? Trustload::kCallsOnlyDurationSeconds : 10.0);
  settings.timeoutSeconds = options.timeoutSeconds;
  std::ofstream json;
  if (!options.jsonFile.empty()) {
    json.open(options.jsonFile, std::ios::trunc);
    if (!json) {
      std::cerr << "trustload: cannot write " << options.jsonFile << "\n";
      return kUsage;
    }
  }
  // A connection the daemon closed must not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  Trustload::Measurements measurements;
  std::optional<Trustload::RssSampler> rss;
  if (options.pid) {
    rss.emplace(*options.pid, std::chrono::milliseconds(100));
    if (!rss->Start()) {
      std::cerr << "trustload: " << rss->Problem() << "\n";
      return kUsage;
    }
  }
  const auto ran = Trustload::RunLoad(settings, measurements);
  if (rss) {
    rss->Stop();
    measurements.rss.startKib = rss->StartKib();
    measurements.rss.peakKib = rss->PeakKib();
    measurements.rss.endKib = rss->EndKib();
    measurements.rss.problem = rss->Problem();
  } else {
    measurements.rss.problem = "no --pid";
  }
  if (!ran) {
    std::cerr << "trustload: " << ran.Error() << "\n";
    return kFailed;
  }
  std::cout << Trustload::TextReport(measurements);
  if (json.is_open()) {
    json << Trustload::JsonReport(measurements);
    if (!json.flush()) {
      std::cerr << "trustload: cannot write " << options.jsonFile << "\n";
      return kFailed;
    }
  }
  const bool clean = measurements.unexpected.Total() == 0 && measurements.outside.Total() == 0 &&
                     measurements.unanswered == 0;
  return clean ? kOk : kFailed;
}
