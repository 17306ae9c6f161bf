#include "support/tpm_device.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace Trustd {
namespace Testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeader = 10;
// Larger than any command or answer of TPM 2.0.
constexpr std::size_t kMaxMessage = 8192;

// The size field of a command or answer header, 0 until the header is in.
std::size_t MessageSize(const Bytes& bytes) {
  if (bytes.size() < kHeader) return 0;
  return static_cast<std::size_t>(bytes[2]) << 24 | static_cast<std::size_t>(bytes[3]) << 16 |
         static_cast<std::size_t>(bytes[4]) << 8 | bytes[5];
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

int Connect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Drop(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

TpmDevice::TpmDevice(std::uint16_t port) : port_(port) {
  // A session leader without a terminal gets the device as its controlling
  // terminal when the TCTI opens it, and SIGHUP when it goes away.
  ::signal(SIGHUP, SIG_IGN);
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios mode{};
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::tcgetattr(master_, &mode) != 0) {
    error_ = "cannot open a pseudo-terminal: " + std::string(std::strerror(errno));
    return;
  }
  // Bytes pass unchanged in both directions.
  ::cfmakeraw(&mode);
  const char* name = ::ptsname(master_);
  if (::tcsetattr(master_, TCSANOW, &mode) != 0 || name == nullptr || ::pipe2(wake_, O_CLOEXEC) != 0) {
    error_ = "cannot set up the pseudo-terminal: " + std::string(std::strerror(errno));
    return;
  }
  path_ = name;
  thread_ = std::thread([this] { Serve(); });
}

TpmDevice::~TpmDevice() {
  if (thread_.joinable()) {
    const char stop = 0;
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
  }
  for (int fd : {master_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

void TpmDevice::Serve() {
  Bytes command, answer;
  int tpm = -1;  // the connection of the command in flight
  for (;;) {
    pollfd fds[] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}, {tpm, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLHUP) {
      // Nobody has the device open (yet, or any more): what was asked is
      // abandoned. The master reports this until a writer opens the device.
      Drop(tpm);
      command.clear();
      pollfd wake = {wake_[0], POLLIN, 0};
      ::poll(&wake, 1, 5);
      continue;
    }
    if (fds[1].revents & POLLIN) {
      std::uint8_t buffer[4096];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got > 0) command.insert(command.end(), buffer, buffer + got);
      const std::size_t size = MessageSize(command);
      if (command.size() >= kHeader && (size < kHeader || size > kMaxMessage)) {
        command.clear();  // not a command: the writer will time out
      } else if (size != 0 && command.size() >= size) {
        // A writer sends its next command only after the last answer, or
        // after giving up on it.
        Drop(tpm);
        answer.clear();
        tpm = Connect(port_);
        if (tpm >= 0 && !WriteAll(tpm, command.data(), size)) Drop(tpm);
        command.erase(command.begin(), command.begin() + static_cast<std::ptrdiff_t>(size));
      }
    }
    if (tpm >= 0 && fds[2].revents != 0) {
      std::uint8_t buffer[4096];
      const ssize_t got = ::read(tpm, buffer, sizeof buffer);
      if (got <= 0) {
        Drop(tpm);
        continue;
      }
      answer.insert(answer.end(), buffer, buffer + got);
      const std::size_t size = MessageSize(answer);
      if (size != 0 && answer.size() >= size) {
        // In one write, so that the TCTI reads it in one.
        WriteAll(master_, answer.data(), size);
        answer.clear();
        Drop(tpm);
      }
    }
  }
}

}  // namespace Testing
}  // namespace Trustd
