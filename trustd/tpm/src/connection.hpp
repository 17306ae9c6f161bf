// One open ESAPI context over a TCTI, and what every TPM conversation of the
// backend needs from it: commands bounded in time where the TCTI allows it,
// failure messages and the fixed properties.
#pragma once

#include <tss2/tss2_esys.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <trustd/result.hpp>

namespace Trustd {
namespace Detail {

// Esys_Free for what ESAPI allocated for us.
template <class T>
struct EsysFree {
  void operator()(T* p) const { Esys_Free(p); }
};
template <class T>
using EsysOwned = std::unique_ptr<T, EsysFree<T>>;

class Connection {
 public:
  // Each command of the connection must be answered within `timeout`.
  static Result<std::unique_ptr<Connection>> Open(const std::string& tcti, std::chrono::milliseconds timeout);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Whether the TCTI lets us wait for an answer ourselves (it has poll
  // handles: the device TCTI does, the swtpm and mssim ones do not). Only
  // then does a command end at its deadline while the TPM is silent.
  bool Bounded() const { return bounded_; }

  // Runs one command: `send` is its Esys_*_Async, `receive` its
  // Esys_*_Finish, each called with the ESAPI context. When the TPM has not
  // answered in time, the context and the TCTI are closed before this
  // returns (so ESAPI keeps nothing of the caller's), the connection is
  // broken, and every later command on it fails at once.
  template <class Send, class Receive>
  TSS2_RC Exchange(Send&& send, Receive&& receive) {
    if (esys_ == nullptr) return kTimedOut;
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    TSS2_RC rc = send(esys_);
    // ESAPI answers "try again" while it resends a command the TPM asked to
    // retry; the answer is awaited again.
    while (rc == TSS2_RC_SUCCESS) {
      if (!AwaitAnswer(deadline)) return kTimedOut;
      rc = receive(esys_);
      if (rc != TSS2_ESYS_RC_TRY_AGAIN) return rc;
      rc = TSS2_RC_SUCCESS;
    }
    return rc;
  }

  // TPM2_GetCapability, the command most conversations start with.
  TSS2_RC GetCapability(TPM2_CAP capability, std::uint32_t property, std::uint32_t count, TPMI_YES_NO* more,
                        TPMS_CAPABILITY_DATA** data);

  // Forgets an ESAPI object record (no TPM command).
  void Close(ESYS_TR& handle);

  // "<command> failed: <decoded rc>", or that the TPM did not answer in
  // time. Unless the TPM itself answered with that code, the link may be
  // gone or out of step: the connection is then marked broken, and the Tpm
  // opens a new one for the next call.
  std::string Failed(const char* command, TSS2_RC rc);
  bool Broken() const { return broken_; }

  // Every property of the TPM_PT_FIXED group.
  Result<std::map<std::uint32_t, std::uint32_t>> FixedProperties();

 private:
  // Returned by Exchange once the TPM was too slow; Failed() tells it apart
  // by timedOut_.
  static constexpr TSS2_RC kTimedOut = TSS2_TCTI_RC_TRY_AGAIN;

  Connection(TSS2_TCTI_CONTEXT* tcti, ESYS_CONTEXT* esys, bool bounded, std::chrono::milliseconds timeout)
      : tcti_(tcti), esys_(esys), bounded_(bounded), timeout_(timeout) {}

  // Waits until the TCTI has something to read or `deadline` passes; false
  // (and the connection closed) for the latter.
  bool AwaitAnswer(std::chrono::steady_clock::time_point deadline);
  void Close();

  TSS2_TCTI_CONTEXT* tcti_;
  ESYS_CONTEXT* esys_;
  const bool bounded_;
  const std::chrono::milliseconds timeout_;
  bool broken_ = false;
  bool timedOut_ = false;
};

// A connection being opened on a thread of its own: the device TCTI sends
// the TPM a command while it opens, and a TPM that does not answer must not
// hold the caller. The thread owns everything it touches, so a caller may
// give up waiting; a later caller takes the connection once it is open.
class PendingOpen {
 public:
  using Opened = Result<std::unique_ptr<Connection>>;

  static Result<std::shared_ptr<PendingOpen>> Start(const std::string& tcti,
                                                    std::chrono::milliseconds timeout);
  // The outcome, once there by `deadline`.
  std::optional<Opened> Await(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::optional<Opened> outcome_;
};

std::string DecodeRc(TSS2_RC rc);
std::string HexHandle(std::uint32_t handle);

}  // namespace Detail
}  // namespace Trustd
