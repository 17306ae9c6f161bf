// What a crash leaves: a child writes key servers and reports each one after
// its commit returned; it is killed at a random moment, and every reported
// record must be there, whole, with its secret opening, and no record may be
// half there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>

#include <trustd/store/store.hpp>

#include "support/checks.hpp"

namespace Trustd {
namespace {

KeyServer Expected(const std::string& id) {
  return KeyServer{id,
                   {id + ".example", 5696},
                   {"root of " + id, "intermediate of " + id, "leaf CA of " + id},
                   ApiClient{"client-" + id, std::nullopt, std::string("group-of-" + id),
                             Tovri::SecretString("secret of " + id)},
                   "group",
                   {}};
}

// The child: writes until killed, one line per acknowledged id.
[[noreturn]] void WriteForever(const std::string& dir, int round, int out) {
  auto store = Store::Open(dir, Store::Options{});
  if (!store) ::_exit(2);
  for (int n = 0;; ++n) {
    const std::string id = "r" + std::to_string(round) + "-" + std::to_string(n);
    if (!store.Value()->CreateKeyServer(Expected(id))) ::_exit(3);
    const std::string line = id + "\n";
    if (::write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ::_exit(4);
  }
}

void ExpectWhole(Store& store, const KeyServer& server) {
  const KeyServer expected = Expected(server.id);
  EXPECT_EQ(server.address.hostname, expected.address.hostname);
  EXPECT_EQ(server.address.port, expected.address.port);
  EXPECT_EQ(server.trustedCa, expected.trustedCa);
  EXPECT_EQ(server.group, expected.group);
  ASSERT_TRUE(server.apiClient) << server.id;
  EXPECT_EQ(server.apiClient->clientId, expected.apiClient->clientId);
  EXPECT_EQ(server.apiClient->group, expected.apiClient->group);
  const auto secret = store.RevealSecret(SecretField::kApiClientSecret, server.id);
  ASSERT_TRUE(secret) << secret.Error().message;
  EXPECT_EQ(secret.Value(), expected.apiClient->secret) << server.id;
}

TEST(StoreDurability, EveryAcknowledgedWriteSurvivesAKill) {
  Testing::TempDir dir;
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayMs(5, 120);
  std::set<std::string> acknowledged;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeFds[0]);
      WriteForever(dir.Path().string(), round, pipeFds[1]);
    }
    ::close(pipeFds[1]);
    ::usleep(static_cast<useconds_t>(delayMs(random)) * 1000);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself with " << WEXITSTATUS(status);
    std::string lines;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
      lines.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    // A line cut short by the kill was never fully acknowledged.
    for (std::size_t begin = 0, end; (end = lines.find('\n', begin)) != std::string::npos; begin = end + 1)
      acknowledged.insert(lines.substr(begin, end - begin));

    auto store = Store::Open(dir.Path().string(), Store::Options{});
    ASSERT_TRUE(store) << store.Error().message;
    const auto servers = store.Value()->ListKeyServers();
    ASSERT_TRUE(servers) << servers.Error().message;
    std::set<std::string> present;
    for (const KeyServer& server : servers.Value()) {
      present.insert(server.id);
      ExpectWhole(*store.Value(), server);
    }
    for (const std::string& id : acknowledged) EXPECT_EQ(present.count(id), 1u) << id << " was acknowledged";
    // At most the write in flight when the child died is there unacknowledged.
    EXPECT_LE(present.size(), acknowledged.size() + round + 1);
  }
  EXPECT_GT(acknowledged.size(), 20u) << "the children wrote too little for the test to mean much";
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("acknowledged", static_cast<int>(acknowledged.size()));
  EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace Trustd
