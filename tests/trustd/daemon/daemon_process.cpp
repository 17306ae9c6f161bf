#include "daemon_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace Trustd {
namespace Testing {

const char* TrustdPath() { return TRUSTD_EXECUTABLE; }

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0) Kill();
}

bool DaemonProcess::Start(std::chrono::milliseconds timeout) {
  const std::size_t logged = Log().size();
  exitStatus_ = -1;
  port_ = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = wrapper_;
  for (const char* arg : {TrustdPath(), "--config"}) args.emplace_back(arg);
  args.push_back(config_);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const bool spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::string marker = "listening on ";
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string log = Log();
    const std::size_t at = log.find(marker, logged);
    if (at != std::string::npos) {
      const std::size_t colon = log.rfind(':', log.find('\n', at));
      port_ = static_cast<std::uint16_t>(std::stoi(log.substr(colon + 1)));
      return true;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void DaemonProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int DaemonProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return exitStatus_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void DaemonProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string DaemonProcess::Log() const {
  std::ifstream in(logFile_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace Testing
}  // namespace Trustd
