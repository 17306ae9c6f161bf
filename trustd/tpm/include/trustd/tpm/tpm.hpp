// The TPM backend of trustd: what the hardware.tpm services serve about the
// host's TPM 2.0 (its properties, PCR banks and endorsement keys), read
// through the TSS2 ESAPI, and the kernel's measured-boot event log. Plain
// structures out; the daemon maps them to the package's types.
//
// See docs/trustd.md for the version mapping, TCTI strings and threading.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <trustd/result.hpp>

namespace Trustd {
namespace Detail {
class Connection;
class PendingOpen;
}  // namespace Detail

struct TpmProperties {
  // TPM_PT_FAMILY_INDICATOR as text: "2.0".
  std::string family;
  // The family's "major.minor" as numbers: 2 and 0 for every TPM 2.0.
  int majorVersion = 0;
  int minorVersion = 0;
  // The library level and revision the TPM implements (TPM_PT_LEVEL,
  // TPM_PT_REVISION; a revision of 164 reads "1.64").
  std::uint32_t level = 0;
  std::uint32_t revision = 0;
  // TPM_PT_MANUFACTURER: four ASCII characters, NULs and blanks trimmed.
  std::string manufacturer;
  // TPM_PT_VENDOR_STRING_1..4 run together, NULs dropped, blanks trimmed.
  std::string model;
  // TPM_PT_FIRMWARE_VERSION_1 and _2 as four 16-bit numbers: "a.b.c.d".
  std::string firmwareVersion;
};

enum class HashAlgorithm { Sha1, Sha256, Sha384, Sha512, Sm3_256, Other };

// One allocated bank: register index to value.
struct PcrBank {
  HashAlgorithm algorithm = HashAlgorithm::Other;
  std::uint16_t algorithmId = 0;  // TPM2_ALG_ID, also for Other
  std::map<std::uint32_t, std::vector<std::uint8_t>> pcrs;
};

enum class EndorsementKeyType { Rsa2048, EccNistP256 };

struct EndorsementKey {
  EndorsementKeyType type = EndorsementKeyType::Rsa2048;
  // SubjectPublicKeyInfo, PEM.
  std::string publicKeyPem;
  // From the key type's certificate NV index, when defined.
  std::optional<std::string> certificatePem;
  // The certificate's Authority Information Access caIssuers URI.
  std::optional<std::string> manufacturerCertificateUri;
};

// The certificate NV index of each key type (low-range EK certificates).
constexpr std::uint32_t kRsa2048CertificateIndex = 0x01c00002;
constexpr std::uint32_t kEccNistP256CertificateIndex = 0x01c0000a;

struct TpmOptions {
  // How long one TPM command may go unanswered, and how long a call waits
  // for the calls before it. At least 1 ms.
  std::chrono::milliseconds commandTimeout{std::chrono::seconds(10)};
};

// One TPM, reached through a TCTI configuration string: "device:/dev/tpmrm0"
// on a host, "swtpm:host=127.0.0.1,port=2321" for a software TPM. The
// connection is made by the first call and made again by the first call
// after a failure that may have broken it, so a TPM that went away and came
// back serves again without a new Tpm.
//
// A TPM that keeps its connection open but stops answering: where the TCTI
// has poll handles (device), the command fails after commandTimeout with
// "the TPM did not answer within N ms", the connection is dropped and the
// next call opens a new one (opening one is bounded alike: the device TCTI
// sends a command as it opens). Other TCTIs (swtpm, mssim) block until the TPM
// answers or goes away; calls waiting behind such a call fail after
// commandTimeout with "the TPM is busy: ...".
//
// Thread-safe: one ESAPI context per Tpm, each call holding its mutex for
// the whole TPM conversation (calls on one Tpm run one after the other).
class Tpm {
 public:
  explicit Tpm(std::string tcti);
  Tpm(std::string tcti, TpmOptions options);
  ~Tpm();
  Tpm(const Tpm&) = delete;
  Tpm& operator=(const Tpm&) = delete;

  const std::string& Tcti() const { return tcti_; }

  // Whether the TPM answers a command now.
  bool Answering();

  Result<TpmProperties> Properties();
  // Every allocated bank with all of its registers, each bank read at one
  // PCR update count.
  Result<std::vector<PcrBank>> PcrBanks();
  // Creates the key type's EK primary from the default low-range template
  // (the same key every time on one TPM), reads its public part and flushes
  // it, then reads its certificate index.
  Result<EndorsementKey> ReadEndorsementKey(EndorsementKeyType type);

 private:
  // Runs `work` on the connection, opening it first when there is none and
  // dropping it after a failure that may have broken it.
  template <class T, class F>
  Result<T> Run(F&& work);

  const std::string tcti_;
  const std::chrono::milliseconds timeout_;
  // One call at a time, each waiting for its turn at most timeout_. A flag
  // under a plain mutex rather than std::timed_mutex: the latter's timed
  // lock is invisible to ThreadSanitizer, which then misreads every unlock.
  std::mutex turnMutex_;
  std::condition_variable turnFree_;
  bool busy_ = false;
  std::unique_ptr<Detail::Connection> connection_;
  // The connection being opened, when an earlier call gave up waiting.
  std::shared_ptr<Detail::PendingOpen> opening_;
};

struct EventLog {
  std::vector<std::uint8_t> bytes;
  // The file held more than the maximum; `bytes` is its first part.
  bool truncated = false;
};

// Reads the measured-boot log at `path` (securityfs'
// binary_bios_measurements on a host), at most `maxBytes` of it. Works on
// files whose size the file system does not report.
Result<EventLog> ReadEventLog(const std::string& path, std::size_t maxBytes);

}  // namespace Trustd
