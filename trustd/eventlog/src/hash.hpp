// Digests of the hash algorithms a log names, through OpenSSL.
#pragma once

#include <cstdint>
#include <optional>

#include <trustd/eventlog/event_log.hpp>

namespace Trustd {
namespace Tcg {
namespace Detail {

// The digest of `first` || `second` with the algorithm; nothing when this
// build of OpenSSL does not provide it.
std::optional<Bytes> Hash(std::uint16_t algorithmId, const Bytes& first, const Bytes& second = {});

}  // namespace Detail
}  // namespace Tcg
}  // namespace Trustd
