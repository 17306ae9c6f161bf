// The options that describe a remote service (an attestation service or a
// key server): its address, the CAs its certificate is checked against,
// its group; shared by the two create subcommands.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <dral/tovri_bindings.hpp>

namespace Trustctl {

struct RemoteOptions {
  std::string host;
  int port = 0;  // 0: none given
  std::string caFile;
  std::string group;

  void AddTo(CLI::App& command);
  // The address and chain as the package carries them; false, with
  // `error`, when the CA file cannot be read or holds no certificate.
  bool Build(std::shared_ptr<const ::Com::Corvane::Morv::TrustedInfrastructure::NetworkAddress>& address,
             std::shared_ptr<const ::Com::Corvane::Morv::TrustedInfrastructure::X509CertChain>& chain,
             std::string& error) const;
};

// Filters shared by the two list subcommands.
struct RemoteFilter {
  std::vector<std::string> ids;
  std::vector<std::string> groups;
  void AddTo(CLI::App& command, const char* what);
};

}  // namespace Trustctl
