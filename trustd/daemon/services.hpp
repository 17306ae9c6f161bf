// The seven services of the trusted-infrastructure package, implemented over
// the host: its TPMs (trustd/tpm), the configuration store (trustd/store),
// the attestation reports on disk and the trust authority's address. Each
// operation is queued on the daemon's worker threads and answers through
// the generated binders, with the errors the operation declares.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/thread_pool.hpp>

#include <tovri/core/local_provider.hpp>
#include <trustd/store/store.hpp>
#include <trustd/tpm/tpm.hpp>

#include "config.hpp"

namespace Trustd {

// What the services read and change.
struct Host {
  struct TpmEntry {
    std::string id;
    std::string eventLog;
    std::unique_ptr<Tpm> tpm;
  };
  std::vector<TpmEntry> tpms;  // in configuration order
  std::unique_ptr<Store> store;
  Config config;
};

// The threads the operations run on. Post refuses work once Stop began.
class Workers {
 public:
  explicit Workers(int threads) : pool_(static_cast<std::size_t>(threads)) {}
  ~Workers() { Stop(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  bool Post(std::function<void()> work);
  // Runs what was queued, then joins the threads.
  void Stop();

 private:
  std::atomic<bool> stopping_{false};
  boost::asio::thread_pool pool_;
};

// Binds the seven services and registers them with `registry`; returns
// their ids. `workers` must outlive the registration.
std::vector<std::string> RegisterServices(Tovri::Core::LocalProvider& registry,
                                          const std::shared_ptr<Host>& host,
                                          const std::shared_ptr<Workers>& workers);

}  // namespace Trustd
