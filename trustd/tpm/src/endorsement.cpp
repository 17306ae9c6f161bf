#include "endorsement.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include <trustd/tpm/certificate.hpp>

#include "keys.hpp"

namespace Trustd {
namespace Detail {
namespace {

// NV certificates are a few kilobytes; a TPM that does not report its NV
// buffer size gets chunks every TPM accepts.
constexpr std::uint32_t kDefaultNvChunk = 512;

// The default EK templates of the low range: an RSA 2048 key ("L-1") and a
// NIST P-256 key ("L-2"), both restricted decryption keys with AES-128-CFB
// for their children, an empty auth value and PolicySecret(endorsement) as
// their policy, and zeroed unique fields of the key's size.
TPM2B_PUBLIC Template(EndorsementKeyType type, const Bytes& policy) {
  TPM2B_PUBLIC out{};
  TPMT_PUBLIC& area = out.publicArea;
  area.nameAlg = TPM2_ALG_SHA256;
  area.objectAttributes = TPMA_OBJECT_FIXEDTPM | TPMA_OBJECT_FIXEDPARENT | TPMA_OBJECT_SENSITIVEDATAORIGIN |
                          TPMA_OBJECT_ADMINWITHPOLICY | TPMA_OBJECT_RESTRICTED | TPMA_OBJECT_DECRYPT;
  area.authPolicy.size = static_cast<UINT16>(policy.size());
  std::memcpy(area.authPolicy.buffer, policy.data(), policy.size());
  TPMT_SYM_DEF_OBJECT symmetric{};
  symmetric.algorithm = TPM2_ALG_AES;
  symmetric.keyBits.aes = 128;
  symmetric.mode.aes = TPM2_ALG_CFB;
  if (type == EndorsementKeyType::Rsa2048) {
    area.type = TPM2_ALG_RSA;
    TPMS_RSA_PARMS& rsa = area.parameters.rsaDetail;
    rsa.symmetric = symmetric;
    rsa.scheme.scheme = TPM2_ALG_NULL;
    rsa.keyBits = 2048;
    rsa.exponent = 0;
    area.unique.rsa.size = 256;
  } else {
    area.type = TPM2_ALG_ECC;
    TPMS_ECC_PARMS& ecc = area.parameters.eccDetail;
    ecc.symmetric = symmetric;
    ecc.scheme.scheme = TPM2_ALG_NULL;
    ecc.curveID = TPM2_ECC_NIST_P256;
    ecc.kdf.scheme = TPM2_ALG_NULL;
    area.unique.ecc.x.size = 32;
    area.unique.ecc.y.size = 32;
  }
  return out;
}

Result<std::string> PublicKeyOf(EndorsementKeyType type, const TPMT_PUBLIC& area) {
  if (type == EndorsementKeyType::Rsa2048) {
    if (area.type != TPM2_ALG_RSA)
      return Result<std::string>::Failure("the TPM made an RSA EK of another type");
    const TPM2B_PUBLIC_KEY_RSA& n = area.unique.rsa;
    return RsaPublicKeyPem(Bytes(n.buffer, n.buffer + std::min<std::size_t>(n.size, sizeof n.buffer)),
                           area.parameters.rsaDetail.exponent);
  }
  if (area.type != TPM2_ALG_ECC)
    return Result<std::string>::Failure("the TPM made an ECC EK of another type");
  const TPM2B_ECC_PARAMETER& x = area.unique.ecc.x;
  const TPM2B_ECC_PARAMETER& y = area.unique.ecc.y;
  return P256PublicKeyPem(Bytes(x.buffer, x.buffer + std::min<std::size_t>(x.size, sizeof x.buffer)),
                          Bytes(y.buffer, y.buffer + std::min<std::size_t>(y.size, sizeof y.buffer)));
}

Result<std::string> CreatePublicKey(Connection& connection, EndorsementKeyType type) {
  using R = Result<std::string>;
  auto policy = EndorsementPolicyDigest();
  if (!policy) return R::Failure(policy.Error());
  const TPM2B_PUBLIC templ = Template(type, policy.Value());
  const TPM2B_SENSITIVE_CREATE sensitive{};
  const TPM2B_DATA outsideInfo{};
  const TPML_PCR_SELECTION creationPcrs{};
  ESYS_TR handle = ESYS_TR_NONE;
  TPM2B_PUBLIC* rawPublic = nullptr;
  TSS2_RC rc = connection.Exchange(
      [&](ESYS_CONTEXT* esys) {
        return Esys_CreatePrimary_Async(esys, ESYS_TR_RH_ENDORSEMENT, ESYS_TR_PASSWORD, ESYS_TR_NONE,
                                        ESYS_TR_NONE, &sensitive, &templ, &outsideInfo, &creationPcrs);
      },
      [&](ESYS_CONTEXT* esys) {
        return Esys_CreatePrimary_Finish(esys, &handle, &rawPublic, nullptr, nullptr, nullptr);
      });
  EsysOwned<TPM2B_PUBLIC> created(rawPublic);
  if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_CreatePrimary", rc));
  // The key is only read: it leaves the TPM's few transient slots at once.
  rc = connection.Exchange([handle](ESYS_CONTEXT* esys) { return Esys_FlushContext_Async(esys, handle); },
                           [](ESYS_CONTEXT* esys) { return Esys_FlushContext_Finish(esys); });
  if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_FlushContext", rc));
  return PublicKeyOf(type, created->publicArea);
}

// Closes ESAPI's record of an NV index (the index itself stays). Through
// the connection, which may have closed the context since.
struct NvRecord {
  Connection& connection;
  ESYS_TR handle = ESYS_TR_NONE;
  ~NvRecord() { connection.Close(handle); }
};

// The contents of the NV index, or nothing when it is not defined or never
// written.
Result<std::optional<Bytes>> ReadNvIndex(Connection& connection, std::uint32_t index, std::uint32_t chunk) {
  using R = Result<std::optional<Bytes>>;
  {
    TPMI_YES_NO more = TPM2_NO;
    TPMS_CAPABILITY_DATA* raw = nullptr;
    TSS2_RC rc = connection.GetCapability(TPM2_CAP_HANDLES, index, 1, &more, &raw);
    EsysOwned<TPMS_CAPABILITY_DATA> data(raw);
    if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_GetCapability", rc));
    const TPML_HANDLE& handles = data->data.handles;
    if (handles.count == 0 || handles.handle[0] != index) return R::Success(std::nullopt);
  }
  NvRecord record{connection};
  TSS2_RC rc = connection.Exchange(
      [index](ESYS_CONTEXT* esys) {
        return Esys_TR_FromTPMPublic_Async(esys, index, ESYS_TR_NONE, ESYS_TR_NONE, ESYS_TR_NONE);
      },
      [&record](ESYS_CONTEXT* esys) { return Esys_TR_FromTPMPublic_Finish(esys, &record.handle); });
  if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_NV_ReadPublic", rc));
  TPM2B_NV_PUBLIC* rawPublic = nullptr;
  rc = connection.Exchange(
      [&record](ESYS_CONTEXT* esys) {
        return Esys_NV_ReadPublic_Async(esys, record.handle, ESYS_TR_NONE, ESYS_TR_NONE, ESYS_TR_NONE);
      },
      [&rawPublic](ESYS_CONTEXT* esys) { return Esys_NV_ReadPublic_Finish(esys, &rawPublic, nullptr); });
  EsysOwned<TPM2B_NV_PUBLIC> nvPublic(rawPublic);
  if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_NV_ReadPublic", rc));
  const TPMA_NV attributes = nvPublic->nvPublic.attributes;
  if ((attributes & TPMA_NV_WRITTEN) == 0) return R::Success(std::nullopt);
  // Certificate indices are readable with the index's own (empty) auth or
  // the owner's; either is tried with an empty password.
  ESYS_TR authorizer = ESYS_TR_NONE;
  if (attributes & TPMA_NV_AUTHREAD) {
    authorizer = record.handle;
  } else if (attributes & TPMA_NV_OWNERREAD) {
    authorizer = ESYS_TR_RH_OWNER;
  } else {
    return R::Failure("NV index " + HexHandle(index) + " cannot be read with an auth value");
  }
  const std::uint32_t size = nvPublic->nvPublic.dataSize;
  Bytes contents;
  contents.reserve(size);
  while (contents.size() < size) {
    const auto offset = static_cast<UINT16>(contents.size());
    const auto length = static_cast<UINT16>(std::min<std::size_t>(chunk, size - contents.size()));
    TPM2B_MAX_NV_BUFFER* rawData = nullptr;
    rc = connection.Exchange(
        [&](ESYS_CONTEXT* esys) {
          return Esys_NV_Read_Async(esys, authorizer, record.handle, ESYS_TR_PASSWORD, ESYS_TR_NONE,
                                    ESYS_TR_NONE, length, offset);
        },
        [&rawData](ESYS_CONTEXT* esys) { return Esys_NV_Read_Finish(esys, &rawData); });
    EsysOwned<TPM2B_MAX_NV_BUFFER> data(rawData);
    if (rc != TSS2_RC_SUCCESS)
      return R::Failure(connection.Failed("TPM2_NV_Read", rc) + " at " + HexHandle(index));
    if (data->size == 0 || data->size > length) {
      return R::Failure("TPM2_NV_Read returned " + std::to_string(data->size) + " bytes of the " +
                        std::to_string(length) + " asked for at " + HexHandle(index));
    }
    contents.insert(contents.end(), data->buffer, data->buffer + data->size);
  }
  return R::Success(std::move(contents));
}

}  // namespace

Result<EndorsementKey> ReadEndorsementKey(Connection& connection, EndorsementKeyType type) {
  using R = Result<EndorsementKey>;
  EndorsementKey key;
  key.type = type;
  auto publicKey = CreatePublicKey(connection, type);
  if (!publicKey) return R::Failure(publicKey.Error());
  key.publicKeyPem = std::move(publicKey).Value();

  auto properties = connection.FixedProperties();
  if (!properties) return R::Failure(properties.Error());
  const auto bufferMax = properties.Value().find(TPM2_PT_NV_BUFFER_MAX);
  std::uint32_t chunk =
      bufferMax != properties.Value().end() && bufferMax->second != 0 ? bufferMax->second : kDefaultNvChunk;
  chunk = std::min<std::uint32_t>(chunk, TPM2_MAX_NV_BUFFER_SIZE);

  const std::uint32_t index =
      type == EndorsementKeyType::Rsa2048 ? kRsa2048CertificateIndex : kEccNistP256CertificateIndex;
  auto stored = ReadNvIndex(connection, index, chunk);
  if (!stored) return R::Failure(stored.Error());
  if (stored.Value()) {
    auto certificate = CertificateFromDer(*stored.Value());
    if (!certificate) {
      return R::Failure("the EK certificate at NV index " + HexHandle(index) + ": " + certificate.Error());
    }
    key.certificatePem = std::move(certificate.Value().pem);
    key.manufacturerCertificateUri = std::move(certificate.Value().caIssuersUri);
  }
  return R::Success(std::move(key));
}

}  // namespace Detail
}  // namespace Trustd
