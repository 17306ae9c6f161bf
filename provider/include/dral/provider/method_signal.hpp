// The framework-facing method of one bound operation. It checks the incoming
// value against the input definition, installs the binding's localizer into
// the call's activation, calls its handler (the input filter, see
// method_filter.hpp) and checks whatever the handler answers against the
// output definition or the declared errors before answering the framework.
//
// Answers to the framework:
//   not connected             -> "com.corvane.tovri.std.errors.internal_server_error"
//                                with "tovri.provider.method.signal.not.connected"
//   input refused             -> the result ApiMethodHelper::ValidateInput made
//   handler answers an error  -> the result ApiMethodHelper::ValidateError made
//                                (an answer with both output and error is an error)
//   handler answers an output -> the result ApiMethodHelper::ValidateOutput made
//   neither, progress open    -> a progress report (empty result)
//   neither, progress final   -> a result with neither output nor error
//
// Threads: immutable once connected; any number of concurrent invocations,
// each with its own ValidateResultWrapper.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <tovri/core/definition.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Provider {

class AsyncApiMethodSignal : public AsyncApiMethod,
                             public std::enable_shared_from_this<AsyncApiMethodSignal> {
  struct Token {};

 public:
  using DefinitionList = std::list<Data::DefinitionPtr>;
  using Handler = std::function<void(const Data::ValuePtr& input,
                                     const std::shared_ptr<Core::AsyncActivation>& activation,
                                     const AsyncApiMethod::ResultCb& resultCb)>;

  // A new, unconnected signal holding copies of its arguments.
  static std::shared_ptr<AsyncApiMethodSignal> GetInstance(const std::string& name,
                                                           const Data::DefinitionPtr& inputDefinition,
                                                           const Data::DefinitionPtr& outputDefinition,
                                                           const DefinitionList& errorDefinitions,
                                                           const std::shared_ptr<L10n::Localizer>& localizer);

  AsyncApiMethodSignal(Token, std::string name, Data::DefinitionPtr inputDefinition,
                       Data::DefinitionPtr outputDefinition, DefinitionList errorDefinitions,
                       std::shared_ptr<L10n::Localizer> localizer);

  const std::string& methodName() const override;
  // Identifier, input and output definitions; error definitions are not part of it.
  std::shared_ptr<const Core::MethodDefinition> definition(
      const std::shared_ptr<const Core::InterfaceIdentifier>& interfaceId) const override;
  Data::DefinitionPtr inputDefinition() const override;
  Data::DefinitionPtr outputDefinition() const override;
  DefinitionList errorDefinitions() override;
  const DefinitionList& errorDefinitions() const override;
  // Must be called on a signal held by a std::shared_ptr (else std::bad_weak_ptr).
  void Invoke(const Data::ValuePtr& input, const std::shared_ptr<Core::AsyncActivation>& activation,
              const Core::AsyncApiResultCb& resultCb) const override;
  ~AsyncApiMethodSignal() override;

  // Replaces the handler. Done once, before the signal is shared.
  void Connect(Handler handler) noexcept { handler_ = std::move(handler); }
  bool IsConnected() const noexcept { return static_cast<bool>(handler_); }
  const std::shared_ptr<L10n::Localizer>& GetLocalizer() const noexcept { return localizer_; }

  // Checks one answer of the handler and passes it to the framework's
  // callback. Final answers (error, output, or an empty answer with final
  // progress) move the framework's callback out, so it answers once.
  class ValidateResultWrapper {
   public:
    ValidateResultWrapper(std::shared_ptr<const AsyncApiMethod> method, Core::AsyncApiResultCb resultCb)
        : method_(std::move(method)), resultCb_(std::move(resultCb)) {}

    void operator()(const boost::optional<Data::ValuePtr>& output,
                    const std::shared_ptr<const Data::ErrorValue>& error, const Progress& progress,
                    AsyncApiMethod::ResultContinuation&& continuation);

   private:
    Core::AsyncApiResultCb TakeResultCb();

    std::shared_ptr<const AsyncApiMethod> method_;
    Core::AsyncApiResultCb resultCb_;
  };

 private:
  std::string name_;
  Data::DefinitionPtr inputDefinition_;
  Data::DefinitionPtr outputDefinition_;
  DefinitionList errorDefinitions_;
  Handler handler_;
  std::shared_ptr<L10n::Localizer> localizer_;
};

}  // namespace Provider
}  // namespace Tovri
