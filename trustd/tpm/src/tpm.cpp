#include <trustd/tpm/tpm.hpp>

#include <tss2/tss2_esys.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "connection.hpp"
#include "endorsement.hpp"

namespace Trustd {
namespace {

using Detail::Connection;
using Detail::EsysOwned;

// A property's four bytes as the characters they hold, big-endian.
std::string PropertyText(std::uint32_t value) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((value >> shift) & 0xff);
    if (c != '\0') text += c;
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  auto begin = std::find_if_not(text.begin(), text.end(), blank);
  auto end = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return begin < end ? std::string(begin, end) : std::string();
}

// "2.0" -> 2, 0.
bool ParseFamily(const std::string& family, int& major, int& minor) {
  const auto dot = family.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == family.size() || family.size() > 8) return false;
  const auto digits = [](const std::string& part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const std::string a = family.substr(0, dot), b = family.substr(dot + 1);
  if (!digits(a) || !digits(b)) return false;
  major = std::stoi(a);
  minor = std::stoi(b);
  return true;
}

HashAlgorithm AlgorithmOf(TPM2_ALG_ID id) {
  switch (id) {
    case TPM2_ALG_SHA1:
      return HashAlgorithm::Sha1;
    case TPM2_ALG_SHA256:
      return HashAlgorithm::Sha256;
    case TPM2_ALG_SHA384:
      return HashAlgorithm::Sha384;
    case TPM2_ALG_SHA512:
      return HashAlgorithm::Sha512;
    case TPM2_ALG_SM3_256:
      return HashAlgorithm::Sm3_256;
    default:
      return HashAlgorithm::Other;
  }
}

std::string BankName(TPM2_ALG_ID id) {
  switch (AlgorithmOf(id)) {
    case HashAlgorithm::Sha1:
      return "sha1";
    case HashAlgorithm::Sha256:
      return "sha256";
    case HashAlgorithm::Sha384:
      return "sha384";
    case HashAlgorithm::Sha512:
      return "sha512";
    case HashAlgorithm::Sm3_256:
      return "sm3_256";
    case HashAlgorithm::Other:
      break;
  }
  return "of algorithm " + Detail::HexHandle(id);
}

Result<TpmProperties> ReadProperties(Connection& connection) {
  using R = Result<TpmProperties>;
  auto fixed = connection.FixedProperties();
  if (!fixed) return R::Failure(fixed.Error());
  const auto& all = fixed.Value();
  const auto get = [&all](std::uint32_t property) {
    auto found = all.find(property);
    return found == all.end() ? 0u : found->second;
  };
  if (all.count(TPM2_PT_FAMILY_INDICATOR) == 0) {
    return R::Failure("the TPM does not report TPM_PT_FAMILY_INDICATOR");
  }
  TpmProperties out;
  out.family = PropertyText(get(TPM2_PT_FAMILY_INDICATOR));
  if (!ParseFamily(out.family, out.majorVersion, out.minorVersion)) {
    return R::Failure("the TPM reports an unreadable family \"" + out.family + "\"");
  }
  out.level = get(TPM2_PT_LEVEL);
  out.revision = get(TPM2_PT_REVISION);
  out.manufacturer = Trimmed(PropertyText(get(TPM2_PT_MANUFACTURER)));
  out.model =
      Trimmed(PropertyText(get(TPM2_PT_VENDOR_STRING_1)) + PropertyText(get(TPM2_PT_VENDOR_STRING_2)) +
              PropertyText(get(TPM2_PT_VENDOR_STRING_3)) + PropertyText(get(TPM2_PT_VENDOR_STRING_4)));
  const std::uint32_t high = get(TPM2_PT_FIRMWARE_VERSION_1), low = get(TPM2_PT_FIRMWARE_VERSION_2);
  out.firmwareVersion = std::to_string(high >> 16) + "." + std::to_string(high & 0xffff) + "." +
                        std::to_string(low >> 16) + "." + std::to_string(low & 0xffff);
  return R::Success(std::move(out));
}

// The registers of one bank, in chunks of what one TPM2_PCR_Read returns
// (at most eight digests). A PCR extended between two chunks changes the
// update counter; the bank is then read again, so that all its values belong
// to one moment.
Result<PcrBank> ReadBank(Connection& connection, const TPMS_PCR_SELECTION& allocated) {
  using R = Result<PcrBank>;
  std::set<std::uint32_t> registers;
  for (std::uint32_t byte = 0; byte < allocated.sizeofSelect && byte < TPM2_PCR_SELECT_MAX; ++byte) {
    for (std::uint32_t bit = 0; bit < 8; ++bit) {
      if ((allocated.pcrSelect[byte] >> bit) & 1u) registers.insert(byte * 8 + bit);
    }
  }
  constexpr int kAttempts = 3;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    PcrBank bank;
    bank.algorithmId = allocated.hash;
    bank.algorithm = AlgorithmOf(allocated.hash);
    std::set<std::uint32_t> pending = registers;
    std::uint32_t firstCounter = 0;
    bool first = true, moved = false;
    while (!pending.empty() && !moved) {
      TPML_PCR_SELECTION request{};
      request.count = 1;
      request.pcrSelections[0].hash = allocated.hash;
      request.pcrSelections[0].sizeofSelect = allocated.sizeofSelect;
      int asked = 0;
      for (auto it = pending.begin(); it != pending.end() && asked < 8; ++it, ++asked) {
        request.pcrSelections[0].pcrSelect[*it / 8] |= static_cast<BYTE>(1u << (*it % 8));
      }
      std::uint32_t counter = 0;
      TPML_PCR_SELECTION* rawSelection = nullptr;
      TPML_DIGEST* rawDigests = nullptr;
      TSS2_RC rc = connection.Exchange(
          [&request](ESYS_CONTEXT* esys) {
            return Esys_PCR_Read_Async(esys, ESYS_TR_NONE, ESYS_TR_NONE, ESYS_TR_NONE, &request);
          },
          [&](ESYS_CONTEXT* esys) {
            return Esys_PCR_Read_Finish(esys, &counter, &rawSelection, &rawDigests);
          });
      EsysOwned<TPML_PCR_SELECTION> selection(rawSelection);
      EsysOwned<TPML_DIGEST> digests(rawDigests);
      if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_PCR_Read", rc));
      if (!first && counter != firstCounter) {
        moved = true;
        break;
      }
      first = false;
      firstCounter = counter;
      // The digests come in the order of the selection's set bits.
      std::uint32_t next = 0;
      std::size_t received = 0;
      for (std::uint32_t s = 0; s < selection->count && s < TPM2_NUM_PCR_BANKS; ++s) {
        const TPMS_PCR_SELECTION& got = selection->pcrSelections[s];
        for (std::uint32_t index = 0; index < got.sizeofSelect * 8u && index < TPM2_MAX_PCRS; ++index) {
          if (((got.pcrSelect[index / 8] >> (index % 8)) & 1u) == 0) continue;
          if (next >= digests->count || next >= 8) {
            return R::Failure("TPM2_PCR_Read returned fewer digests than registers");
          }
          const TPM2B_DIGEST& digest = digests->digests[next++];
          if (got.hash == allocated.hash && pending.erase(index) == 1) {
            bank.pcrs[index].assign(digest.buffer, digest.buffer + digest.size);
            ++received;
          }
        }
      }
      if (received == 0) {
        return R::Failure("TPM2_PCR_Read returned none of the registers asked for in bank " +
                          BankName(allocated.hash));
      }
    }
    if (!moved) return R::Success(std::move(bank));
  }
  return R::Failure("the PCRs of bank " + BankName(allocated.hash) + " changed during each of " +
                    std::to_string(kAttempts) + " reads");
}

Result<std::vector<PcrBank>> ReadBanks(Connection& connection) {
  using R = Result<std::vector<PcrBank>>;
  TPMI_YES_NO more = TPM2_NO;
  TPMS_CAPABILITY_DATA* raw = nullptr;
  TSS2_RC rc = connection.GetCapability(TPM2_CAP_PCRS, 0, 1, &more, &raw);
  EsysOwned<TPMS_CAPABILITY_DATA> data(raw);
  if (rc != TSS2_RC_SUCCESS) return R::Failure(connection.Failed("TPM2_GetCapability", rc));
  std::vector<PcrBank> banks;
  const TPML_PCR_SELECTION& assigned = data->data.assignedPCR;
  for (std::uint32_t i = 0; i < assigned.count && i < TPM2_NUM_PCR_BANKS; ++i) {
    const TPMS_PCR_SELECTION& selection = assigned.pcrSelections[i];
    const bool allocated = std::any_of(selection.pcrSelect, selection.pcrSelect + selection.sizeofSelect,
                                       [](BYTE b) { return b != 0; });
    if (!allocated) continue;
    auto bank = ReadBank(connection, selection);
    if (!bank) return R::Failure(bank.Error());
    banks.push_back(std::move(bank).Value());
  }
  return R::Success(std::move(banks));
}

}  // namespace

Tpm::Tpm(std::string tcti) : Tpm(std::move(tcti), TpmOptions{}) {}

Tpm::Tpm(std::string tcti, TpmOptions options)
    : tcti_(std::move(tcti)),
      // A day is beyond any TPM command and keeps deadlines far from the
      // clock's overflow.
      timeout_(std::clamp<std::chrono::milliseconds>(options.commandTimeout, std::chrono::milliseconds(1),
                                                     std::chrono::hours(24))) {}

Tpm::~Tpm() = default;

template <class T, class F>
Result<T> Tpm::Run(F&& work) {
  {
    std::unique_lock<std::mutex> turn(turnMutex_);
    if (!turnFree_.wait_for(turn, timeout_, [this] { return !busy_; })) {
      return Result<T>::Failure("the TPM is busy: a command has not completed for " +
                                std::to_string(timeout_.count()) + " ms");
    }
    busy_ = true;
  }
  // Gives the turn to the next caller however this one ends.
  struct Release {
    Tpm& tpm;
    ~Release() {
      {
        std::lock_guard<std::mutex> turn(tpm.turnMutex_);
        tpm.busy_ = false;
      }
      tpm.turnFree_.notify_one();
    }
  } release{*this};
  if (!connection_) {
    if (!opening_) {
      auto started = Detail::PendingOpen::Start(tcti_, timeout_);
      if (!started) return Result<T>::Failure(started.Error());
      opening_ = std::move(started).Value();
    }
    auto opened = opening_->Await(std::chrono::steady_clock::now() + timeout_);
    if (!opened) {
      return Result<T>::Failure("the TPM did not answer within " + std::to_string(timeout_.count()) +
                                " ms (connecting to " + tcti_ + ")");
    }
    opening_.reset();
    if (!*opened) return Result<T>::Failure(opened->Error());
    connection_ = std::move(*opened).Value();
  }
  Result<T> result = work(*connection_);
  if (connection_->Broken()) connection_.reset();
  return result;
}

bool Tpm::Answering() {
  return Run<bool>([](Connection& connection) {
           TPMI_YES_NO more = TPM2_NO;
           TPMS_CAPABILITY_DATA* raw = nullptr;
           TSS2_RC rc =
               connection.GetCapability(TPM2_CAP_TPM_PROPERTIES, TPM2_PT_FAMILY_INDICATOR, 1, &more, &raw);
           EsysOwned<TPMS_CAPABILITY_DATA> data(raw);
           if (rc != TSS2_RC_SUCCESS)
             return Result<bool>::Failure(connection.Failed("TPM2_GetCapability", rc));
           return Result<bool>::Success(true);
         })
      .Ok();
}

Result<TpmProperties> Tpm::Properties() { return Run<TpmProperties>(ReadProperties); }

Result<std::vector<PcrBank>> Tpm::PcrBanks() { return Run<std::vector<PcrBank>>(ReadBanks); }

Result<EndorsementKey> Tpm::ReadEndorsementKey(EndorsementKeyType type) {
  return Run<EndorsementKey>(
      [type](Connection& connection) { return Detail::ReadEndorsementKey(connection, type); });
}

}  // namespace Trustd
