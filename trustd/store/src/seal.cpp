#include "seal.hpp"

#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace Trustd {
namespace StoreDetail {
namespace {

using Context = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }

}  // namespace

void Wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  text.clear();
}

std::string Seal(const std::string& key, const std::string& associated, const std::string& plaintext) {
  if (key.size() != 32) return {};
  std::string out(kNonceSize + plaintext.size() + kTagSize, '\0');
  if (RAND_bytes(Bytes(out), static_cast<int>(kNonceSize)) != 1) return {};
  Context ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int length = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, Bytes(key), Bytes(out)) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &length, Bytes(associated),
                        static_cast<int>(associated.size())) != 1 ||
      EVP_EncryptUpdate(ctx.get(), Bytes(out) + kNonceSize, &length, Bytes(plaintext),
                        static_cast<int>(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), Bytes(out) + kNonceSize + length, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                          Bytes(out) + kNonceSize + plaintext.size()) != 1) {
    return {};
  }
  return out;
}

std::optional<std::string> Unseal(const std::string& key, const std::string& associated,
                                  const std::string& sealed) {
  if (key.size() != 32 || sealed.size() < kNonceSize + kTagSize) return std::nullopt;
  const std::size_t size = sealed.size() - kNonceSize - kTagSize;
  std::string plain(size, '\0');
  std::string tag = sealed.substr(kNonceSize + size);
  Context ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int length = 0;
  unsigned char scratch = 0;
  const bool ok =
      ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize), nullptr) == 1 &&
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, Bytes(key), Bytes(sealed)) == 1 &&
      EVP_DecryptUpdate(ctx.get(), nullptr, &length, Bytes(associated),
                        static_cast<int>(associated.size())) == 1 &&
      EVP_DecryptUpdate(ctx.get(), size ? Bytes(plain) : &scratch, &length, Bytes(sealed) + kNonceSize,
                        static_cast<int>(size)) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), Bytes(tag)) == 1 &&
      EVP_DecryptFinal_ex(ctx.get(), size ? Bytes(plain) + length : &scratch, &length) == 1;
  if (!ok) {
    Wipe(plain);
    return std::nullopt;
  }
  return plain;
}

}  // namespace StoreDetail
}  // namespace Trustd
