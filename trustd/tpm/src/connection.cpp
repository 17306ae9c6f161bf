#include "connection.hpp"

#include <poll.h>
#include <tss2/tss2_rc.h>
#include <tss2/tss2_tctildr.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace Trustd {
namespace Detail {

std::string DecodeRc(TSS2_RC rc) {
  const char* text = Tss2_RC_Decode(rc);
  return text != nullptr ? text : "unknown response code";
}

std::string HexHandle(std::uint32_t handle) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(handle));
  return text;
}

Result<std::unique_ptr<Connection>> Connection::Open(const std::string& tcti,
                                                     std::chrono::milliseconds timeout) {
  using R = Result<std::unique_ptr<Connection>>;
  TSS2_TCTI_CONTEXT* transport = nullptr;
  TSS2_RC rc = Tss2_TctiLdr_Initialize(tcti.c_str(), &transport);
  if (rc != TSS2_RC_SUCCESS) {
    return R::Failure("cannot connect to the TPM at " + tcti + ": " + DecodeRc(rc));
  }
  ESYS_CONTEXT* esys = nullptr;
  rc = Esys_Initialize(&esys, transport, nullptr);
  if (rc != TSS2_RC_SUCCESS) {
    Tss2_TctiLdr_Finalize(&transport);
    return R::Failure("cannot open an ESAPI context on the TPM at " + tcti + ": " + DecodeRc(rc));
  }
  std::size_t handles = 0;
  const bool bounded =
      Tss2_Tcti_GetPollHandles(transport, nullptr, &handles) == TSS2_RC_SUCCESS && handles > 0;
  return R::Success(std::unique_ptr<Connection>(new Connection(transport, esys, bounded, timeout)));
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (esys_ != nullptr) Esys_Finalize(&esys_);
  if (tcti_ != nullptr) Tss2_TctiLdr_Finalize(&tcti_);
  esys_ = nullptr;
  tcti_ = nullptr;
}

void Connection::Close(ESYS_TR& handle) {
  if (esys_ != nullptr && handle != ESYS_TR_NONE) Esys_TR_Close(esys_, &handle);
  handle = ESYS_TR_NONE;
}

TSS2_RC Connection::GetCapability(TPM2_CAP capability, std::uint32_t property, std::uint32_t count,
                                  TPMI_YES_NO* more, TPMS_CAPABILITY_DATA** data) {
  return Exchange(
      [=](ESYS_CONTEXT* esys) {
        return Esys_GetCapability_Async(esys, ESYS_TR_NONE, ESYS_TR_NONE, ESYS_TR_NONE, capability, property,
                                        count);
      },
      [=](ESYS_CONTEXT* esys) { return Esys_GetCapability_Finish(esys, more, data); });
}

bool Connection::AwaitAnswer(std::chrono::steady_clock::time_point deadline) {
  if (!bounded_) return true;
  std::size_t count = 0;
  if (Tss2_Tcti_GetPollHandles(tcti_, nullptr, &count) != TSS2_RC_SUCCESS || count == 0) return true;
  std::vector<TSS2_TCTI_POLL_HANDLE> handles(count);
  if (Tss2_Tcti_GetPollHandles(tcti_, handles.data(), &count) != TSS2_RC_SUCCESS) return true;
  handles.resize(std::min(count, handles.size()));
  // An answer is something to read; a TCTI may also ask for POLLOUT, which
  // a socket or device that can take more data always has.
  for (auto& handle : handles) {
    handle.events = POLLIN;
    handle.revents = 0;
  }
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    const int ready =
        ::poll(handles.data(), handles.size(), static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // let the TCTI's own receive report it
  }
  // The command is still in flight: only closing the link stops ESAPI from
  // waiting on it, and a new connection will not see a late answer.
  timedOut_ = true;
  broken_ = true;
  Close();
  return false;
}

std::string Connection::Failed(const char* command, TSS2_RC rc) {
  if (timedOut_) {
    return "the TPM did not answer within " + std::to_string(timeout_.count()) + " ms (" + command + ")";
  }
  if ((rc & TSS2_RC_LAYER_MASK) != TSS2_TPM_RC_LAYER) broken_ = true;
  return std::string(command) + " failed: " + DecodeRc(rc);
}

Result<std::shared_ptr<PendingOpen>> PendingOpen::Start(const std::string& tcti,
                                                        std::chrono::milliseconds timeout) {
  using R = Result<std::shared_ptr<PendingOpen>>;
  auto pending = std::make_shared<PendingOpen>();
  try {
    std::thread([pending, tcti, timeout] {
      auto opened = Connection::Open(tcti, timeout);
      std::lock_guard<std::mutex> lock(pending->mutex_);
      pending->outcome_.emplace(std::move(opened));
      pending->done_.notify_all();
    }).detach();
  } catch (const std::system_error& e) {
    return R::Failure("cannot start a thread to connect to the TPM at " + tcti + ": " + e.what());
  }
  return R::Success(std::move(pending));
}

std::optional<PendingOpen::Opened> PendingOpen::Await(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!done_.wait_until(lock, deadline, [this] { return outcome_.has_value(); })) return std::nullopt;
  auto outcome = std::move(outcome_);
  outcome_.reset();
  return outcome;
}

Result<std::map<std::uint32_t, std::uint32_t>> Connection::FixedProperties() {
  using R = Result<std::map<std::uint32_t, std::uint32_t>>;
  std::map<std::uint32_t, std::uint32_t> properties;
  std::uint32_t next = TPM2_PT_FIXED;
  // The group holds fewer than 64 properties; a TPM sends them in one or a
  // few answers, so the bound only stops a TPM that keeps saying "more".
  for (int round = 0; round < 16 && next < TPM2_PT_VAR; ++round) {
    TPMI_YES_NO more = TPM2_NO;
    TPMS_CAPABILITY_DATA* raw = nullptr;
    TSS2_RC rc = GetCapability(TPM2_CAP_TPM_PROPERTIES, next, TPM2_MAX_TPM_PROPERTIES, &more, &raw);
    EsysOwned<TPMS_CAPABILITY_DATA> data(raw);
    if (rc != TSS2_RC_SUCCESS) return R::Failure(Failed("TPM2_GetCapability", rc));
    const TPML_TAGGED_TPM_PROPERTY& list = data->data.tpmProperties;
    for (std::uint32_t i = 0; i < list.count && i < TPM2_MAX_TPM_PROPERTIES; ++i) {
      const TPMS_TAGGED_PROPERTY& entry = list.tpmProperty[i];
      if (entry.property >= TPM2_PT_FIXED && entry.property < TPM2_PT_VAR)
        properties[entry.property] = entry.value;
    }
    if (more != TPM2_YES || list.count == 0) break;
    next = list.tpmProperty[list.count - 1].property + 1;
  }
  return R::Success(std::move(properties));
}

}  // namespace Detail
}  // namespace Trustd
