#include "remote_options.hpp"

#include <fstream>
#include <sstream>

namespace Trustctl {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;

void RemoteOptions::AddTo(CLI::App& command) {
  command.add_option("--host", host, "its host name")->required();
  command.add_option("--port", port, "its port")->check(CLI::Range(1, 65535));
  command
      .add_option("--ca-file", caFile, "PEM file of the CA certificates its certificate is checked against")
      ->required()
      ->check(CLI::ExistingFile);
  command.add_option("--group", group, "the group it serves")->required();
}

bool RemoteOptions::Build(std::shared_ptr<const ti::NetworkAddress>& address,
                          std::shared_ptr<const ti::X509CertChain>& chain, std::string& error) const {
  auto wire = std::make_shared<ti::NetworkAddress>();
  wire->hostname = host;
  if (port != 0) wire->port = port;
  address = wire;
  std::ifstream in(caFile);
  std::ostringstream text;
  text << in.rdbuf();
  // One chain entry per PEM certificate, as written.
  auto pems = std::make_shared<ti::X509CertChain>();
  const std::string all = text.str();
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  for (std::size_t at = all.find(begin); at != std::string::npos; at = all.find(begin, at)) {
    const std::size_t stop = all.find(end, at);
    if (stop == std::string::npos) break;
    pems->certChain.push_back(all.substr(at, stop + end.size() - at) + "\n");
    at = stop + end.size();
  }
  if (pems->certChain.empty()) {
    error = caFile + " holds no PEM certificate";
    return false;
  }
  chain = pems;
  return true;
}

void RemoteFilter::AddTo(CLI::App& command, const char* what) {
  command.add_option("--id", ids, std::string("only these ") + what + " (repeatable)");
  command.add_option("--group", groups, "only these groups (repeatable)");
}

}  // namespace Trustctl
