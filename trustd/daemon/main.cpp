// trustd: the host-trust daemon. See docs/trustd.md.
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "config.hpp"
#include "daemon.hpp"
#include "log.hpp"

int main(int argc, char** argv) {
  CLI::App app{"trustd: serves the host's TPM, attestation and key-management configuration over HTTPS.",
               "trustd"};
  std::string configPath;
  bool check = false;
  app.add_option("-c,--config", configPath, "the configuration file (JSON, see docs/trustd.md)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_flag("--check", check, "read the configuration, report what is wrong with it, and exit");
  app.set_version_flag("--version", "trustd 1.0");
  app.footer(
      "Example:\n  trustd --config /etc/trustd/trustd.json\n\nSIGHUP reloads the token file; SIGTERM stops.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : Trustd::kExitUsage;
  }
  // TSS prints its own error lines on stderr; trustd logs what failed in
  // its own lines instead. An operator may still ask for them with TSS2_LOG.
  ::setenv("TSS2_LOG", "all+none", 0);

  auto config = Trustd::LoadConfig(configPath);
  if (!config) {
    Trustd::Log::Error("config", config.Error());
    return Trustd::kExitCannotStart;
  }
  if (check) {
    std::cout << configPath << ": ok\n";
    return 0;
  }
  return Trustd::RunDaemon(config.Value());
}
