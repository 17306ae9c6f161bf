// trustctl's command line and secret input on generated hostile input, in
// process and without a network: random words drawn from the command's own
// vocabulary (found through its completion) and from nasty values, and
// random secret bytes. Every run must end with a status of
// docs/trustctl.md, no exception, and no secret in what it prints.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.hpp"
#include "secret_input.hpp"

namespace {

namespace fs = std::filesystem;
constexpr const char* kSecret = "generated-secret-5b1f7e";

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome RunWords(const std::vector<std::string>& words) {
  std::vector<const char*> argv{"trustctl"};
  for (const auto& word : words) argv.push_back(word.c_str());
  std::ostringstream out, err;
  Outcome outcome;
  outcome.status = Trustctl::Run(static_cast<int>(argv.size()), argv.data(), out, err);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

// What the completion offers, four levels deep: every command (a path of
// subcommands with none below it) with its options, and all words.
struct Grammar {
  std::vector<std::vector<std::string>> commands;
  std::vector<std::vector<std::string>> options;  // of each command
  std::vector<std::string> words;
};

Grammar Walk() {
  Grammar grammar;
  std::set<std::string> words;
  std::vector<std::vector<std::string>> frontier{{}};
  for (int depth = 0; depth < 4 && !frontier.empty(); ++depth) {
    std::vector<std::vector<std::string>> next;
    for (const auto& path : frontier) {
      std::vector<std::string> ask{"__complete"};
      ask.insert(ask.end(), path.begin(), path.end());
      std::istringstream offered(RunWords(ask).out);
      std::vector<std::string> options;
      bool leaf = true;
      for (std::string word; offered >> word;) {
        words.insert(word);
        if (word[0] == '-') {
          options.push_back(word);
        } else {
          leaf = false;
          next.push_back(path);
          next.back().push_back(word);
        }
      }
      if (leaf && !path.empty()) {
        grammar.commands.push_back(path);
        grammar.options.push_back(options);
      }
    }
    frontier = std::move(next);
  }
  grammar.words.assign(words.begin(), words.end());
  return grammar;
}

// A scratch directory made the working directory (files a command writes
// land there), with standard input at its end, for the life of the object.
class Sandbox {
 public:
  Sandbox() : previous_(fs::current_path()) {
    char pattern[] = "/tmp/trustctl-args-XXXXXX";
    path_ = ::mkdtemp(pattern);
    fs::current_path(path_);
    savedStdin_ = ::dup(STDIN_FILENO);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(null, STDIN_FILENO);
    ::close(null);
    // No server is reachable: every command that gets past its parsing
    // stops at the unusable URL.
    ::setenv("TRUSTCTL_SERVER", "ftp://no.where", 1);
    ::setenv("TRUSTCTL_CONFIG", (path_ + "/no-config.json").c_str(), 1);
  }
  ~Sandbox() {
    ::dup2(savedStdin_, STDIN_FILENO);
    ::close(savedStdin_);
    ::unsetenv("TRUSTCTL_SERVER");
    ::unsetenv("TRUSTCTL_CONFIG");
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string Write(const std::string& name, const std::string& bytes, mode_t mode) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(file.c_str(), mode);
    return file;
  }

 private:
  fs::path previous_;
  std::string path_;
  int savedStdin_ = -1;
};

TEST(TrustctlArguments, RandomCommandLinesEndWithAStatusAndNoSecret) {
  Sandbox sandbox;
  const Grammar grammar = Walk();
  ASSERT_GT(grammar.commands.size(), 15u);  // the completion must have been walked
  const std::vector<std::string> values = {
      "",
      "-",
      "--",
      "0",
      "-1",
      "65536",
      "99999999999999999999",
      "1e309",
      "nan",
      "x",
      std::string(5000, 'a'),
      "\xff\xfe",
      "a\nb",
      "--json",
      "-q",
      "é",
      "/nonexistent/file",
      "/dev/null",
      ".",
      sandbox.Write("secret", std::string(kSecret) + "\n", 0600),
      sandbox.Write("token", std::string(kSecret) + "\n", 0600),
      sandbox.Write("token-open", std::string(kSecret) + "\n", 0644),
      sandbox.Write("binary", std::string("\0\x01\x02", 3) + kSecret, 0600),
      sandbox.Write("config.json", "{\"server\": 1}", 0600)};
  std::mt19937 random(20261207);
  const auto start = std::chrono::steady_clock::now();
  int runs = 0;
  int reachedSettings = 0;  // got past parsing to the connection settings
  std::vector<int> byStatus(9, 0);
  for (; runs < 1000 && std::chrono::steady_clock::now() - start < std::chrono::seconds(6); ++runs) {
    // Mostly a command with its own options and random values; now and then
    // any words at all.
    const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    std::vector<std::string> words;
    const std::size_t command = random() % grammar.commands.size();
    const bool anyWords = random() % 4 == 0;
    if (!anyWords) words = grammar.commands[command];
    const int count = static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      const auto& options = grammar.options[command];
      const unsigned kind = random() % 3;
      if (anyWords || options.empty()) {
        words.push_back(kind == 0 ? pick(values) : pick(grammar.words));
      } else {
        words.push_back(kind == 0 ? pick(values) : pick(options));
        if (kind == 1) words.push_back(pick(values));
      }
    }
    Outcome outcome;
    ASSERT_NO_THROW(outcome = RunWords(words)) << ::testing::PrintToString(words);
    ASSERT_GE(outcome.status, 0) << ::testing::PrintToString(words);
    ASSERT_LE(outcome.status, 8) << ::testing::PrintToString(words);
    ++byStatus[static_cast<std::size_t>(outcome.status)];
    reachedSettings += outcome.err.find("ftp://no.where") != std::string::npos;
    EXPECT_EQ(outcome.out.find(kSecret), std::string::npos) << ::testing::PrintToString(words);
    EXPECT_EQ(outcome.err.find(kSecret), std::string::npos) << ::testing::PrintToString(words);
  }
  // Refusals, help texts and commands that got past their parsing were all
  // among them.
  EXPECT_GT(byStatus[2], runs / 4);
  EXPECT_GT(byStatus[0], 0);
  EXPECT_GT(reachedSettings, 10);
  std::cout << runs << " command lines; exit statuses 0: " << byStatus[0] << ", 2: " << byStatus[2]
            << "; past parsing: " << reachedSettings << "\n";
}

TEST(TrustctlArguments, SecretBytesComeBackWholeOrAreRefusedWithoutShowingThem) {
  Sandbox sandbox;
  std::mt19937 random(7);
  const auto bytes = [&](std::size_t n) {
    std::string text(n, '\0');
    for (char& c : text) c = static_cast<char>(random() % 256);
    return text;
  };
  struct Row {
    const char* what;
    std::string text;
  };
  std::vector<Row> table = {
      {"one line", std::string(kSecret) + "\n"},
      {"CRLF", std::string(kSecret) + "\r\n\r\n"},
      {"only line ends", "\n\r\n"},
      {"empty", ""},
      {"NUL bytes inside", std::string("a\0b", 3) + kSecret},
      {"64 KiB exactly", std::string(64 * 1024, 's')},
      {"one byte over 64 KiB", std::string(kSecret) + std::string(64 * 1024, 's')},
      {"1 MiB", std::string(1024 * 1024, 'm') + kSecret},
  };
  for (int i = 0; i < 40; ++i)
    table.push_back({"random bytes", bytes(random() % 300) + kSecret + bytes(random() % 3)});
  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    const std::string file = sandbox.Write("s", row.text, 0600);
    std::string error;
    const auto secret =
        Trustctl::ReadSecret(Trustctl::SecretSource{file, false}, "key derivation key", error);
    std::string expected = row.text;
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
    if (row.text.size() > 64 * 1024) {
      EXPECT_FALSE(secret);
      EXPECT_NE(error.find("longer than 64 KiB"), std::string::npos) << error;
    } else if (expected.empty()) {
      EXPECT_FALSE(secret);
      EXPECT_NE(error.find("is empty"), std::string::npos) << error;
    } else {
      ASSERT_TRUE(secret) << error;
      EXPECT_EQ(secret->Reveal(), expected);
    }
    EXPECT_EQ(error.find(kSecret), std::string::npos) << error;
  }
  // From standard input (at its end here): refused as empty, no prompt.
  std::string error;
  EXPECT_FALSE(Trustctl::ReadSecret(Trustctl::SecretSource{std::nullopt, true}, "secret", error));
  EXPECT_NE(error.find("is empty"), std::string::npos) << error;
}

}  // namespace
