// Properties of the natural JSON reader, shared by the fuzz target and the
// corpus replay test.
//
// Input: byte 0 picks a definition from NaturalDefinitions() (modulo its
// size), byte 1 picks the limits (bit 0: small ones, so the limit refusals
// are reached), the rest is the body.
//
// Properties: nothing crashes or throws; a refused body carries messages,
// each with an id and a text; an accepted value passes the definition check
// and survives writing and reading back equal. The definitions hold no
// doubles, whose decimal reading is not exact (see docs/wire.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tovri/http/natural_json.hpp>

#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

#include "verdict.hpp"

namespace DralFuzz {

// The input and output definitions of every operation of the package, in
// this order (make_seeds.py numbers its seeds by it), then a self-referring
// chain node { next: optional<node> }.
inline const std::vector<Tovri::Data::DefinitionPtr>& NaturalDefinitions() {
  static const std::vector<Tovri::Data::DefinitionPtr> definitions = [] {
    namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
    std::vector<Tovri::Data::DefinitionPtr> out;
#define DRAL_NATURAL_OPERATION(Method) \
  out.push_back(Method::inputDef());   \
  out.push_back(Method::outputDef());
    DRAL_NATURAL_OPERATION(TI::Kms::ProvidersSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ProvidersSvc::CreateMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ProvidersSvc::UpdateMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ProvidersSvc::DeleteMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ProvidersSvc::GetMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ServicesSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ServicesSvc::GetMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ServicesSvc::CreateMethod)
    DRAL_NATURAL_OPERATION(TI::Kms::ServicesSvc::DeleteMethod)
    DRAL_NATURAL_OPERATION(TI::Attestation::ServicesSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Attestation::ServicesSvc::GetMethod)
    DRAL_NATURAL_OPERATION(TI::Attestation::ServicesSvc::CreateMethod)
    DRAL_NATURAL_OPERATION(TI::Attestation::ServicesSvc::DeleteMethod)
    DRAL_NATURAL_OPERATION(TI::Attestation::ReportsSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Hardware::TpmSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Hardware::TpmSvc::GetMethod)
    DRAL_NATURAL_OPERATION(TI::Hardware::Tpm::EndorsementKeysSvc::ListMethod)
    DRAL_NATURAL_OPERATION(TI::Hardware::Tpm::EndorsementKeysSvc::GetMethod)
    DRAL_NATURAL_OPERATION(TI::Hardware::Tpm::EventLogSvc::GetMethod)
#undef DRAL_NATURAL_OPERATION
    auto ref = Tovri::Data::StructRefDefinition::GetInstance("node");
    auto node = Tovri::Data::StructDefinition::GetInstance(
        "node", {{"next", Tovri::Data::OptionalDefinition::GetInstance(ref)}});
    ref->Bind(node);
    out.push_back(node);
    return out;
  }();
  return definitions;
}

inline void CheckNaturalJsonCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  if (size < 2) return;
  const auto& definitions = NaturalDefinitions();
  const Tovri::Data::DataDefinition& definition = *definitions[data[0] % definitions.size()];
  Tovri::Http::NaturalLimits limits;
  if (data[1] & 1) {
    limits.maxBytes = 256;
    limits.maxDepth = 4;
    limits.maxElements = 12;
  }
  const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);
  verdict.Note("definition " + std::to_string(data[0] % definitions.size()) + ", limits " +
               std::to_string(data[1] & 1) + ", body " + std::string(body.substr(0, 200)));

  const auto read = Tovri::Http::ReadNatural(body, definition, limits);
  if (!read.ok()) {
    verdict.Require(!read.messages.empty(), "a refusal carries a message");
    for (const auto& message : read.messages) {
      verdict.Require(!message.id.empty() && !message.defaultMessage.empty(),
                      "every message has an id and a text", message.id);
    }
    return;
  }
  verdict.Require(read.messages.empty(), "an accepted body leaves no message",
                  read.messages.front().defaultMessage);
  std::list<Tovri::BaseMessage> check;
  if (!verdict.Require(Tovri::Data::CheckValue(definition, read.value, check), "the value read checks",
                       check.empty() ? std::string() : check.front().defaultMessage)) {
    return;
  }

  Tovri::Http::NaturalWriteOptions reveal;
  reveal.revealSecrets = true;
  const auto written = Tovri::Http::WriteNatural(read.value, definition, reveal);
  if (!verdict.Require(written.ok(), "the value read is written")) return;
  Tovri::Http::NaturalLimits generous;
  generous.maxBytes = written.text.size();
  const auto again = Tovri::Http::ReadNatural(written.text, definition, generous);
  if (!verdict.Require(again.ok(), "what is written reads back",
                       written.text.substr(0, 200) +
                           (again.messages.empty() ? "" : ": " + again.messages.front().defaultMessage))) {
    return;
  }
  verdict.Require(Tovri::Data::Equal(*again.value, *read.value), "what is written reads back equal",
                  written.text.substr(0, 200));
}

}  // namespace DralFuzz
