#include "daemon.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <tovri/http/server.hpp>

#include "log.hpp"
#include "services.hpp"

namespace Trustd {
namespace {

std::string Url(bool tls, const Tovri::Http::ListenAddress& address) {
  const bool v6 = address.address.find(':') != std::string::npos;
  return std::string(tls ? "https://" : "http://") + (v6 ? "[" + address.address + "]" : address.address) +
         ":" + std::to_string(address.port);
}

// The state directory is made owner-only when trustd creates it; one that
// exists keeps its mode (the store checks its own files).
bool PrepareStateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  Log::Error("store", "cannot create the state directory " + path + ": " + std::strerror(errno));
  return false;
}

void DescribeTpm(Host::TpmEntry& entry, const std::string& tcti) {
  const Result<TpmProperties> properties = entry.tpm->Properties();
  if (properties) {
    const TpmProperties& p = properties.Value();
    Log::Info("tpm", entry.id + " at " + tcti + ": TPM " + p.family + " by " + p.manufacturer +
                         ", firmware " + p.firmwareVersion);
  } else {
    // Not fatal: the TPM may come up later, and each call tries again.
    Log::Warning("tpm", entry.id + " at " + tcti + " does not answer yet: " + properties.Error());
  }
}

// The store key, key derivation keys and client secrets pass through this
// process's memory: no core dump may hold them, and no other process of the
// same user may attach to read them (which a dumpable process allows).
void ProtectSecretsInMemory() {
  const rlimit none{0, 0};
  if (::setrlimit(RLIMIT_CORE, &none) != 0)
    Log::Warning("trustd", std::string("cannot turn core dumps off: ") + std::strerror(errno));
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
    Log::Warning("trustd", std::string("cannot make the process undumpable: ") + std::strerror(errno));
}

}  // namespace

int RunDaemon(const Config& config) {
  Log::SetLevel(config.logLevel);
  ProtectSecretsInMemory();
  // Signals are taken by sigwait below, on this thread only: block them
  // before any other thread exists so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // A write past a file-size limit (LimitFSIZE=) then fails with EFBIG, and
  // the call that made it with an error, instead of the signal ending the
  // daemon.
  ::signal(SIGXFSZ, SIG_IGN);
  // Whatever trustd creates is for its owner only.
  ::umask(0077);

  if (!PrepareStateDirectory(config.stateDirectory)) return kExitCannotStart;
  auto store = Store::Open(config.stateDirectory, Store::Options{});
  if (!store) {
    Log::Error("store", store.Error().message);
    return kExitCannotStart;
  }
  Log::Info("store", "opened " + config.stateDirectory + "/trustd.db (schema version " +
                         std::to_string(Store::kSchemaVersion) + ")");

  auto host = std::make_shared<Host>();
  host->store = std::move(store).Value();
  host->config = config;
  for (const TpmConfig& tpm : config.tpms) {
    host->tpms.push_back(Host::TpmEntry{
        tpm.id, tpm.eventLog,
        std::make_unique<Tpm>(tpm.tcti, TpmOptions{std::chrono::milliseconds(tpm.commandTimeoutMs)})});
    DescribeTpm(host->tpms.back(), tpm.tcti);
  }

  auto workers = std::make_shared<Workers>(config.workerThreads);
  auto provider = std::make_shared<Tovri::Core::LocalProvider>();
  const std::vector<std::string> services = RegisterServices(*provider, host, workers);
  Log::Debug("trustd", std::to_string(services.size()) + " services registered");

  Tovri::Http::ServerOptions options;
  options.listen = config.listen;
  options.allowNonLoopback = config.allowPlainHttp;
  options.tls = config.tls;
  options.tokenFile = config.tokenFile;
  options.roles = config.roles;
  options.ioThreads = config.ioThreads;
  options.maxBodyBytes = config.maxBodyBytes;
  options.maxConnections = config.maxConnections;
  options.accessLog = [](const Tovri::Http::AccessLogEntry& entry) {
    Log::Info("http", Tovri::Http::FormatAccessLogLine(entry));
  };
  Tovri::Http::Server server(provider, options);
  std::string error;
  if (!server.Start(error)) {
    Log::Error("http", error);
    workers->Stop();
    return kExitCannotStart;
  }
  if (config.tokenFile.empty())
    Log::Warning("http", "no token_file: every caller may call every operation (loopback only)");
  for (const auto& address : server.BoundAddresses())
    Log::Info("http", "listening on " + Url(!!config.tls, address));

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGHUP) {
      if (config.tokenFile.empty()) {
        Log::Info("http", "SIGHUP: no token file to reload");
      } else if (server.ReloadTokens(error)) {
        Log::Info("http", "SIGHUP: tokens reloaded from " + config.tokenFile);
      } else {
        Log::Error("http", "SIGHUP: tokens not reloaded, the previous ones stay in force: " + error);
      }
      continue;
    }
    Log::Info("trustd", std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
    break;
  }
  server.Stop(std::chrono::milliseconds(config.shutdownGraceMs));
  workers->Stop();
  Log::Info("trustd", "stopped");
  return kExitStopped;
}

}  // namespace Trustd
