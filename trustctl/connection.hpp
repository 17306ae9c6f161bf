// Where trustctl connects and how it proves who it is. Each setting comes
// from the command line, else the environment, else the config file
// ($TRUSTCTL_CONFIG, else ~/.config/trustctl/config.json), else its default:
//
//   setting     flag          environment           config file key
//   server      --server      TRUSTCTL_SERVER       "server"       (https://127.0.0.1:8443)
//   token file  --token-file  TRUSTCTL_TOKEN_FILE   "token_file"   (none: no token sent)
//   CA file     --cacert      TRUSTCTL_CACERT       "cacert"       (none: the system's store is not used, so
//                                                                   https needs one)
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <tovri/core/invocation.hpp>
#include <tovri/core/stub.hpp>
#include <tovri/http/client.hpp>

namespace Trustctl {

struct ConnectionFlags {
  std::optional<std::string> server;
  std::optional<std::string> tokenFile;
  std::optional<std::string> cacert;
  int timeoutSeconds = 30;
};

struct Connection {
  std::string server;  // the URL as given
  Tovri::Http::ClientOptions options;
};

// The settings resolved and the token read; `error` says what is wrong
// (an unreadable token file, a URL that is not http(s)://host[:port]).
std::optional<Connection> ResolveConnection(const ConnectionFlags& flags, std::string& error);

// The stub every service stub of one trustctl run shares.
std::shared_ptr<Tovri::Stub::AsyncApiStub> Connect(const Connection& connection);

}  // namespace Trustctl
