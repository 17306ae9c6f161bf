// What every test of a trustd system suite shares: one swtpm and one test
// PKI, made once per suite (manufacturing a TPM and a CA takes seconds), and
// the swtpm brought back when a test stopped it.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "support/checks.hpp"
#include "support/swtpm.hpp"
#include "test_pki.hpp"

namespace Trustd {
namespace Testing {

class SystemSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    swtpm_ = new Swtpm();
    pkiDir_ = new TempDir();
    pki_ = new Tovri::HttpTest::TestPki();
    std::string error;
    ASSERT_TRUE(Tovri::HttpTest::MakeTestPki(pkiDir_->Path().string(), *pki_, error)) << error;
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete pkiDir_;
    delete swtpm_;
    pki_ = nullptr;
    pkiDir_ = nullptr;
    swtpm_ = nullptr;
  }

  // The suite's swtpm, serving (restarted if a test stopped it); a fatal
  // failure when it cannot be.
  static void RequireSwtpm() {
    ASSERT_EQ(swtpm_->Error(), "");
    if (!swtpm_->Running()) {
      ASSERT_TRUE(swtpm_->Restart()) << swtpm_->Error();
    }
  }

  static inline Swtpm* swtpm_ = nullptr;
  static inline TempDir* pkiDir_ = nullptr;
  static inline Tovri::HttpTest::TestPki* pki_ = nullptr;
};

}  // namespace Testing
}  // namespace Trustd
