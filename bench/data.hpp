// The data every contestant converts or carries: one TPM description with
// two banks of 24 registers (32- and 48-byte values) and lists of provider
// summaries (health, type and one details message each). The generated
// classes and the plain structs of the peers are filled from the same
// recipe, so every contestant holds the same texts, bytes and numbers.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>

namespace DralBench {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
using TpmInfo = TI::Hardware::TpmSvc::Info;
using PcrBank = TI::Hardware::Tpm::PcrBank;
using HashAlgorithm = TI::Hardware::Tpm::HashAlgorithm;
using Summary = TI::Kms::ProvidersSvc::Summary;
using SummaryList = std::list<std::shared_ptr<const Summary>>;
using LocalizableMessage = ::Com::Corvane::Tovri::Std::LocalizableMessage;

constexpr std::size_t kRegistersPerBank = 24;
constexpr std::size_t kSha256Bytes = 32;
constexpr std::size_t kSha384Bytes = 48;

// The recipe: what element i holds, independent of any representation.
struct TpmRecipe {
  long long majorVersion = 2;
  long long minorVersion = 0;
  bool active = true;
  std::string manufacturer = "STMicroelectronics";
  std::string model = "ST33TPHF2XSPI";
  std::string firmwareVersion = "73.20.17568.6";
};
std::vector<unsigned char> RegisterBytes(std::size_t bank, std::size_t index, std::size_t size);
// Health constant (0 NONE .. 3 ERROR) and provider type (0 NATIVE, 1
// TRUST_AUTHORITY) of summary i.
int SummaryHealth(std::size_t i);
int SummaryType(std::size_t i);
std::string SummaryProvider(std::size_t i);
bool SummaryAvailable(std::size_t i);
extern const char* const kDetailsId;
extern const char* const kDetailsText;

// The generated classes.
std::shared_ptr<const TpmInfo> MakeTpmInfo();
SummaryList MakeSummaries(std::size_t count);

// Plain structs, the form a nlohmann::json user would write.
namespace Plain {

enum class HashAlgorithm { SHA256, SHA384, SHA512, SM3_256 };
enum class ProviderType { NATIVE, TRUST_AUTHORITY };
enum class Health { NONE, OK, WARNING, ERROR };

// Register contents: a type of its own so the JSON peer can carry them as
// binary values rather than arrays of numbers.
struct Bytes : std::vector<unsigned char> {
  using std::vector<unsigned char>::vector;
  Bytes() = default;
  explicit Bytes(std::vector<unsigned char> bytes) : std::vector<unsigned char>(std::move(bytes)) {}
};

// Member names are the wire names, so every contestant carries the same keys.
struct PcrBank {
  HashAlgorithm algorithm = HashAlgorithm::SHA256;
  std::map<long long, Bytes> pcrs;
};

struct TpmInfo {
  long long major_version = 0;
  long long minor_version = 0;
  bool active = false;
  std::optional<std::string> manufacturer;
  std::optional<std::string> model;
  std::optional<std::string> firmware_version;
  std::vector<PcrBank> banks;
};

struct LocalizableMessage {
  std::string id;
  std::string default_message;
  std::vector<std::string> args;
  std::optional<std::string> localized;
};

struct Summary {
  std::string provider;
  bool available = false;
  std::optional<Health> health;
  std::vector<LocalizableMessage> details;
  std::optional<ProviderType> type;
};

TpmInfo MakeTpmInfo();
std::vector<Summary> MakeSummaries(std::size_t count);

}  // namespace Plain

}  // namespace DralBench
