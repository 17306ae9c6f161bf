// The client road of one operation: a stub packs the native arguments into
// the operation's Input, AsyncMethodInvoker::Invoke turns it into a value and
// hands it to the framework's api stub, and ResultWrapper turns the answer
// back into the native result and completes the caller's AsyncResult.
//
// Outcomes seen by the caller's AsyncResult:
//   input does not convert     -> error "com.corvane.tovri.std.errors.invalid_argument"
//                                 with the messages, before Invoke returns; no framework call
//   answer with an error value -> that error, unchanged
//   answer with neither        -> error with an empty pointer
//   output does not convert    -> error named "invalid_argument" (the short name) with the messages
//   progress report            -> callback with no value and no error; still open
// No exception is thrown for any of these.
//
// Generated code, per service class `<Name>Svc` (provider side in
// dral/provider/binder.hpp). Header:
//
//   class ProvidersSvc {
//    public:
//     class AsyncServiceInterface;
//     // One descriptor per operation.
//     class GetMethod {
//      public:
//       struct Input : ::Tovri::Data::BaseNative { std::string provider; /* AdapterHelper */ };
//                              // or: using Input = ::Tovri::OperationInput; (no parameters)
//       using Interface = AsyncServiceInterface;
//       using ResultCbType = ::Tovri::AsyncResult<std::shared_ptr<const Info>,
//                                                 ::Tovri::AsyncResultTerminateCbPolicy>;
//       static std::string methodName();                          // "get"
//       static ::Tovri::Data::DefinitionPtr inputDef();
//       static ::Tovri::Data::DefinitionPtr outputDef();
//       static std::list<::Tovri::Data::DefinitionPtr> errorDefs();
//     };
//     class AsyncServiceInterface {  // operations in slot order
//      public:
//       virtual void Get(const std::string& provider,
//                        const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
//                        const GetMethod::ResultCbType& result) = 0;
//       virtual ~AsyncServiceInterface();
//     };
//     class AsyncServiceStub : public AsyncServiceInterface {
//      public:
//       explicit AsyncServiceStub(std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub);
//       void Get(...) override;
//       ~AsyncServiceStub() override;
//      private:
//       std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub_;
//     };
//   };
//   // plus ::Tovri::Data::TypeInfo<ProvidersSvc::AsyncServiceInterface>::name()
//   // returning the service id, and TypeInfo<GetMethod::Input> as for any Input.
//
// Source:
//
//   std::string ProvidersSvc::GetMethod::methodName() { return "get"; }
//   DefinitionPtr ProvidersSvc::GetMethod::inputDef() { return ::Tovri::Provider::DefinitionOf<Input>(); }
//   DefinitionPtr ProvidersSvc::GetMethod::outputDef() {
//     return ::Tovri::Provider::DefinitionOf<ResultCbType::ValueType>();
//   }
//   std::list<DefinitionPtr> ProvidersSvc::GetMethod::errorDefs() {
//     return ::Tovri::Provider::ErrorDefinitionsOf<::Com::Corvane::Tovri::Std::Errors::NotFound, ...>();
//   }
//   void ProvidersSvc::AsyncServiceStub::Get(const std::string& provider, const std::shared_ptr<...>&
//   activation,
//                                            const GetMethod::ResultCbType& result) {
//     GetMethod::Input input;
//     input.provider = provider;
//     ::Tovri::Stub::AsyncMethodInvoker::Invoke<GetMethod>(input, activation, result, apiStub_);
//   }
//
// Threads: no locks. Identifiers, localizer and wrapper are new per call; the
// wrapper runs on whichever thread the framework answers from.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <utility>

#include <dral/client/async_result.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <tovri/core/error.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/stub.hpp>
#include <tovri/core/type_info.hpp>

namespace Tovri {
namespace Stub {

struct AsyncResultWrapper {
  // Error id of a returned value that does not convert to the native result.
  static const char* const kOutputConversionError;

  // Holds a copy of the caller's result R (an AsyncResult of T); called as
  // the framework's answer callback. The continuation is ignored.
  template <class T, class R>
  class ResultWrapper {
   public:
    explicit ResultWrapper(const R& result) : result_(result) {}

    void operator()(const std::shared_ptr<const Core::MethodResult>& answer, const Progress& progress,
                    Core::AsyncApiResultCb::Continuation&&) const {
      if (!answer) {
        result_.progress(progress);
        return;
      }
      if (answer->GetOutput() && !answer->GetError()) {
        T native{};
        std::list<BaseMessage> messages;
        if (Data::ValueToNativeAdapter::Adapt(answer->GetOutput(), native, messages)) {
          result_(std::move(native));
        } else {
          result_.error(Data::ErrorValue::Create(kOutputConversionError, messages));
        }
        return;
      }
      result_.error(answer->GetError());
    }

   private:
    R result_;
  };
};

struct AsyncMethodInvoker {
  // A new localizer pair for converting inputs: an empty Localizer, and the
  // locale "en_US" then "C" with time zone "Etc/UTC". The activation's own
  // localizer is never consulted.
  static L10n::RequestLocalizer MakeRequestLocalizer();

  // Invokes operation M of the service named by TypeInfo<M::Interface>. The
  // outcome always arrives through `result`; returns when the framework's
  // invocation returns. `apiStub` must be set.
  template <class M>
  static void Invoke(const typename M::Input& input, const std::shared_ptr<Core::AsyncActivation>& activation,
                     const typename M::ResultCbType& result, const std::shared_ptr<AsyncApiStub>& apiStub) {
    using ResultType = typename M::ResultCbType::ValueType;
    const auto interfaceId =
        Core::InterfaceIdentifier::GetInstance(Data::TypeInfo<typename M::Interface>::name());
    const auto methodId = Core::MethodIdentifier::GetInstance(interfaceId, M::methodName());

    std::list<BaseMessage> messages;
    Data::ValuePtr value;
    bool converted;
    {
      const L10n::RequestLocalizer localizer = MakeRequestLocalizer();
      converted = Data::NativeToValueAdapter::Adapt(input, value, messages, localizer);
    }
    if (!converted) {
      result.error(Data::ErrorValue::Create(Errors::kInvalidArgument, messages));
      return;
    }
    using Wrapper = AsyncResultWrapper::ResultWrapper<ResultType, typename M::ResultCbType>;
    const Core::AsyncApiResultCb answer{Wrapper(result)};
    apiStub->Invoke(methodId, value, activation, answer);
  }
};

}  // namespace Stub
}  // namespace Tovri
