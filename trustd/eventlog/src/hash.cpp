#include "hash.hpp"

#include <openssl/evp.h>

#include <memory>

namespace Trustd {
namespace Tcg {
namespace Detail {

namespace {

const char* OpenSslName(std::uint16_t algorithmId) {
  switch (algorithmId) {
    case kSha1:
      return "SHA1";
    case kSha256:
      return "SHA256";
    case kSha384:
      return "SHA384";
    case kSha512:
      return "SHA512";
    case kSm3_256:
      return "SM3";
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<Bytes> Hash(std::uint16_t algorithmId, const Bytes& first, const Bytes& second) {
  const char* name = OpenSslName(algorithmId);
  if (name == nullptr) return std::nullopt;
  std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, name, nullptr), &EVP_MD_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!md || !context) return std::nullopt;
  Bytes out(static_cast<std::size_t>(EVP_MD_get_size(md.get())));
  unsigned int size = 0;
  if (EVP_DigestInit_ex(context.get(), md.get(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), first.data(), first.size()) != 1 ||
      EVP_DigestUpdate(context.get(), second.data(), second.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), out.data(), &size) != 1 || size != out.size()) {
    return std::nullopt;
  }
  return out;
}

}  // namespace Detail
}  // namespace Tcg
}  // namespace Trustd
