#include "support/swtpm.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

namespace Trustd {
namespace Testing {
namespace {

using namespace std::chrono_literals;

}  // namespace

namespace {

// A socket bound to a loopback port (0: any free one), or -1.
int BoundSocket(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// A port P with P + 1 free too: the swtpm TCTI finds the control channel
// one above the server port.
std::uint16_t FreePortPair() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int first = BoundSocket(0);
    const std::uint16_t port = first >= 0 ? PortOf(first) : 0;
    const int second = port != 0 && port < 65535 ? BoundSocket(static_cast<std::uint16_t>(port + 1)) : -1;
    if (first >= 0) ::close(first);
    if (second >= 0) {
      ::close(second);
      return port;
    }
  }
  return 0;
}

}  // namespace

std::uint16_t FreeLoopbackPort() {
  const int fd = BoundSocket(0);
  if (fd < 0) return 0;
  const std::uint16_t port = PortOf(fd);
  ::close(fd);
  return port;
}

namespace {

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

Swtpm::Swtpm() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trustd-swtpm-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) {
    error_ = "mkdtemp failed: " + std::string(std::strerror(errno));
    return;
  }
  directory_ = std::filesystem::absolute(name.data());
  if (!Manufacture()) return;
  // A port can be taken between choosing and binding it: choose again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePortPair();
    ctrlPort_ = static_cast<std::uint16_t>(port_ + 1);
    if (port_ == 0) continue;
    if (Start()) return;
  }
}

Swtpm::~Swtpm() {
  Terminate();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

std::string Swtpm::Tcti() const { return "swtpm:host=127.0.0.1,port=" + std::to_string(port_); }

bool Swtpm::Manufacture() {
  const auto dir = directory_.string();
  std::filesystem::create_directories(directory_ / "state");
  std::filesystem::create_directories(directory_ / "ca");
  // Everything swtpm_setup and its local CA read or write stays in the
  // temporary directory (no /etc, /var or ~/.config).
  const bool written =
      WriteFile(directory_ / "swtpm_setup.conf",
                "create_certs_tool = /usr/bin/swtpm_localca\n"
                "create_certs_tool_config = " +
                    dir +
                    "/swtpm-localca.conf\n"
                    "create_certs_tool_options = " +
                    dir + "/swtpm-localca.options\n") &&
      WriteFile(directory_ / "swtpm-localca.conf", "statedir = " + dir +
                                                       "/ca\n"
                                                       "signingkey = " +
                                                       dir +
                                                       "/ca/signkey.pem\n"
                                                       "issuercert = " +
                                                       dir +
                                                       "/ca/issuercert.pem\n"
                                                       "certserial = " +
                                                       dir + "/ca/certserial\n") &&
      WriteFile(directory_ / "swtpm-localca.options",
                "--platform-manufacturer trustd-test\n--platform-version 1.0\n--platform-model swtpm\n");
  if (!written) {
    error_ = "cannot write the swtpm_setup configuration into " + dir;
    return false;
  }
  const std::string command = "swtpm_setup --tpm2 --tpm-state " + Quoted(dir + "/state") +
                              " --create-ek-cert --pcr-banks sha256,sha384 --config " +
                              Quoted(dir + "/swtpm_setup.conf") + " --write-ek-cert-files " + Quoted(dir) +
                              " --logfile " + Quoted(dir + "/setup.log") + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    error_ = "swtpm_setup failed:\n" + FileText(directory_ / "setup.log");
    return false;
  }
  return true;
}

bool Swtpm::Start() {
  const auto dir = directory_.string();
  const std::vector<std::string> args = {
      "swtpm",
      "socket",
      "--tpm2",
      "--tpmstate",
      "dir=" + dir + "/state",
      "--server",
      "type=tcp,port=" + std::to_string(port_) + ",bindaddr=127.0.0.1",
      "--ctrl",
      "type=tcp,port=" + std::to_string(ctrlPort_) + ",bindaddr=127.0.0.1",
      "--flags",
      "not-need-init,startup-clear",
      "--log",
      "file=" + dir + "/swtpm.log",
  };
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string output = dir + "/swtpm.out";
  const pid_t parent = ::getpid();
  // fork rather than posix_spawn for PR_SET_PDEATHSIG: a test process that
  // dies (a crash, a ctest timeout) takes its TPM with it. Only
  // async-signal-safe calls between fork and exec.
  const pid_t pid = ::fork();
  if (pid < 0) {
    error_ = "cannot start swtpm: " + std::string(std::strerror(errno));
    return false;
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
        ::dup2(out, STDERR_FILENO) < 0) {
      ::_exit(127);
    }
    ::execvp("swtpm", argv.data());
    ::_exit(127);
  }
  pid_ = pid;
  // Up within two seconds, or it exited (a port taken, most likely).
  for (int attempt = 0; attempt < 200; ++attempt) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "swtpm exited at start:\n" + FileText(directory_ / "swtpm.out");
      return false;
    }
    if (Accepts(port_)) {
      error_.clear();
      return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  Terminate();
  error_ = "swtpm did not accept connections on port " + std::to_string(port_) + " within 2 s";
  return false;
}

void Swtpm::Terminate() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  // A stopped process only acts on SIGTERM once continued.
  ::kill(pid_, SIGCONT);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(10ms);
  }
  Kill();
}

void Swtpm::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void Swtpm::Stop() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void Swtpm::Continue() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

bool Swtpm::Restart() {
  Terminate();
  // The ports were just released; another process may still grab one, or
  // the kernel may hold it briefly. Retry for about a second.
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Start()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

ToolRun Swtpm::Run(const std::string& command) const {
  ToolRun run;
  const std::string line =
      "cd " + Quoted(directory_.string()) + " && export TPM2TOOLS_TCTI=" + Quoted(Tcti()) + " && " + command;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace Testing
}  // namespace Trustd
