#include "connection.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <openssl/crypto.h>
#include <boost/json.hpp>
#include <boost/url/parse.hpp>

namespace Trustctl {
namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

struct FileSettings {
  std::optional<std::string> server, tokenFile, cacert;
};

// The config file, when there is one. A file that exists but cannot be
// used is an error: silently ignoring it would connect somewhere else.
bool ReadConfigFile(FileSettings& settings, std::string& error) {
  std::string path;
  if (auto explicitPath = Environment("TRUSTCTL_CONFIG")) {
    path = *explicitPath;
  } else if (auto home = Environment("HOME")) {
    path = *home + "/.config/trustctl/config.json";
  } else {
    return true;
  }
  std::ifstream in(path);
  if (!in) return true;
  std::ostringstream text;
  text << in.rdbuf();
  boost::system::error_code ec;
  const boost::json::value root = boost::json::parse(text.str(), ec);
  if (ec || !root.is_object()) {
    error = path + ": not a JSON object";
    return false;
  }
  for (const auto& entry : root.get_object()) {
    std::optional<std::string>* target = entry.key() == "server"       ? &settings.server
                                         : entry.key() == "token_file" ? &settings.tokenFile
                                         : entry.key() == "cacert"     ? &settings.cacert
                                                                       : nullptr;
    if (!target) {
      error = path + ": unknown key \"" + std::string(entry.key()) + "\" (server, token_file, cacert)";
      return false;
    }
    if (!entry.value().is_string()) {
      error = path + ": \"" + std::string(entry.key()) + "\" must be a string";
      return false;
    }
    *target = std::string(entry.value().get_string());
  }
  return true;
}

// The first line of the token file. Like an SSH key, a token file others
// can read is refused.
bool ReadToken(const std::string& path, Tovri::SecretString& token, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read the token file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 077) != 0 || info.st_size > 4096) {
    ::close(fd);
    error = "the token file " + path +
            " must be a regular file of at most 4 KiB that only its owner can read (chmod 600)";
    return false;
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  const ssize_t got = ::read(fd, &text[0], text.size());
  ::close(fd);
  if (got < 0) {
    error = "cannot read the token file " + path + ": " + std::strerror(errno);
    return false;
  }
  text.resize(static_cast<std::size_t>(got));
  const std::size_t end = text.find_first_of("\r\n");
  std::string first = text.substr(0, end);
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  while (!first.empty() && (first.back() == ' ' || first.back() == '\t')) first.pop_back();
  if (first.empty()) {
    error = "the token file " + path + " is empty";
    return false;
  }
  token.Assign(std::move(first));
  return true;
}

}  // namespace

std::optional<Connection> ResolveConnection(const ConnectionFlags& flags, std::string& error) {
  FileSettings file;
  if (!ReadConfigFile(file, error)) return std::nullopt;
  const auto pick = [](const std::optional<std::string>& flag, const char* env,
                       const std::optional<std::string>& fromFile) -> std::optional<std::string> {
    if (flag) return flag;
    if (auto value = Environment(env)) return value;
    return fromFile;
  };
  Connection connection;
  connection.server = pick(flags.server, "TRUSTCTL_SERVER", file.server).value_or("https://127.0.0.1:8443");
  const auto tokenFile = pick(flags.tokenFile, "TRUSTCTL_TOKEN_FILE", file.tokenFile);
  const auto cacert = pick(flags.cacert, "TRUSTCTL_CACERT", file.cacert);

  const auto url = boost::urls::parse_absolute_uri(connection.server);
  const bool https = url && url->scheme() == "https";
  if (!url || (!https && url->scheme() != "http") || url->host().empty() ||
      (!url->encoded_path().empty() && url->encoded_path() != "/") || url->has_query() ||
      url->has_userinfo()) {
    error = "the server \"" + connection.server + "\" is not http(s)://<host>[:<port>]";
    return std::nullopt;
  }
  Tovri::Http::ClientOptions& options = connection.options;
  // An IPv6 literal comes bracketed; the client wants the bare address.
  options.host = url->host_type() == boost::urls::host_type::ipv6 ? url->host_ipv6_address().to_string()
                                                                  : std::string(url->encoded_host());
  options.port = url->has_port() ? url->port_number() : (https ? 443 : 80);
  if (url->has_port() && options.port == 0) {
    error = "the server \"" + connection.server + "\" has no usable port";
    return std::nullopt;
  }
  options.callTimeout = std::chrono::seconds(flags.timeoutSeconds);
  if (https) {
    if (!cacert) {
      error =
          "https needs the server's CA certificate: --cacert, TRUSTCTL_CACERT or \"cacert\" in the config "
          "file";
      return std::nullopt;
    }
    options.tls = Tovri::Http::TlsClientOptions{*cacert, {}, {}, {}};
  }
  // An empty token file name sends no token (it overrides a configured one).
  if (tokenFile && !tokenFile->empty() && !ReadToken(*tokenFile, options.bearerToken, error)) return std::nullopt;
  return connection;
}

std::shared_ptr<Tovri::Stub::AsyncApiStub> Connect(const Connection& connection) {
  return std::make_shared<Tovri::Stub::AsyncApiStub>(
      std::make_shared<Tovri::Http::Client>(connection.options),
      std::make_shared<Tovri::Core::AsyncActivation>());
}

}  // namespace Trustctl
