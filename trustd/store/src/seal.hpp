// AES-256-GCM sealing of single values: what the store keeps of a secret is
// nonce || ciphertext || tag, bound to its row and field by the associated
// data, so a sealed value copied into another row does not open.
#pragma once

#include <optional>
#include <string>

namespace Trustd {
namespace StoreDetail {

constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;

// Empty on a failure of the random source or of OpenSSL.
std::string Seal(const std::string& key, const std::string& associated, const std::string& plaintext);
// Nothing when the value was altered, sealed under another key or for
// other associated data.
std::optional<std::string> Unseal(const std::string& key, const std::string& associated,
                                  const std::string& sealed);
// Overwrites a string that held a secret.
void Wipe(std::string& text);

}  // namespace StoreDetail
}  // namespace Trustd
