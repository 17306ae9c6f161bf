// A loopback TCP proxy for tests, placed between clients and a server,
// that passes bytes through unchanged until it is armed with a fault: then
// the next request (bytes towards the server) or answer (towards the
// client) that crosses it is cut, truncated, stalled or delayed. It never
// looks inside the bytes, so it works below TLS too.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Trustd {
namespace Testing {

class FaultProxy {
 public:
  enum class Way { kRequest, kAnswer };
  enum class Act {
    kCut,       // after `bytes`: both connections closed with a reset
    kTruncate,  // after `bytes`: the receiving side gets an orderly end, the sender's connection is closed
    kStall,     // after `bytes`: nothing more passes that way, the connections stay open
    kDelay,     // the first bytes wait `delay`, then everything passes
  };
  struct Fault {
    Way way = Way::kAnswer;
    Act act = Act::kCut;
    std::size_t bytes = 0;
    std::chrono::milliseconds delay{0};
  };

  // Listens on a free loopback port and relays to 127.0.0.1:`target`.
  explicit FaultProxy(std::uint16_t target);
  // Closes every connection and joins its threads.
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  // 0 when it could not listen.
  std::uint16_t Port() const { return port_; }

  // The next exchange in `fault.way`, on any connection, takes the fault
  // (once).
  void Arm(const Fault& fault);
  // Whether the fault armed last was taken.
  bool Fired() const { return fired_.load(); }
  // Ends every connection relayed so far.
  void CloseAll() { ++generation_; }

 private:
  void Accept();
  void Relay(int client, int server, unsigned generation);
  std::optional<Fault> Take(Way way);

  std::uint16_t target_;
  std::uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<unsigned> generation_{0};
  std::atomic<bool> fired_{false};
  std::mutex mutex_;
  std::optional<Fault> armed_;
  std::vector<std::thread> relays_;  // guarded by mutex_
  std::thread acceptor_;
};

}  // namespace Testing
}  // namespace Trustd
