// Secrets trustctl sends (a key derivation key, an API client secret) come
// from a file, from standard input, or from a prompt on the terminal that
// does not echo; never from the command line, where other users and shell
// history would see them. They are never printed back.
#pragma once

#include <optional>
#include <string>

#include <tovri/core/secret_string.hpp>

namespace Trustctl {

struct SecretSource {
  std::optional<std::string> file;  // --<name>-file FILE
  bool fromStdin = false;           // --<name>-stdin
};

// The secret without its trailing line end; `what` names it in the prompt
// and in errors. Without a file or --stdin, prompts when standard input is
// a terminal and fails otherwise.
std::optional<Tovri::SecretString> ReadSecret(const SecretSource& source, const std::string& what,
                                              std::string& error);

}  // namespace Trustctl
