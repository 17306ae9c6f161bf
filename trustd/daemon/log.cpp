#include "log.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace Trustd {
namespace Log {
namespace {

std::atomic<int> threshold{static_cast<int>(LogLevel::kInfo)};

const char* Name(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kWarning:
      return "warning";
    case LogLevel::kInfo:
      return "info";
    case LogLevel::kDebug:
      return "debug";
  }
  return "info";
}

}  // namespace

void SetLevel(LogLevel level) { threshold.store(static_cast<int>(level)); }

void Write(LogLevel level, const char* component, const std::string& message) {
  if (static_cast<int>(level) > threshold.load()) return;
  std::string line =
      "<" + std::to_string(static_cast<int>(level)) + ">" + Name(level) + " " + component + ": ";
  // One entry is one line: a line end inside a message (a TSS error text,
  // a file name) would start a forged entry.
  for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace Log
}  // namespace Trustd
