#include "config.hpp"

#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <boost/json.hpp>
#include <boost/system/error_code.hpp>

namespace Trustd {
namespace {

namespace json = boost::json;

// Reads one object, refusing keys it does not know and wrong types, and
// remembering the first error with the JSON path it was found at.
class Reader {
 public:
  Reader(const json::object& object, std::string where, std::string& error)
      : object_(object), where_(std::move(where)), error_(error) {}

  // Call with every key the object may hold before reading it.
  bool Known(std::initializer_list<const char*> keys) {
    const std::set<std::string> allowed(keys.begin(), keys.end());
    for (const auto& entry : object_) {
      if (allowed.count(std::string(entry.key())) == 0)
        return Fail(Path(std::string(entry.key())) + ": unknown key");
    }
    return true;
  }

  const json::value* Find(const char* key) const { return object_.if_contains(key); }
  std::string Path(const std::string& key) const { return where_ + "." + key; }

  bool String(const char* key, std::string& out, bool required = false) {
    const json::value* value = Find(key);
    if (!value) return !required || Fail(Path(key) + ": required");
    if (!value->is_string()) return Fail(Path(key) + ": expected a string");
    // What must be given must say something: an empty state directory would
    // put the database in the working directory.
    if (required && value->get_string().empty()) return Fail(Path(key) + ": must not be empty");
    out = std::string(value->get_string());
    return true;
  }

  bool Bool(const char* key, bool& out) {
    const json::value* value = Find(key);
    if (!value) return true;
    if (!value->is_bool()) return Fail(Path(key) + ": expected true or false");
    out = value->get_bool();
    return true;
  }

  template <class Int>
  bool Integer(const char* key, Int& out, long long min, long long max) {
    const json::value* value = Find(key);
    if (!value) return true;
    if (!value->is_int64() && !value->is_uint64()) return Fail(Path(key) + ": expected an integer");
    const long long number = value->is_int64() ? value->get_int64()
                             : value->get_uint64() > static_cast<std::uint64_t>(max)
                                 ? max + 1
                                 : static_cast<long long>(value->get_uint64());
    if (number < min || number > max)
      return Fail(Path(key) + ": expected " + std::to_string(min) + " to " + std::to_string(max));
    out = static_cast<Int>(number);
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }

 private:
  const json::object& object_;
  std::string where_;
  std::string& error_;
};

std::string Resolve(const std::string& base, const std::string& path) {
  if (path.empty() || path.front() == '/' || base.empty()) return path;
  return base + "/" + path;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReadListen(Reader& top, const json::value& value, Config& config) {
  if (!value.is_array() || value.get_array().empty())
    return top.Fail("$.listen: expected a non-empty array of {\"address\", \"port\"}");
  std::size_t index = 0;
  for (const json::value& item : value.get_array()) {
    const std::string where = "$.listen[" + std::to_string(index++) + "]";
    if (!item.is_object()) return top.Fail(where + ": expected an object");
    std::string error;
    Reader reader(item.get_object(), where, error);
    Tovri::Http::ListenAddress address;
    int port = -1;
    const bool ok = reader.Known({"address", "port"}) && reader.String("address", address.address, true) &&
                    reader.Integer("port", port, 0, 65535) &&
                    (port >= 0 || reader.Fail(where + ".port: required"));
    if (!ok) return top.Fail(error);
    address.port = static_cast<std::uint16_t>(port);
    config.listen.push_back(address);
  }
  return true;
}

bool ReadTls(Reader& top, const json::value& value, const std::string& base, Config& config) {
  if (!value.is_object()) return top.Fail("$.tls: expected an object");
  std::string error;
  Reader reader(value.get_object(), "$.tls", error);
  Tovri::Http::TlsServerOptions tls;
  const bool ok =
      reader.Known({"certificate_chain", "private_key", "client_ca", "require_client_certificate"}) &&
      reader.String("certificate_chain", tls.certificateChainFile, true) &&
      reader.String("private_key", tls.privateKeyFile, true) &&
      reader.String("client_ca", tls.clientCaFile) &&
      reader.Bool("require_client_certificate", tls.requireClientCertificate);
  if (!ok) return top.Fail(error);
  if (tls.requireClientCertificate && tls.clientCaFile.empty())
    return top.Fail("$.tls.require_client_certificate: needs $.tls.client_ca");
  tls.certificateChainFile = Resolve(base, tls.certificateChainFile);
  tls.privateKeyFile = Resolve(base, tls.privateKeyFile);
  tls.clientCaFile = Resolve(base, tls.clientCaFile);
  config.tls = tls;
  return true;
}

bool ReadRoles(Reader& top, const json::value& value, Config& config) {
  if (!value.is_object())
    return top.Fail("$.roles: expected an object of role -> [\"<service>/<operation>\"]");
  config.roles.clear();
  for (const auto& entry : value.get_object()) {
    const std::string where = "$.roles." + std::string(entry.key());
    if (!entry.value().is_array()) return top.Fail(where + ": expected an array of strings");
    std::vector<std::string>& patterns = config.roles[std::string(entry.key())];
    for (const json::value& pattern : entry.value().get_array()) {
      if (!pattern.is_string()) return top.Fail(where + ": expected an array of strings");
      patterns.emplace_back(pattern.get_string());
    }
  }
  return true;
}

bool ReadTpms(Reader& top, const json::value& value, const std::string& base, Config& config) {
  if (!value.is_array()) return top.Fail("$.tpms: expected an array of {\"id\", \"tcti\", \"event_log\"}");
  std::set<std::string> ids;
  std::size_t index = 0;
  for (const json::value& item : value.get_array()) {
    const std::string where = "$.tpms[" + std::to_string(index++) + "]";
    if (!item.is_object()) return top.Fail(where + ": expected an object");
    std::string error;
    Reader reader(item.get_object(), where, error);
    TpmConfig tpm;
    const bool ok = reader.Known({"id", "tcti", "event_log", "command_timeout_ms"}) &&
                    reader.String("id", tpm.id, true) && reader.String("tcti", tpm.tcti, true) &&
                    reader.String("event_log", tpm.eventLog) &&
                    reader.Integer("command_timeout_ms", tpm.commandTimeoutMs, 100, 600000);
    if (!ok) return top.Fail(error);
    if (!ids.insert(tpm.id).second) return top.Fail(where + ".id: \"" + tpm.id + "\" is listed twice");
    tpm.eventLog = Resolve(base, tpm.eventLog);
    config.tpms.push_back(tpm);
  }
  return true;
}

bool ReadTrustAuthority(Reader& top, const json::value& value, Config& config) {
  if (!value.is_object()) return top.Fail("$.trust_authority: expected an object");
  std::string error;
  Reader reader(value.get_object(), "$.trust_authority", error);
  TrustAuthorityConfig authority;
  if (!reader.Known({"hostname", "port"}) || !reader.String("hostname", authority.hostname, true) ||
      !reader.Integer("port", authority.port, 1, 65535))
    return top.Fail(error);
  config.trustAuthority = authority;
  return true;
}

bool ReadLimits(Reader& top, const json::value& value, Config& config) {
  if (!value.is_object()) return top.Fail("$.limits: expected an object");
  std::string error;
  Reader reader(value.get_object(), "$.limits", error);
  constexpr long long kMiB = 1024 * 1024;
  const bool ok =
      reader.Known({"event_log_max_bytes", "report_max_bytes", "probe_timeout_ms", "worker_threads",
                    "io_threads", "max_body_bytes", "max_connections", "shutdown_grace_ms"}) &&
      reader.Integer("event_log_max_bytes", config.eventLogMaxBytes, 1024, 64 * kMiB) &&
      reader.Integer("report_max_bytes", config.reportMaxBytes, 256, 4 * kMiB) &&
      reader.Integer("probe_timeout_ms", config.probeTimeoutMs, 10, 60000) &&
      reader.Integer("worker_threads", config.workerThreads, 1, 256) &&
      reader.Integer("io_threads", config.ioThreads, 1, 64) &&
      reader.Integer("max_body_bytes", config.maxBodyBytes, 4096, 64 * kMiB) &&
      reader.Integer("max_connections", config.maxConnections, 1, 100000) &&
      reader.Integer("shutdown_grace_ms", config.shutdownGraceMs, 0, 600000);
  return ok || top.Fail(error);
}

bool ReadLogLevel(Reader& top, const std::string& text, Config& config) {
  if (text == "error")
    config.logLevel = LogLevel::kError;
  else if (text == "warning")
    config.logLevel = LogLevel::kWarning;
  else if (text == "info")
    config.logLevel = LogLevel::kInfo;
  else if (text == "debug")
    config.logLevel = LogLevel::kDebug;
  else
    return top.Fail("$.log_level: expected \"error\", \"warning\", \"info\" or \"debug\"");
  return true;
}

}  // namespace

Result<Config> ParseConfig(const std::string& text, const std::string& path) {
  const std::string where = path.empty() ? std::string("the configuration") : path;
  boost::system::error_code ec;
  json::parse_options options;
  options.max_depth = 16;
  const json::value root = json::parse(text, ec, {}, options);
  if (ec) return Result<Config>::Failure(where + ": not JSON: " + ec.message());
  if (!root.is_object()) return Result<Config>::Failure(where + ": expected a JSON object");

  Config config;
  config.path = path;
  const std::string base = path.empty() ? std::string() : DirectoryOf(path);
  std::string error;
  Reader top(root.get_object(), "$", error);
  std::string logLevel = "info";
  const json::value* value = nullptr;
  const bool ok =
      top.Known({"listen", "tls", "allow_plain_http", "token_file", "roles", "tpms", "state_directory",
                 "reports_directory", "trust_authority", "limits", "log_level"}) &&
      ((value = top.Find("listen")) ? ReadListen(top, *value, config) : top.Fail("$.listen: required")) &&
      (!(value = top.Find("tls")) || ReadTls(top, *value, base, config)) &&
      top.Bool("allow_plain_http", config.allowPlainHttp) && top.String("token_file", config.tokenFile) &&
      (!(value = top.Find("roles")) || ReadRoles(top, *value, config)) &&
      (!(value = top.Find("tpms")) || ReadTpms(top, *value, base, config)) &&
      top.String("state_directory", config.stateDirectory, true) &&
      top.String("reports_directory", config.reportsDirectory) &&
      (!(value = top.Find("trust_authority")) || ReadTrustAuthority(top, *value, config)) &&
      (!(value = top.Find("limits")) || ReadLimits(top, *value, config)) &&
      top.String("log_level", logLevel) && ReadLogLevel(top, logLevel, config);
  if (!ok) return Result<Config>::Failure(where + ": " + error);
  config.tokenFile = Resolve(base, config.tokenFile);
  config.stateDirectory = Resolve(base, config.stateDirectory);
  config.reportsDirectory = Resolve(base, config.reportsDirectory);
  return Result<Config>::Success(std::move(config));
}

Result<Config> LoadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Result<Config>::Failure("cannot read the configuration file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  // A configuration is small; a huge file is a mistake (a log, a device).
  if (text.tellp() > 1024 * 1024) return Result<Config>::Failure(path + ": larger than 1 MiB");
  return ParseConfig(text.str(), path);
}

}  // namespace Trustd
