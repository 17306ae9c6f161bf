#include "context.hpp"

namespace Trustctl {

Output& Context::Out() {
  if (!output_) {
    OutputOptions options;
    options.format = json ? Format::kJson : quiet ? Format::kQuiet : Format::kHuman;
    options.fullHex = full;
    options.colour = !json && !quiet && WantColour();
    output_ = std::make_unique<Output>(out_, options);
  }
  return *output_;
}

std::shared_ptr<Tovri::Stub::AsyncApiStub> Context::Api() {
  if (resolved_) return api_;
  resolved_ = true;
  std::string error;
  const auto settings = ResolveConnection(connection, error);
  if (!settings) {
    err_ << "trustctl: " << error << "\n";
    return nullptr;
  }
  api_ = Connect(*settings);
  return api_;
}

}  // namespace Trustctl
