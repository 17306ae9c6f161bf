// The measured-boot event log in its crypto-agile form (what the kernel
// serves as binary_bios_measurements): decoding it, replaying its digests
// into PCR values, comparing those with the banks a TPM reports, and writing
// such logs (for tests and demos). Plain structures in and out; nothing here
// talks to a TPM.
//
// The namespace is Tcg, not EventLog: Trustd::EventLog is the TPM backend's
// raw log, and the daemon includes both.
//
// See docs/trustd.md ("The event log codec") for limits, truncation and the
// replay rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <trustd/result.hpp>

namespace Trustd {
namespace Tcg {

using Bytes = std::vector<std::uint8_t>;

// TPM2_ALG_ID values of the hash algorithms logs use.
constexpr std::uint16_t kSha1 = 0x0004;
constexpr std::uint16_t kSha256 = 0x000b;
constexpr std::uint16_t kSha384 = 0x000c;
constexpr std::uint16_t kSha512 = 0x000d;
constexpr std::uint16_t kSm3_256 = 0x0012;

// Event types that change how the log is read.
constexpr std::uint32_t kEvNoAction = 0x00000003;
constexpr std::uint32_t kEvSeparator = 0x00000004;
constexpr std::uint32_t kEvEfiAction = 0x80000007;

// "sha256" for the algorithms above, empty for others.
std::string AlgorithmName(std::uint16_t algorithmId);
// The digest size of a known algorithm, 0 for others.
std::size_t KnownDigestSize(std::uint16_t algorithmId);
// "EV_SEPARATOR" for the TCG event types, empty for others.
std::string EventTypeName(std::uint32_t type);

struct Algorithm {
  std::uint16_t id = 0;
  std::uint16_t digestSize = 0;
};

// The log's first event: what it says about the rest.
struct Header {
  std::uint32_t platformClass = 0;
  std::uint8_t versionMinor = 0;
  std::uint8_t versionMajor = 2;
  std::uint8_t errata = 0;
  // 1: UINTN is 32 bits, 2: 64 bits.
  std::uint8_t uintnSize = 2;
  // Every later event carries one digest of each, in any order.
  std::vector<Algorithm> algorithms;
  Bytes vendorInfo;  // at most 255 bytes
};

struct Digest {
  std::uint16_t algorithmId = 0;
  Bytes bytes;
};

struct Event {
  // The header is event 0 at offset 0; these count from 1.
  std::size_t index = 0;
  std::size_t offset = 0;
  std::uint32_t pcr = 0;
  std::uint32_t type = 0;
  std::vector<Digest> digests;  // in log order
  Bytes data;

  std::string TypeName() const { return EventTypeName(type); }
  // The digest of one algorithm, nullptr when the event has none.
  const Bytes* DigestOf(std::uint16_t algorithmId) const;
};

struct Log {
  Header header;
  std::vector<Event> events;
  // Set when the bytes end inside an event (a log cut at a maximum size):
  // the offset where that incomplete event starts. `events` holds every
  // whole event before it.
  std::optional<std::size_t> truncatedAt;
};

bool operator==(const Algorithm& a, const Algorithm& b);
bool operator==(const Header& a, const Header& b);
bool operator==(const Digest& a, const Digest& b);
bool operator==(const Event& a, const Event& b);
bool operator==(const Log& a, const Log& b);

struct DecodeLimits {
  // Larger event data is an error, not a truncation.
  std::uint32_t maxEventDataSize = 16u << 20;
};

// Reads a log. Malformed content (a wrong signature, an algorithm the header
// does not list, a size beyond the limits) is an error naming the event and
// its offset. Bytes that end inside an event after the header are not an
// error: see Log::truncatedAt.
Result<Log> Decode(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
Result<Log> Decode(const Bytes& bytes, const DecodeLimits& limits = {});

// Writes a log: the bytes Decode reads back as `log` (event indexes, offsets
// and truncatedAt are not written). Fails when the log could not be read back
// as it is: digests that do not match the header, sizes out of range.
Result<Bytes> Encode(const Log& log);

// An event to write. Without digests, each of the log's algorithms gets the
// digest of `data` (zeros for EV_NO_ACTION, which is never extended).
struct NewEvent {
  std::uint32_t pcr = 0;
  std::uint32_t type = 0;
  Bytes data;
  std::optional<std::vector<Digest>> digests;
};

// A log of `algorithms` (known ones: their digest sizes are filled in)
// holding `events`, with indexes and offsets as Decode gives them.
Result<Log> MakeLog(const std::vector<std::uint16_t>& algorithms, const std::vector<NewEvent>& events);

// The data of an EV_NO_ACTION event in PCR 0 saying PCR 0 was reset at
// `locality`.
Bytes StartupLocalityData(std::uint8_t locality);

// What one event extends: its register and a digest per algorithm.
struct Extension {
  std::size_t eventIndex = 0;
  std::uint32_t pcr = 0;
  std::vector<Digest> digests;
};

// The extensions a TPM sees while the log is written, in order (every event
// but EV_NO_ACTION ones).
std::vector<Extension> Extensions(const Log& log);

// Algorithm -> register -> value.
using Banks = std::map<std::uint16_t, std::map<std::uint32_t, Bytes>>;

struct Replayed {
  // The registers the log touches, per algorithm it could replay.
  Banks banks;
  // Algorithms of the header this build cannot compute (not in `banks`).
  std::vector<std::uint16_t> notReplayed;
  // From a StartupLocality event, when the log has one.
  std::optional<std::uint8_t> startupLocality;
};

// The register values after every extension of the log, each register
// starting at zero; PCR 0 starts at 0...0 || locality when the log has a
// StartupLocality event before PCR 0's first measurement. A StartupLocality
// event that is malformed, not for PCR 0, repeated or late is an error.
Result<Replayed> Replay(const Log& log);

enum class RegisterState {
  kMatches,   // served value equals the replay
  kDiffers,   // the log touches it, the served value is another
  kNotInLog,  // served, but the log never touches it (or its algorithm)
  kNotServed  // the log touches it, the TPM did not serve it
};

struct RegisterComparison {
  std::uint16_t algorithmId = 0;
  std::uint32_t pcr = 0;
  RegisterState state = RegisterState::kNotInLog;
  Bytes served;    // empty for kNotServed
  Bytes replayed;  // empty for kNotInLog
  bool servedAllZero = false;
};

// Every register of `served` and of the replay, ordered by algorithm, then
// register.
std::vector<RegisterComparison> Compare(const Replayed& replayed, const Banks& served);

}  // namespace Tcg
}  // namespace Trustd
