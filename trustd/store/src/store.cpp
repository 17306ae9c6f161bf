#include <trustd/store/store.hpp>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <type_traits>

#include <openssl/rand.h>

#include "seal.hpp"

namespace Trustd {

using StoreDetail::Seal;
using StoreDetail::Unseal;
using StoreDetail::Wipe;
using Kind = StoreError::Kind;

namespace {

template <class T>
StoreResult<T> Fail(Kind kind, std::string message) {
  return StoreResult<T>::Failure(StoreError{kind, std::move(message)});
}

StoreResult<Done> Ok() { return StoreResult<Done>::Success(Done{}); }

// Each step takes the schema from the version before it to its own number;
// steps are never edited once released, only appended.
const char* const kMigrations[] = {
    // 1: the records, their CA chains (ordered) and the key check value.
    R"sql(
CREATE TABLE meta (name TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE key_providers (
  id TEXT PRIMARY KEY,
  type TEXT NOT NULL CHECK (type IN ('NATIVE', 'TRUST_AUTHORITY')),
  key_id TEXT,
  key_derivation_key BLOB,
  CHECK ((type = 'NATIVE') = (key_id IS NOT NULL AND key_derivation_key IS NOT NULL)));
CREATE TABLE key_servers (
  id TEXT PRIMARY KEY,
  hostname TEXT NOT NULL,
  port INTEGER CHECK (port BETWEEN 1 AND 65535),
  grp TEXT NOT NULL,
  client_id TEXT,
  client_name TEXT,
  client_group TEXT,
  client_secret BLOB,
  CHECK ((client_id IS NULL) = (client_secret IS NULL)));
CREATE UNIQUE INDEX key_servers_address ON key_servers (hostname, ifnull(port, 0));
CREATE TABLE key_server_cas (
  owner TEXT NOT NULL REFERENCES key_servers (id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  pem TEXT NOT NULL,
  PRIMARY KEY (owner, position));
CREATE TABLE attestation_services (
  id TEXT PRIMARY KEY,
  hostname TEXT NOT NULL,
  port INTEGER CHECK (port BETWEEN 1 AND 65535),
  grp TEXT NOT NULL);
CREATE UNIQUE INDEX attestation_services_address ON attestation_services (hostname, ifnull(port, 0));
CREATE TABLE attestation_service_cas (
  owner TEXT NOT NULL REFERENCES attestation_services (id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  pem TEXT NOT NULL,
  PRIMARY KEY (owner, position));
)sql",
    // 2: creation and update times; rows from before have 0 (unknown).
    R"sql(
ALTER TABLE key_providers ADD COLUMN created INTEGER NOT NULL DEFAULT 0;
ALTER TABLE key_providers ADD COLUMN updated INTEGER NOT NULL DEFAULT 0;
ALTER TABLE key_servers ADD COLUMN created INTEGER NOT NULL DEFAULT 0;
ALTER TABLE key_servers ADD COLUMN updated INTEGER NOT NULL DEFAULT 0;
ALTER TABLE attestation_services ADD COLUMN created INTEGER NOT NULL DEFAULT 0;
ALTER TABLE attestation_services ADD COLUMN updated INTEGER NOT NULL DEFAULT 0;
)sql",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == Store::kSchemaVersion,
              "one migration step per schema version");

const char kKeyCheckName[] = "key_check";
const char kKeyCheckText[] = "trustd store key check";

std::string ErrnoText() { return std::strerror(errno); }

// A prepared statement, finalized when it goes away.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // For running it again with new bindings.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement& Text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Blob(int i, const std::string& v) {
    sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Int(int i, std::int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Null(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
  }
  Statement& OptionalText(int i, const std::optional<std::string>& v) { return v ? Text(i, *v) : Null(i); }
  Statement& OptionalInt(int i, const std::optional<int>& v) { return v ? Int(i, *v) : Null(i); }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }

  bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
  std::string ColumnText(int i) const {
    const auto* text = sqlite3_column_blob(stmt_, i);
    return text ? std::string(static_cast<const char*>(text), sqlite3_column_bytes(stmt_, i)) : std::string();
  }
  std::optional<std::string> OptionalColumnText(int i) const {
    return IsNull(i) ? std::nullopt : std::optional<std::string>(ColumnText(i));
  }
  std::int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The tables of the two kinds of remote service, which share their layout
// but for the key server's API client.
struct ServiceTables {
  const char* what;  // for messages
  const char* table;
  const char* cas;
};
const ServiceTables kKeyServerTables{"key server", "key_servers", "key_server_cas"};
const ServiceTables kAttestationTables{"attestation service", "attestation_services",
                                       "attestation_service_cas"};

const char* FieldName(SecretField field) {
  return field == SecretField::kKeyDerivationKey ? "key_derivation_key" : "client_secret";
}

// Binds a sealed value to its row and field.
std::string AssociatedData(const char* table, const std::string& id, SecretField field) {
  std::string data = "trustd.store";
  data += '\0';
  data += table;
  data += '\0';
  data += id;
  data += '\0';
  data += FieldName(field);
  return data;
}

std::string Describe(const Address& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

StoreResult<Done> CheckIdentifier(const std::string& id, const char* what) {
  if (Store::IsIdentifier(id)) return Ok();
  return Fail<Done>(Kind::kInvalidArgument, "\"" + id + "\" is not a valid " + what + " identifier");
}

StoreResult<Done> CheckRemote(const ServiceTables& tables, const std::string& id, const Address& address,
                              const std::vector<std::string>& trustedCa, const std::string& group) {
  if (auto r = CheckIdentifier(id, tables.what); !r) return r;
  if (auto r = CheckIdentifier(address.hostname, "host name"); !r) return r;
  if (address.port && (*address.port < 1 || *address.port > 65535))
    return Fail<Done>(Kind::kInvalidArgument,
                      "port " + std::to_string(*address.port) + " is outside 1 to 65535");
  if (trustedCa.empty()) return Fail<Done>(Kind::kInvalidArgument, "the trusted CA chain is empty");
  for (const std::string& pem : trustedCa) {
    if (pem.empty())
      return Fail<Done>(Kind::kInvalidArgument, "a certificate of the trusted CA chain is empty");
  }
  return CheckIdentifier(group, "group");
}

// Opens an existing file without following links and checks that only its
// owner may read or write it.
StoreResult<int> OpenPrivate(const std::string& path, const char* what, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    return Fail<int>(Kind::kFailed, "cannot open the " + std::string(what) + " " + path + ": " + ErrnoText());
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail<int>(Kind::kFailed, "the " + std::string(what) + " " + path + " is not a regular file");
  }
  if ((st.st_mode & 077) != 0) {
    ::close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return Fail<int>(Kind::kFailed, "the " + std::string(what) + " " + path + " has mode " + mode +
                                        ": group or others may access it; it must be 0600");
  }
  return StoreResult<int>::Success(fd);
}

std::string Directory(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file's name reaches the disk only when its directory is synced.
void SyncDirectory(const std::string& path) {
  const int fd = ::open(Directory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Creates `path` owner-only from the start (no window in which it is
// readable by others) with `contents`, synced.
StoreResult<Done> CreatePrivate(const std::string& path, const char* what, const std::string& contents) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return Fail<Done>(Kind::kFailed,
                      "cannot create the " + std::string(what) + " " + path + ": " + ErrnoText());
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool ok = written == contents.size() && ::fsync(fd) == 0;
  const std::string error = ErrnoText();
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    return Fail<Done>(Kind::kFailed, "cannot write the " + std::string(what) + " " + path + ": " + error);
  }
  SyncDirectory(path);
  return Ok();
}

StoreResult<std::string> ReadKey(const std::string& path) {
  auto fd = OpenPrivate(path, "key file", O_RDONLY);
  if (!fd) return StoreResult<std::string>::Failure(fd.Error());
  std::string key(Store::kKeySize + 1, '\0');
  std::size_t got = 0;
  while (got < key.size()) {
    const ssize_t n = ::read(fd.Value(), &key[got], key.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd.Value());
  if (got != Store::kKeySize) {
    Wipe(key);
    return Fail<std::string>(Kind::kFailed,
                             "the key file " + path + " holds " +
                                 (got > Store::kKeySize ? "more than 32" : std::to_string(got)) +
                                 " bytes; it must hold exactly 32");
  }
  key.resize(Store::kKeySize);
  return StoreResult<std::string>::Success(std::move(key));
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

class Store::Impl {
 public:
  Impl(sqlite3* db, std::string key, std::string path)
      : db_(db), key_(std::move(key)), path_(std::move(path)) {}
  ~Impl() {
    sqlite3_close_v2(db_);
    Wipe(key_);
  }

  sqlite3* db_;
  std::string key_;
  std::string path_;
  std::mutex mutex_;

  StoreResult<Done> Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) == SQLITE_OK) return Ok();
    std::string message = "database " + path_ + ": " + (error ? error : sqlite3_errmsg(db_)) + SystemCause();
    sqlite3_free(error);
    return Fail<Done>(Kind::kFailed, std::move(message));
  }

  // The error of the last failed statement, as a store error: constraint
  // violations of the keys are the record already existing.
  StoreError LastError(const std::string& what) const {
    const int code = sqlite3_extended_errcode(db_);
    if (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE)
      return {Kind::kAlreadyExists, what + " already exists"};
    return {Kind::kFailed, what + ": database " + path_ + ": " + sqlite3_errmsg(db_) + SystemCause()};
  }

  // Why a file operation failed, found by looking at the files: SQLite
  // says "disk I/O error" for a read-only file and a failing disk alike,
  // and keeps no errno of a failed write. Empty when nothing is found (or
  // the failure did not come from a file).
  std::string SystemCause() const {
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary != SQLITE_IOERR && primary != SQLITE_CANTOPEN && primary != SQLITE_FULL &&
        primary != SQLITE_READONLY)
      return "";
    const std::string directory = path_.substr(0, path_.find_last_of('/') + 1);
    for (const std::string& file :
         {path_, path_ + "-wal", directory.empty() ? std::string(".") : directory}) {
      if (::access(file.c_str(), W_OK) != 0 && errno != ENOENT) return " (" + file + ": " + ErrnoText() + ")";
    }
    struct statvfs space {};
    if (::statvfs(directory.empty() ? "." : directory.c_str(), &space) == 0 && space.f_bavail == 0)
      return " (the file system holding it is full)";
    // A write past the process's file-size limit fails with EFBIG, which
    // SQLite reports as an I/O error too.
    struct rlimit size {};
    if (::getrlimit(RLIMIT_FSIZE, &size) == 0 && size.rlim_cur != RLIM_INFINITY)
      return " (the file size limit of the process is " + std::to_string(size.rlim_cur) + " bytes)";
    return "";
  }

  template <class T>
  StoreResult<T> Failed(const std::string& what) const {
    return StoreResult<T>::Failure(LastError(what));
  }

  // Runs `body` in one write transaction, committed only when it succeeds.
  // BEGIN IMMEDIATE takes the write lock up front, so a busy database is
  // waited for here rather than failing halfway through.
  StoreResult<Done> Write(const std::function<StoreResult<Done>()>& body) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (auto begun = Exec("BEGIN IMMEDIATE"); !begun) return begun;
    auto result = body();
    if (result) {
      auto committed = Exec("COMMIT");
      if (committed) return result;
      result = committed;
    }
    Exec("ROLLBACK");
    return result;
  }

  // Runs `body` in one read transaction: a consistent snapshot.
  template <class T>
  StoreResult<T> Read(const std::function<StoreResult<T>()>& body) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (auto begun = Exec("BEGIN"); !begun) return StoreResult<T>::Failure(begun.Error());
    auto result = body();
    Exec("COMMIT");
    return result;
  }

  StoreResult<std::string> SealFor(const char* table, const std::string& id, SecretField field,
                                   const Tovri::SecretString& secret) {
    std::string sealed = Seal(key_, AssociatedData(table, id, field), secret.Reveal());
    if (sealed.empty()) return Fail<std::string>(Kind::kFailed, "cannot seal a secret (OpenSSL failed)");
    return StoreResult<std::string>::Success(std::move(sealed));
  }

  int UserVersion() {
    Statement s(db_, "PRAGMA user_version");
    return s.Step() == SQLITE_ROW ? static_cast<int>(s.ColumnInt(0)) : -1;
  }

  StoreResult<Done> Migrate() {
    for (;;) {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (auto begun = Exec("BEGIN IMMEDIATE"); !begun) return begun;
      // Read inside the transaction: another process may have migrated.
      const int version = UserVersion();
      if (version < 0 || version >= kSchemaVersion) {
        Exec("ROLLBACK");
        if (version < 0) return Fail<Done>(Kind::kFailed, LastError("reading the schema version").message);
        if (version > kSchemaVersion) {
          return Fail<Done>(Kind::kFailed,
                            "the database " + path_ + " has schema version " + std::to_string(version) +
                                "; this build knows versions up to " + std::to_string(kSchemaVersion));
        }
        return Ok();
      }
      auto stepped = Exec(kMigrations[version]);
      if (stepped) stepped = Exec(("PRAGMA user_version = " + std::to_string(version + 1)).c_str());
      if (stepped) stepped = Exec("COMMIT");
      if (!stepped) {
        Exec("ROLLBACK");
        return Fail<Done>(Kind::kFailed, "migrating to schema version " + std::to_string(version + 1) +
                                             " failed: " + stepped.Error().message);
      }
    }
  }

  // A key that does not open the check value is the wrong key: refusing
  // here beats every secret failing later. A database without one (new, or
  // from before the store wrote it) gets one sealed under this key.
  StoreResult<Done> CheckKey(const std::string& keyPath) {
    const std::string associated = std::string("trustd.store") + '\0' + kKeyCheckName;
    return Write([&]() -> StoreResult<Done> {
      Statement select(db_, "SELECT value FROM meta WHERE name = ?");
      select.Text(1, kKeyCheckName);
      const int step = select.Step();
      if (step == SQLITE_ROW) {
        auto opened = Unseal(key_, associated, select.ColumnText(0));
        if (opened && *opened == kKeyCheckText) return Ok();
        return Fail<Done>(Kind::kFailed, "the key file " + keyPath + " is not the key of the database " +
                                             path_ + " (its check value does not decrypt)");
      }
      if (step != SQLITE_DONE) return Failed<Done>("reading the key check value");
      const std::string sealed = Seal(key_, associated, kKeyCheckText);
      if (sealed.empty())
        return Fail<Done>(Kind::kFailed, "cannot seal the key check value (OpenSSL failed)");
      Statement insert(db_, "INSERT INTO meta (name, value) VALUES (?, ?)");
      insert.Text(1, kKeyCheckName).Blob(2, sealed);
      return insert.Step() == SQLITE_DONE ? Ok() : Failed<Done>("writing the key check value");
    });
  }

  // ---- Remote services (key servers and attestation services) ----------

  StoreResult<Done> WriteChain(const ServiceTables& t, const std::string& id,
                               const std::vector<std::string>& chain) {
    Statement clear(db_, (std::string("DELETE FROM ") + t.cas + " WHERE owner = ?").c_str());
    clear.Text(1, id);
    if (clear.Step() != SQLITE_DONE)
      return Failed<Done>("the trusted CAs of " + std::string(t.what) + " " + id);
    Statement insert(
        db_, (std::string("INSERT INTO ") + t.cas + " (owner, position, pem) VALUES (?, ?, ?)").c_str());
    for (std::size_t i = 0; i < chain.size(); ++i) {
      insert.Reset();
      insert.Text(1, id).Int(2, static_cast<std::int64_t>(i)).Text(3, chain[i]);
      if (insert.Step() != SQLITE_DONE)
        return Failed<Done>("the trusted CAs of " + std::string(t.what) + " " + id);
    }
    return Ok();
  }

  StoreResult<std::vector<std::string>> ReadChain(const ServiceTables& t, const std::string& id) {
    Statement select(
        db_, (std::string("SELECT pem FROM ") + t.cas + " WHERE owner = ? ORDER BY position").c_str());
    select.Text(1, id);
    std::vector<std::string> chain;
    int step;
    while ((step = select.Step()) == SQLITE_ROW) chain.push_back(select.ColumnText(0));
    if (step != SQLITE_DONE)
      return Failed<std::vector<std::string>>("the trusted CAs of " + std::string(t.what) + " " + id);
    return StoreResult<std::vector<std::string>>::Success(std::move(chain));
  }

  // Adds (or, with `update`, replaces) the common columns of a service.
  StoreResult<Done> PutRemote(const ServiceTables& t, bool update, const std::string& id,
                              const Address& address, const std::vector<std::string>& chain,
                              const std::string& group, const std::optional<ApiClient>& client) {
    const bool withClient = &t == &kKeyServerTables;
    const std::string what = std::string(t.what) + " " + id;
    std::optional<std::string> sealed;
    if (client) {
      auto s = SealFor(t.table, id, SecretField::kApiClientSecret, client->secret);
      if (!s) return StoreResult<Done>::Failure(s.Error());
      sealed = std::move(s).Value();
    }
    std::string sql;
    if (update) {
      sql = std::string("UPDATE ") + t.table + " SET hostname = ?2, port = ?3, grp = ?4, updated = ?5" +
            (withClient ? ", client_id = ?6, client_name = ?7, client_group = ?8, client_secret = ?9" : "") +
            " WHERE id = ?1";
    } else {
      sql = std::string("INSERT INTO ") + t.table + " (id, hostname, port, grp, created, updated" +
            (withClient ? ", client_id, client_name, client_group, client_secret" : "") +
            ") VALUES (?1, ?2, ?3, ?4, ?5, ?5" + (withClient ? ", ?6, ?7, ?8, ?9" : "") + ")";
    }
    Statement put(db_, sql.c_str());
    put.Text(1, id)
        .Text(2, address.hostname)
        .OptionalInt(3, address.port)
        .Text(4, group)
        .Int(5, std::time(nullptr));
    if (withClient) {
      if (client) {
        put.Text(6, client->clientId)
            .OptionalText(7, client->name)
            .OptionalText(8, client->group)
            .Blob(9, *sealed);
      } else {
        put.Null(6).Null(7).Null(8).Null(9);
      }
    }
    if (put.Step() != SQLITE_DONE) {
      StoreError error = LastError(what);
      // Either the id or the address is taken; tell which.
      const auto idTaken = Exists(t, id);
      if (error.kind == Kind::kAlreadyExists && (update || (idTaken && !idTaken.Value())))
        error.message = std::string("another ") + t.what + " already uses the address " + Describe(address);
      return StoreResult<Done>::Failure(error);
    }
    if (update && sqlite3_changes(db_) == 0) return Fail<Done>(Kind::kNotFound, what + " does not exist");
    return WriteChain(t, id, chain);
  }

  StoreResult<bool> Exists(const ServiceTables& t, const std::string& id) {
    Statement s(db_, (std::string("SELECT 1 FROM ") + t.table + " WHERE id = ?").c_str());
    s.Text(1, id);
    const int step = s.Step();
    if (step != SQLITE_ROW && step != SQLITE_DONE) return Failed<bool>(std::string(t.what) + " " + id);
    return StoreResult<bool>::Success(step == SQLITE_ROW);
  }

  // Reads the row of a service: fills the common parts of `out` and, for
  // key servers, the API client (without its secret).
  template <class Record>
  StoreResult<Record> GetRemote(const ServiceTables& t, const std::string& id) {
    const bool withClient = &t == &kKeyServerTables;
    const std::string sql = std::string("SELECT hostname, port, grp, created, updated") +
                            (withClient ? ", client_id, client_name, client_group" : "") + " FROM " +
                            t.table + " WHERE id = ?";
    Statement s(db_, sql.c_str());
    s.Text(1, id);
    const int step = s.Step();
    if (step == SQLITE_DONE)
      return Fail<Record>(Kind::kNotFound, std::string(t.what) + " " + id + " does not exist");
    if (step != SQLITE_ROW) return Failed<Record>(std::string(t.what) + " " + id);
    Record record;
    record.id = id;
    record.address.hostname = s.ColumnText(0);
    if (!s.IsNull(1)) record.address.port = static_cast<int>(s.ColumnInt(1));
    record.group = s.ColumnText(2);
    record.stamps = {s.ColumnInt(3), s.ColumnInt(4)};
    if constexpr (std::is_same_v<Record, KeyServer>) {
      if (!s.IsNull(5))
        record.apiClient = ApiClient{s.ColumnText(5), s.OptionalColumnText(6), s.OptionalColumnText(7), {}};
    }
    auto chain = ReadChain(t, id);
    if (!chain) return StoreResult<Record>::Failure(chain.Error());
    record.trustedCa = std::move(chain).Value();
    return StoreResult<Record>::Success(std::move(record));
  }

  StoreResult<std::vector<std::string>> Ids(const char* table) {
    Statement s(db_, (std::string("SELECT id FROM ") + table + " ORDER BY id").c_str());
    std::vector<std::string> ids;
    int step;
    while ((step = s.Step()) == SQLITE_ROW) ids.push_back(s.ColumnText(0));
    if (step != SQLITE_DONE) return Failed<std::vector<std::string>>(std::string("listing ") + table);
    return StoreResult<std::vector<std::string>>::Success(std::move(ids));
  }

  template <class Record>
  StoreResult<std::vector<Record>> ListAll(
      const char* table, const std::function<StoreResult<Record>(const std::string&)>& get) {
    return Read<std::vector<Record>>([&]() -> StoreResult<std::vector<Record>> {
      auto ids = Ids(table);
      if (!ids) return StoreResult<std::vector<Record>>::Failure(ids.Error());
      std::vector<Record> records;
      for (const std::string& id : ids.Value()) {
        auto record = get(id);
        if (!record) return StoreResult<std::vector<Record>>::Failure(record.Error());
        records.push_back(std::move(record).Value());
      }
      return StoreResult<std::vector<Record>>::Success(std::move(records));
    });
  }

  StoreResult<Done> Delete(const char* table, const char* what, const std::string& id) {
    if (auto r = CheckIdentifier(id, what); !r) return r;
    return Write([&]() -> StoreResult<Done> {
      Statement s(db_, (std::string("DELETE FROM ") + table + " WHERE id = ?").c_str());
      s.Text(1, id);
      if (s.Step() != SQLITE_DONE) return Failed<Done>(std::string(what) + " " + id);
      if (sqlite3_changes(db_) == 0)
        return Fail<Done>(Kind::kNotFound, std::string(what) + " " + id + " does not exist");
      return Ok();
    });
  }

  StoreResult<KeyProvider> GetProvider(const std::string& id) {
    Statement s(db_, "SELECT type, key_id, created, updated FROM key_providers WHERE id = ?");
    s.Text(1, id);
    const int step = s.Step();
    if (step == SQLITE_DONE)
      return Fail<KeyProvider>(Kind::kNotFound, "key provider " + id + " does not exist");
    if (step != SQLITE_ROW) return Failed<KeyProvider>("key provider " + id);
    KeyProvider provider;
    provider.id = id;
    if (s.ColumnText(0) == "NATIVE") {
      provider.type = ProviderType::kNative;
      provider.native = NativeKey{s.ColumnText(1), {}};
    }
    provider.stamps = {s.ColumnInt(2), s.ColumnInt(3)};
    return StoreResult<KeyProvider>::Success(std::move(provider));
  }
};

// ---- Opening -------------------------------------------------------------

StoreResult<std::unique_ptr<Store>> Store::Open(const std::string& directory, const Options& options) {
  return Open(directory + "/trustd.db", directory + "/store.key", options);
}

StoreResult<std::unique_ptr<Store>> Store::Open(const std::string& databasePath, const std::string& keyPath,
                                                const Options& options) {
  using R = StoreResult<std::unique_ptr<Store>>;
  const bool haveDatabase = Exists(databasePath);
  const bool haveKey = Exists(keyPath);
  if (haveDatabase && !haveKey) {
    // A new key would not open the secrets already there.
    return Fail<std::unique_ptr<Store>>(
        Kind::kFailed, "the key file " + keyPath + " of the database " + databasePath + " is missing");
  }
  if (!haveDatabase && !options.create)
    return Fail<std::unique_ptr<Store>>(Kind::kNotFound, "the database " + databasePath + " does not exist");
  if (!haveKey) {
    std::string key(kKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&key[0]), static_cast<int>(kKeySize)) != 1)
      return Fail<std::unique_ptr<Store>>(Kind::kFailed,
                                          "cannot draw a key (OpenSSL's random source failed)");
    auto created = CreatePrivate(keyPath, "key file", key);
    Wipe(key);
    if (!created) return R::Failure(created.Error());
  }
  if (!haveDatabase) {
    // Created here with its mode; SQLite would create it by the umask.
    if (auto created = CreatePrivate(databasePath, "database", ""); !created)
      return R::Failure(created.Error());
  }
  auto key = ReadKey(keyPath);
  if (!key) return R::Failure(key.Error());
  // The log and shared-memory files hold records too.
  for (const std::string& path : {databasePath, databasePath + "-wal", databasePath + "-shm"}) {
    if (path != databasePath && !Exists(path)) continue;
    auto fd = OpenPrivate(path, "database", O_RDONLY);
    if (!fd) return R::Failure(fd.Error());
    ::close(fd.Value());
  }

  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(databasePath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  auto impl = std::make_unique<Impl>(db, std::move(key).Value(), databasePath);
  if (opened != SQLITE_OK)
    return Fail<std::unique_ptr<Store>>(
        Kind::kFailed, "cannot open the database " + databasePath + ": " + sqlite3_errstr(opened));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, options.busyTimeoutMs);
  // WAL with FULL sync: a commit is on disk when COMMIT returns.
  {
    Statement wal(db, "PRAGMA journal_mode = WAL");
    if (wal.Step() != SQLITE_ROW || wal.ColumnText(0) != "wal") {
      return Fail<std::unique_ptr<Store>>(
          Kind::kFailed, "cannot use the database " + databasePath + ": " + sqlite3_errmsg(db));
    }
  }
  for (const char* pragma : {"PRAGMA synchronous = FULL", "PRAGMA foreign_keys = ON"}) {
    if (auto set = impl->Exec(pragma); !set) return R::Failure(set.Error());
  }
  if (auto migrated = impl->Migrate(); !migrated) return R::Failure(migrated.Error());
  if (auto checked = impl->CheckKey(keyPath); !checked) return R::Failure(checked.Error());
  return R::Success(std::unique_ptr<Store>(new Store(std::move(impl))));
}

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

bool Store::IsIdentifier(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

// ---- Key providers -------------------------------------------------------

StoreResult<Done> Store::CreateKeyProvider(const KeyProvider& provider) {
  if (auto r = CheckIdentifier(provider.id, "key provider"); !r) return r;
  const bool native = provider.type == ProviderType::kNative;
  if (native != provider.native.has_value()) {
    return Fail<Done>(Kind::kInvalidArgument, "key provider " + provider.id +
                                                  (native ? ": a native provider needs its key"
                                                          : ": only a native provider has a key"));
  }
  if (native) {
    if (auto r = CheckIdentifier(provider.native->keyId, "key"); !r) return r;
    if (provider.native->keyDerivationKey.empty())
      return Fail<Done>(Kind::kInvalidArgument,
                        "key provider " + provider.id + ": the key derivation key is empty");
  }
  return impl_->Write([&]() -> StoreResult<Done> {
    Statement s(impl_->db_,
                "INSERT INTO key_providers (id, type, key_id, key_derivation_key, created, updated) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?5)");
    s.Text(1, provider.id).Text(2, native ? "NATIVE" : "TRUST_AUTHORITY").Int(5, std::time(nullptr));
    if (native) {
      auto sealed = impl_->SealFor("key_providers", provider.id, SecretField::kKeyDerivationKey,
                                   provider.native->keyDerivationKey);
      if (!sealed) return StoreResult<Done>::Failure(sealed.Error());
      s.Text(3, provider.native->keyId).Blob(4, sealed.Value());
    } else {
      s.Null(3).Null(4);
    }
    if (s.Step() != SQLITE_DONE) return impl_->Failed<Done>("key provider " + provider.id);
    return Ok();
  });
}

StoreResult<Done> Store::UpdateKeyProviderKeyId(const std::string& id, const std::string& keyId) {
  if (auto r = CheckIdentifier(id, "key provider"); !r) return r;
  if (auto r = CheckIdentifier(keyId, "key"); !r) return r;
  return impl_->Write([&]() -> StoreResult<Done> {
    auto current = impl_->GetProvider(id);
    if (!current) return StoreResult<Done>::Failure(current.Error());
    if (current.Value().type != ProviderType::kNative)
      return Fail<Done>(Kind::kNotAllowed, "key provider " + id + " is not native: it has no key to change");
    Statement s(impl_->db_, "UPDATE key_providers SET key_id = ?2, updated = ?3 WHERE id = ?1");
    s.Text(1, id).Text(2, keyId).Int(3, std::time(nullptr));
    if (s.Step() != SQLITE_DONE) return impl_->Failed<Done>("key provider " + id);
    return Ok();
  });
}

StoreResult<KeyProvider> Store::GetKeyProvider(const std::string& id) {
  if (auto r = CheckIdentifier(id, "key provider"); !r) return StoreResult<KeyProvider>::Failure(r.Error());
  return impl_->Read<KeyProvider>([&] { return impl_->GetProvider(id); });
}

StoreResult<std::vector<KeyProvider>> Store::ListKeyProviders() {
  return impl_->ListAll<KeyProvider>("key_providers",
                                     [&](const std::string& id) { return impl_->GetProvider(id); });
}

StoreResult<Done> Store::DeleteKeyProvider(const std::string& id) {
  return impl_->Delete("key_providers", "key provider", id);
}

// ---- Key servers ---------------------------------------------------------

namespace {
StoreResult<Done> CheckKeyServer(const KeyServer& server) {
  if (auto r = CheckRemote(kKeyServerTables, server.id, server.address, server.trustedCa, server.group); !r)
    return r;
  if (const auto& client = server.apiClient) {
    if (auto r = CheckIdentifier(client->clientId, "API client"); !r) return r;
    if (client->secret.empty())
      return Fail<Done>(Kind::kInvalidArgument,
                        "API client " + client->clientId + ": the client secret is empty");
  }
  return Ok();
}
}  // namespace

StoreResult<Done> Store::CreateKeyServer(const KeyServer& server) {
  if (auto r = CheckKeyServer(server); !r) return r;
  return impl_->Write([&] {
    return impl_->PutRemote(kKeyServerTables, false, server.id, server.address, server.trustedCa,
                            server.group, server.apiClient);
  });
}

StoreResult<Done> Store::UpdateKeyServer(const KeyServer& server) {
  if (auto r = CheckKeyServer(server); !r) return r;
  return impl_->Write([&] {
    return impl_->PutRemote(kKeyServerTables, true, server.id, server.address, server.trustedCa, server.group,
                            server.apiClient);
  });
}

StoreResult<KeyServer> Store::GetKeyServer(const std::string& id) {
  if (auto r = CheckIdentifier(id, "key server"); !r) return StoreResult<KeyServer>::Failure(r.Error());
  return impl_->Read<KeyServer>([&] { return impl_->GetRemote<KeyServer>(kKeyServerTables, id); });
}

StoreResult<std::vector<KeyServer>> Store::ListKeyServers() {
  return impl_->ListAll<KeyServer>("key_servers", [&](const std::string& id) {
    return impl_->GetRemote<KeyServer>(kKeyServerTables, id);
  });
}

StoreResult<Done> Store::DeleteKeyServer(const std::string& id) {
  return impl_->Delete("key_servers", "key server", id);
}

// ---- Attestation services ------------------------------------------------

StoreResult<Done> Store::CreateAttestationService(const AttestationService& service) {
  if (auto r = CheckRemote(kAttestationTables, service.id, service.address, service.trustedCa, service.group);
      !r)
    return r;
  return impl_->Write([&] {
    return impl_->PutRemote(kAttestationTables, false, service.id, service.address, service.trustedCa,
                            service.group, std::nullopt);
  });
}

StoreResult<Done> Store::UpdateAttestationService(const AttestationService& service) {
  if (auto r = CheckRemote(kAttestationTables, service.id, service.address, service.trustedCa, service.group);
      !r)
    return r;
  return impl_->Write([&] {
    return impl_->PutRemote(kAttestationTables, true, service.id, service.address, service.trustedCa,
                            service.group, std::nullopt);
  });
}

StoreResult<AttestationService> Store::GetAttestationService(const std::string& id) {
  if (auto r = CheckIdentifier(id, "attestation service"); !r)
    return StoreResult<AttestationService>::Failure(r.Error());
  return impl_->Read<AttestationService>(
      [&] { return impl_->GetRemote<AttestationService>(kAttestationTables, id); });
}

StoreResult<std::vector<AttestationService>> Store::ListAttestationServices() {
  return impl_->ListAll<AttestationService>("attestation_services", [&](const std::string& id) {
    return impl_->GetRemote<AttestationService>(kAttestationTables, id);
  });
}

StoreResult<Done> Store::DeleteAttestationService(const std::string& id) {
  return impl_->Delete("attestation_services", "attestation service", id);
}

// ---- Secrets -------------------------------------------------------------

StoreResult<Tovri::SecretString> Store::RevealSecret(SecretField field, const std::string& id) {
  using R = StoreResult<Tovri::SecretString>;
  const bool kdk = field == SecretField::kKeyDerivationKey;
  const char* table = kdk ? "key_providers" : "key_servers";
  const std::string what = std::string(kdk ? "key provider " : "key server ") + id;
  if (auto r = CheckIdentifier(id, kdk ? "key provider" : "key server"); !r) return R::Failure(r.Error());
  return impl_->Read<Tovri::SecretString>([&]() -> R {
    Statement s(impl_->db_,
                (std::string("SELECT ") + FieldName(field) + " FROM " + table + " WHERE id = ?").c_str());
    s.Text(1, id);
    const int step = s.Step();
    if (step == SQLITE_DONE) return Fail<Tovri::SecretString>(Kind::kNotFound, what + " does not exist");
    if (step != SQLITE_ROW) return impl_->Failed<Tovri::SecretString>(what);
    if (s.IsNull(0)) {
      return Fail<Tovri::SecretString>(
          Kind::kNotFound, what + (kdk ? " has no key derivation key (not native)" : " has no API client"));
    }
    auto plain = Unseal(impl_->key_, AssociatedData(table, id, field), s.ColumnText(0));
    if (!plain) {
      return Fail<Tovri::SecretString>(Kind::kFailed, std::string("the ") +
                                                          (kdk ? "key derivation key" : "client secret") +
                                                          " of " + what + " does not decrypt");
    }
    Tovri::SecretString secret(std::move(*plain));
    Wipe(*plain);
    return R::Success(std::move(secret));
  });
}

}  // namespace Trustd
