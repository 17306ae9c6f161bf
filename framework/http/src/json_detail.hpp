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

// Doubles JSON has no number for, spelt the same in both shapes: "NaN",
// "Infinity", "-Infinity", and "-0" for negative zero (a JSON number -0 may
// be parsed as the integer 0 and lose its sign).
constexpr const char* kNaNText = "NaN";
constexpr const char* kInfinityText = "Infinity";
constexpr const char* kNegativeInfinityText = "-Infinity";
constexpr const char* kNegativeZeroText = "-0";
constexpr const char* kSpecialDoublesExpected = "a number, \"NaN\", \"Infinity\", \"-Infinity\" or \"-0\"";

// The text of `d` when it is one of those four (unquoted), otherwise null.
const char* SpecialDoubleText(double d) noexcept;
// The double one of those four texts names; false for any other text.
bool ReadSpecialDouble(std::string_view text, double& d) noexcept;
// A double as either shape carries it: a JSON number (integers included) or
// one of the four texts; false for anything else.
bool ReadJsonDouble(const boost::json::value& v, double& d) noexcept;

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
