// Binding an implementation of a service interface to the framework: one
// AsyncApiMethodSignal per operation, in slot order, each connected to the
// operation's input filter, grouped in the framework's AsyncApiInterface.
//
// Generated code, per service (method descriptors, interface and stub are
// described in dral/client/method_invoker.hpp). Header, inside the service
// class:
//
//   class AsyncServiceBinder {
//    public:
//     static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
//         const std::shared_ptr<AsyncServiceInterface>& impl);
//     static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
//         const std::shared_ptr<AsyncServiceInterface>& impl,
//         const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
//   };
//   class AsyncServiceBinderHelper
//       : public ::Tovri::Provider::AsyncServiceBinderHelperBase<AsyncServiceInterface> {
//    public:
//     // One per operation, naming the Input's members in parameter order
//     // (none when the Input is ::Tovri::OperationInput).
//     using ListMethodBuilder = ::Tovri::Provider::MethodBuilder<ListMethod, &ListMethod::Input::filterSpec>;
//     using GetMethodBuilder = ::Tovri::Provider::MethodBuilder<GetMethod, &GetMethod::Input::provider>;
//     static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> Bind(
//         const std::shared_ptr<AsyncServiceInterface>& impl,
//         const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
//   };
//
// Source:
//
//   ... Svc::AsyncServiceBinder::BindImplementation(const std::shared_ptr<AsyncServiceInterface>& impl) {
//     return BindImplementation(impl, std::make_shared<::Tovri::L10n::Localizer>());
//   }
//   ... Svc::AsyncServiceBinder::BindImplementation(impl, localizer) {
//     return AsyncServiceBinderHelper::Bind(impl, localizer);
//   }
//   ... Svc::AsyncServiceBinderHelper::Bind(impl, localizer) {
//     return BindOperations(impl, localizer,                                  // slot order
//                           Slot<ListMethod, ListMethodBuilder>(&AsyncServiceInterface::List),
//                           Slot<GetMethod, GetMethodBuilder>(&AsyncServiceInterface::Get));
//   }
//
// Ownership: each signal owns its filter, which owns a shared pointer to the
// implementation, so the implementation lives as long as any signal.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <utility>

#include <dral/client/async_result.hpp>
#include <dral/provider/method_filter.hpp>
#include <dral/provider/method_signal.hpp>
#include <dral/runtime/native_to_definition.hpp>
#include <tovri/core/definition.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/core/type_info.hpp>

namespace Tovri {
namespace Provider {

// The definition of a native type (an Input, a result type, a standard
// error), derived afresh; for the descriptors' inputDef() and outputDef().
template <class T>
Data::DefinitionPtr DefinitionOf() {
  return Data::NativeToDefinitionAdapter::Derive<T>();
}

// The definitions of the declared standard errors, in declared order; for
// the descriptors' errorDefs().
template <class... Errors>
std::list<Data::DefinitionPtr> ErrorDefinitionsOf() {
  return std::list<Data::DefinitionPtr>{DefinitionOf<Errors>()...};
}

// Calls the implementation's operation through the pointer to member (a
// virtual call) with the Input's `Fields` in parameter order, then the
// activation and the result.
template <class Interface, class Pmf, class T, class Input, auto... Fields>
class MethodCall {
 public:
  MethodCall(Pmf pmf, std::shared_ptr<Interface> impl) : pmf_(pmf), impl_(std::move(impl)) {}

  void operator()(const Input& input, const std::shared_ptr<Core::AsyncActivation>& activation,
                  const AsyncResult<T, AsyncResultTerminateCbPolicy>& result) const {
    ((*impl_).*pmf_)(input.*Fields..., activation, result);
  }

 private:
  Pmf pmf_;
  std::shared_ptr<Interface> impl_;
};

// Builds the input filter of operation M; `Fields` are the members of
// M::Input in parameter order (none when M::Input is Tovri::OperationInput).
template <class M, auto... Fields>
struct MethodBuilder {
  using Input = typename M::Input;
  using ResultType = typename M::ResultCbType::ValueType;

  template <class Interface, class Pmf>
  using Filter = AsyncApiMethodFilter<MethodCall<Interface, Pmf, ResultType, Input, Fields...>, ResultType,
                                      Input, DirectFilterBinder>;

  // The localizer is not captured: the signal installs it per call.
  template <class Interface, class... Params>
  Filter<Interface, void (Interface::*)(Params...)> operator()(
      void (Interface::*pmf)(Params...), const std::shared_ptr<std::common_type_t<Interface>>& impl,
      const std::shared_ptr<L10n::Localizer>& /*localizer*/) const {
    using Call = MethodCall<Interface, void (Interface::*)(Params...), ResultType, Input, Fields...>;
    return Filter<Interface, void (Interface::*)(Params...)>(Call(pmf, impl));
  }
};

// A new signal for operation M (definitions derived in the order errors,
// output, input, then the name), connected to `filter`.
template <class M, class Filter>
std::shared_ptr<AsyncApiMethodSignal> GetApiMethodInstance(
    Filter&& filter, const std::shared_ptr<L10n::Localizer>& localizer) {
  const std::list<Data::DefinitionPtr> errors = M::errorDefs();
  const Data::DefinitionPtr output = M::outputDef();
  const Data::DefinitionPtr input = M::inputDef();
  const std::string name = M::methodName();
  std::shared_ptr<AsyncApiMethodSignal> signal =
      AsyncApiMethodSignal::GetInstance(name, input, output, errors, localizer);
  signal->Connect(std::forward<Filter>(filter));
  return signal;
}

// Base of every generated AsyncServiceBinderHelper.
template <class Interface>
class AsyncServiceBinderHelperBase {
 public:
  template <class M, class Filter>
  static std::shared_ptr<AsyncApiMethodSignal> GetApiMethodInstance(
      Filter&& filter, const std::shared_ptr<L10n::Localizer>& localizer) {
    return ::Tovri::Provider::GetApiMethodInstance<M>(std::forward<Filter>(filter), localizer);
  }

 protected:
  // One operation of the interface: its descriptor, its builder and the
  // pointer to the interface's member function.
  template <class M, class Builder, class Pmf>
  struct Operation {
    Pmf pmf;
  };
  template <class M, class Builder, class Pmf>
  static Operation<M, Builder, Pmf> Slot(Pmf pmf) {
    return Operation<M, Builder, Pmf>{pmf};
  }

  // The API interface of the service id TypeInfo<Interface>::name(), one
  // signal per operation in the order given.
  template <class... M, class... Builder, class... Pmf>
  static std::shared_ptr<const AsyncApiInterface> BindOperations(
      const std::shared_ptr<Interface>& impl, const std::shared_ptr<L10n::Localizer>& localizer,
      const Operation<M, Builder, Pmf>&... operations) {
    const auto interfaceId = Core::InterfaceIdentifier::GetInstance(Data::TypeInfo<Interface>::name());
    AsyncApiInterface::Methods methods;
    (methods.push_back(GetApiMethodInstance<M>(Builder()(operations.pmf, impl, localizer), localizer)), ...);
    return AsyncApiInterface::GetInstance(interfaceId, methods);
  }
};

}  // namespace Provider
}  // namespace Tovri
