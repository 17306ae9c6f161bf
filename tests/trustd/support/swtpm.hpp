// A software TPM for tests: a fresh TPM 2.0 state manufactured by
// swtpm_setup (RSA 2048 EK certificate at 0x01c00002, banks sha256 and
// sha384) served by `swtpm socket` on free loopback ports (server port P,
// control port P + 1, where the swtpm TCTI looks for it), as a child
// process of the test. Tests of the daemon and its CLI reuse it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace Trustd {
namespace Testing {

struct ToolRun {
  int status = -1;     // exit status, -1 when it did not exit normally
  std::string output;  // stdout
};

// A loopback TCP port nobody listens on right now (0 when none was found).
std::uint16_t FreeLoopbackPort();

class Swtpm {
 public:
  // Manufactures the state and starts the TPM; Error() says what failed.
  Swtpm();
  // Stops the TPM and removes the state.
  ~Swtpm();
  Swtpm(const Swtpm&) = delete;
  Swtpm& operator=(const Swtpm&) = delete;

  // Empty while all went well.
  const std::string& Error() const { return error_; }
  bool Running() const { return pid_ > 0; }

  // "swtpm:host=127.0.0.1,port=<server port>"
  std::string Tcti() const;
  std::uint16_t Port() const { return port_; }
  // The temporary directory holding the state, the local CA and the logs;
  // tests may put their own files there.
  const std::filesystem::path& Directory() const { return directory_; }

  // SIGKILL and reap: the TPM disappears mid-conversation.
  // (The TPM process also dies with the thread that started it, so start
  // and restart it from the test's main thread.)
  void Kill();
  // Starts the TPM again on the same ports and state (after Kill). False,
  // with Error() set, when it does not come up.
  bool Restart();

  // SIGSTOP and SIGCONT: the TPM keeps its connections open but does not
  // answer until continued.
  void Stop();
  void Continue();

  // Runs a shell command with TPM2TOOLS_TCTI naming this TPM, in Directory().
  ToolRun Run(const std::string& command) const;

 private:
  bool Manufacture();
  bool Start();
  void Terminate();

  std::filesystem::path directory_;
  std::uint16_t port_ = 0;
  std::uint16_t ctrlPort_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

}  // namespace Testing
}  // namespace Trustd
