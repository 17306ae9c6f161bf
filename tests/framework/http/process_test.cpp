// A provider in one process and a client in another: the host-trust
// example's server started as a child over TLS with a token file, and the
// example's walk through every operation of the seven services run here
// through the generated stubs on an Http::Client. The walk checks each
// answer itself; a reader's token must see its changes refused.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <dral/tovri_bindings.hpp>
#include <tovri/http/client.hpp>

#include "test_pki.hpp"
#include "walk.hpp"

extern char** environ;

namespace {

using Tovri::HttpTest::TempDirectory;

// The server as a child process: started with `args`, its port read from
// the first line it prints, stopped by closing its standard input.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    if (FILE* output = fdopen(out[0], "r")) {
      char line[64] = {};
      unsigned port = 0;
      if (pid_ > 0 && fgets(line, sizeof line, output) && std::sscanf(line, "port %u", &port) == 1) {
        port_ = static_cast<std::uint16_t>(port);
      }
      fclose(output);
    } else {
      close(out[0]);
    }
  }

  ~ServerProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ <= 0) return;
    // Closing its input asks it to stop; a server stuck past that is killed.
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    ADD_FAILURE() << "the server did not stop when its input closed";
  }

  std::uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::uint16_t port_ = 0;
};

class HttpAcrossProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::string error;
    ASSERT_TRUE(Tovri::HttpTest::MakeTestPki(dir_.path(), pki_, error)) << error;
    const std::string tokens = dir_.path() + "/tokens";
    ASSERT_TRUE(Tovri::HttpTest::WriteFileWithMode(tokens,
                                                   Tovri::HttpTest::TokenHash(kAdmin) + " alice admin\n" +
                                                       Tovri::HttpTest::TokenHash(kReader) + " bob reader\n",
                                                   0600));
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{
        DRAL_HOST_TRUST_SERVER, "--tls", pki_.serverCertificate, pki_.serverKey, "--tokens", tokens});
    ASSERT_NE(server_->port(), 0) << "the server did not report its port";
  }

  // Walks every operation with `token`, over TLS; the report goes to `out`.
  bool Walk(const std::string& token, std::ostream& out) {
    Tovri::Http::ClientOptions options;
    options.port = server_->port();
    options.tls = Tovri::Http::TlsClientOptions{pki_.caCertificate, {}, {}, {}};
    options.bearerToken = Tovri::SecretString(token);
    auto client = std::make_shared<Tovri::Http::Client>(options);
    auto api =
        std::make_shared<Tovri::Stub::AsyncApiStub>(client, std::make_shared<Tovri::Core::AsyncActivation>());
    host_trust::HostTrustWalk walk(api, out);
    return walk.Run() && walk.calls() > 19;
  }

  static constexpr const char* kAdmin = "admin-3c1f9e0b7d";
  static constexpr const char* kReader = "reader-6a2d84f1c0";
  TempDirectory dir_;
  Tovri::HttpTest::TestPki pki_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(HttpAcrossProcesses, TheWalkCrossesOverTlsWithATokenAndAReaderIsRefusedItsChanges) {
  std::ostringstream admin;
  EXPECT_TRUE(Walk(kAdmin, admin)) << admin.str();

  std::ostringstream reader;
  EXPECT_FALSE(Walk(kReader, reader));
  EXPECT_NE(reader.str().find("unauthorized"), std::string::npos) << reader.str();
  for (const auto& report : {admin.str(), reader.str()}) {
    EXPECT_EQ(report.find(kAdmin), std::string::npos);
    EXPECT_EQ(report.find(kReader), std::string::npos);
  }
}

}  // namespace
