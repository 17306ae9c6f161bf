#include "fault_proxy.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace Trustd {
namespace Testing {
namespace {

// Every loop polls with this bound, so stopping is seen within it.
constexpr int kPollMs = 50;

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Closing with SO_LINGER 0 sends a reset instead of an orderly end.
void Reset(int fd) {
  const linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

FaultProxy::FaultProxy(std::uint16_t target) : target_(target) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return;
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

FaultProxy::~FaultProxy() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> relays;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    relays.swap(relays_);
  }
  for (auto& relay : relays) relay.join();
  if (listener_ >= 0) ::close(listener_);
}

void FaultProxy::Arm(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = fault;
  fired_ = false;
}

std::optional<FaultProxy::Fault> FaultProxy::Take(Way way) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!armed_ || armed_->way != way) return std::nullopt;
  std::optional<Fault> taken;
  taken.swap(armed_);
  fired_ = true;
  return taken;
}

void FaultProxy::Accept() {
  while (!stop_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, kPollMs) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = ConnectLoopback(target_);
    if (server < 0) {
      ::close(client);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    relays_.emplace_back(
        [this, client, server, generation = generation_.load()] { Relay(client, server, generation); });
  }
}

void FaultProxy::Relay(int client, int server, unsigned generation) {
  // fds[0] the client's side (requests come from it), fds[1] the server's.
  int fds[2] = {client, server};
  std::optional<Fault> fault;
  std::size_t passed = 0;  // bytes of the faulted way passed on
  bool stalled = false;
  char buffer[16 * 1024];
  const auto closeBoth = [&] {
    for (int& fd : fds) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  };
  while (!stop_ && generation_.load() == generation && fds[0] >= 0 && fds[1] >= 0) {
    // A stalled way is not read, so what it carries waits in the kernel.
    const Way stalledWay = fault ? fault->way : Way::kRequest;
    pollfd ready[2] = {{fds[0], static_cast<short>(stalled && stalledWay == Way::kRequest ? 0 : POLLIN), 0},
                       {fds[1], static_cast<short>(stalled && stalledWay == Way::kAnswer ? 0 : POLLIN), 0}};
    if (::poll(ready, 2, kPollMs) <= 0) continue;
    for (int side = 0; side < 2 && fds[0] >= 0; ++side) {
      if ((ready[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t got = ::recv(fds[side], buffer, sizeof buffer, 0);
      if (got <= 0) {
        closeBoth();
        break;
      }
      const Way way = side == 0 ? Way::kRequest : Way::kAnswer;
      int& to = fds[1 - side];
      if (!fault) fault = Take(way);
      std::size_t size = static_cast<std::size_t>(got);
      if (!fault || fault->way != way) {
        if (!SendAll(to, buffer, size)) closeBoth();
        continue;
      }
      if (fault->act == Act::kDelay) {
        if (passed == 0) std::this_thread::sleep_for(fault->delay);
        passed += size;
        if (!SendAll(to, buffer, size)) closeBoth();
        continue;
      }
      const std::size_t pass = std::min(size, fault->bytes - std::min(passed, fault->bytes));
      if (pass > 0 && !SendAll(to, buffer, pass)) {
        closeBoth();
        break;
      }
      passed += pass;
      if (passed < fault->bytes) continue;
      if (fault->act == Act::kCut) {
        Reset(fds[0]);
        Reset(fds[1]);
        fds[0] = fds[1] = -1;
      } else if (fault->act == Act::kTruncate) {
        // The receiver reads an end; the sender's connection goes away.
        ::shutdown(to, SHUT_WR);
        ::close(fds[side]);
        fds[side] = -1;
        // Until the receiver closes too (at most 5 s).
        for (int i = 0; i < 100 && !stop_; ++i) {
          pollfd end{to, POLLIN, 0};
          if (::poll(&end, 1, kPollMs) > 0 && ::recv(to, buffer, sizeof buffer, 0) <= 0) break;
        }
        closeBoth();
      } else {
        stalled = true;
      }
      break;
    }
  }
  closeBoth();
}

}  // namespace Testing
}  // namespace Trustd
