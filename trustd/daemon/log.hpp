// trustd's log: one line per event on stderr, in the form journald reads
// ("<6>info store: opened /var/lib/trustd/trustd.db": the syslog priority
// prefix, which journald turns into the entry's priority and strips, then
// the level, the component and the message). A line is written with one
// write(2), so lines from several threads never interleave. Messages are
// built by the callers, who never put a secret in them.
#pragma once

#include <string>

#include "config.hpp"

namespace Trustd {
namespace Log {

// Lines above `level` are dropped. Set once at start-up.
void SetLevel(LogLevel level);
void Write(LogLevel level, const char* component, const std::string& message);

inline void Error(const char* component, const std::string& message) {
  Write(LogLevel::kError, component, message);
}
inline void Warning(const char* component, const std::string& message) {
  Write(LogLevel::kWarning, component, message);
}
inline void Info(const char* component, const std::string& message) {
  Write(LogLevel::kInfo, component, message);
}
inline void Debug(const char* component, const std::string& message) {
  Write(LogLevel::kDebug, component, message);
}

}  // namespace Log
}  // namespace Trustd
