// trustd as the tests run it: the built executable started as a child with
// a configuration file, its log (stderr) appended to a file the tests read
// and scan, its port taken from its "listening on" line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace Trustd {
namespace Testing {

class DaemonProcess {
 public:
  DaemonProcess(std::string config, std::string logFile)
      : config_(std::move(config)), logFile_(std::move(logFile)) {}
  // Kills a daemon still running.
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Starts trustd and waits (bounded) until it listens. False when it
  // exited first or never said so; ExitStatus() then tells how it ended.
  bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::uint16_t Port() const { return port_; }
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  void Signal(int signal) const;
  // Waits for the daemon to exit (or takes the status of the one that
  // exited during Start): its exit status, or -1 if it did not exit within
  // `timeout` or died of a signal.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // SIGKILL and reap.
  void Kill();

  // Everything every run of this daemon logged so far.
  std::string Log() const;

 private:
  std::string config_;
  std::string logFile_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::uint16_t port_ = 0;
};

// The trustd executable of this build.
const char* TrustdPath();

}  // namespace Testing
}  // namespace Trustd
