// Small value types shared by the framework and every binding: secrets, the
// empty result marker and progress reports.
#pragma once

#include <cstdint>
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

// Stands for the absence of a result (operations that return nothing).
struct Void {};
inline bool operator==(const Void&, const Void&) noexcept { return true; }
inline bool operator!=(const Void&, const Void&) noexcept { return false; }

// A progress report: three counters. Every final answer the bindings build
// reports 0, 1, 1; equal second and third fields mark a final answer.
struct Progress {
  std::int64_t min = 0;
  std::int64_t current = 0;
  std::int64_t max = 0;
};

inline bool operator==(const Progress& a, const Progress& b) noexcept {
  return a.min == b.min && a.current == b.current && a.max == b.max;
}
inline bool operator!=(const Progress& a, const Progress& b) noexcept { return !(a == b); }

// The progress of a completed call.
inline Progress FinalProgress() noexcept { return Progress{0, 1, 1}; }

}  // namespace Tovri
