// What every trustctl subcommand shares: the settings from the global
// flags, the output, and the stub (made on first use, so that --help and
// usage errors need no server).
#pragma once

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "call.hpp"
#include "connection.hpp"
#include "json_output.hpp"
#include "output.hpp"

namespace Trustctl {

class Context {
 public:
  Context(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  ConnectionFlags connection;
  bool json = false;
  bool quiet = false;
  bool full = false;
  int status = kOk;

  std::ostream& Err() { return err_; }
  Output& Out();
  // Null, with the reason on stderr, when the settings are unusable.
  std::shared_ptr<Tovri::Stub::AsyncApiStub> Api();

  // Runs one operation: calls `call(api, done)`, then on success writes the
  // value as JSON (--json) or with `show(output, value)`; on a refusal
  // reports it. Sets `status`.
  template <class Method, class Call, class Show>
  void Run(Call call, Show show) {
    const auto api = Api();
    if (!api) {
      status = kUsage;
      return;
    }
    auto answer = Await<Method>([&](const auto& done) { call(api, done); });
    if (!answer.value) {
      status = Report(answer.error, err_);
      return;
    }
    if (json) {
      status = PrintJson(out_, err_, *answer.value) ? kOk : kFailed;
      return;
    }
    status = kOk;  // `show` may still find fault
    show(Out(), *answer.value);
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<Output> output_;
  std::shared_ptr<Tovri::Stub::AsyncApiStub> api_;
  bool resolved_ = false;
};

// The subcommand groups; each adds its subcommands to `app`.
void AddTpmCommands(CLI::App& app, Context& context);
void AddAttestationCommands(CLI::App& app, Context& context);
void AddKmsCommands(CLI::App& app, Context& context);

}  // namespace Trustctl
