// A TPM character device for tests: a pseudo-terminal whose other end
// passes each command written to it on to a software TPM's server port and
// writes the answer back, so that the device TCTI ("device:/dev/pts/N"),
// the one a host uses, runs against swtpm. A command left unanswered when
// its writer closes the device or sends another is dropped, as a kernel
// driver would.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace Trustd {
namespace Testing {

class TpmDevice {
 public:
  // Serves the swtpm listening on loopback `port`; Error() says what failed.
  explicit TpmDevice(std::uint16_t port);
  ~TpmDevice();
  TpmDevice(const TpmDevice&) = delete;
  TpmDevice& operator=(const TpmDevice&) = delete;

  // Empty while all went well.
  const std::string& Error() const { return error_; }
  // "device:/dev/pts/N"
  std::string Tcti() const { return "device:" + path_; }

 private:
  void Serve();

  const std::uint16_t port_;
  int master_ = -1;
  int wake_[2] = {-1, -1};
  std::string path_;
  std::string error_;
  std::thread thread_;
};

}  // namespace Testing
}  // namespace Trustd
