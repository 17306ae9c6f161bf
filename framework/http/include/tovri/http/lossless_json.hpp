// The lossless JSON shape: how a value tree travels between this library's
// client and server so that it is read back as an equal tree (every kind,
// 64-bit integers, every double, blobs, secrets, list kinds, structure
// names). docs/wire.md describes the shape.
//
// The text is one flat JSON array of items in pre-order: each value's tag,
// its operands, then its children (a structure's fields as name, value).
// Being flat, it parses at the same JSON depth whatever the depth of the
// tree, and both directions work with explicit stacks, so a tree of any
// depth costs no native stack; reading refuses input beyond the limits with
// a reason instead.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <tovri/core/value.hpp>

namespace Tovri {
namespace Http {

// Bounds on what a reader accepts. Depth counts value levels (a structure
// holding a list holding a string is three levels deep).
struct JsonLimits {
  std::size_t maxBytes = 16u * 1024u * 1024u;
  std::size_t maxDepth = 1024;
  std::size_t maxElements = 1000000;
};

// Appends the lossless text of `value` to `out`. A missing child (a null
// pointer inside a tree still being built) is written as null.
void WriteLosslessJson(const Data::DataValue& value, std::string& out);
std::string ToLosslessJson(const Data::DataValue& value);

// Reads a value written by WriteLosslessJson. On malformed input, or input
// beyond `limits`, returns null and sets `error` to a one-line reason.
Data::ValuePtr ReadLosslessJson(std::string_view text, const JsonLimits& limits, std::string& error);

}  // namespace Http
}  // namespace Tovri
