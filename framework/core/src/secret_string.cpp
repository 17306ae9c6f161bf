#include <tovri/core/secret_string.hpp>

#include <string.h>

#include <utility>

namespace Tovri {

// Zeroes every byte the string owns, not only its current length, so that text
// left behind by an earlier, longer content is wiped too. The capacity (and
// buffer) is kept.
void SecretString::Wipe(std::string& s) noexcept {
  s.resize(s.capacity());  // never reallocates: the size stays within capacity
  if (!s.empty()) explicit_bzero(&s[0], s.size());
  s.clear();
}

SecretString::SecretString(std::string value) : value_(std::move(value)) { Wipe(value); }

SecretString::SecretString(const char* value) : value_(value ? value : "") {}

SecretString::SecretString(const SecretString& other) : value_(other.value_) {}

// A moved-from short string keeps its bytes in its inline buffer: wipe them.
SecretString::SecretString(SecretString&& other) noexcept : value_(std::move(other.value_)) {
  Wipe(other.value_);
}

SecretString& SecretString::operator=(const SecretString& other) {
  if (this != &other) {
    Wipe(value_);
    value_ = other.value_;
  }
  return *this;
}

SecretString& SecretString::operator=(SecretString&& other) noexcept {
  if (this != &other) {
    Wipe(value_);
    value_ = std::move(other.value_);
    Wipe(other.value_);
  }
  return *this;
}

SecretString::~SecretString() { Wipe(value_); }

void SecretString::Assign(std::string value) {
  Wipe(value_);
  value_ = std::move(value);
  Wipe(value);
}

void SecretString::Clear() noexcept { Wipe(value_); }

std::ostream& operator<<(std::ostream& out, const SecretString&) { return out << "<secret>"; }

}  // namespace Tovri
