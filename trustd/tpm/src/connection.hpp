// One open ESAPI context over a TCTI, and what every TPM conversation of the
// backend needs from it: failure messages and the fixed properties.
#pragma once

#include <tss2/tss2_esys.h>

#include <cstdint>
#include <map>
#include <memory>
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
  static Result<std::unique_ptr<Connection>> Open(const std::string& tcti);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  ESYS_CONTEXT* Esys() const { return esys_; }

  // "<command> failed: <decoded rc>". Unless the TPM itself answered with
  // that code, the link may be gone or out of step: the connection is then
  // marked broken, and the Tpm opens a new one for the next call.
  std::string Failed(const char* command, TSS2_RC rc);
  bool Broken() const { return broken_; }

  // Every property of the TPM_PT_FIXED group.
  Result<std::map<std::uint32_t, std::uint32_t>> FixedProperties();

 private:
  Connection(TSS2_TCTI_CONTEXT* tcti, ESYS_CONTEXT* esys) : tcti_(tcti), esys_(esys) {}

  TSS2_TCTI_CONTEXT* tcti_;
  ESYS_CONTEXT* esys_;
  bool broken_ = false;
};

std::string DecodeRc(TSS2_RC rc);
std::string HexHandle(std::uint32_t handle);

}  // namespace Detail
}  // namespace Trustd
