// The in-process invocation provider: API interfaces registered with it serve
// the calls of api stubs built over it, in the same process.
#pragma once

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include <tovri/core/invocation.hpp>
#include <tovri/core/provider.hpp>

namespace Tovri {
namespace Core {

// Routes each invocation by service id and method name to the registered
// method, on the caller's thread. An unknown service or method is answered
// with "com.corvane.tovri.std.errors.not_found" naming it. Registration and
// invocation are safe from several threads at once; a registered interface
// stays alive while a call into it runs, even if it is unregistered
// meanwhile.
class LocalProvider final : public ApiProvider {
 public:
  LocalProvider() = default;

  // Registers `api` under its interface name. False (and nothing changed)
  // when that name is already registered or `api` is null.
  bool Register(const std::shared_ptr<const Provider::AsyncApiInterface>& api);
  // Removes the interface of that name; false when there was none.
  bool Unregister(const std::string& interfaceName);
  // The registered interface of that name, or null.
  std::shared_ptr<const Provider::AsyncApiInterface> Find(const std::string& interfaceName) const;
  // Every registered interface, ordered by name: what a transport lists
  // for clients that discover the services it serves.
  std::vector<std::shared_ptr<const Provider::AsyncApiInterface>> Interfaces() const;

  void Invoke(const std::shared_ptr<const MethodIdentifier>& method, const Data::ValuePtr& input,
              const std::shared_ptr<AsyncActivation>& activation, const AsyncApiResultCb& resultCb) override;

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::shared_ptr<const Provider::AsyncApiInterface>, std::less<>> interfaces_;
};

}  // namespace Core
}  // namespace Tovri
