// SecretString: the text type of secret values, wiped when it goes away and
// never printed.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace Tovri {

// A string whose contents are secret. It is copied by value; its storage is
// wiped when it is destroyed, reassigned or cleared, and it never prints its
// contents (operator<< writes a fixed mask).
class SecretString {
 public:
  SecretString() = default;
  explicit SecretString(std::string value);
  explicit SecretString(const char* value);
  SecretString(const SecretString& other);
  SecretString(SecretString&& other) noexcept;
  SecretString& operator=(const SecretString& other);
  SecretString& operator=(SecretString&& other) noexcept;
  ~SecretString();

  // Read access for the code that must use the secret (a key store, the
  // framework's secret value). Never log what this returns.
  const std::string& Reveal() const noexcept { return value_; }

  bool empty() const noexcept { return value_.empty(); }
  std::size_t size() const noexcept { return value_.size(); }

  // Replaces the content, wiping the old storage first.
  void Assign(std::string value);
  void Clear() noexcept;

  friend bool operator==(const SecretString& a, const SecretString& b) noexcept {
    return a.value_ == b.value_;
  }
  friend bool operator!=(const SecretString& a, const SecretString& b) noexcept { return !(a == b); }

 private:
  static void Wipe(std::string& s) noexcept;
  std::string value_;
};

// Writes "<secret>" whatever the content.
std::ostream& operator<<(std::ostream& out, const SecretString& secret);

}  // namespace Tovri
