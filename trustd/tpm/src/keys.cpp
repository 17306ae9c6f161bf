#include "keys.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <tss2/tss2_tpm2_types.h>

#include <memory>
#include <string>

#include <trustd/tpm/certificate.hpp>

namespace Trustd {
namespace Detail {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

void FreeBio(BIO* bio) { BIO_free(bio); }

// The reason OpenSSL queued for the last failure, and a clean queue.
std::string OpenSslReason(const char* what) {
  std::string text = what;
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text += ": ";
    text += buffer;
  }
  ERR_clear_error();
  return text;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

Result<std::string> PublicKeyPem(const char* type, OSSL_PARAM_BLD* builder) {
  Owned<OSSL_PARAM, OSSL_PARAM_free> params(OSSL_PARAM_BLD_to_param(builder));
  Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return Result<std::string>::Failure(OpenSslReason("cannot make a public key of the EK's numbers"));
  }
  Owned<EVP_PKEY, EVP_PKEY_free> key(raw);
  Owned<BIO, FreeBio> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1) {
    return Result<std::string>::Failure(OpenSslReason("cannot write the EK's public key as PEM"));
  }
  return Result<std::string>::Success(BioText(bio.get()));
}

}  // namespace

Result<std::string> RsaPublicKeyPem(const Bytes& modulus, std::uint32_t exponent) {
  Owned<BIGNUM, BN_free> n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  Owned<BIGNUM, BN_free> e(BN_new());
  Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free> builder(OSSL_PARAM_BLD_new());
  if (!n || !e || !builder || BN_set_word(e.get(), exponent == 0 ? 65537 : exponent) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
    return Result<std::string>::Failure(OpenSslReason("cannot build the RSA EK's parameters"));
  }
  return PublicKeyPem("RSA", builder.get());
}

Result<std::string> P256PublicKeyPem(const Bytes& x, const Bytes& y) {
  constexpr std::size_t kCoordinate = 32;
  if (x.size() > kCoordinate || y.size() > kCoordinate) {
    return Result<std::string>::Failure("the ECC EK's point does not fit NIST P-256");
  }
  // Uncompressed point: 04, then x and y, each padded on the left to 32 bytes.
  Bytes point(1 + 2 * kCoordinate, 0);
  point[0] = 0x04;
  std::copy(x.begin(), x.end(), point.begin() + 1 + (kCoordinate - x.size()));
  std::copy(y.begin(), y.end(), point.begin() + 1 + kCoordinate + (kCoordinate - y.size()));
  Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free> builder(OSSL_PARAM_BLD_new());
  if (!builder ||
      OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) !=
          1) {
    return Result<std::string>::Failure(OpenSslReason("cannot build the ECC EK's parameters"));
  }
  return PublicKeyPem("EC", builder.get());
}

Result<Bytes> EndorsementPolicyDigest() {
  // PolicySecret extends the digest twice: with its command code and the
  // authorizing entity's name (a permanent handle's name is the handle), then
  // with the policy reference (empty here).
  std::uint8_t command[8];
  for (int i = 0; i < 4; ++i) {
    command[i] = static_cast<std::uint8_t>(TPM2_CC_PolicySecret >> (24 - 8 * i));
    command[4 + i] = static_cast<std::uint8_t>(TPM2_RH_ENDORSEMENT >> (24 - 8 * i));
  }
  Bytes digest(32, 0);
  for (int step = 0; step < 2; ++step) {
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context(EVP_MD_CTX_new());
    unsigned int size = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), digest.data(), digest.size()) != 1 ||
        (step == 0 && EVP_DigestUpdate(context.get(), command, sizeof command) != 1) ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != digest.size()) {
      return Result<Bytes>::Failure(OpenSslReason("cannot compute the EK policy digest"));
    }
  }
  return Result<Bytes>::Success(std::move(digest));
}

}  // namespace Detail

Result<Certificate> CertificateFromDer(const std::vector<std::uint8_t>& der) {
  using Detail::Owned;
  const unsigned char* cursor = der.data();
  Owned<X509, X509_free> certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!certificate) {
    return Result<Certificate>::Failure(Detail::OpenSslReason("the certificate is not DER X.509"));
  }
  // PEM of the bytes as stored (not re-encoded), without the padding after.
  const long length = cursor - der.data();
  Owned<BIO, Detail::FreeBio> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio(bio.get(), PEM_STRING_X509, "", der.data(), length) <= 0) {
    return Result<Certificate>::Failure(Detail::OpenSslReason("cannot write the certificate as PEM"));
  }
  Certificate out;
  out.pem = Detail::BioText(bio.get());

  int critical = 0;
  Owned<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free> access(static_cast<AUTHORITY_INFO_ACCESS*>(
      X509_get_ext_d2i(certificate.get(), NID_info_access, &critical, nullptr)));
  for (int i = 0; access && i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
    const ACCESS_DESCRIPTION* entry = sk_ACCESS_DESCRIPTION_value(access.get(), i);
    if (OBJ_obj2nid(entry->method) == NID_ad_ca_issuers && entry->location->type == GEN_URI) {
      const ASN1_IA5STRING* uri = entry->location->d.uniformResourceIdentifier;
      out.caIssuersUri = std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                                     static_cast<std::size_t>(ASN1_STRING_length(uri)));
      break;
    }
  }
  ERR_clear_error();
  return Result<Certificate>::Success(std::move(out));
}

}  // namespace Trustd
