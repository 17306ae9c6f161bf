#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <trustd/tpm/tpm.hpp>

namespace Trustd {

Result<EventLog> ReadEventLog(const std::string& path, std::size_t maxBytes) {
  using R = Result<EventLog>;
  const auto failed = [&path](int error) {
    return R::Failure("cannot read the event log " + path + ": " + std::strerror(error));
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(errno);
  // securityfs reports a size of 0, so read until the end or one byte past
  // the maximum, whichever comes first.
  EventLog log;
  constexpr std::size_t kChunk = 64 * 1024;
  int error = 0;
  for (;;) {
    const std::size_t remaining = maxBytes - log.bytes.size();
    const std::size_t wanted = remaining >= kChunk ? kChunk : remaining + 1;
    const std::size_t used = log.bytes.size();
    log.bytes.resize(used + wanted);
    const ssize_t got = ::read(fd, log.bytes.data() + used, wanted);
    if (got < 0 && errno == EINTR) {
      log.bytes.resize(used);
      continue;
    }
    log.bytes.resize(used + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got < 0) error = errno;
    if (got <= 0 || log.bytes.size() > maxBytes) break;
  }
  ::close(fd);
  if (error != 0) return failed(error);
  if (log.bytes.size() > maxBytes) {
    log.bytes.resize(maxBytes);
    log.truncated = true;
  }
  log.bytes.shrink_to_fit();
  return R::Success(std::move(log));
}

}  // namespace Trustd
