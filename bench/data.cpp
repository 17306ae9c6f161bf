#include "data.hpp"

#include <cstdio>

namespace DralBench {

const char* const kDetailsId = "com.corvane.morv.trusted_infrastructure.kms.providers.health.reachable";
const char* const kDetailsText = "Provider {0} is reachable and its keys are usable.";

std::vector<unsigned char> RegisterBytes(std::size_t bank, std::size_t index, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t j = 0; j < size; ++j) bytes[j] = static_cast<unsigned char>(bank * 97 + index * 7 + j);
  return bytes;
}

int SummaryHealth(std::size_t i) { return static_cast<int>(i % 4); }
int SummaryType(std::size_t i) { return static_cast<int>(i % 2); }
bool SummaryAvailable(std::size_t i) { return i % 5 != 0; }

std::string SummaryProvider(std::size_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "provider-%05zu", i);
  return text;
}

std::shared_ptr<const TpmInfo> MakeTpmInfo() {
  const TpmRecipe recipe;
  auto info = std::make_shared<TpmInfo>();
  info->majorVersion = recipe.majorVersion;
  info->minorVersion = recipe.minorVersion;
  info->active = recipe.active;
  info->manufacturer = recipe.manufacturer;
  info->model = recipe.model;
  info->firmwareVersion = recipe.firmwareVersion;
  const std::size_t sizes[] = {kSha256Bytes, kSha384Bytes};
  const HashAlgorithm::Value algorithms[] = {HashAlgorithm::SHA256, HashAlgorithm::SHA384};
  for (std::size_t b = 0; b < 2; ++b) {
    auto bank = std::make_shared<PcrBank>();
    bank->algorithm = algorithms[b];
    for (std::size_t r = 0; r < kRegistersPerBank; ++r) {
      bank->pcrs.emplace(static_cast<long long>(r), RegisterBytes(b, r, sizes[b]));
    }
    info->banks.push_back(std::move(bank));
  }
  return info;
}

SummaryList MakeSummaries(std::size_t count) {
  using Providers = TI::Kms::ProvidersSvc;
  SummaryList list;
  for (std::size_t i = 0; i < count; ++i) {
    auto summary = std::make_shared<Summary>();
    summary->provider = SummaryProvider(i);
    summary->available = SummaryAvailable(i);
    summary->health = Providers::Health(static_cast<Providers::Health::Value>(SummaryHealth(i)));
    auto message = std::make_shared<LocalizableMessage>();
    message->id = kDetailsId;
    message->defaultMessage = kDetailsText;
    message->args.push_back(summary->provider);
    summary->details.push_back(std::move(message));
    summary->type = Providers::ProviderType(static_cast<Providers::ProviderType::Value>(SummaryType(i)));
    list.push_back(std::move(summary));
  }
  return list;
}

namespace Plain {

TpmInfo MakeTpmInfo() {
  const TpmRecipe recipe;
  TpmInfo info;
  info.major_version = recipe.majorVersion;
  info.minor_version = recipe.minorVersion;
  info.active = recipe.active;
  info.manufacturer = recipe.manufacturer;
  info.model = recipe.model;
  info.firmware_version = recipe.firmwareVersion;
  const std::size_t sizes[] = {kSha256Bytes, kSha384Bytes};
  const HashAlgorithm algorithms[] = {HashAlgorithm::SHA256, HashAlgorithm::SHA384};
  for (std::size_t b = 0; b < 2; ++b) {
    PcrBank bank;
    bank.algorithm = algorithms[b];
    for (std::size_t r = 0; r < kRegistersPerBank; ++r) {
      bank.pcrs.emplace(static_cast<long long>(r), Bytes(RegisterBytes(b, r, sizes[b])));
    }
    info.banks.push_back(std::move(bank));
  }
  return info;
}

std::vector<Summary> MakeSummaries(std::size_t count) {
  std::vector<Summary> list;
  list.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    Summary summary;
    summary.provider = SummaryProvider(i);
    summary.available = SummaryAvailable(i);
    summary.health = static_cast<Health>(SummaryHealth(i));
    summary.details.push_back(LocalizableMessage{kDetailsId, kDetailsText, {summary.provider}, std::nullopt});
    summary.type = static_cast<ProviderType>(SummaryType(i));
    list.push_back(std::move(summary));
  }
  return list;
}

}  // namespace Plain

}  // namespace DralBench
