// Bearer-token admission (the token file, the role allow-list) and the
// access log line.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <tovri/http/wire.hpp>

#include "security_detail.hpp"

namespace Tovri {
namespace Http {

RoleMap DefaultRoles() { return RoleMap{{"admin", {"*/*"}}, {"reader", {"*/list", "*/get"}}}; }

std::string FormatAccessLogLine(const AccessLogEntry& entry) {
  const auto sinceEpoch = entry.time.time_since_epoch();
  const std::time_t seconds =
      static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count());
  const long long millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[40];
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03lldZ", millis < 0 ? 0 : millis);
  return std::string(stamp, n) + fraction + " " + (entry.peer.empty() ? "-" : entry.peer) + " " +
         (entry.principal.empty() ? "-" : entry.principal) + " " + entry.method + " " + entry.path + " " +
         std::to_string(entry.status) + " " + std::to_string(entry.duration.count()) + "ms";
}

namespace Detail {

namespace {

constexpr std::size_t kMaxTokenFileBytes = 1024 * 1024;
constexpr const char* kHashPrefix = "sha256:";

bool Sha256(std::string_view text, std::array<unsigned char, 32>& out) {
  unsigned int size = 0;
  return EVP_Digest(text.data(), text.size(), out.data(), &size, EVP_sha256(), nullptr) == 1 &&
         size == out.size();
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Principals and roles are printable words; a comma separates roles.
bool IsName(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c <= ' ' || c > '~' || c == ',') return false;
  }
  return true;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool ReadSecretFile(const std::string& path, std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open the token file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    error = "cannot inspect the token file " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = "the token file " + path + " is not a regular file";
    ok = false;
  } else if ((info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    error = "the token file " + path + " is readable or writable by group or others (chmod 600 it)";
    ok = false;
  } else if (static_cast<std::size_t>(info.st_size) > kMaxTokenFileBytes) {
    error = "the token file " + path + " is larger than 1 MiB";
    ok = false;
  }
  char chunk[4096];
  while (ok) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "cannot read the token file " + path + ": " + std::strerror(errno);
      ok = false;
    } else if (got == 0) {
      break;
    } else if (text.size() + static_cast<std::size_t>(got) > kMaxTokenFileBytes) {
      error = "the token file " + path + " is larger than 1 MiB";
      ok = false;
    } else {
      text.append(chunk, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (!ok) OPENSSL_cleanse(&text[0], text.size());
  return ok;
}

// "<service>/<operation>" against "<service or *>/<operation or *>".
bool Matches(const std::string& pattern, std::string_view service, std::string_view operation) {
  const std::size_t slash = pattern.rfind('/');
  const std::string_view left(pattern.data(), slash);
  const std::string_view right(pattern.data() + slash + 1, pattern.size() - slash - 1);
  return (left == "*" || left == service) && (right == "*" || right == operation);
}

}  // namespace

bool ParseTokenFile(std::string_view text, const std::string& tokenFile, const RoleMap& roles,
                    std::vector<TokenEntry>& entries, std::string& error) {
  std::set<std::array<unsigned char, 32>> seen;
  std::size_t lineNumber = 0;
  bool ok = true;
  for (std::size_t start = 0; ok && start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto words = Words(line);
    if (words.empty() || words.front().front() == '#') continue;
    const std::string where = "token file " + tokenFile + " line " + std::to_string(lineNumber) + ": ";
    const std::string_view prefix(kHashPrefix);
    if (words.size() != 3) {
      error = where + "expected \"sha256:<64 hex digits> <principal> <role>[,<role>...]\"";
      ok = false;
      break;
    }
    const std::string_view hash = words[0];
    bool hex = hash.size() == prefix.size() + 64 && hash.substr(0, prefix.size()) == prefix;
    for (std::size_t i = prefix.size(); hex && i < hash.size(); ++i) hex = IsHex(hash[i]);
    if (!hex) {
      error = where + "the first word is not sha256: followed by 64 hex digits";
      ok = false;
      break;
    }
    TokenEntry entry;
    const std::string digits(hash.substr(prefix.size()));
    std::size_t decoded = 0;
    if (OPENSSL_hexstr2buf_ex(entry.hash.data(), entry.hash.size(), &decoded, digits.c_str(), '\0') != 1 ||
        decoded != entry.hash.size()) {
      error = where + "the first word is not sha256: followed by 64 hex digits";
      ok = false;
      break;
    }
    if (!IsName(words[1])) {
      error = where + "the principal is not a plain word";
      ok = false;
      break;
    }
    entry.principal.name = std::string(words[1]);
    std::string_view list = words[2];
    while (ok) {
      const std::size_t comma = list.find(',');
      const std::string role(list.substr(0, comma));
      if (role.empty()) {
        error = where + "an empty role";
        ok = false;
      } else if (roles.count(role) == 0) {
        error = where + "the role \"" + role + "\" is not in the role list";
        ok = false;
      } else {
        entry.principal.roles.push_back(role);
      }
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
    if (ok && !seen.insert(entry.hash).second) {
      error = where + "the same token hash is listed twice";
      ok = false;
    }
    if (ok) entries.push_back(std::move(entry));
  }
  return ok;
}

bool Gate::Load(const std::string& tokenFile, const RoleMap& roles, std::string& error) {
  auto table = std::make_shared<Table>();
  table->roles = roles;
  table->enabled = !tokenFile.empty();
  for (const auto& role : roles) {
    if (!IsName(role.first)) {
      error = "the role name \"" + role.first + "\" is not a plain word";
      return false;
    }
    for (const auto& pattern : role.second) {
      const std::size_t slash = pattern.rfind('/');
      if (slash == std::string::npos || slash == 0 || slash + 1 == pattern.size() ||
          pattern.find('/') != slash) {
        error = "role " + role.first + ": \"" + pattern + "\" is not <service id>/<operation>";
        return false;
      }
    }
  }
  if (!table->enabled) {
    std::atomic_store(&table_, std::shared_ptr<const Table>(std::move(table)));
    return true;
  }
  std::string text;
  if (!ReadSecretFile(tokenFile, text, error)) return false;
  const bool ok = ParseTokenFile(text, tokenFile, table->roles, table->entries, error);
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  if (ok) std::atomic_store(&table_, std::shared_ptr<const Table>(std::move(table)));
  return ok;
}

Gate::Verdict Gate::Admit(std::string_view authorization, std::string_view path,
                          std::shared_ptr<const Principal>& who) const {
  who.reset();
  const std::shared_ptr<const Table> table = std::atomic_load(&table_);
  if (!table->enabled) return Verdict::kOpen;
  if (path == kHealthPath) return Verdict::kOpen;
  // "Bearer" (any case), spaces, the token.
  constexpr std::string_view kScheme = "bearer";
  if (authorization.size() <= kScheme.size()) return Verdict::kUnauthenticated;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i])
      return Verdict::kUnauthenticated;
  }
  std::string_view token = authorization.substr(kScheme.size());
  if (token.front() != ' ') return Verdict::kUnauthenticated;
  while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  std::array<unsigned char, 32> hash{};
  if (token.empty() || !Sha256(token, hash)) return Verdict::kUnauthenticated;
  // Every entry is compared, in constant time each, whichever matches.
  const Entry* found = nullptr;
  for (const Entry& entry : table->entries) {
    const bool same = CRYPTO_memcmp(entry.hash.data(), hash.data(), hash.size()) == 0;
    found = same ? &entry : found;
  }
  if (!found) return Verdict::kUnauthenticated;
  // Shares the table's ownership: a reload does not pull it from under us.
  who = std::shared_ptr<const Principal>(table, &found->principal);
  // A call names its service and operation; any other path needs only a
  // known token.
  const std::string_view prefix(kCallPrefix);
  if (path.substr(0, prefix.size()) != prefix) return Verdict::kAllowed;
  const std::string_view rest = path.substr(prefix.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos || rest.find('/', slash + 1) != std::string_view::npos)
    return Verdict::kAllowed;
  const std::string_view service = rest.substr(0, slash);
  const std::string_view operation = rest.substr(slash + 1);
  for (const auto& role : found->principal.roles) {
    const auto patterns = table->roles.find(role);
    if (patterns == table->roles.end()) continue;
    for (const auto& pattern : patterns->second) {
      if (Matches(pattern, service, operation)) return Verdict::kAllowed;
    }
  }
  return Verdict::kForbidden;
}

void ConnectionSecurity::SetPeer(const boost::asio::ip::address& address, unsigned short port) {
  const std::string text = address.to_string();
  peer_ = (address.is_v6() ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

void ConnectionSecurity::Begin(std::string_view method, std::string_view target) {
  principal_.reset();
  pending_ = true;
  start_ = std::chrono::steady_clock::now();
  entry_ = AccessLogEntry();
  entry_.time = std::chrono::system_clock::now();
  entry_.peer = peer_;
  entry_.method = method.empty() ? std::string("-") : std::string(method);
  const std::string_view path = target.substr(0, target.find('?'));
  entry_.path = path.empty() ? std::string("-") : std::string(path);
}

Gate::Verdict ConnectionSecurity::Admit(std::string_view authorization, std::string_view path) {
  const Gate::Verdict verdict = gate_.Admit(authorization, path, principal_);
  entry_.principal = principal_ ? principal_->name : std::string();
  return verdict;
}

void ConnectionSecurity::AddTo(Core::ExecutionContext& context) const {
  if (principal_) {
    std::string roles;
    for (const auto& role : principal_->roles) roles += (roles.empty() ? "" : ",") + role;
    context.security[kBearerSecurityKey] =
        Core::SecurityContextEntry{"bearer", {{"principal", principal_->name}, {"roles", roles}}};
  }
  if (!subject_.empty()) {
    context.security[kClientCertificateSecurityKey] =
        Core::SecurityContextEntry{"x509", {{"subject", subject_}}};
  }
}

void ConnectionSecurity::End() {
  if (!pending_) return;
  pending_ = false;
  if (!log_) return;
  entry_.duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  try {
    log_(entry_);
  } catch (...) {
    // A log sink that throws must not take the I/O thread down.
  }
}

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
