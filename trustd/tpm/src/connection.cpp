#include "connection.hpp"

#include <tss2/tss2_rc.h>
#include <tss2/tss2_tctildr.h>

#include <cstdio>

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

Result<std::unique_ptr<Connection>> Connection::Open(const std::string& tcti) {
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
  return R::Success(std::unique_ptr<Connection>(new Connection(transport, esys)));
}

Connection::~Connection() {
  Esys_Finalize(&esys_);
  Tss2_TctiLdr_Finalize(&tcti_);
}

std::string Connection::Failed(const char* command, TSS2_RC rc) {
  if ((rc & TSS2_RC_LAYER_MASK) != TSS2_TPM_RC_LAYER) broken_ = true;
  return std::string(command) + " failed: " + DecodeRc(rc);
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
    TSS2_RC rc = Esys_GetCapability(esys_, ESYS_TR_NONE, ESYS_TR_NONE, ESYS_TR_NONE, TPM2_CAP_TPM_PROPERTIES,
                                    next, TPM2_MAX_TPM_PROPERTIES, &more, &raw);
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
