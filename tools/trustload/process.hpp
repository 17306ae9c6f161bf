// What trustload reads of processes: the daemon's resident memory from
// /proc/PID/status, sampled on a thread of its own, and how many sockets
// trustload itself holds (its connections to the daemon).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace Trustload {

// The VmRSS line of a /proc/PID/status text, in KiB; nullopt when there is
// none or it is not "<number> kB".
std::optional<std::uint64_t> ParseVmRssKib(const std::string& status);

// Sockets among this process's file descriptors; -1 when /proc cannot be read.
int CountOwnSockets();

// Samples a process's VmRSS every `period` from Start() until Stop(),
// keeping the first, the largest and the last sample.
class RssSampler {
 public:
  RssSampler(pid_t pid, std::chrono::milliseconds period) : pid_(pid), period_(period) {}
  ~RssSampler() { Stop(); }
  RssSampler(const RssSampler&) = delete;
  RssSampler& operator=(const RssSampler&) = delete;

  // Takes the first sample at once; false (with Problem()) when the
  // process's status cannot be read.
  bool Start();
  // Takes a last sample and joins the thread.
  void Stop();

  std::optional<std::uint64_t> StartKib() const;
  std::optional<std::uint64_t> PeakKib() const;
  std::optional<std::uint64_t> EndKib() const;
  std::string Problem() const;

 private:
  void Sample();

  const pid_t pid_;
  const std::chrono::milliseconds period_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::optional<std::uint64_t> start_, peak_, end_;
  std::string problem_;
  std::thread thread_;
};

}  // namespace Trustload
