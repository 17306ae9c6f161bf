// trustd while one thing breaks under load: the built daemon against a
// software TPM and a SQLite file, driven by concurrent callers (threads of
// this test, each with its own client and connection, through the
// generated stubs), while the TPM is killed, the database's file system is
// full or read-only, connections are cut by a proxy, or the daemon itself
// is killed. Each case checks what the callers got, that no call outlived
// its deadline or was answered twice, and that the same daemon serves again
// once the fault is gone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <dral/tovri_bindings.hpp>
#include <tovri/http/client.hpp>
#include <tovri/http/wire.hpp>

#include "daemon_process.hpp"
#include "fault_proxy.hpp"
#include "support/checks.hpp"
#include "support/swtpm.hpp"
#include "system_suite.hpp"
#include "test_pki.hpp"

namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using Clock = std::chrono::steady_clock;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Trustd::Testing::DaemonProcess;
using Trustd::Testing::FaultProxy;
using Trustd::Testing::Swtpm;
using namespace std::chrono_literals;

constexpr const char* kToken = "trustd-faults-token-3e81a0";
constexpr const char* kKdk = "kdk-faults-secret-52c7d1e0";
constexpr auto kCallDeadline = 10s;  // every load call's own deadline (ASan: ~3x slower)
constexpr const char* kNoAnswer = "test.no_answer";

// "timed_out" for "com.corvane.tovri.std.errors.timed_out".
std::string Short(const std::string& id) { return id.substr(id.rfind('.') + 1); }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- The load -------------------------------------------------------------

enum class Kind { kTpm, kRead, kWrite };
const char* Name(Kind kind) { return kind == Kind::kTpm ? "tpm" : kind == Kind::kRead ? "read" : "write"; }

struct Outcome {
  Kind kind = Kind::kRead;
  std::string id;        // empty: a value
  std::string text;      // the error's messages
  std::string provider;  // what a create made
  Clock::time_point sent, answered;
};

std::string Texts(const ErrorPtr& error) {
  std::string text;
  if (error)
    for (const auto& message : error->GetMessages()) text += message.message.defaultMessage + "; ";
  return text;
}

// One call, waited for: its first final answer; a second one is counted
// in `twice`, which outlives the call.
template <class Method, class Invoke>
Outcome CallOnce(Kind kind, Invoke&& invoke, const std::shared_ptr<std::atomic<int>>& twice,
                 std::chrono::milliseconds wait) {
  using T = typename Method::ResultCbType::ValueType;
  struct Shared {
    std::mutex mutex;
    std::condition_variable answered;
    int finals = 0;
    ErrorPtr error;
  };
  auto shared = std::make_shared<Shared>();
  Outcome out;
  out.kind = kind;
  out.sent = Clock::now();
  const typename Method::ResultCbType done([shared, twice](const boost::optional<T>& value,
                                                           const ErrorPtr& error,
                                                           const Tovri::Progress& progress) {
    if (!value && !error && progress.current != progress.max) return;  // a progress report
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (++shared->finals > 1) {
      ++*twice;
      return;
    }
    shared->error = error;
    shared->answered.notify_all();
  });
  invoke(done);
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (!shared->answered.wait_for(lock, wait, [&] { return shared->finals > 0; })) {
    out.id = kNoAnswer;
  } else if (shared->error) {
    out.id = shared->error->GetId();
    out.text = Texts(shared->error);
  }
  out.answered = Clock::now();
  return out;
}

std::shared_ptr<ti::Kms::ProvidersSvc::CreateSpec> NativeProvider(const std::string& id) {
  auto spec = std::make_shared<ti::Kms::ProvidersSvc::CreateSpec>();
  spec->provider = id;
  auto native = std::make_shared<ti::Kms::ProvidersSvc::NativeProviderCreateSpec>();
  native->keyId = "key-1";
  native->keyDerivationKey = Tovri::SecretString(kKdk);
  spec->nativeSpec = native;
  return spec;
}

using Connector = std::function<std::shared_ptr<Tovri::Stub::AsyncApiStub>()>;

// Workers with one call in flight each, on a cycle of a TPM get, a create
// of a key provider of their own, a get of the last one created and, every
// fourth round, a list of all of them. Runs until stopped.
class Load {
 public:
  Load(Connector connect, int workers, const std::string& tag) {
    for (int w = 0; w < workers; ++w)
      threads_.emplace_back([this, connect, w, tag] { Work(connect, tag + "-" + std::to_string(w)); });
  }
  ~Load() { Stop(); }

  void Stop() {
    stop_ = true;
    for (auto& thread : threads_)
      if (thread.joinable()) thread.join();
  }
  std::vector<Outcome> Outcomes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcomes_;
  }
  int AnsweredTwice() const { return *twice_; }

  // The time the first call of `kind` sent after `since` was answered with
  // `id` ("" a value), waiting at most `timeout`.
  std::optional<Clock::time_point> WaitFor(Kind kind, const std::string& id, Clock::time_point since,
                                           Clock::duration timeout) const {
    const auto deadline = Clock::now() + timeout;
    do {
      for (const Outcome& out : Outcomes())
        if (out.kind == kind && out.id == id && out.sent >= since) return out.answered;
      std::this_thread::sleep_for(20ms);
    } while (Clock::now() < deadline);
    return std::nullopt;
  }

 private:
  void Work(const Connector& connect, const std::string& prefix) {
    auto api = connect();
    ti::Hardware::TpmSvc::AsyncServiceStub tpm(api);
    ti::Kms::ProvidersSvc::AsyncServiceStub providers(api);
    const auto wait = kCallDeadline + 5s;
    std::string last;
    for (int i = 0; i < 100000 && !stop_; ++i) {
      Outcome out;
      if (i % 4 == 0) {
        out = CallOnce<ti::Hardware::TpmSvc::GetMethod>(
            Kind::kTpm, [&](const auto& done) { tpm.Get("tpm0", nullptr, done); }, twice_, wait);
      } else if (i % 4 == 1) {
        const std::string id = prefix + "-" + std::to_string(i);
        out = CallOnce<ti::Kms::ProvidersSvc::CreateMethod>(
            Kind::kWrite, [&](const auto& done) { providers.Create(NativeProvider(id), nullptr, done); },
            twice_, wait);
        out.provider = id;
        if (out.id.empty()) last = id;
      } else if (i % 16 == 3 || last.empty()) {
        out = CallOnce<ti::Kms::ProvidersSvc::ListMethod>(
            Kind::kRead, [&](const auto& done) { providers.List(nullptr, nullptr, done); }, twice_, wait);
      } else {
        out = CallOnce<ti::Kms::ProvidersSvc::GetMethod>(
            Kind::kRead, [&](const auto& done) { providers.Get(last, nullptr, done); }, twice_, wait);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        outcomes_.push_back(out);
      }
      std::this_thread::sleep_for(5ms);
    }
  }

  std::atomic<bool> stop_{false};
  std::shared_ptr<std::atomic<int>> twice_ = std::make_shared<std::atomic<int>>(0);
  mutable std::mutex mutex_;
  std::vector<Outcome> outcomes_;
  std::vector<std::thread> threads_;
};

// "tpm: 40 (value 31, error 9); ..." for the calls sent in [from, to).
std::string Figures(const std::vector<Outcome>& outcomes, Clock::time_point from, Clock::time_point to) {
  std::map<std::string, std::map<std::string, int>> counts;
  for (const Outcome& out : outcomes)
    if (out.sent >= from && out.sent < to) ++counts[Name(out.kind)][out.id.empty() ? "value" : out.id];
  std::ostringstream text;
  for (const auto& [kind, byId] : counts) {
    int total = 0;
    for (const auto& entry : byId) total += entry.second;
    text << kind << " " << total << " (";
    const char* separator = "";
    for (const auto& [id, count] : byId) {
      text << separator << Short(id) << " " << count;
      separator = ", ";
    }
    text << "); ";
  }
  return text.str();
}

// The messages of the first error a call of `kind` got.
std::string FirstError(const std::vector<Outcome>& outcomes, Kind kind) {
  for (const Outcome& out : outcomes)
    if (out.kind == kind && !out.id.empty()) return "\"" + out.text + "\" ";
  return "";
}

// What holds for every case: each call answered once, within its deadline.
void ExpectEveryCallAnsweredOnceInTime(const Load& load) {
  EXPECT_EQ(load.AnsweredTwice(), 0);
  for (const Outcome& out : load.Outcomes()) {
    EXPECT_NE(out.id, kNoAnswer) << Name(out.kind) << " call sent at " << out.sent.time_since_epoch().count();
    EXPECT_LE(out.answered - out.sent, kCallDeadline + 2s) << Name(out.kind) << ": " << out.id;
  }
}

// Whether a child process still runs (not ended, not a zombie waiting to
// be reaped), and how it ended when it does not.
std::string Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z') return "";
  // Looked at without reaping it: DaemonProcess does that.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid)
    return "gone";
  return info.si_code == CLD_EXITED ? "exited with status " + std::to_string(info.si_status)
                                    : std::string("killed by ") + ::strsignal(info.si_status);
}

// Open descriptors of a process (its sockets, files and pipes).
int OpenFds(pid_t pid) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error))
    ++count;
  return count;
}

std::string Shell(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    ::pclose(pipe);
  }
  return output;
}

// SQLite's own check of a database file, read-only: "ok\n" when whole.
// With `pid`, as that process sees the file (in its mount namespace).
std::string IntegrityOf(const std::string& database, pid_t pid = 0) {
  return Shell((pid > 0 ? "nsenter -t " + std::to_string(pid) + " -m " : std::string()) +
               "python3 -c \"import sqlite3; print(sqlite3.connect('file:" + database +
               "?mode=ro', uri=True).execute('PRAGMA integrity_check').fetchone()[0])\"");
}

// ---- The fixture ------------------------------------------------------------

class TrustdFaults : public Trustd::Testing::SystemSuite {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RequireSwtpm());
    root_ = dir_.Path().string();
    state_ = root_ + "/state";
    ASSERT_TRUE(Tovri::HttpTest::WriteFileWithMode(
        root_ + "/tokens", Tovri::HttpTest::TokenHash(kToken) + " alice admin\n", 0600));
    std::ofstream(root_ + "/trustd.json") << "{\"listen\": [{\"address\": \"127.0.0.1\", \"port\": 0}],\n"
                                          << " \"tls\": {\"certificate_chain\": \"" << pki_->serverCertificate
                                          << "\", \"private_key\": \"" << pki_->serverKey << "\"},\n"
                                          << " \"token_file\": \"tokens\",\n"
                                          << " \"tpms\": [{\"id\": \"tpm0\", \"tcti\": \"" << swtpm_->Tcti()
                                          << "\", \"command_timeout_ms\": 1000}],\n"
                                          << " \"state_directory\": \"state\",\n"
                                          << " \"limits\": {\"shutdown_grace_ms\": 3000}}\n";
    daemon_ = std::make_unique<DaemonProcess>(root_ + "/trustd.json", root_ + "/trustd.log");
  }

  Tovri::Http::ClientOptions Options(std::uint16_t port, std::chrono::milliseconds deadline) const {
    Tovri::Http::ClientOptions options;
    options.port = port;
    options.ioThreads = 1;
    options.maxIdleConnections = 1;
    options.tls = Tovri::Http::TlsClientOptions{pki_->caCertificate, {}, {}, {}};
    options.bearerToken = Tovri::SecretString(kToken);
    options.callTimeout = deadline;
    return options;
  }
  std::shared_ptr<Tovri::Stub::AsyncApiStub> Connect(std::uint16_t port = 0,
                                                     std::chrono::milliseconds deadline = kCallDeadline) {
    return std::make_shared<Tovri::Stub::AsyncApiStub>(
        std::make_shared<Tovri::Http::Client>(Options(port != 0 ? port : daemon_->Port(), deadline)),
        std::make_shared<Tovri::Core::AsyncActivation>());
  }
  Connector ToDaemon() {
    return [this] { return Connect(); };
  }

  // The providers trustd lists now, and whether each one's key opens.
  std::map<std::string, bool> Providers() {
    using T = ti::Kms::ProvidersSvc::ListMethod::ResultCbType::ValueType;
    ti::Kms::ProvidersSvc::AsyncServiceStub providers(Connect());
    auto answer = std::make_shared<std::promise<std::pair<boost::optional<T>, ErrorPtr>>>();
    auto future = answer->get_future();
    providers.List(
        nullptr, nullptr,
        [answer](const boost::optional<T>& value, const ErrorPtr& error, const Tovri::Progress& progress) {
          if (!value && !error && progress.current != progress.max) return;
          answer->set_value({value, error});
        });
    std::map<std::string, bool> present;
    if (future.wait_for(30s) != std::future_status::ready) {
      ADD_FAILURE() << "no answer to a list";
      return present;
    }
    const auto [value, error] = future.get();
    EXPECT_FALSE(error) << Texts(error);
    if (value)
      for (const auto& summary : *value) present[summary->provider] = summary->available;
    return present;
  }

  // Every create the load saw acknowledged is listed, with a key that opens.
  void ExpectAcknowledgedWritesPresent(const std::vector<Outcome>& outcomes) {
    const auto present = Providers();
    int acknowledged = 0;
    for (const Outcome& out : outcomes) {
      if (out.kind != Kind::kWrite || !out.id.empty()) continue;
      ++acknowledged;
      const auto it = present.find(out.provider);
      ASSERT_NE(it, present.end()) << out.provider << " was acknowledged";
      EXPECT_TRUE(it->second) << out.provider << " does not open";
    }
    EXPECT_GT(acknowledged, 0);
  }

  void Report(const std::string& fault, const std::string& figures) {
    std::cout << "faults: " << fault << ": " << figures << std::endl;
    RecordProperty("figures", figures);
  }

  Trustd::Testing::TempDir dir_;
  std::string root_;
  std::string state_;
  std::unique_ptr<DaemonProcess> daemon_;
};

// ---- Faults -----------------------------------------------------------------

TEST_F(TrustdFaults, TpmKilledAndBroughtBack) {
  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  Load load(ToDaemon(), 4, "kp-tpm");
  ASSERT_TRUE(load.WaitFor(Kind::kTpm, "", Clock::now(), 20s)) << daemon_->Log();
  const auto killed = Clock::now();
  swtpm_->Kill();
  ASSERT_TRUE(load.WaitFor(Kind::kTpm, Tovri::Errors::kError, killed, 20s));
  std::this_thread::sleep_for(1s);
  const auto restarted = Clock::now();
  ASSERT_TRUE(swtpm_->Restart()) << swtpm_->Error();
  const auto recovered = load.WaitFor(Kind::kTpm, "", Clock::now(), 20s);
  std::this_thread::sleep_for(500ms);
  load.Stop();
  ASSERT_TRUE(recovered) << "the TPM never answered again: " << daemon_->Log();
  EXPECT_EQ(Ended(daemon_->Pid()), "") << "trustd did not survive the fault";

  ExpectEveryCallAnsweredOnceInTime(load);
  for (const Outcome& out : load.Outcomes()) {
    if (out.kind != Kind::kTpm) {
      EXPECT_EQ(out.id, "") << Name(out.kind) << ": " << out.text;  // the store is not touched
    } else if (!out.id.empty()) {
      EXPECT_EQ(out.id, Tovri::Errors::kError);
      EXPECT_NE(out.text.find("\"tpm0\""), std::string::npos) << out.text;
      EXPECT_LE(out.answered - out.sent, 5s) << "a dead TPM fails at once, not after the deadline";
      EXPECT_TRUE(out.answered >= killed && out.sent <= restarted + 3s) << out.text;
    }
  }
  const auto outcomes = load.Outcomes();
  Report("swtpm killed", Figures(outcomes, killed, restarted) + FirstError(outcomes, Kind::kTpm) +
                             "recovered " + std::to_string(Seconds(*recovered - restarted)) +
                             " s after the restart");
}

// Faults of the database's storage, made and undone from outside while the
// load runs.
class TrustdStorageFaults : public TrustdFaults {
 protected:
  void Exercise(const char* name, const std::function<void()>& make, const std::function<void()>& undo,
                const std::string& says) {
    Load load(ToDaemon(), 4, "kp-db");
    ASSERT_TRUE(load.WaitFor(Kind::kWrite, "", Clock::now(), 20s)) << daemon_->Log();
    const auto made = Clock::now();
    make();
    const auto failing = load.WaitFor(Kind::kWrite, Tovri::Errors::kError, made, 20s);
    if (const std::string ended = Ended(daemon_->Pid()); !ended.empty()) {
      load.Stop();
      FAIL() << "trustd did not survive the fault: " << ended;
    }
    std::this_thread::sleep_for(1s);
    const auto undone = Clock::now();
    undo();
    const auto recovered = load.WaitFor(Kind::kWrite, "", undone, 20s);
    std::this_thread::sleep_for(300ms);
    load.Stop();
    ASSERT_TRUE(failing) << "no write failed: " << daemon_->Log();
    ASSERT_TRUE(recovered) << "writes did not come back: " << daemon_->Log();
    EXPECT_EQ(Ended(daemon_->Pid()), "") << "trustd did not survive the fault";

    ExpectEveryCallAnsweredOnceInTime(load);
    const auto outcomes = load.Outcomes();
    for (const Outcome& out : outcomes) {
      if (out.kind != Kind::kWrite) {
        EXPECT_EQ(out.id, "") << Name(out.kind) << ": " << out.text;  // reads go on
      } else if (!out.id.empty()) {
        EXPECT_EQ(out.id, Tovri::Errors::kError);
        EXPECT_NE(out.text.find(says), std::string::npos) << out.text;
        EXPECT_TRUE(out.answered >= made && out.sent <= undone + 3s) << out.text;
      }
    }
    EXPECT_EQ(IntegrityOf(state_ + "/trustd.db", daemon_->Pid()), "ok\n");
    ExpectAcknowledgedWritesPresent(outcomes);
    Report(name, Figures(outcomes, made, undone) + FirstError(outcomes, Kind::kWrite) + "writes again " +
                     std::to_string(Seconds(*recovered - undone)) + " s after freeing");
  }
};

TEST_F(TrustdStorageFaults, FileSystemFullThenFreed) {
  // The state directory on a small tmpfs of the daemon's own mount namespace.
  std::filesystem::create_directories(state_);
  const std::string probe = Shell("unshare -m --propagation private sh -c 'mount -t tmpfs -o size=1m t " +
                                  state_ + " && echo mounted'");
  if (probe.find("mounted") == std::string::npos)
    GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace here: " << probe;
  daemon_->Wrap({"unshare", "-m", "--propagation", "private", "sh", "-c",
                 "mount -t tmpfs -o size=4m,mode=0700 trustd-faults \"$0\" && exec \"$@\"", state_});
  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  // The daemon's view of its state directory, from outside the namespace.
  const std::string inside = "/proc/" + std::to_string(daemon_->Pid()) + "/root" + state_;
  const std::string filler = inside + "/filler";
  Exercise(
      "file system full",
      [&] {
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << filler;
        const std::vector<char> block(64 * 1024, 'f');
        for (int i = 0; i < 128 && ::write(fd, block.data(), block.size()) > 0;) ++i;
        ::close(fd);
      },
      [&] { std::filesystem::remove(filler); },
      "database or disk is full (the file system holding it is full)");
}

TEST_F(TrustdStorageFaults, DatabaseReadOnlyThenWritable) {
  // Root ignores file modes and a read-only remount is refused while the
  // daemon holds the files open for writing; the immutable attribute stops
  // even writes through descriptors already open.
  std::filesystem::create_directories(state_);
  const std::string probe = state_ + "/probe";
  std::ofstream(probe) << "x";
  const std::string said = Shell("chattr +i " + probe + " && chattr -i " + probe + " && echo done");
  std::filesystem::remove(probe);
  if (said.find("done") == std::string::npos)
    GTEST_SKIP() << "the file system of " << state_ << " has no immutable attribute: " << said;
  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  const std::string files = state_ + " " + state_ + "/trustd.db " + state_ + "/trustd.db-wal";
  struct Writable {
    std::string files;
    ~Writable() { Shell("chattr -i " + files); }  // also when an assertion ends the test
  } writable{files};
  Exercise(
      "database read-only", [&] { ASSERT_EQ(Shell("chattr +i " + files + " && echo done"), "done\n"); },
      [&] { ASSERT_EQ(Shell("chattr -i " + files + " && echo done"), "done\n"); },
      "trustd.db: Operation not permitted)");
}

TEST_F(TrustdStorageFaults, FileSizeLimitReachedThenLifted) {
  // A file-size limit set on the running daemon at the size its
  // write-ahead log has: the next write that makes the log longer is past
  // it. (Its log file, stderr here, is past it too: those lines are lost.)
  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  const pid_t pid = daemon_->Pid();
  const std::string wal = state_ + "/trustd.db-wal";
  Exercise(
      "file size limit",
      [&] {
        std::error_code error;
        const rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(wal, error)), RLIM_INFINITY};
        ASSERT_FALSE(error) << wal;
        ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
      },
      [&] {
        const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
        ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &none, nullptr), 0) << std::strerror(errno);
      },
      "(the file size limit of the process is ");
}

// A connection broken in one place, and what the one caller it carried
// must get. The broken call creates a key provider of a new name, so a
// call run twice shows (the second run finds the name taken).
struct Break {
  const char* name;
  FaultProxy::Fault fault;
  const char* expected;  // error id the caller gets, "" a value
  bool lands;            // whether trustd ran the call
};

TEST_F(TrustdFaults, ConnectionsCutDelayedAndTruncated) {
  using Fault = FaultProxy::Fault;
  using Way = FaultProxy::Way;
  using Act = FaultProxy::Act;
  const char* lost = Tovri::Http::kServiceUnavailableId;
  const char* late = Tovri::Http::kTimedOutId;
  const Break breaks[] = {
      {"request cut after 40 bytes", Fault{Way::kRequest, Act::kCut, 40, {}}, lost, false},
      {"request cut after 0 bytes", Fault{Way::kRequest, Act::kCut, 0, {}}, lost, false},
      {"request truncated after 40 bytes", Fault{Way::kRequest, Act::kTruncate, 40, {}}, lost, false},
      {"answer cut before its first byte", Fault{Way::kAnswer, Act::kCut, 0, {}}, lost, true},
      {"answer cut after 60 bytes", Fault{Way::kAnswer, Act::kCut, 60, {}}, lost, true},
      {"answer truncated after 60 bytes", Fault{Way::kAnswer, Act::kTruncate, 60, {}}, lost, true},
      {"answer stalled after 60 bytes", Fault{Way::kAnswer, Act::kStall, 60, {}}, late, true},
      {"answer delayed 300 ms", Fault{Way::kAnswer, Act::kDelay, 0, 300ms}, "", true},
      {"answer delayed past the deadline", Fault{Way::kAnswer, Act::kDelay, 0, 4s}, late, true},
  };
  constexpr auto kDeadline = 2s;

  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  // The descriptors of a daemon that has served a TPM and a store call,
  // with no client left.
  Providers();
  {
    ti::Hardware::TpmSvc::AsyncServiceStub tpm(Connect());
    auto twice = std::make_shared<std::atomic<int>>(0);
    CallOnce<ti::Hardware::TpmSvc::GetMethod>(
        Kind::kTpm, [&](const auto& done) { tpm.Get("tpm0", nullptr, done); }, twice, 30s);
  }
  std::this_thread::sleep_for(300ms);
  const int baseline = OpenFds(daemon_->Pid());

  FaultProxy proxy(daemon_->Port());
  ASSERT_NE(proxy.Port(), 0);
  std::string figures;
  {
    Load others(ToDaemon(), 2, "kp-others");  // straight to trustd, all along
    int n = 0;
    for (const Break& b : breaks) {
      SCOPED_TRACE(b.name);
      auto api = Connect(proxy.Port(), kDeadline);
      ti::Kms::ProvidersSvc::AsyncServiceStub providers(api);
      auto twice = std::make_shared<std::atomic<int>>(0);
      const auto wait = kDeadline + 10s;
      // A first call opens the connection, so the broken one is sent on a
      // kept-alive connection (where a client may be tempted to resend).
      // (A get of nothing: cheap, whatever the other clients created.)
      const Outcome first = CallOnce<ti::Kms::ProvidersSvc::GetMethod>(
          Kind::kRead, [&](const auto& done) { providers.Get("kp-absent", nullptr, done); }, twice, wait);
      ASSERT_EQ(first.id, Tovri::Errors::kNotFound) << first.text;
      proxy.Arm(b.fault);
      const std::string id = "kp-cut-" + std::to_string(n++);
      const Outcome broken = CallOnce<ti::Kms::ProvidersSvc::CreateMethod>(
          Kind::kWrite, [&](const auto& done) { providers.Create(NativeProvider(id), nullptr, done); }, twice,
          wait);
      EXPECT_TRUE(proxy.Fired());
      EXPECT_EQ(broken.id, b.expected) << broken.text;
      EXPECT_LE(broken.answered - broken.sent, kDeadline + 1s);
      if (b.fault.act == Act::kDelay && b.fault.delay < kDeadline) {
        EXPECT_GE(broken.answered - broken.sent, b.fault.delay);
      }
      // Wait out an answer still on its way, then look.
      std::this_thread::sleep_for(b.fault.act == Act::kDelay ? b.fault.delay : 100ms);
      EXPECT_EQ(Providers().count(id), b.lands ? 1u : 0u)
          << "ran " << (b.lands ? "not" : "although never received");
      EXPECT_EQ(*twice, 0);
      figures += std::string(b.name) + ": " + Short(broken.id.empty() ? "value" : broken.id) + " in " +
                 std::to_string(Seconds(broken.answered - broken.sent)) + " s; ";
      proxy.CloseAll();
    }
    others.Stop();
    ExpectEveryCallAnsweredOnceInTime(others);
    for (const Outcome& out : others.Outcomes()) EXPECT_EQ(out.id, "") << Name(out.kind) << ": " << out.text;
    figures += "other clients: " + Figures(others.Outcomes(), Clock::time_point{}, Clock::time_point::max());
  }
  // Every connection the daemon had for the callers above is closed again.
  int open = 0;
  for (int i = 0; i < 150 && (open = OpenFds(daemon_->Pid())) > baseline; ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_LE(open, baseline) << "descriptors: "
                            << Shell("ls -l /proc/" + std::to_string(daemon_->Pid()) + "/fd");
  Report("connections",
         figures + "descriptors " + std::to_string(baseline) + " before, " + std::to_string(open) + " after");
}

TEST_F(TrustdFaults, EveryAcknowledgedWriteSurvivesKillsUnderLoad) {
  std::vector<Outcome> all;
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
    Load load(ToDaemon(), 4, "kp-kill" + std::to_string(round));
    ASSERT_TRUE(load.WaitFor(Kind::kWrite, "", Clock::now(), 20s));
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + 150 * round));
    daemon_->Kill();
    load.Stop();
    EXPECT_EQ(load.AnsweredTwice(), 0);
    for (const Outcome& out : load.Outcomes()) {
      EXPECT_NE(out.id, kNoAnswer);
      // Calls in flight at the kill, or sent after it: the transport says so.
      if (!out.id.empty() && out.id != Tovri::Http::kServiceUnavailableId)
        ADD_FAILURE() << out.id << out.text;
    }
    const auto outcomes = load.Outcomes();
    all.insert(all.end(), outcomes.begin(), outcomes.end());
  }
  ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  EXPECT_EQ(IntegrityOf(state_ + "/trustd.db"), "ok\n");
  ExpectAcknowledgedWritesPresent(all);
  Report("kill -9", Figures(all, Clock::time_point{}, Clock::time_point::max()));
}

}  // namespace
