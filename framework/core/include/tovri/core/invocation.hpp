// What an invocation is made of: method identifiers and definitions, the
// per-call activation, the result record and the answer callback, and the
// invocation provider that routes calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <tovri/core/definition.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Core {

// Names an API interface (a service id). A new instance on every call.
class InterfaceIdentifier {
 public:
  static std::shared_ptr<const InterfaceIdentifier> GetInstance(const std::string& name);
  const std::string& GetName() const noexcept { return name_; }
  explicit InterfaceIdentifier(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

// Names one method of an interface. A new instance on every call.
class MethodIdentifier {
 public:
  static std::shared_ptr<const MethodIdentifier> GetInstance(
      const std::shared_ptr<const InterfaceIdentifier>& interfaceId, const std::string& name);
  const std::shared_ptr<const InterfaceIdentifier>& GetInterface() const noexcept { return interface_; }
  const std::string& GetName() const noexcept { return name_; }
  MethodIdentifier(std::shared_ptr<const InterfaceIdentifier> interfaceId, std::string name)
      : interface_(std::move(interfaceId)), name_(std::move(name)) {}

 private:
  std::shared_ptr<const InterfaceIdentifier> interface_;
  std::string name_;
};

// Equal when interface names and method names are equal.
bool operator==(const MethodIdentifier& a, const MethodIdentifier& b) noexcept;
inline bool operator!=(const MethodIdentifier& a, const MethodIdentifier& b) noexcept { return !(a == b); }

// A method's identity with its input and output definitions.
class MethodDefinition {
 public:
  static std::shared_ptr<const MethodDefinition> GetInstance(
      std::shared_ptr<const MethodIdentifier> identifier, Data::DefinitionPtr input,
      Data::DefinitionPtr output);
  const std::shared_ptr<const MethodIdentifier>& GetIdentifier() const noexcept { return identifier_; }
  const Data::DefinitionPtr& GetInputDefinition() const noexcept { return input_; }
  const Data::DefinitionPtr& GetOutputDefinition() const noexcept { return output_; }
  MethodDefinition(std::shared_ptr<const MethodIdentifier> identifier, Data::DefinitionPtr input,
                   Data::DefinitionPtr output)
      : identifier_(std::move(identifier)), input_(std::move(input)), output_(std::move(output)) {}

 private:
  std::shared_ptr<const MethodIdentifier> identifier_;
  Data::DefinitionPtr input_;
  Data::DefinitionPtr output_;
};

// The final answer of a call: an output or an error. `checked` records that
// the answer went through the method's definitions (every result built by a
// method signal or the framework's validation helpers has it set).
class MethodResult {
 public:
  static std::shared_ptr<const MethodResult> GetInstance(Data::ValuePtr output,
                                                         std::shared_ptr<const Data::ErrorValue> error,
                                                         bool checked = true);
  virtual ~MethodResult();

  const Data::ValuePtr& GetOutput() const noexcept { return output_; }
  const std::shared_ptr<const Data::ErrorValue>& GetError() const noexcept { return error_; }
  bool IsChecked() const noexcept { return checked_; }

  MethodResult(Data::ValuePtr output, std::shared_ptr<const Data::ErrorValue> error, bool checked)
      : output_(std::move(output)), error_(std::move(error)), checked_(checked) {}

 private:
  Data::ValuePtr output_;
  std::shared_ptr<const Data::ErrorValue> error_;
  bool checked_;
};

// One entry of a call's security context (an authenticated principal, a
// token...): a scheme and its properties.
struct SecurityContextEntry {
  std::string scheme;
  std::map<std::string, std::string> properties;
};

// Mutable per-call context; copied, never shared, when an activation is
// copied.
class ExecutionContext {
 public:
  using OptionalStringMap = std::map<std::string, boost::optional<std::string>>;
  using SecurityMap = std::map<std::string, SecurityContextEntry>;

  virtual ~ExecutionContext();

  OptionalStringMap applicationData;  // application-defined entries
  OptionalStringMap propagated;       // entries forwarded to downstream calls
  SecurityMap security;
};

// The context of one call. Copying an activation gives the copy a new
// execution context copied from the source's, shares the value, localizer
// and locale, copies the property map and both callbacks, and resets the
// call sequence number to zero: what one call changes in its execution
// context never reaches the activation it was copied from.
class AsyncActivation {
 public:
  AsyncActivation();
  AsyncActivation(const AsyncActivation& other);
  AsyncActivation& operator=(const AsyncActivation& other);
  ~AsyncActivation();

  // The localizer and locale to render this call's errors with: this
  // activation's when its localizer is set and not empty and a locale is set;
  // otherwise the framework's default request localizer.
  L10n::RequestLocalizer GetErrorRequestLocalizer() const;

  std::shared_ptr<ExecutionContext> executionContext;
  Data::ValuePtr value;  // caller-supplied opaque data
  std::map<std::string, std::string> properties;
  std::shared_ptr<L10n::Localizer> localizer;
  std::shared_ptr<L10n::LocaleSpec> localeSpec;
  std::function<void()> onCancel;    // asks the implementation to stop early
  std::function<void()> onComplete;  // told when the call has answered
  std::uint64_t sequence = 0;        // position of the call in its session
};

// The framework's answer callback. Called with a final result, or with an
// empty result pointer for a progress report. Once the function has returned
// from a final result the callback empties itself, releasing whatever the
// function held; a function that throws leaves it set. The callback must
// outlive each of its calls.
class AsyncApiResultCb {
 public:
  using Continuation = std::function<void(std::shared_ptr<AsyncApiResultCb>&&)>;
  using Function = std::function<void(const std::shared_ptr<const MethodResult>& result,
                                      const Progress& progress, Continuation&& continuation)>;

  AsyncApiResultCb() = default;
  template <class F, class = std::enable_if_t<!std::is_same<std::decay_t<F>, AsyncApiResultCb>::value>>
  AsyncApiResultCb(F&& function) : function_(std::forward<F>(function)) {}  // NOLINT

  explicit operator bool() const noexcept { return static_cast<bool>(function_); }

  // Throws std::bad_function_call when empty.
  void operator()(const std::shared_ptr<const MethodResult>& result, const Progress& progress,
                  Continuation&& continuation = Continuation()) const;

 private:
  // The calls running on this object (nested ones included) and whether one
  // delivered a final answer; a copy starts afresh.
  struct CallState {
    int calls = 0;
    bool final = false;
    CallState() = default;
    CallState(const CallState&) noexcept {}
    CallState& operator=(const CallState&) noexcept { return *this; }
  };

  mutable Function function_;
  mutable CallState state_;
};

// Routes invocations to the methods that serve them.
class ApiProvider {
 public:
  virtual ~ApiProvider();
  virtual void Invoke(const std::shared_ptr<const MethodIdentifier>& method, const Data::ValuePtr& input,
                      const std::shared_ptr<AsyncActivation>& activation,
                      const AsyncApiResultCb& resultCb) = 0;
};

}  // namespace Core
}  // namespace Tovri
