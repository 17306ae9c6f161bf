// Serves the host-trust example's in-memory host (all seven services of the
// package, with made-up but realistic and fixed data) over HTTP on a free
// loopback port, for the curl examples of docs/wire.md. Prints "port N" once
// listening and serves until its standard input closes.
//
//   http_host_trust_server [--tls CERT KEY] [--tokens FILE]
//
// serves over TLS and asks for bearer tokens (the default roles) when given.
#include <iostream>
#include <memory>
#include <string>

#include <tovri/core/local_provider.hpp>
#include <tovri/http/server.hpp>

#include "host_model.hpp"
#include "provider.hpp"
#include "worker_pool.hpp"

int main(int argc, char** argv) {
  Tovri::Http::ServerOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--tls" && i + 2 < argc) {
      options.tls = Tovri::Http::TlsServerOptions{argv[i + 1], argv[i + 2], {}, false};
      i += 2;
    } else if (flag == "--tokens" && i + 1 < argc) {
      options.tokenFile = argv[++i];
    } else {
      std::cerr << "usage: http_host_trust_server [--tls CERT KEY] [--tokens FILE]\n";
      return 2;
    }
  }
  const auto host = host_trust::MakeExampleHost();
  const auto pool = std::make_shared<host_trust::WorkerPool>(2);
  const auto registry = std::make_shared<Tovri::Core::LocalProvider>();
  const auto services = host_trust::RegisterHostTrustServices(*registry, host, pool);
  if (services.size() != 7) {
    std::cerr << "host_trust_server: " << services.size() << " of 7 services registered\n";
    return 1;
  }
  Tovri::Http::Server server(registry, options);
  std::string error;
  if (!server.Start(error)) {
    std::cerr << "host_trust_server: " << error << '\n';
    return 1;
  }
  std::cout << "port " << server.BoundAddresses().front().port << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.Stop(std::chrono::milliseconds(1000));
  for (const auto& service : services) registry->Unregister(service);
  pool->Shutdown();
  return 0;
}
