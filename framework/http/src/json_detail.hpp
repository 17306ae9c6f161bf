// Internal: the lossless shape over a parsed Boost.JSON document, shared by
// the codec and by the envelopes of the server and the client.
#pragma once

#include <string>
#include <string_view>

#include <boost/json.hpp>

#include <tovri/http/lossless_json.hpp>

namespace Tovri {
namespace Http {
namespace Detail {

// Parses `text` into `out`, which must have been made with `storage` (so
// that the result moves in rather than being copied). Nesting is bounded by
// what the lossless shape needs for `limits.maxDepth` value levels.
bool ParseDocument(std::string_view text, const JsonLimits& limits, const boost::json::storage_ptr& storage,
                   boost::json::value& out, std::string& error);

// The value a lossless node describes, or null with `error` set.
Data::ValuePtr ValueFromJson(const boost::json::value& node, const JsonLimits& limits, std::string& error);

// A string as a quoted, escaped JSON string.
void AppendJsonString(std::string_view text, std::string& out);

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
