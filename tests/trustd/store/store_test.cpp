// The configuration store against real SQLite files: records and their
// errors, what reopening keeps, the files it refuses, the migration of an
// old database, and where secrets do (not) appear.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <trustd/store/store.hpp>

#include "support/checks.hpp"

namespace Trustd {
namespace {

using Kind = StoreError::Kind;
namespace fs = std::filesystem;

const char kKdk[] = "kdk-plaintext-5e1b9c0d7a";
const char kClientSecret[] = "client-secret-c4f2a8e6b1";

std::unique_ptr<Store> OpenOk(const fs::path& dir) {
  auto opened = Store::Open(dir.string(), Store::Options{});
  EXPECT_TRUE(opened) << opened.Error().message;
  return opened ? std::move(opened).Value() : nullptr;
}

KeyProvider Native(const std::string& id, const std::string& keyId = "key-1") {
  return KeyProvider{id, ProviderType::kNative, NativeKey{keyId, Tovri::SecretString(kKdk)}, {}};
}
KeyProvider Authority(const std::string& id) {
  return KeyProvider{id, ProviderType::kTrustAuthority, {}, {}};
}

KeyServer Server(const std::string& id, const std::string& host, std::optional<int> port = 5696) {
  return KeyServer{
      id,
      {host, port},
      {"-----BEGIN CERTIFICATE-----\nroot\n", "-----BEGIN CERTIFICATE-----\nintermediate\n"},
      ApiClient{"client-1", std::string("Client One"), std::nullopt, Tovri::SecretString(kClientSecret)},
      "group-a",
      {}};
}

AttestationService Attestation(const std::string& id, const std::string& host) {
  return AttestationService{id, {host, std::nullopt}, {"-----BEGIN CERTIFICATE-----\nca\n"}, "group-b", {}};
}

// Runs SQL on the database directly, as another program (or an attacker
// with the file) would.
void RawSql(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(handle);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Step {
  const char* name;
  std::function<StoreError(Store&)> run;
  Kind expected;
};

template <class T>
StoreError ErrorOf(const StoreResult<T>& r) {
  return r.Error();
}

void RunSteps(Store& store, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    const StoreError error = step.run(store);
    EXPECT_EQ(error.kind, step.expected) << step.name << ": " << error.message;
  }
}

TEST(Store, KeyProvidersAnswerLikeTheService) {
  Testing::TempDir dir;
  auto store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  KeyProvider badNative = Native("p3");
  badNative.native->keyDerivationKey.Clear();
  KeyProvider authorityWithKey = Native("p4");
  authorityWithKey.type = ProviderType::kTrustAuthority;
  KeyProvider nativeWithoutKey = Authority("p5");
  nativeWithoutKey.type = ProviderType::kNative;
  RunSteps(
      *store,
      {
          {"create native", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Native("p1"))); }, Kind::kNone},
          {"create authority", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority("p2"))); },
           Kind::kNone},
          {"create again", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority("p1"))); },
           Kind::kAlreadyExists},
          {"empty id", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority(""))); },
           Kind::kInvalidArgument},
          {"id with a slash", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority("a/b"))); },
           Kind::kInvalidArgument},
          {"id of 65", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority(std::string(65, 'a')))); },
           Kind::kInvalidArgument},
          {"id of 64", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Authority(std::string(64, 'a')))); },
           Kind::kNone},
          {"bad key id", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Native("p6", "key 1"))); },
           Kind::kInvalidArgument},
          {"empty secret", [&](Store& s) { return ErrorOf(s.CreateKeyProvider(badNative)); },
           Kind::kInvalidArgument},
          {"authority with key", [&](Store& s) { return ErrorOf(s.CreateKeyProvider(authorityWithKey)); },
           Kind::kInvalidArgument},
          {"native without key", [&](Store& s) { return ErrorOf(s.CreateKeyProvider(nativeWithoutKey)); },
           Kind::kInvalidArgument},
          {"get missing", [](Store& s) { return ErrorOf(s.GetKeyProvider("nope")); }, Kind::kNotFound},
          {"get invalid", [](Store& s) { return ErrorOf(s.GetKeyProvider("no pe")); },
           Kind::kInvalidArgument},
          {"update key", [](Store& s) { return ErrorOf(s.UpdateKeyProviderKeyId("p1", "key-2")); },
           Kind::kNone},
          {"update bad key", [](Store& s) { return ErrorOf(s.UpdateKeyProviderKeyId("p1", "")); },
           Kind::kInvalidArgument},
          {"update authority", [](Store& s) { return ErrorOf(s.UpdateKeyProviderKeyId("p2", "key-2")); },
           Kind::kNotAllowed},
          {"update missing", [](Store& s) { return ErrorOf(s.UpdateKeyProviderKeyId("nope", "key-2")); },
           Kind::kNotFound},
          {"delete missing", [](Store& s) { return ErrorOf(s.DeleteKeyProvider("nope")); }, Kind::kNotFound},
          {"delete", [](Store& s) { return ErrorOf(s.DeleteKeyProvider("p2")); }, Kind::kNone},
          {"deleted is gone", [](Store& s) { return ErrorOf(s.GetKeyProvider("p2")); }, Kind::kNotFound},
          {"id free again", [](Store& s) { return ErrorOf(s.CreateKeyProvider(Native("p2"))); }, Kind::kNone},
      });
  const auto p1 = store->GetKeyProvider("p1");
  ASSERT_TRUE(p1) << p1.Error().message;
  ASSERT_TRUE(p1.Value().native);
  EXPECT_EQ(p1.Value().native->keyId, "key-2");
  EXPECT_TRUE(p1.Value().native->keyDerivationKey.empty()) << "a read carries no secret";
  EXPECT_GT(p1.Value().stamps.created, 0);
  EXPECT_GE(p1.Value().stamps.updated, p1.Value().stamps.created);
}

TEST(Store, KeyServersAndAttestationServicesAnswerLikeTheService) {
  Testing::TempDir dir;
  auto store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  KeyServer noChain = Server("k9", "kms9");
  noChain.trustedCa.clear();
  KeyServer emptyPem = Server("k9", "kms9");
  emptyPem.trustedCa.push_back("");
  KeyServer badPort = Server("k9", "kms9", 65536);
  KeyServer noSecret = Server("k9", "kms9");
  noSecret.apiClient->secret.Clear();
  KeyServer noClient = Server("k2", "kms2");
  noClient.apiClient.reset();
  KeyServer moved = Server("k1", "kms1", 443);
  moved.group = "group-z";
  moved.trustedCa = {"only"};
  RunSteps(
      *store,
      {
          {"create", [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k1", "kms1"))); }, Kind::kNone},
          {"create without client", [&](Store& s) { return ErrorOf(s.CreateKeyServer(noClient)); },
           Kind::kNone},
          {"same id", [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k1", "other"))); },
           Kind::kAlreadyExists},
          {"same address", [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k3", "kms1"))); },
           Kind::kAlreadyExists},
          {"same host, other port",
           [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k3", "kms1", 1))); }, Kind::kNone},
          {"same host, no port",
           [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k4", "kms1", {}))); }, Kind::kNone},
          {"same host, no port again",
           [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k5", "kms1", {}))); },
           Kind::kAlreadyExists},
          {"bad host", [](Store& s) { return ErrorOf(s.CreateKeyServer(Server("k9", "kms:9"))); },
           Kind::kInvalidArgument},
          {"bad port", [&](Store& s) { return ErrorOf(s.CreateKeyServer(badPort)); }, Kind::kInvalidArgument},
          {"no chain", [&](Store& s) { return ErrorOf(s.CreateKeyServer(noChain)); }, Kind::kInvalidArgument},
          {"empty pem", [&](Store& s) { return ErrorOf(s.CreateKeyServer(emptyPem)); },
           Kind::kInvalidArgument},
          {"no secret", [&](Store& s) { return ErrorOf(s.CreateKeyServer(noSecret)); },
           Kind::kInvalidArgument},
          {"update", [&](Store& s) { return ErrorOf(s.UpdateKeyServer(moved)); }, Kind::kNone},
          {"update onto an address in use",
           [](Store& s) { return ErrorOf(s.UpdateKeyServer(Server("k2", "kms1", 1))); },
           Kind::kAlreadyExists},
          {"update missing", [](Store& s) { return ErrorOf(s.UpdateKeyServer(Server("k8", "kms8"))); },
           Kind::kNotFound},
          {"get missing", [](Store& s) { return ErrorOf(s.GetKeyServer("k8")); }, Kind::kNotFound},
          {"delete", [](Store& s) { return ErrorOf(s.DeleteKeyServer("k3")); }, Kind::kNone},
          {"delete again", [](Store& s) { return ErrorOf(s.DeleteKeyServer("k3")); }, Kind::kNotFound},
          {"attestation create",
           [](Store& s) { return ErrorOf(s.CreateAttestationService(Attestation("a1", "as1"))); },
           Kind::kNone},
          {"attestation same id",
           [](Store& s) { return ErrorOf(s.CreateAttestationService(Attestation("a1", "as2"))); },
           Kind::kAlreadyExists},
          {"attestation same address",
           [](Store& s) { return ErrorOf(s.CreateAttestationService(Attestation("a2", "as1"))); },
           Kind::kAlreadyExists},
          {"attestation may share a key server's address",
           [](Store& s) { return ErrorOf(s.CreateAttestationService(Attestation("a3", "kms1"))); },
           Kind::kNone},
          {"attestation bad group",
           [](Store& s) {
             AttestationService a = Attestation("a4", "as4");
             a.group = "";
             return ErrorOf(s.CreateAttestationService(a));
           },
           Kind::kInvalidArgument},
          {"attestation update missing",
           [](Store& s) { return ErrorOf(s.UpdateAttestationService(Attestation("a9", "as9"))); },
           Kind::kNotFound},
          {"attestation delete", [](Store& s) { return ErrorOf(s.DeleteAttestationService("a3")); },
           Kind::kNone},
          {"attestation get deleted", [](Store& s) { return ErrorOf(s.GetAttestationService("a3")); },
           Kind::kNotFound},
          {"attestation delete invalid", [](Store& s) { return ErrorOf(s.DeleteAttestationService("a 3")); },
           Kind::kInvalidArgument},
      });
  const auto k1 = store->GetKeyServer("k1");
  ASSERT_TRUE(k1) << k1.Error().message;
  EXPECT_EQ(k1.Value().address.port, std::optional<int>(443));
  EXPECT_EQ(k1.Value().group, "group-z");
  EXPECT_EQ(k1.Value().trustedCa, std::vector<std::string>{"only"}) << "an update replaces the whole chain";
}

TEST(Store, ReopeningKeepsEveryRecordAndField) {
  Testing::TempDir dir;
  {
    auto store = OpenOk(dir.Path());
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->CreateKeyProvider(Native("p1")));
    ASSERT_TRUE(store->CreateKeyProvider(Authority("p0")));
    KeyServer noClient = Server("k2", "kms2", {});
    noClient.apiClient.reset();
    ASSERT_TRUE(store->CreateKeyServer(Server("k1", "kms1")));
    ASSERT_TRUE(store->CreateKeyServer(noClient));
    ASSERT_TRUE(store->CreateAttestationService(Attestation("a1", "as1")));
  }
  auto store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  const auto providers = store->ListKeyProviders();
  ASSERT_TRUE(providers) << providers.Error().message;
  ASSERT_EQ(providers.Value().size(), 2u);
  EXPECT_EQ(providers.Value()[0].id, "p0");
  EXPECT_EQ(providers.Value()[0].type, ProviderType::kTrustAuthority);
  EXPECT_FALSE(providers.Value()[0].native);
  EXPECT_EQ(providers.Value()[1].type, ProviderType::kNative);
  EXPECT_EQ(providers.Value()[1].native->keyId, "key-1");

  const auto servers = store->ListKeyServers();
  ASSERT_TRUE(servers) << servers.Error().message;
  ASSERT_EQ(servers.Value().size(), 2u);
  const KeyServer& k1 = servers.Value()[0];
  const KeyServer expected = Server("k1", "kms1");
  EXPECT_EQ(k1.address.hostname, "kms1");
  EXPECT_EQ(k1.address.port, expected.address.port);
  EXPECT_EQ(k1.trustedCa, expected.trustedCa);
  EXPECT_EQ(k1.group, expected.group);
  ASSERT_TRUE(k1.apiClient);
  EXPECT_EQ(k1.apiClient->clientId, "client-1");
  EXPECT_EQ(k1.apiClient->name, std::optional<std::string>("Client One"));
  EXPECT_FALSE(k1.apiClient->group);
  EXPECT_TRUE(k1.apiClient->secret.empty());
  EXPECT_FALSE(servers.Value()[1].apiClient);
  EXPECT_FALSE(servers.Value()[1].address.port);

  const auto services = store->ListAttestationServices();
  ASSERT_TRUE(services) << services.Error().message;
  ASSERT_EQ(services.Value().size(), 1u);
  EXPECT_EQ(services.Value()[0].trustedCa, Attestation("a1", "as1").trustedCa);

  const auto kdk = store->RevealSecret(SecretField::kKeyDerivationKey, "p1");
  ASSERT_TRUE(kdk) << kdk.Error().message;
  EXPECT_EQ(kdk.Value().Reveal(), kKdk);
  const auto client = store->RevealSecret(SecretField::kApiClientSecret, "k1");
  ASSERT_TRUE(client) << client.Error().message;
  EXPECT_EQ(client.Value().Reveal(), kClientSecret);
  EXPECT_EQ(store->RevealSecret(SecretField::kApiClientSecret, "k2").Error().kind, Kind::kNotFound);
  EXPECT_EQ(store->RevealSecret(SecretField::kKeyDerivationKey, "p0").Error().kind, Kind::kNotFound);
}

TEST(Store, FilesAreCreatedOwnerOnly) {
  Testing::TempDir dir;
  const mode_t umask = ::umask(0);  // the store must not rely on the process's umask
  auto store = OpenOk(dir.Path());
  ::umask(umask);
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->CreateKeyProvider(Authority("p1")));
  for (const char* name : {"trustd.db", "store.key", "trustd.db-wal"}) {
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path() / name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  EXPECT_EQ(fs::file_size(dir.Path() / "store.key"), Store::kKeySize);
}

TEST(Store, RefusesFilesItCannotTrust) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& dir)> spoil;
    const char* file;      // the file the message names
    const char* mentions;  // part of the message
  };
  const Case cases[] = {
      {"database readable by others",
       [](const fs::path& d) { fs::permissions(d / "trustd.db", fs::perms(0644)); }, "trustd.db",
       "mode 0644"},
      {"log readable by others",
       [](const fs::path& d) {
         std::ofstream(d / "trustd.db-wal");
         fs::permissions(d / "trustd.db-wal", fs::perms(0644));
       },
       "trustd.db-wal", "mode 0644"},
      {"key readable by the group",
       [](const fs::path& d) { fs::permissions(d / "store.key", fs::perms(0640)); }, "store.key",
       "mode 0640"},
      {"key writable by others", [](const fs::path& d) { fs::permissions(d / "store.key", fs::perms(0602)); },
       "store.key", "mode 0602"},
      {"key truncated", [](const fs::path& d) { fs::resize_file(d / "store.key", 16); }, "store.key",
       "16 bytes"},
      {"key too long", [](const fs::path& d) { fs::resize_file(d / "store.key", 33); }, "store.key",
       "more than 32"},
      {"key missing", [](const fs::path& d) { fs::remove(d / "store.key"); }, "store.key", "missing"},
      {"another key",
       [](const fs::path& d) {
         Testing::TempDir other;
         OpenOk(other.Path());
         fs::remove(d / "store.key");
         fs::copy_file(other.Path() / "store.key", d / "store.key");
       },
       "store.key", "not the key"},
      {"newer schema", [](const fs::path& d) { RawSql(d / "trustd.db", "PRAGMA user_version = 3"); },
       "trustd.db", "schema version 3"},
      {"not a database",
       [](const fs::path& d) {
         fs::remove(d / "trustd.db-wal");
         fs::remove(d / "trustd.db-shm");
         std::ofstream(d / "trustd.db", std::ios::trunc) << std::string(4096, 'x');
       },
       "trustd.db", "not a database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Testing::TempDir dir;
    {
      auto store = OpenOk(dir.Path());
      ASSERT_TRUE(store);
      ASSERT_TRUE(store->CreateKeyProvider(Native("p1")));
    }
    c.spoil(dir.Path());
    const auto opened = Store::Open(dir.Path().string(), Store::Options{});
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.Error().kind, Kind::kFailed);
    const std::string& message = opened.Error().message;
    EXPECT_NE(message.find((dir.Path() / c.file).string()), std::string::npos) << message;
    EXPECT_NE(message.find(c.mentions), std::string::npos) << message;
    EXPECT_EQ(message.find(kKdk), std::string::npos) << message;
  }
}

TEST(Store, WithoutCreateAMissingDatabaseIsNotFound) {
  Testing::TempDir dir;
  Store::Options options;
  options.create = false;
  const auto opened = Store::Open(dir.Path().string(), options);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.Error().kind, Kind::kNotFound);
  EXPECT_FALSE(fs::exists(dir.Path() / "store.key"));
}

// The schema of version 1 as the first release wrote it.
const char kVersion1[] = R"sql(
CREATE TABLE meta (name TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE key_providers (id TEXT PRIMARY KEY,
  type TEXT NOT NULL CHECK (type IN ('NATIVE', 'TRUST_AUTHORITY')), key_id TEXT, key_derivation_key BLOB,
  CHECK ((type = 'NATIVE') = (key_id IS NOT NULL AND key_derivation_key IS NOT NULL)));
CREATE TABLE key_servers (id TEXT PRIMARY KEY, hostname TEXT NOT NULL,
  port INTEGER CHECK (port BETWEEN 1 AND 65535), grp TEXT NOT NULL, client_id TEXT, client_name TEXT,
  client_group TEXT, client_secret BLOB, CHECK ((client_id IS NULL) = (client_secret IS NULL)));
CREATE UNIQUE INDEX key_servers_address ON key_servers (hostname, ifnull(port, 0));
CREATE TABLE key_server_cas (owner TEXT NOT NULL REFERENCES key_servers (id) ON DELETE CASCADE,
  position INTEGER NOT NULL, pem TEXT NOT NULL, PRIMARY KEY (owner, position));
CREATE TABLE attestation_services (id TEXT PRIMARY KEY, hostname TEXT NOT NULL,
  port INTEGER CHECK (port BETWEEN 1 AND 65535), grp TEXT NOT NULL);
CREATE UNIQUE INDEX attestation_services_address ON attestation_services (hostname, ifnull(port, 0));
CREATE TABLE attestation_service_cas (owner TEXT NOT NULL REFERENCES attestation_services (id) ON DELETE CASCADE,
  position INTEGER NOT NULL, pem TEXT NOT NULL, PRIMARY KEY (owner, position));
INSERT INTO key_providers (id, type) VALUES ('old-ta', 'TRUST_AUTHORITY');
INSERT INTO attestation_services (id, hostname, port, grp) VALUES ('old-as', 'as.example', 8443, 'g1');
INSERT INTO attestation_service_cas VALUES ('old-as', 1, 'second'), ('old-as', 0, 'first');
PRAGMA user_version = 1;
)sql";

TEST(Store, MigratesAVersion1Database) {
  Testing::TempDir dir;
  const fs::path db = dir.Path() / "trustd.db";
  const fs::path key = dir.Path() / "store.key";
  ::close(::open(db.c_str(), O_CREAT | O_WRONLY, 0600));
  RawSql(db, kVersion1);
  {
    const int fd = ::open(key.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, std::string(32, '\x5a').data(), 32), 32);
    ::close(fd);
  }
  {
    auto store = OpenOk(dir.Path());
    ASSERT_TRUE(store);
    const auto old = store->GetKeyProvider("old-ta");
    ASSERT_TRUE(old) << old.Error().message;
    EXPECT_EQ(old.Value().stamps.created, 0) << "rows from before the times have none";
    const auto as = store->GetAttestationService("old-as");
    ASSERT_TRUE(as) << as.Error().message;
    EXPECT_EQ(as.Value().trustedCa, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(as.Value().address.port, std::optional<int>(8443));
    ASSERT_TRUE(store->CreateKeyProvider(Native("new")));
    EXPECT_GT(store->GetKeyProvider("new").Value().stamps.created, 0);
  }
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(handle, "PRAGMA user_version", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), Store::kSchemaVersion);
  sqlite3_finalize(stmt);
  sqlite3_close(handle);

  // The key the migrated database was first opened with is now its key.
  ASSERT_EQ(::truncate(key.c_str(), 0), 0);
  std::ofstream(key, std::ios::binary) << std::string(32, '\x5b');
  EXPECT_FALSE(Store::Open(dir.Path().string(), Store::Options{}));
}

TEST(Store, SecretsAppearNowhereButThroughReveal) {
  Testing::TempDir dir;
  auto store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->CreateKeyProvider(Native("p1")));
  ASSERT_TRUE(store->CreateKeyServer(Server("k1", "kms1")));
  std::vector<std::string> messages;
  messages.push_back(store->CreateKeyProvider(Native("p1")).Error().message);
  messages.push_back(store->CreateKeyServer(Server("k1", "kms1")).Error().message);
  messages.push_back(store->CreateKeyServer(Server("k2", "kms1")).Error().message);
  // While open, the records are in the write-ahead log.
  const std::string wal = ReadAll(dir.Path() / "trustd.db-wal");
  EXPECT_FALSE(wal.empty());
  for (const char* secret : {kKdk, kClientSecret}) {
    EXPECT_EQ(wal.find(secret), std::string::npos) << secret;
    EXPECT_EQ(ReadAll(dir.Path() / "trustd.db").find(secret), std::string::npos) << secret;
  }
  store.reset();  // checkpoints the log into the database
  for (const char* secret : {kKdk, kClientSecret}) {
    EXPECT_EQ(ReadAll(dir.Path() / "trustd.db").find(secret), std::string::npos) << secret;
  }
  EXPECT_NE(ReadAll(dir.Path() / "trustd.db").find("kms1"), std::string::npos)
      << "the scan sees plain fields";

  // A sealed value moved to another row, or altered, does not open.
  store = OpenOk(dir.Path());
  ASSERT_TRUE(store->CreateKeyProvider(Native("p2")));
  store.reset();
  RawSql(dir.Path() / "trustd.db",
         "UPDATE key_providers SET key_derivation_key = (SELECT key_derivation_key FROM key_providers WHERE "
         "id = "
         "'p1') WHERE id = 'p2';"
         "INSERT INTO key_providers (id, type, key_id, key_derivation_key) SELECT 'p3', 'NATIVE', 'k', "
         "client_secret FROM key_servers WHERE id = 'k1';"
         "INSERT INTO key_providers (id, type, key_id, key_derivation_key) SELECT 'p4', 'NATIVE', 'k', "
         "substr(key_derivation_key, 1, 20) || x'00' || substr(key_derivation_key, 22) FROM key_providers "
         "WHERE id = 'p1';");
  store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->RevealSecret(SecretField::kKeyDerivationKey, "p1"));
  for (const char* id : {"p2", "p3", "p4"}) {
    const auto revealed = store->RevealSecret(SecretField::kKeyDerivationKey, id);
    ASSERT_FALSE(revealed) << id;
    EXPECT_EQ(revealed.Error().kind, Kind::kFailed) << id;
    EXPECT_NE(revealed.Error().message.find("does not decrypt"), std::string::npos)
        << revealed.Error().message;
    messages.push_back(revealed.Error().message);
  }
  // The record itself still reads: the daemon shows it as unavailable.
  EXPECT_TRUE(store->GetKeyProvider("p2"));
  for (const std::string& message : messages) {
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message.find(kKdk), std::string::npos) << message;
    EXPECT_EQ(message.find(kClientSecret), std::string::npos) << message;
  }
}

TEST(Store, DeletingAServerDeletesItsChain) {
  Testing::TempDir dir;
  auto store = OpenOk(dir.Path());
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->CreateKeyServer(Server("k1", "kms1")));
  ASSERT_TRUE(store->DeleteKeyServer("k1"));
  // A new server under the same id starts with its own chain only.
  KeyServer again = Server("k1", "kms1");
  again.trustedCa = {"single"};
  ASSERT_TRUE(store->CreateKeyServer(again));
  EXPECT_EQ(store->GetKeyServer("k1").Value().trustedCa, std::vector<std::string>{"single"});
}

}  // namespace
}  // namespace Trustd
