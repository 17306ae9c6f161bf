// The configuration file: what a good one gives, and that every mistake is
// refused with the JSON path of the key at fault.
#include <gtest/gtest.h>

#include "config.hpp"
#include "reports.hpp"

namespace {

TEST(TrustdConfig, ReadsAFullFileAndResolvesPathsAgainstItsDirectory) {
  const auto config = Trustd::ParseConfig(R"({
    "listen": [{"address": "127.0.0.1", "port": 8443}, {"address": "::1", "port": 0}],
    "tls": {"certificate_chain": "tls/server.pem", "private_key": "/etc/k.pem"},
    "token_file": "tokens",
    "roles": {"auditor": ["*/list"]},
    "tpms": [{"id": "tpm0", "tcti": "device:/dev/tpmrm0", "event_log": "/sys/log", "command_timeout_ms": 2500}],
    "state_directory": "state",
    "trust_authority": {"hostname": "ta.example", "port": 8443},
    "limits": {"worker_threads": 8, "event_log_max_bytes": 65536},
    "log_level": "debug"
  })",
                                          "/etc/trustd/trustd.json");
  ASSERT_TRUE(config) << config.Error();
  const Trustd::Config& c = config.Value();
  ASSERT_EQ(c.listen.size(), 2u);
  EXPECT_EQ(c.listen[1].address, "::1");
  EXPECT_EQ(c.tls->certificateChainFile, "/etc/trustd/tls/server.pem");
  EXPECT_EQ(c.tls->privateKeyFile, "/etc/k.pem");
  EXPECT_EQ(c.tokenFile, "/etc/trustd/tokens");
  EXPECT_EQ(c.stateDirectory, "/etc/trustd/state");
  EXPECT_EQ(c.roles.size(), 1u);
  EXPECT_EQ(c.tpms.at(0).eventLog, "/sys/log");
  EXPECT_EQ(c.tpms.at(0).commandTimeoutMs, 2500);
  EXPECT_EQ(c.trustAuthority->port, 8443);
  EXPECT_EQ(c.workerThreads, 8);
  EXPECT_EQ(c.eventLogMaxBytes, 65536u);
  EXPECT_EQ(c.logLevel, Trustd::LogLevel::kDebug);
}

TEST(TrustdConfig, RefusesMistakesNamingWhere) {
  const std::string base = R"("listen": [{"address": "127.0.0.1", "port": 1}], "state_directory": "s")";
  const struct {
    std::string text;
    std::string expected;
  } rows[] = {
      {"", "not JSON"},
      {"[]", "expected a JSON object"},
      {"{" + base + ", \"tsl\": {}}", "$.tsl: unknown key"},
      {R"({"state_directory": "s"})", "$.listen: required"},
      {R"({"listen": [], "state_directory": "s"})", "$.listen: expected a non-empty array"},
      {R"({"listen": [{"address": "127.0.0.1", "port": 70000}], "state_directory": "s"})",
       "$.listen[0].port"},
      {R"({"listen": [{"address": "127.0.0.1"}], "state_directory": "s"})", "$.listen[0].port: required"},
      {R"({"listen": [{"address": "127.0.0.1", "port": 1}]})", "$.state_directory: required"},
      {R"({"listen": [{"address": "127.0.0.1", "port": 1}], "state_directory": ""})",
       "$.state_directory: must not be empty"},
      {"{" + base + R"(, "tls": {"certificate_chain": "c"}})", "$.tls.private_key: required"},
      {"{" + base +
           R"(, "tls": {"certificate_chain": "c", "private_key": "k", "require_client_certificate": true}})",
       "needs $.tls.client_ca"},
      {"{" + base + R"(, "tpms": [{"id": "a", "tcti": "x"}, {"id": "a", "tcti": "y"}]})", "listed twice"},
      {"{" + base + R"(, "tpms": [{"id": "a", "tcti": 3}]})", "$.tpms[0].tcti: expected a string"},
      {"{" + base + R"(, "limits": {"worker_threads": 0}})", "$.limits.worker_threads: expected 1 to 256"},
      {"{" + base + R"(, "limits": {"probe_timeout_ms": 1.5}})", "expected an integer"},
      {"{" + base + R"(, "roles": {"admin": "*/*"}})", "$.roles.admin: expected an array"},
      {"{" + base + R"(, "log_level": "verbose"})", "$.log_level"},
      {"{" + base + R"(, "allow_plain_http": "yes"})", "expected true or false"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const auto config = Trustd::ParseConfig(row.text, "/etc/trustd.json");
    ASSERT_FALSE(config);
    EXPECT_NE(config.Error().find(row.expected), std::string::npos) << config.Error();
    EXPECT_EQ(config.Error().rfind("/etc/trustd.json: ", 0), 0u) << config.Error();
  }
}

TEST(TrustdReports, OnlyWellFormedCompactJwsIsServed) {
  const struct {
    const char* text;
    bool ok;
  } rows[] = {
      {"eyJhbGciOiJFUzI1NiJ9.eyJzdWIiOiJoIn0.c2ln", true},
      {"eyJhbGciOiJub25lIn0.eyJzdWIiOiJoIn0.c2ln", false},   // alg none
      {"eyJhbGciOiJFUzI1NiJ9.eyJzdWIiOiJoIn0.", false},      // no signature
      {"eyJhbGciOiJFUzI1NiJ9.eyJzdWIiOiJoIn0", false},       // two parts
      {"eyJhbGciOiJFUzI1NiJ9.e30.c2ln.c2ln", false},         // four parts
      {"eyJhbGciOiJFUzI1NiJ9.bm90IGpzb24.c2ln", false},      // payload not JSON
      {"e30.e30.c2ln", false},                               // header without alg
      {"eyJhbGciOiJFUzI1NiJ9.eyJz+WIiOiJoIn0.c2ln", false},  // not base64url
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(Trustd::IsCompactJws(row.text, why), row.ok) << row.text << ": " << why;
  }
}

}  // namespace
