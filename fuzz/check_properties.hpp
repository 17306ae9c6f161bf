// Properties of the definition check (Tovri::Data::CheckValue) and of
// structural equality (Tovri::Data::Equal) on decoded definitions and values.
//
// Input: a flags byte, a definition, then a value (free form, or biased
// towards the definition when flag bit 0 is set), then a second value for
// the comparisons. Flag bit 1 hangs the values at the bottom of a chain of
// self-referring structures, as deep as ByteReader::Depth() reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

#include <tovri/core/definition.hpp>
#include <tovri/core/value.hpp>

#include "byte_reader.hpp"
#include "describe.hpp"
#include "value_decoder.hpp"
#include "verdict.hpp"

namespace DralFuzz {
namespace CheckFuzz {

using namespace Tovri::Data;

// Small pools, so that decoded names meet: references find their
// structures, values match definitions, tags select cases.
inline const Dictionary& Names() {
  static const Dictionary dictionary{
      {"node", "leaf", "com.corvane.morv.trusted_infrastructure.kms.providers.info", ""},
      {"next", "type", "value", "messages", ""},
      {"red", "green", DefinitionDecoder::UndecidedTag(), "", "true", "12"}};
  return dictionary;
}

constexpr const char* kChainName = "dral.fuzz.chain";

struct Outcome {
  bool ok;
  std::list<Tovri::BaseMessage> messages;  // without the prefilled one
};

inline std::string Texts(const std::list<Tovri::BaseMessage>& messages) {
  std::string out;
  for (const Tovri::BaseMessage& message : messages) out += "[" + message.defaultMessage + "] ";
  return out;
}

// CheckValue on a list that already holds a message, so a checker that
// looked at the whole list instead of what it appended would show.
inline Outcome Check(const DataDefinition& definition, const ValuePtr& value, Verdict& verdict) {
  std::list<Tovri::BaseMessage> messages{Tovri::BaseMessage("earlier", "earlier", {})};
  const bool ok = CheckValue(definition, value, messages);
  verdict.Require(!messages.empty() && messages.front().id == "earlier", "earlier messages are kept");
  if (!messages.empty()) messages.pop_front();
  verdict.Require(ok == messages.empty(), "CheckValue returns true iff it appended no message",
                  std::to_string(messages.size()) + " messages, returned " + (ok ? "true" : "false"));
  for (const Tovri::BaseMessage& message : messages) {
    verdict.Require(!message.id.empty() && !message.defaultMessage.empty(), "messages have an id and a text",
                    message.id);
  }
  return Outcome{ok, std::move(messages)};
}

// The value hung below `depth` chain structures, and the chain's definition:
//   chain { next: optional<ref chain>, value: optional<payload> }.
struct Chain {
  DefinitionPtr definition;
  ValuePtr value;
};

inline Chain MakeChain(const DefinitionPtr& payload, const ValuePtr& value, std::size_t depth) {
  auto ref = StructRefDefinition::GetInstance(kChainName);
  auto definition = StructDefinition::GetInstance(
      kChainName,
      {{"next", OptionalDefinition::GetInstance(ref)}, {"value", OptionalDefinition::GetInstance(payload)}});
  ref->Bind(definition);
  auto bottom = StructValue::GetInstance(kChainName);
  bottom->SetField("value", OptionalValue::GetInstance(value));
  ValuePtr chain = bottom;
  for (std::size_t i = 0; i < depth; ++i) {
    auto node = StructValue::GetInstance(kChainName);
    node->SetField("next", OptionalValue::GetInstance(std::move(chain)));
    chain = std::move(node);
  }
  return Chain{definition, chain};
}

// Wrapping in an optional, a two-element list or a structure field (next
// to an undeclared field) neither adds nor hides a mismatch.
inline void CheckWrapped(const DefinitionPtr& checked, const ValuePtr& value, const ValuePtr& copy,
                         const ValuePtr& other, std::size_t mismatches, Verdict& verdict) {
  const Outcome optional =
      Check(*OptionalDefinition::GetInstance(checked), OptionalValue::GetInstance(value), verdict);
  verdict.Require(optional.messages.size() == mismatches, "a set optional checks its content");
  verdict.Require(Check(*OptionalDefinition::GetInstance(checked), OptionalValue::GetInstance(), verdict).ok,
                  "an unset optional passes");
  auto list = ListValue::GetInstance();
  list->Append(value);
  list->Append(copy);
  const Outcome listed = Check(*ListDefinition::GetInstance(checked), list, verdict);
  verdict.Require(listed.messages.size() == 2 * mismatches, "a list checks every element");
  // A null field slot reads as an absent field, and a union case in a
  // structure also needs its tag.
  if (value && checked->GetType() != kUnionCase) {
    auto holder = StructValue::GetInstance("holder");
    holder->SetField("field", value);
    holder->SetField("undeclared", other);
    const Outcome held =
        Check(*StructDefinition::GetInstance("holder", {{"field", checked}}), holder, verdict);
    verdict.Require(held.messages.size() == mismatches, "a structure checks its declared fields only",
                    Texts(held.messages));
  }
}

inline bool SameMessages(const std::list<Tovri::BaseMessage>& a, const std::list<Tovri::BaseMessage>& b) {
  return a == b;
}

}  // namespace CheckFuzz

struct CheckOptions {
  // Print the decoded definition and value to stderr before checking them
  // (for slow inputs, which never fail).
  bool trace = false;
  // Allow chains of up to 150k levels instead of 1024. Fuzzing keeps to
  // the small depths, where it runs a hundred times faster; the deep seeds
  // are run on their own.
  bool deep = false;
};

inline void CheckDefinitionCase(const std::uint8_t* data, std::size_t size, Verdict& verdict,
                                const CheckOptions& options = CheckOptions()) {
  using namespace Tovri::Data;
  using namespace CheckFuzz;
  const Dictionary& names = Names();
  // Small trees keep the target fast; depth comes from the chains.
  DecodeLimits limits;
  limits.maxValueNodes = 512;
  limits.hardValueMargin = 256;
  const std::size_t maxDepth = options.deep ? 150000 : 1024;
  limits.maxWrapDepth = maxDepth;

  ByteReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const bool guided = (flags & 1) != 0;
  std::size_t depth = (flags & 2) != 0 ? in.Depth() : 0;
  if (depth > maxDepth) depth = maxDepth;
  const DefinitionPtr definition = DefinitionDecoder(in, names, limits).Decode();

  // The value twice from the same bytes (two distinct but equal trees),
  // then another value from the bytes that follow.
  const std::size_t valueStart = in.Position();
  ValueDecoder decoder(in, names, limits);
  ValuePtr value = guided ? decoder.DecodeFor(definition) : decoder.Decode();
  const bool conforming = guided && decoder.Conforming();
  ByteReader again(data + valueStart, size - valueStart);
  ValueDecoder copier(again, names, limits);
  ValuePtr copy = guided ? copier.DecodeFor(definition) : copier.Decode();
  ValuePtr other = ValueDecoder(in, names, limits).Decode();

  if (options.trace) {
    std::fprintf(stderr, "definition: %s\nvalue (%zu nodes, chain depth %zu%s): %s\n",
                 Describe(definition.get()).c_str(), decoder.Nodes(), depth, conforming ? ", conforming" : "",
                 Describe(value.get()).c_str());
  }

  DefinitionPtr checked = definition;
  if (depth > 0) {
    const Chain chain = MakeChain(definition, value, depth);
    checked = chain.definition;
    value = chain.value;
    copy = MakeChain(definition, copy, depth).value;
    other = MakeChain(definition, other, depth).value;
  }

  const Outcome outcome = Check(*checked, value, verdict);
  if (conforming) {
    verdict.Require(outcome.ok, "a value built to the definition passes",
                    outcome.messages.empty() ? std::string() : outcome.messages.front().defaultMessage);
  }
  const Outcome repeated = Check(*checked, copy, verdict);
  verdict.Require(SameMessages(outcome.messages, repeated.messages), "an equal value checks the same");

  const std::size_t mismatches = outcome.messages.size();
  // Big trees are checked once more through an equal one only.
  const bool big = depth + decoder.Nodes() > 1024;
  if (!big) CheckWrapped(checked, value, copy, other, mismatches, verdict);

  if (value && copy && other) {
    verdict.Require(Equal(*value, *value), "a value equals itself");
    verdict.Require(Equal(*value, *copy) && Equal(*copy, *value), "values decoded alike are equal");
    const bool forward = Equal(*value, *other);
    verdict.Require(forward == Equal(*other, *value), "equality is symmetric");
    if (forward) {
      verdict.Require(Check(*checked, other, verdict).messages.size() == mismatches,
                      "equal values check the same");
    }
  }
  if (!verdict.Passed()) {
    verdict.Note("definition: " + Describe(definition.get()));
    verdict.Note("value: " + Describe(value.get()));
  }
}

}  // namespace DralFuzz
