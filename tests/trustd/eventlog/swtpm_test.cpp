// A log's digests extended into a software TPM: the replay predicts every
// register the log touches, and the comparison says which ones differ.
#include <gtest/gtest.h>

#include <trustd/eventlog/event_log.hpp>
#include <trustd/tpm/tpm.hpp>

#include "sample_log.hpp"
#include "support/checks.hpp"
#include "support/swtpm.hpp"

namespace Trustd {
namespace {

// Extends the log's events into the TPM as firmware would, then compares
// its banks with the replay.
std::vector<Tcg::RegisterComparison> ExtendAndCompare(const Testing::Swtpm& swtpm, const Tcg::Log& log) {
  std::string commands = "true";
  for (const auto& extension : Tcg::Extensions(log)) {
    commands += " && tpm2_pcrextend " + std::to_string(extension.pcr) + ":";
    for (std::size_t i = 0; i < extension.digests.size(); ++i) {
      const auto& digest = extension.digests[i];
      commands +=
          (i == 0 ? "" : ",") + Tcg::AlgorithmName(digest.algorithmId) + "=" + Testing::Hex(digest.bytes);
    }
  }
  const auto run = swtpm.Run(commands);
  EXPECT_EQ(run.status, 0) << commands;

  Tpm tpm(swtpm.Tcti());
  const auto banks = tpm.PcrBanks();
  EXPECT_TRUE(banks) << banks.Error();
  Tcg::Banks served;
  if (banks) {
    for (const auto& bank : banks.Value()) served[bank.algorithmId] = bank.pcrs;
  }
  const auto replayed = Tcg::Replay(log);
  EXPECT_TRUE(replayed) << replayed.Error();
  return replayed ? Tcg::Compare(replayed.Value(), served) : std::vector<Tcg::RegisterComparison>{};
}

class OnSwtpm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(swtpm_.Error().empty()) << swtpm_.Error(); }
  Testing::Swtpm swtpm_;
};

TEST_F(OnSwtpm, ReplayMatchesEveryRegisterTheLogTouches) {
  // swtpm starts PCR 0 at zero, as after a reset at locality 0.
  const auto log = Tcg::MakeLog({Tcg::kSha256, Tcg::kSha384}, Testing::FirmwareEvents(0));
  ASSERT_TRUE(log) << log.Error();
  const auto compared = ExtendAndCompare(swtpm_, log.Value());
  ASSERT_EQ(compared.size(), 2u * 24);
  for (const auto& c : compared) {
    SCOPED_TRACE(Tcg::AlgorithmName(c.algorithmId) + " register " + std::to_string(c.pcr));
    if (c.pcr <= 8) {
      EXPECT_EQ(c.state, Tcg::RegisterState::kMatches)
          << Testing::Hex(c.served) << " " << Testing::Hex(c.replayed);
    } else {
      EXPECT_EQ(c.state, Tcg::RegisterState::kNotInLog);
      if (c.pcr <= 16) {
        EXPECT_TRUE(c.servedAllZero);
      }
    }
  }
}

TEST_F(OnSwtpm, AStartupLocalityTheTpmDidNotSeeShowsInRegisterZeroOnly) {
  const auto log = Tcg::MakeLog({Tcg::kSha256, Tcg::kSha384}, Testing::FirmwareEvents(3));
  ASSERT_TRUE(log) << log.Error();
  const auto compared = ExtendAndCompare(swtpm_, log.Value());
  ASSERT_EQ(compared.size(), 2u * 24);
  for (const auto& c : compared) {
    SCOPED_TRACE(Tcg::AlgorithmName(c.algorithmId) + " register " + std::to_string(c.pcr));
    if (c.pcr == 0) {
      EXPECT_EQ(c.state, Tcg::RegisterState::kDiffers);
    } else if (c.pcr <= 8) {
      EXPECT_EQ(c.state, Tcg::RegisterState::kMatches);
    }
  }
}

}  // namespace
}  // namespace Trustd
