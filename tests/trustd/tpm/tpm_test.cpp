// The TPM backend against a software TPM, cross-checked with tpm2-tools and
// OpenSSL: properties, PCR banks, endorsement keys and their certificates,
// a TPM that goes away and comes back or stops answering, TCTI strings that
// reach nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>
#include <vector>

#include <trustd/tpm/tpm.hpp>

#include "support/checks.hpp"
#include "support/swtpm.hpp"
#include "support/tpm_device.hpp"

namespace Trustd {
namespace {

using namespace std::chrono_literals;
using Testing::Bytes;
using Testing::FileBytes;
using Testing::Swtpm;

// The "raw" value tpm2_getcap shows under a property's name.
std::uint32_t RawProperty(const std::string& listing, const std::string& name) {
  std::smatch match;
  const std::regex pattern(name + ":\\s*\\n\\s*raw:\\s*(0x[0-9A-Fa-f]+|[0-9]+)");
  return std::regex_search(listing, match, pattern)
             ? static_cast<std::uint32_t>(std::stoul(match[1], nullptr, 0))
             : 0xffffffffu;
}

class TpmOnSwtpm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { swtpm_ = new Swtpm(); }
  static void TearDownTestSuite() {
    delete swtpm_;
    swtpm_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(swtpm_->Error().empty()) << swtpm_->Error();
    if (!swtpm_->Running()) {
      ASSERT_TRUE(swtpm_->Restart()) << swtpm_->Error();
    }
    tpm_ = std::make_unique<Tpm>(swtpm_->Tcti());
  }

  // Transient objects left loaded (the software TPM has no resource manager,
  // so a missed flush stays visible).
  static std::string TransientHandles() { return swtpm_->Run("tpm2_getcap handles-transient").output; }

  static Swtpm* swtpm_;
  std::unique_ptr<Tpm> tpm_;
};

Swtpm* TpmOnSwtpm::swtpm_ = nullptr;

TEST_F(TpmOnSwtpm, PropertiesAreWhatTpm2GetcapReads) {
  EXPECT_TRUE(tpm_->Answering());
  const auto properties = tpm_->Properties();
  ASSERT_TRUE(properties) << properties.Error();
  const auto listing = swtpm_->Run("tpm2_getcap properties-fixed");
  ASSERT_EQ(listing.status, 0);

  const TpmProperties& p = properties.Value();
  EXPECT_EQ(p.family, "2.0");
  EXPECT_EQ(p.majorVersion, 2);
  EXPECT_EQ(p.minorVersion, 0);
  EXPECT_EQ(p.revision, RawProperty(listing.output, "TPM2_PT_REVISION"));
  EXPECT_EQ(p.level, RawProperty(listing.output, "TPM2_PT_LEVEL"));
  // swtpm reports 0x49424D00 and the vendor strings "SW  ", " TPM".
  EXPECT_EQ(p.manufacturer, "IBM");
  EXPECT_EQ(p.model, "SW   TPM");
  const std::uint32_t high = RawProperty(listing.output, "TPM2_PT_FIRMWARE_VERSION_1");
  const std::uint32_t low = RawProperty(listing.output, "TPM2_PT_FIRMWARE_VERSION_2");
  EXPECT_EQ(p.firmwareVersion, std::to_string(high >> 16) + "." + std::to_string(high & 0xffff) + "." +
                                   std::to_string(low >> 16) + "." + std::to_string(low & 0xffff));
}

TEST_F(TpmOnSwtpm, BanksHoldEveryRegisterAsTpm2PcrreadReadsThem) {
  const auto before = tpm_->PcrBanks();
  ASSERT_TRUE(before) << before.Error();
  ASSERT_EQ(before.Value().size(), 2u);

  // Extend two registers in both banks with distinct data, so that a
  // register read into the wrong slot shows.
  struct Bank {
    HashAlgorithm algorithm;
    const char* tool;
    const char* digest;
    std::size_t size;
  };
  const Bank banks[] = {{HashAlgorithm::Sha256, "sha256", "SHA256", 32},
                        {HashAlgorithm::Sha384, "sha384", "SHA384", 48}};
  const std::uint32_t extended[] = {16, 23};
  std::map<HashAlgorithm, std::map<std::uint32_t, Bytes>> expected;
  for (std::size_t b = 0; b < 2; ++b) {
    const PcrBank& bank = before.Value()[b];
    EXPECT_EQ(bank.algorithm, banks[b].algorithm);
    ASSERT_EQ(bank.pcrs.size(), 24u);
    for (const auto& [index, value] : bank.pcrs) {
      EXPECT_LT(index, 24u);
      EXPECT_EQ(value.size(), banks[b].size) << "register " << index;
    }
  }
  for (std::uint32_t pcr : extended) {
    std::string argument = std::to_string(pcr) + ":";
    for (std::size_t b = 0; b < 2; ++b) {
      const Bytes data = Testing::Digest(banks[b].digest, Bytes(pcr, static_cast<std::uint8_t>(pcr + b)));
      Bytes old = before.Value()[b].pcrs.at(pcr);
      old.insert(old.end(), data.begin(), data.end());
      expected[banks[b].algorithm][pcr] = Testing::Digest(banks[b].digest, old);
      argument += std::string(b == 0 ? "" : ",") + banks[b].tool + "=" + Testing::Hex(data);
    }
    ASSERT_EQ(swtpm_->Run("tpm2_pcrextend " + argument).status, 0) << argument;
  }

  const auto after = tpm_->PcrBanks();
  ASSERT_TRUE(after) << after.Error();
  ASSERT_EQ(after.Value().size(), 2u);
  for (std::size_t b = 0; b < 2; ++b) {
    const PcrBank& bank = after.Value()[b];
    for (std::uint32_t pcr : extended) EXPECT_EQ(bank.pcrs.at(pcr), expected[bank.algorithm][pcr]) << pcr;
    const std::string file = std::string(banks[b].tool) + ".pcrs";
    ASSERT_EQ(swtpm_
                  ->Run(std::string("tpm2_pcrread -o ") + file + " " + banks[b].tool +
                        ":0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23 >/dev/null")
                  .status,
              0);
    const Bytes all = FileBytes(swtpm_->Directory() / file);
    ASSERT_EQ(all.size(), 24 * banks[b].size);
    for (std::uint32_t index = 0; index < 24; ++index) {
      const Bytes value(all.begin() + index * banks[b].size, all.begin() + (index + 1) * banks[b].size);
      EXPECT_EQ(bank.pcrs.at(index), value) << banks[b].tool << " register " << index;
    }
  }
}

TEST_F(TpmOnSwtpm, RsaEndorsementKeyAndCertificateAreWhatTheToolsRead) {
  ASSERT_EQ(
      swtpm_->Run("tpm2_createek -G rsa -f pem -u ek-rsa.pem -c ek-rsa.ctx && tpm2_flushcontext -t").status,
      0);
  const auto key = tpm_->ReadEndorsementKey(EndorsementKeyType::Rsa2048);
  ASSERT_TRUE(key) << key.Error();
  EXPECT_EQ(TransientHandles(), "");

  const EndorsementKey& ek = key.Value();
  EXPECT_EQ(ek.type, EndorsementKeyType::Rsa2048);
  const Bytes tools = FileBytes(swtpm_->Directory() / "ek-rsa.pem");
  EXPECT_TRUE(Testing::SamePublicKey(ek.publicKeyPem, std::string(tools.begin(), tools.end())))
      << ek.publicKeyPem;

  ASSERT_TRUE(ek.certificatePem.has_value());
  const auto der = Testing::CertificateDer(*ek.certificatePem);
  ASSERT_TRUE(der.has_value()) << *ek.certificatePem;
  ASSERT_EQ(swtpm_->Run("tpm2_nvread 0x01c00002 -C o -o ek-rsa.der").status, 0);
  EXPECT_EQ(*der, FileBytes(swtpm_->Directory() / "ek-rsa.der"));
  EXPECT_EQ(*der, FileBytes(swtpm_->Directory() / "ek-rsa2048.crt"));
  // swtpm_setup certified the key of the default template: the same key.
  EXPECT_TRUE(Testing::SamePublicKey(ek.publicKeyPem, *ek.certificatePem));
  // The local CA writes no Authority Information Access.
  EXPECT_FALSE(ek.manufacturerCertificateUri.has_value());
}

TEST_F(TpmOnSwtpm, EccEndorsementKeyAndWhatItsCertificateIndexHolds) {
  ASSERT_EQ(
      swtpm_->Run("tpm2_createek -G ecc -f pem -u ek-ecc.pem -c ek-ecc.ctx && tpm2_flushcontext -t").status,
      0);
  const auto plain = tpm_->ReadEndorsementKey(EndorsementKeyType::EccNistP256);
  ASSERT_TRUE(plain) << plain.Error();
  EXPECT_EQ(TransientHandles(), "");
  const Bytes tools = FileBytes(swtpm_->Directory() / "ek-ecc.pem");
  EXPECT_TRUE(Testing::SamePublicKey(plain.Value().publicKeyPem, std::string(tools.begin(), tools.end())));
  // swtpm_setup certifies a P-384 key (high range), not this one.
  EXPECT_FALSE(plain.Value().certificatePem.has_value());
  EXPECT_FALSE(plain.Value().manufacturerCertificateUri.has_value());

  // A certificate larger than one NV read, with AIA, stored with padding.
  const std::string uri = "http://ca.example.test/ek-issuer.cer";
  ASSERT_EQ(
      swtpm_
          ->Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null "
                "-subj /CN=ek -days 2 -outform DER -out ecc.der -addext 'authorityInfoAccess=OCSP;URI:"
                "http://ocsp.example.test,caIssuers;URI:" +
                uri + "' -addext nsComment=" + std::string(1300, 'x') + " 2>/dev/null")
          .status,
      0);
  const Bytes certificate = FileBytes(swtpm_->Directory() / "ecc.der");
  ASSERT_GT(certificate.size(), 1300u);
  Testing::WriteBytes(swtpm_->Directory() / "garbage.der", Bytes(100, 0x30));

  struct Case {
    const char* name;
    const char* attributes;
    const char* contents;  // file written into the index, or none
    bool readable;
  };
  const Case cases[] = {
      {"readable with its own auth", "ownerread|ownerwrite|authread|authwrite|no_da", "ecc.der", true},
      {"readable by the owner only", "ownerread|ownerwrite|no_da", "ecc.der", true},
      {"defined, never written", "ownerread|ownerwrite|authread|authwrite|no_da", nullptr, true},
      {"not a certificate", "ownerread|ownerwrite|authread|authwrite|no_da", "garbage.der", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(swtpm_
                  ->Run("tpm2_nvdefine 0x01c0000a -C o -s " + std::to_string(certificate.size() + 40) +
                        " -a '" + c.attributes + "' >/dev/null")
                  .status,
              0);
    if (c.contents != nullptr) {
      ASSERT_EQ(swtpm_->Run(std::string("tpm2_nvwrite 0x01c0000a -C o -i ") + c.contents).status, 0);
    }
    const auto key = tpm_->ReadEndorsementKey(EndorsementKeyType::EccNistP256);
    ASSERT_EQ(swtpm_->Run("tpm2_nvundefine 0x01c0000a -C o").status, 0);
    EXPECT_EQ(TransientHandles(), "");
    if (!c.readable) {
      ASSERT_FALSE(key);
      EXPECT_NE(key.Error().find("0x01c0000a"), std::string::npos) << key.Error();
      continue;
    }
    ASSERT_TRUE(key) << key.Error();
    EXPECT_EQ(key.Value().publicKeyPem, plain.Value().publicKeyPem);
    if (c.contents == nullptr) {
      EXPECT_FALSE(key.Value().certificatePem.has_value());
      continue;
    }
    ASSERT_TRUE(key.Value().certificatePem.has_value());
    EXPECT_EQ(Testing::CertificateDer(*key.Value().certificatePem), certificate);
    EXPECT_EQ(key.Value().manufacturerCertificateUri, uri);
  }
}

TEST_F(TpmOnSwtpm, CallsFromManyThreadsShareOneTpm) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t, &failures] {
      for (int i = 0; i < 3; ++i) {
        bool ok = false;
        switch ((t + i) % 3) {
          case 0:
            ok = tpm_->Properties().Ok();
            break;
          case 1:
            ok = tpm_->PcrBanks().Ok();
            break;
          default:
            ok = tpm_->ReadEndorsementKey(EndorsementKeyType::Rsa2048).Ok();
            break;
        }
        if (!ok) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(TransientHandles(), "");
}

TEST_F(TpmOnSwtpm, KilledTpmFailsQuicklyAndServesAgainOnceBack) {
  ASSERT_TRUE(tpm_->Properties()) << "the connection is open before the kill";

  // Killed while another thread is in the middle of reading banks.
  std::atomic<bool> sawFailure{false};
  std::atomic<bool> started{false};
  std::thread reader([this, &sawFailure, &started] {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      started = true;
      if (!tpm_->PcrBanks()) {
        sawFailure = true;
        return;
      }
    }
  });
  while (!started) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(30ms);
  swtpm_->Kill();
  reader.join();
  EXPECT_TRUE(sawFailure);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(tpm_->Answering());
  const auto properties = tpm_->Properties();
  const auto banks = tpm_->PcrBanks();
  const auto key = tpm_->ReadEndorsementKey(EndorsementKeyType::Rsa2048);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_FALSE(properties);
  EXPECT_FALSE(banks);
  EXPECT_FALSE(key);
  EXPECT_NE(properties.Error().find(swtpm_->Tcti()), std::string::npos) << properties.Error();

  ASSERT_TRUE(swtpm_->Restart()) << swtpm_->Error();
  EXPECT_TRUE(tpm_->Answering());
  const auto again = tpm_->Properties();
  EXPECT_TRUE(again) << again.Error();
  EXPECT_TRUE(tpm_->PcrBanks());
  const auto ek = tpm_->ReadEndorsementKey(EndorsementKeyType::Rsa2048);
  EXPECT_TRUE(ek) << ek.Error();
  EXPECT_EQ(TransientHandles(), "");
}

// The TPM stops answering (SIGSTOP) but keeps its connections open, in the
// middle of a stream of calls and between calls. Through the device TCTI
// every call ends near the deadline; through the swtpm TCTI (no poll
// handles) the call in progress waits for the TPM, and those behind it are
// told it is busy. Once continued, the same Tpm serves again.
TEST_F(TpmOnSwtpm, SilentTpmHoldsNoCallerBeyondTheDeadline) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kDeadline = 500ms;
  constexpr auto kMargin = 1s;  // scheduling, sanitizers
  const std::string timedOut = "the TPM did not answer within 500 ms";
  const std::string busy = "the TPM is busy: a command has not completed for 500 ms";
  const auto startsWith = [](const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
  };
  Testing::TpmDevice device(swtpm_->Port());
  ASSERT_TRUE(device.Error().empty()) << device.Error();

  struct Case {
    const char* name;
    std::string tcti;
    bool bounded;
  };
  const Case cases[] = {{"device TCTI", device.Tcti(), true}, {"swtpm TCTI", swtpm_->Tcti(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tpm tpm(c.tcti, TpmOptions{kDeadline});
    const auto first = tpm.Properties();
    ASSERT_TRUE(first) << first.Error();

    struct Outcome {
      std::string error;  // empty when the call succeeded
      Clock::duration took{};
    };
    const auto call = [&tpm](int which) {
      const auto start = Clock::now();
      Outcome out;
      if (which % 2 == 0) {
        const auto banks = tpm.PcrBanks();
        out.error = banks.Error();
      } else {
        const auto properties = tpm.Properties();
        out.error = properties.Error();
      }
      out.took = Clock::now() - start;
      return out;
    };

    // One thread reads without pause; the TPM stops under it, then four
    // more callers come.
    std::atomic<bool> reading{false}, done{false};
    std::vector<Outcome> outcomes(5);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
      while (!done) {
        outcomes[0] = call(0);
        reading = true;
        if (!outcomes[0].error.empty()) break;
      }
    });
    while (!reading) std::this_thread::sleep_for(1ms);
    swtpm_->Stop();
    for (int t = 1; t < 5; ++t) threads.emplace_back([&, t] { outcomes[t] = call(t); });
    std::this_thread::sleep_for(2 * kDeadline + 300ms);
    done = true;
    swtpm_->Continue();
    for (auto& thread : threads) thread.join();

    // Only the call that had the TPM when it stopped may wait for it (and
    // then succeed), unless the TCTI can be polled; every other call ends
    // near the deadline.
    int waited = 0, timeouts = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const Outcome& o = outcomes[i];
      SCOPED_TRACE("caller " + std::to_string(i) + ": " + o.error);
      if (o.error.empty()) {
        ++waited;
        continue;
      }
      EXPECT_LT(o.took, 2 * kDeadline + kMargin);
      if (startsWith(o.error, timedOut)) {
        ++timeouts;
        EXPECT_TRUE(c.bounded);
      } else {
        EXPECT_TRUE(startsWith(o.error, busy));
      }
    }
    EXPECT_EQ(waited, c.bounded ? 0 : 1);
    EXPECT_TRUE(!c.bounded || timeouts >= 1) << timeouts;

    const auto again = tpm.Properties();
    EXPECT_TRUE(again) << again.Error();
    if (!c.bounded) continue;

    // Stopped between calls: the next call runs into the deadline on its own.
    swtpm_->Stop();
    const Outcome idle = call(0);
    swtpm_->Continue();
    EXPECT_TRUE(startsWith(idle.error, timedOut)) << idle.error;
    EXPECT_LT(idle.took, kDeadline + kMargin);
    const auto banks = tpm.PcrBanks();
    EXPECT_TRUE(banks) << banks.Error();
  }
}

TEST(TpmUnreachable, TctiThatReachesNothingIsAClearErrorValue) {
  const std::string nobody = "swtpm:host=127.0.0.1,port=" + std::to_string(Testing::FreeLoopbackPort());
  const std::string tctis[] = {nobody, "device:/nonexistent/tpmrm0", "no-such-tcti-module:x"};
  for (const auto& tcti : tctis) {
    SCOPED_TRACE(tcti);
    Tpm tpm(tcti);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tpm.Answering());
    const auto properties = tpm.Properties();
    const auto key = tpm.ReadEndorsementKey(EndorsementKeyType::EccNistP256);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_FALSE(properties);
    EXPECT_EQ(properties.Error().rfind("cannot connect to the TPM at " + tcti + ": ", 0), 0u)
        << properties.Error();
    EXPECT_FALSE(key);
  }
}

}  // namespace
}  // namespace Trustd
