// The client side of the framework: the api stub generated stubs call
// through.
#pragma once

#include <memory>

#include <tovri/core/invocation.hpp>

namespace Tovri {
namespace Stub {

// Sends invocations to an invocation provider. Immutable; one api stub may
// serve any number of concurrent calls.
class AsyncApiStub {
 public:
  // `defaultActivation` null: a new, empty activation.
  explicit AsyncApiStub(std::shared_ptr<Core::ApiProvider> provider,
                        std::shared_ptr<Core::AsyncActivation> defaultActivation = nullptr);

  // Passes the call to the provider. A null `activation` is replaced by a new
  // copy of the default activation (with its own execution context).
  void Invoke(const std::shared_ptr<const Core::MethodIdentifier>& method, const Data::ValuePtr& input,
              const std::shared_ptr<Core::AsyncActivation>& activation,
              const Core::AsyncApiResultCb& resultCb) const;

  const std::shared_ptr<Core::ApiProvider>& GetProvider() const noexcept { return provider_; }
  const std::shared_ptr<Core::AsyncActivation>& GetDefaultActivation() const noexcept {
    return defaultActivation_;
  }

 private:
  std::shared_ptr<Core::ApiProvider> provider_;
  std::shared_ptr<Core::AsyncActivation> defaultActivation_;
};

}  // namespace Stub
}  // namespace Tovri
