#include "process.hpp"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace Trustload {

std::optional<std::uint64_t> ParseVmRssKib(const std::string& status) {
  std::istringstream lines(status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 6, "VmRSS:") != 0) continue;
    std::size_t at = 6;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const std::size_t digits = at;
    std::uint64_t value = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
      if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(line[at] - '0');
      ++at;
    }
    if (at == digits || line.compare(at, std::string::npos, " kB") != 0) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

int CountOwnSockets() {
  DIR* directory = ::opendir("/proc/self/fd");
  if (!directory) return -1;
  int sockets = 0;
  char target[64];
  while (const dirent* entry = ::readdir(directory)) {
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t size = ::readlink(path.c_str(), target, sizeof target - 1);
    if (size <= 0) continue;
    target[size] = '\0';
    if (std::strncmp(target, "socket:", 7) == 0) ++sockets;
  }
  ::closedir(directory);
  return sockets;
}

bool RssSampler::Start() {
  Sample();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!start_) return false;
  }
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
      lock.unlock();
      Sample();
      lock.lock();
    }
  });
  return true;
}

void RssSampler::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  Sample();
}

void RssSampler::Sample() {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::ostringstream text;
  if (in) text << in.rdbuf();
  const std::optional<std::uint64_t> kib = in ? ParseVmRssKib(text.str()) : std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!kib) {
    // Gone (or never there): the figures so far stand, the end is unknown.
    if (problem_.empty())
      problem_ = "cannot read VmRSS of process " + std::to_string(pid_) + (in ? "" : ": it does not exist");
    end_.reset();
    return;
  }
  if (!start_) start_ = kib;
  peak_ = std::max(peak_.value_or(0), *kib);
  end_ = kib;
}

std::optional<std::uint64_t> RssSampler::StartKib() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return start_;
}
std::optional<std::uint64_t> RssSampler::PeakKib() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_;
}
std::optional<std::uint64_t> RssSampler::EndKib() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return end_;
}
std::string RssSampler::Problem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

}  // namespace Trustload
