// Properties of the lossless JSON reader and of the call envelopes around
// it, shared by the fuzz target and the corpus replay test.
//
// Input: byte 0 picks what reads the rest (bits 1-2: 0 the lossless value
// reader, 1 the request envelope, 2 the answer envelope, 3 the value reader
// again) and the limits (bit 0: small ones, so the limit refusals are
// reached); the rest is the text.
//
// Properties: nothing crashes or throws; a refusal carries a reason; what
// is accepted is written back, and that text reads back to an equal value
// (the repository's value equality) and writes to the very same text again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <tovri/core/value.hpp>
#include <tovri/http/lossless_json.hpp>

// Internal to the transport, but exported by the library and reachable
// without a socket: the server's first step on a request body and the
// client's on an answer line.
#include "../framework/http/src/envelope.hpp"

#include "verdict.hpp"

namespace DralFuzz {

namespace LosslessFuzz {

inline bool SameValue(const Tovri::Data::ValuePtr& a, const Tovri::Data::ValuePtr& b) {
  if (!a || !b) return !a && !b;
  return Tovri::Data::Equal(*a, *b);
}

// Limits that accept whatever the writer made of an accepted value.
inline Tovri::Http::JsonLimits Generous(const std::string& text) {
  Tovri::Http::JsonLimits limits;
  limits.maxBytes = text.size() + 1;
  limits.maxDepth = static_cast<std::size_t>(-1);
  limits.maxElements = static_cast<std::size_t>(-1);
  return limits;
}

inline void CheckValue(std::string_view text, const Tovri::Http::JsonLimits& limits, Verdict& verdict) {
  std::string error;
  const Tovri::Data::ValuePtr read = Tovri::Http::ReadLosslessJson(text, limits, error);
  if (!read) {
    verdict.Require(!error.empty(), "a refusal carries a reason");
    return;
  }
  const std::string written = Tovri::Http::ToLosslessJson(*read);
  std::string again;
  const Tovri::Data::ValuePtr reread = Tovri::Http::ReadLosslessJson(written, Generous(written), again);
  if (!verdict.Require(static_cast<bool>(reread), "what is written reads back",
                       Printable(written) + ": " + again)) {
    return;
  }
  verdict.Require(SameValue(read, reread), "what is written reads back equal", Printable(written));
  verdict.Require(Tovri::Http::ToLosslessJson(*reread) == written, "writing is stable", Printable(written));
}

inline void CheckRequest(std::string_view text, const Tovri::Http::JsonLimits& limits, Verdict& verdict) {
  namespace Detail = Tovri::Http::Detail;
  Tovri::Data::ValuePtr input;
  Detail::Properties properties;
  std::string error;
  if (!Detail::ReadRequest(text, limits, input, properties, error)) {
    verdict.Require(!error.empty(), "a refused request carries a reason");
    return;
  }
  if (!verdict.Require(static_cast<bool>(input), "an accepted request has an input")) return;
  const std::string written = Detail::WriteRequest(*input, properties);
  Tovri::Data::ValuePtr input2;
  Detail::Properties properties2;
  std::string again;
  if (!verdict.Require(Detail::ReadRequest(written, Generous(written), input2, properties2, again),
                       "a written request reads back", Printable(written) + ": " + again)) {
    return;
  }
  verdict.Require(SameValue(input, input2), "a written request reads back the same input",
                  Printable(written));
  verdict.Require(properties == properties2, "a written request reads back the same properties",
                  Printable(written));
}

inline void CheckAnswer(std::string_view text, const Tovri::Http::JsonLimits& limits, Verdict& verdict) {
  namespace Detail = Tovri::Http::Detail;
  std::shared_ptr<const Tovri::Core::MethodResult> result;
  Tovri::Progress progress{};
  std::string error;
  if (!Detail::ReadAnswer(text, limits, result, progress, error)) {
    verdict.Require(!error.empty(), "a refused answer carries a reason");
    return;
  }
  const std::string written = result ? Detail::WriteAnswer(*result) : Detail::WriteProgress(progress);
  std::shared_ptr<const Tovri::Core::MethodResult> result2;
  Tovri::Progress progress2{};
  std::string again;
  if (!verdict.Require(Detail::ReadAnswer(written, Generous(written), result2, progress2, again),
                       "a written answer reads back", Printable(written) + ": " + again)) {
    return;
  }
  if (!result) {
    verdict.Require(!result2 && progress2.min == progress.min && progress2.current == progress.current &&
                        progress2.max == progress.max,
                    "a written progress report reads back the same", Printable(written));
    return;
  }
  if (!verdict.Require(static_cast<bool>(result2), "a written final answer reads back as one",
                       Printable(written))) {
    return;
  }
  verdict.Require(result->IsChecked() == result2->IsChecked(), "the checked flag survives",
                  Printable(written));
  verdict.Require(SameValue(result->GetOutput(), result2->GetOutput()), "the output survives",
                  Printable(written));
  const Tovri::Data::ValuePtr error1 = result->GetError();
  const Tovri::Data::ValuePtr error2 = result2->GetError();
  verdict.Require(SameValue(error1, error2), "the error survives", Printable(written));
}

}  // namespace LosslessFuzz

inline void CheckLosslessJsonCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  if (size < 1) return;
  Tovri::Http::JsonLimits limits;
  if (data[0] & 1) {
    limits.maxBytes = 256;
    limits.maxDepth = 4;
    limits.maxElements = 12;
  }
  const int reader = (data[0] >> 1) & 3;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  verdict.Note("reader " + std::to_string(reader) + ", limits " + std::to_string(data[0] & 1) + ", text " +
               Printable(std::string(text)));
  switch (reader) {
    case 1:
      LosslessFuzz::CheckRequest(text, limits, verdict);
      break;
    case 2:
      LosslessFuzz::CheckAnswer(text, limits, verdict);
      break;
    default:
      LosslessFuzz::CheckValue(text, limits, verdict);
      break;
  }
}

}  // namespace DralFuzz
