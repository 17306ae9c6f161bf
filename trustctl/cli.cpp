#include "cli.hpp"

#include <fstream>

#include <CLI/CLI.hpp>

#include "context.hpp"

namespace {

// The bash completion script: asks trustctl itself for the words that may
// follow, so it never falls out of step with the commands.
constexpr const char* kBashCompletion = R"(# bash completion for trustctl
_trustctl() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local words
  words=$(trustctl __complete "${COMP_WORDS[@]:1:COMP_CWORD-1}" 2>/dev/null)
  COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -o default -F _trustctl trustctl
)";

// The subcommands and options valid after `words` (the words typed so far,
// options and their values skipped).
void Complete(const CLI::App& app, const std::vector<std::string>& words, std::ostream& out) {
  const CLI::App* level = &app;
  for (const std::string& word : words) {
    if (word.empty() || word[0] == '-') continue;
    for (const CLI::App* sub : level->get_subcommands({})) {
      if (sub->get_name() == word) {
        level = sub;
        break;
      }
    }
  }
  for (const CLI::App* sub : level->get_subcommands({}))
    if (!sub->get_group().empty() && sub->get_name()[0] != '_') out << sub->get_name() << "\n";
  for (const CLI::Option* option : level->get_options({}))
    for (const std::string& name : option->get_lnames()) out << "--" << name << "\n";
}

}  // namespace

namespace Trustctl {

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Context context(out, err);
  CLI::App app{"trustctl: manage a host's trust (TPMs, attestation, key management) through trustd.",
               "trustctl"};
  app.require_subcommand(1);
  app.add_option("--server", context.connection.server, "trustd's URL (https://127.0.0.1:8443)");
  app.add_option("--token-file", context.connection.tokenFile, "file holding the bearer token (mode 600)");
  app.add_option("--cacert", context.connection.cacert,
                 "PEM file of the CA that issued trustd's certificate");
  app.add_option("--timeout", context.connection.timeoutSeconds, "seconds a call may take (30)")
      ->check(CLI::Range(1, 3600));
  auto* json = app.add_flag("--json", context.json, "print the answer as the transport's natural JSON");
  auto* quiet =
      app.add_flag("-q,--quiet", context.quiet, "print only identifiers (lists, creates), or nothing");
  json->excludes(quiet);
  app.add_flag("--full", context.full, "print wide hex values in full");
  app.footer(
      "Examples:\n"
      "  trustctl --server https://host.example:8443 --cacert ca.pem --token-file token tpm list\n"
      "  trustctl kms providers list --json | jq '.[] | select(.available | not) | .provider'\n\n"
      "Settings come from the flags, else TRUSTCTL_SERVER, TRUSTCTL_TOKEN_FILE and TRUSTCTL_CACERT, else "
      "the\n"
      "config file ($TRUSTCTL_CONFIG or ~/.config/trustctl/config.json).\n"
      "Exit status: 0 ok, 1 failed, 2 usage, 3 not found, 4 already exists, 5 invalid argument,\n"
      "6 unauthenticated or unauthorized, 7 unreachable, 8 not possible now.");

  AddTpmCommands(app, context);
  AddAttestationCommands(app, context);
  AddKmsCommands(app, context);

  CLI::App* completion = app.add_subcommand("completion", "print the shell completion script");
  std::string shell = "bash";
  std::string completionFile;
  completion->add_option("shell", shell, "the shell")->check(CLI::IsMember({"bash"}));
  completion->add_option("-o,--output", completionFile, "write it to this file instead");
  completion->footer("Example:\n  source <(trustctl completion bash)");
  completion->callback([&] {
    if (completionFile.empty()) {
      out << kBashCompletion;
      return;
    }
    std::ofstream file(completionFile);
    file << kBashCompletion;
    if (!file) context.status = kFailed;
  });

  std::vector<std::string> completeWords;
  CLI::App* complete = app.add_subcommand("__complete", "")->group("");
  complete->add_option("words", completeWords);
  complete->allow_extras()->prefix_command();
  complete->callback([&] {
    std::vector<std::string> words = completeWords;
    for (const auto& extra : complete->remaining()) words.push_back(extra);
    Complete(app, words, out);
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? kOk : kUsage;
  }
  return context.status;
}

}  // namespace Trustctl
