// The provider side of the framework: the abstract method a binding
// implements, the API interface grouping a service's methods, and the checks
// applied to what crosses a method.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <tovri/core/definition.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Provider {

class AsyncApiMethod {
 public:
  // The answer callback of a method's handler: an output, or an error, with
  // a progress; with neither, a progress report (or, when the progress's
  // second and third fields are equal, an empty final answer). The
  // continuation, when set, asks for the next piece of a streamed answer.
  struct ResultCb;
  using ResultContinuation = std::function<void(std::shared_ptr<ResultCb>&&)>;
  using ResultFunction = std::function<void(const boost::optional<Data::ValuePtr>& output,
                                            const std::shared_ptr<const Data::ErrorValue>& error,
                                            const Progress& progress, ResultContinuation&& continuation)>;
  struct ResultCb : ResultFunction {
    using ResultFunction::ResultFunction;
    ResultCb() = default;
  };

  // Slot order is part of the contract.
  virtual const std::string& methodName() const = 0;
  virtual std::shared_ptr<const Core::MethodDefinition> definition(
      const std::shared_ptr<const Core::InterfaceIdentifier>& interfaceId) const = 0;
  virtual Data::DefinitionPtr inputDefinition() const = 0;
  virtual Data::DefinitionPtr outputDefinition() const = 0;
  virtual std::list<Data::DefinitionPtr> errorDefinitions() = 0;
  virtual const std::list<Data::DefinitionPtr>& errorDefinitions() const = 0;
  virtual void Invoke(const Data::ValuePtr& input, const std::shared_ptr<Core::AsyncActivation>& activation,
                      const Core::AsyncApiResultCb& resultCb) const = 0;
  virtual ~AsyncApiMethod();
};

// A service's methods under its interface identifier. Immutable.
class AsyncApiInterface {
 public:
  using Methods = std::list<std::shared_ptr<const AsyncApiMethod>>;

  static std::shared_ptr<const AsyncApiInterface> GetInstance(
      const std::shared_ptr<const Core::InterfaceIdentifier>& identifier, const Methods& methods);

  const std::shared_ptr<const Core::InterfaceIdentifier>& GetIdentifier() const noexcept {
    return identifier_;
  }
  // In the order given (a binding's slot order).
  const Methods& GetMethods() const noexcept { return methods_; }
  // The method of that wire name, or null.
  std::shared_ptr<const AsyncApiMethod> FindMethod(const std::string& name) const;

  AsyncApiInterface(std::shared_ptr<const Core::InterfaceIdentifier> identifier, Methods methods)
      : identifier_(std::move(identifier)), methods_(std::move(methods)) {}

 private:
  std::shared_ptr<const Core::InterfaceIdentifier> identifier_;
  Methods methods_;
};

// The checks a method signal applies. Each fills `result` with the answer to
// give: the checked answer when the check passes (true), the error answer
// that replaces it when it fails (false). Every result built here has its
// checked flag set.
struct ApiMethodHelper {
  // Input against the input definition. Failure: an
  // "com.corvane.tovri.std.errors.invalid_argument" error carrying the
  // mismatch messages and "tovri.invoke.invalid.input" naming the method.
  static bool ValidateInput(const std::string& methodName, const Data::DefinitionPtr& inputDefinition,
                            const Data::ValuePtr& input, std::shared_ptr<const Core::MethodResult>& result);
  // Output against the output definition. Failure: an
  // "com.corvane.tovri.std.errors.internal_server_error" error carrying the
  // mismatch messages.
  static bool ValidateOutput(const std::string& methodName, const Data::DefinitionPtr& outputDefinition,
                             const Data::ValuePtr& output, std::shared_ptr<const Core::MethodResult>& result);
  // Error against the declared errors. Passes a declared error (matched by
  // id, then checked against its definition) and the two errors the
  // framework and bindings raise themselves (invalid_argument,
  // internal_server_error). Anything else, or an empty error, becomes an
  // internal_server_error naming the refused id.
  static bool ValidateError(const std::string& methodName,
                            const std::list<Data::DefinitionPtr>& errorDefinitions,
                            const std::shared_ptr<const Data::ErrorValue>& error,
                            std::shared_ptr<const Core::MethodResult>& result);
};

}  // namespace Provider
}  // namespace Tovri
