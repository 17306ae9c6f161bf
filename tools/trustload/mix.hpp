// What each trustload worker calls, in which order: a fixed cycle of steps
// over the 19 operations of the seven services, so the mix (and thus the
// weights) is the same at every connection count and every run.
//
// A cycle is four rounds. A round creates a key provider, an attestation
// service and a key server of the worker's own, reads them back (get and
// filtered list) around an update and a duplicate create, deletes them, and
// then asks for them once more (not found). Three of a round's calls go to
// the TPM, rotating over its five operations across the cycle. Creates and
// deletes are paired, so the store holds at most one entry of each kind per
// worker. Workers start at different points of the cycle.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace Trustload {

enum class Operation : int {
  kTpmList,
  kTpmGet,
  kEndorsementKeysList,
  kEndorsementKeysGet,
  kEventLogGet,
  kAttestationServicesList,
  kAttestationServicesGet,
  kAttestationServicesCreate,
  kAttestationServicesDelete,
  kReportsList,
  kProvidersList,
  kProvidersGet,
  kProvidersCreate,
  kProvidersUpdate,
  kProvidersDelete,
  kKeyServersList,
  kKeyServersGet,
  kKeyServersCreate,
  kKeyServersDelete,
};
constexpr int kOperationCount = 19;

// "kms.providers/create": the service id without the package prefix.
const char* OperationName(Operation operation);
// Whether the daemon talks to the TPM for it (and so runs it serialised).
bool TalksToTpm(Operation operation);

// How a step's answer is judged.
enum class Variant : int {
  kPresent,    // the entity exists: its value (an empty list after a delete is kGone)
  kGone,       // the worker's entity was just deleted: not_found, or an empty list
  kDuplicate,  // a create that clashes with the worker's live entity: already_exists
};

struct Step {
  Operation operation;
  Variant variant = Variant::kPresent;
};

constexpr std::size_t kRoundsPerCycle = 4;

// One whole cycle, in order.
const std::vector<Step>& Cycle();

// Where worker `index` of `workers` starts in the cycle: spread evenly, so
// that the calls of a short run follow the cycle's mix, not its first steps.
std::size_t StartOf(int index, int workers);

// The creates a worker starting at `position` makes first: those of the
// entries that exist at that point of the round.
std::vector<Step> PreludeFor(std::size_t position);

// Calls of each operation in one cycle.
std::array<int, kOperationCount> CallsPerCycle();

// The mix as a text table: operation, calls per cycle, share of all calls,
// and the answer each variant expects.
std::string MixTable();

}  // namespace Trustload
