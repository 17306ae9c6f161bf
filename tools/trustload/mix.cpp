#include "mix.hpp"

#include <cstdio>

namespace Trustload {
namespace {

using O = Operation;
using V = Variant;

// The TPM calls of a cycle, three per round. EK calls create both primaries
// from their templates (hundreds of milliseconds on a software TPM), so they
// are the rarest; the unknown TPM costs no TPM conversation.
const Step kTpmRotation[3 * kRoundsPerCycle] = {
    {O::kTpmList},          {O::kEventLogGet}, {O::kTpmGet}, {O::kTpmList}, {O::kEndorsementKeysList},
    {O::kTpmGet, V::kGone}, {O::kEventLogGet}, {O::kTpmGet}, {O::kTpmList}, {O::kEndorsementKeysGet},
    {O::kEventLogGet},      {O::kTpmList},
};

// Which kind a round's duplicate create clashes with.
const Operation kDuplicates[kRoundsPerCycle] = {O::kProvidersCreate, O::kAttestationServicesCreate,
                                                O::kKeyServersCreate, O::kProvidersCreate};

std::vector<Step> MakeCycle() {
  std::vector<Step> cycle;
  for (std::size_t round = 0; round < kRoundsPerCycle; ++round) {
    const Step* tpm = &kTpmRotation[3 * round];
    const std::vector<Step> steps = {
        {O::kProvidersCreate},
        {O::kAttestationServicesCreate},
        {O::kKeyServersCreate},
        {O::kAttestationServicesList},
        {O::kProvidersGet},
        {O::kKeyServersGet},
        {O::kAttestationServicesGet},
        {O::kProvidersList},
        {O::kKeyServersList},
        {O::kReportsList},
        tpm[0],
        {O::kProvidersUpdate},
        {O::kProvidersGet},
        {O::kAttestationServicesGet},
        {O::kKeyServersGet},
        {O::kProvidersList},
        {O::kAttestationServicesList},
        {O::kKeyServersList},
        {kDuplicates[round], V::kDuplicate},
        tpm[1],
        {O::kProvidersGet},
        {O::kProvidersUpdate},
        {O::kAttestationServicesGet},
        {O::kKeyServersGet},
        {O::kReportsList},
        {O::kProvidersDelete},
        {O::kAttestationServicesDelete},
        {O::kKeyServersDelete},
        {O::kProvidersGet, V::kGone},
        {O::kAttestationServicesList, V::kGone},
        {O::kKeyServersGet, V::kGone},
        tpm[2],
        {O::kProvidersList, V::kGone},
        {O::kAttestationServicesGet, V::kGone},
    };
    cycle.insert(cycle.end(), steps.begin(), steps.end());
  }
  return cycle;
}

bool IsList(Operation operation) {
  switch (operation) {
    case O::kTpmList:
    case O::kEndorsementKeysList:
    case O::kAttestationServicesList:
    case O::kReportsList:
    case O::kProvidersList:
    case O::kKeyServersList:
      return true;
    default:
      return false;
  }
}

}  // namespace

const char* OperationName(Operation operation) {
  static const char* const kNames[kOperationCount] = {
      "hardware.tpm/list",
      "hardware.tpm/get",
      "hardware.tpm.endorsement_keys/list",
      "hardware.tpm.endorsement_keys/get",
      "hardware.tpm.event_log/get",
      "attestation.services/list",
      "attestation.services/get",
      "attestation.services/create",
      "attestation.services/delete",
      "attestation.reports/list",
      "kms.providers/list",
      "kms.providers/get",
      "kms.providers/create",
      "kms.providers/update",
      "kms.providers/delete",
      "kms.services/list",
      "kms.services/get",
      "kms.services/create",
      "kms.services/delete",
  };
  const int index = static_cast<int>(operation);
  return index >= 0 && index < kOperationCount ? kNames[index] : "?";
}

bool TalksToTpm(Operation operation) {
  return operation == O::kTpmList || operation == O::kTpmGet || operation == O::kEndorsementKeysList ||
         operation == O::kEndorsementKeysGet || operation == O::kEventLogGet;
}

const std::vector<Step>& Cycle() {
  static const std::vector<Step> cycle = MakeCycle();
  return cycle;
}

std::size_t StartOf(int index, int workers) {
  if (index < 0 || workers <= 0) return 0;
  return static_cast<std::size_t>(index) * Cycle().size() / static_cast<std::size_t>(workers) %
         Cycle().size();
}

std::vector<Step> PreludeFor(std::size_t position) {
  const std::size_t roundLength = Cycle().size() / kRoundsPerCycle;
  position %= Cycle().size();
  std::vector<Step> creates;
  for (std::size_t i = position - position % roundLength; i < position; ++i) {
    const Step& step = Cycle()[i];
    const std::string name = OperationName(step.operation);
    const std::string kind = name.substr(0, name.find('/'));
    if (step.variant == V::kPresent && name == kind + "/create") creates.push_back(step);
    if (name == kind + "/delete") {
      for (auto at = creates.begin(); at != creates.end(); ++at) {
        if (std::string(OperationName(at->operation)) == kind + "/create") {
          creates.erase(at);
          break;
        }
      }
    }
  }
  return creates;
}

std::array<int, kOperationCount> CallsPerCycle() {
  std::array<int, kOperationCount> calls{};
  for (const Step& step : Cycle()) ++calls[static_cast<int>(step.operation)];
  return calls;
}

std::string MixTable() {
  std::array<int, kOperationCount> present{}, gone{}, duplicate{};
  for (const Step& step : Cycle()) {
    auto& count = step.variant == V::kGone ? gone : step.variant == V::kDuplicate ? duplicate : present;
    ++count[static_cast<int>(step.operation)];
  }
  const double total = static_cast<double>(Cycle().size());
  std::string text;
  char line[256];
  std::snprintf(line, sizeof line, "%-36s %6s %7s  %s\n", "operation", "calls", "share", "expected answer");
  text += line;
  for (int i = 0; i < kOperationCount; ++i) {
    const Operation operation = static_cast<Operation>(i);
    const int calls = present[i] + gone[i] + duplicate[i];
    std::string expected = "the reference answer";
    const std::string name = OperationName(operation);
    if (!TalksToTpm(operation) && operation != O::kReportsList) {
      const std::string verb = name.substr(name.find('/') + 1);
      expected = verb == "create"                  ? "a new entry"
                 : verb == "list" || verb == "get" ? "the worker's own entry"
                                                   : "done";
    }
    if (operation == O::kTpmGet) expected += "; unknown TPM: not_found";
    if (gone[i] > 0 && operation != O::kTpmGet)
      expected += IsList(operation) ? "; after delete: empty" : "; after delete: not_found";
    if (duplicate[i] > 0) expected += "; duplicate: already_exists";
    std::string counts = std::to_string(calls);
    if (gone[i] + duplicate[i] > 0) counts += " (" + std::to_string(gone[i] + duplicate[i]) + ")";
    std::snprintf(line, sizeof line, "%-36s %6s %6.1f%%  %s\n", OperationName(operation), counts.c_str(),
                  100.0 * calls / total, expected.c_str());
    text += line;
  }
  std::snprintf(line, sizeof line,
                "%-36s %6zu %6.1f%%  (in parentheses: calls that ask for an error or an empty list)\n",
                "cycle", Cycle().size(), 100.0);
  text += line;
  return text;
}

}  // namespace Trustload
