// A small service written as the generator writes one, its repetitive
// declarations folded into macros, for the client and provider tests.
// Service "com.corvane.test.gadgets", slots in order:
//   List()                        -> list of Summary      (no parameters)
//   Delete(string gadget)         -> Tovri::Void          (declares not_found)
//   Create(CreateSpec spec)       -> string               (declares already_exists, invalid_argument)
#pragma once

#include <list>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <dral/client/async_result.hpp>
#include <dral/client/method_invoker.hpp>
#include <dral/provider/binder.hpp>
#include <dral/runtime/native.hpp>
#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/core/stub.hpp>
#include <tovri/std/standard_types.hpp>

// The generator spells these out in every structure and operation.
#define DRAL_TEST_GADGETS_ADAPTER_HELPER(Type)                                                          \
  struct AdapterHelper {                                                                                \
    static void AddFields(                                                                              \
        ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,             \
        const Type* obj);                                                                               \
    static void AddFields(                                                                              \
        ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h, Type* obj); \
    static void AddFields(                                                                              \
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);  \
  };
#define DRAL_TEST_GADGETS_METHOD_STATICS           \
  static std::string methodName();                 \
  static ::Tovri::Data::DefinitionPtr inputDef();  \
  static ::Tovri::Data::DefinitionPtr outputDef(); \
  static std::list<::Tovri::Data::DefinitionPtr> errorDefs();

namespace Dral::Test {

// Service "com.corvane.test.gadgets".
class GadgetsSvc {
 public:
  class AsyncServiceInterface;

  // Structure "com.corvane.test.gadgets.endpoint".
  struct Endpoint : public ::Tovri::Data::BaseNative {
    std::string host;
    long long port = 0;

    DRAL_TEST_GADGETS_ADAPTER_HELPER(Endpoint)
  };

  // Structure "com.corvane.test.gadgets.summary".
  struct Summary : public ::Tovri::Data::BaseNative {
    std::string gadget;
    std::shared_ptr<const Endpoint> address;

    DRAL_TEST_GADGETS_ADAPTER_HELPER(Summary)
  };

  // Structure "com.corvane.test.gadgets.create_spec".
  struct CreateSpec : public ::Tovri::Data::BaseNative {
    std::string name;
    std::shared_ptr<const Endpoint> address;

    DRAL_TEST_GADGETS_ADAPTER_HELPER(CreateSpec)
  };

  // Operation "list".
  struct ListMethod {
    using Input = ::Tovri::OperationInput;
    using Interface = AsyncServiceInterface;
    using ResultCbType = ::Tovri::AsyncResult<std::list<std::shared_ptr<const Summary>>,
                                              ::Tovri::AsyncResultTerminateCbPolicy>;

    DRAL_TEST_GADGETS_METHOD_STATICS
  };

  // Operation "delete".
  struct DeleteMethod {
    struct Input : public ::Tovri::Data::BaseNative {
      std::string gadget;

      DRAL_TEST_GADGETS_ADAPTER_HELPER(Input)
    };
    using Interface = AsyncServiceInterface;
    using ResultCbType = ::Tovri::AsyncResult<::Tovri::Void, ::Tovri::AsyncResultTerminateCbPolicy>;

    DRAL_TEST_GADGETS_METHOD_STATICS
  };

  // Operation "create".
  struct CreateMethod {
    struct Input : public ::Tovri::Data::BaseNative {
      std::shared_ptr<const CreateSpec> spec;

      DRAL_TEST_GADGETS_ADAPTER_HELPER(Input)
    };
    using Interface = AsyncServiceInterface;
    using ResultCbType = ::Tovri::AsyncResult<std::string, ::Tovri::AsyncResultTerminateCbPolicy>;

    DRAL_TEST_GADGETS_METHOD_STATICS
  };

  class AsyncServiceInterface {
   public:
    virtual void List(const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                      const ListMethod::ResultCbType& result) = 0;
    virtual void Delete(const std::string& gadget,
                        const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                        const DeleteMethod::ResultCbType& result) = 0;
    virtual void Create(const std::shared_ptr<const CreateSpec>& spec,
                        const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                        const CreateMethod::ResultCbType& result) = 0;
    virtual ~AsyncServiceInterface();
  };

  class AsyncServiceStub : public AsyncServiceInterface {
   public:
    explicit AsyncServiceStub(std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub);
    void List(const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
              const ListMethod::ResultCbType& result) override;
    void Delete(const std::string& gadget, const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                const DeleteMethod::ResultCbType& result) override;
    void Create(const std::shared_ptr<const CreateSpec>& spec,
                const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                const CreateMethod::ResultCbType& result) override;
    ~AsyncServiceStub() override;

   private:
    std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub_;
  };

  class AsyncServiceBinder {
   public:
    static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
        const std::shared_ptr<AsyncServiceInterface>& impl);
    static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
        const std::shared_ptr<AsyncServiceInterface>& impl,
        const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
  };

  class AsyncServiceBinderHelper
      : public ::Tovri::Provider::AsyncServiceBinderHelperBase<AsyncServiceInterface> {
   public:
    using ListMethodBuilder = ::Tovri::Provider::MethodBuilder<ListMethod>;
    using DeleteMethodBuilder = ::Tovri::Provider::MethodBuilder<DeleteMethod, &DeleteMethod::Input::gadget>;
    using CreateMethodBuilder = ::Tovri::Provider::MethodBuilder<CreateMethod, &CreateMethod::Input::spec>;

    static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> Bind(
        const std::shared_ptr<AsyncServiceInterface>& impl,
        const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
  };
};

}  // namespace Dral::Test

#undef DRAL_TEST_GADGETS_ADAPTER_HELPER
#undef DRAL_TEST_GADGETS_METHOD_STATICS

namespace Tovri {
namespace Data {

template <>
struct TypeInfo<::Dral::Test::GadgetsSvc::AsyncServiceInterface> {
  static std::string name();
};

#define DRAL_TEST_GADGETS_TYPE_INFO(Type)                                                        \
  template <>                                                                                    \
  struct TypeInfo<Type> {                                                                        \
    static std::string name();                                                                   \
    static std::shared_ptr<Type> defaultInstance(const std::shared_ptr<const DataValue>& value); \
  };
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::Endpoint)
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::Summary)
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::CreateSpec)
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::DeleteMethod::Input)
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::CreateMethod::Input)
#undef DRAL_TEST_GADGETS_TYPE_INFO

namespace Validator {

#define DRAL_TEST_GADGETS_VALIDATION(Type)        \
  template <>                                     \
  struct Rules<Type> {                            \
    static bool Check(const Type& v, Checker& c); \
  };                                              \
  template <>                                     \
  bool isValid<Type>(const Type& v, Policy p, std::list<::Tovri::BaseMessage>& m);
DRAL_TEST_GADGETS_VALIDATION(::Dral::Test::GadgetsSvc::Endpoint)
DRAL_TEST_GADGETS_VALIDATION(::Dral::Test::GadgetsSvc::Summary)
DRAL_TEST_GADGETS_VALIDATION(::Dral::Test::GadgetsSvc::CreateSpec)
DRAL_TEST_GADGETS_VALIDATION(::Dral::Test::GadgetsSvc::DeleteMethod::Input)
DRAL_TEST_GADGETS_VALIDATION(::Dral::Test::GadgetsSvc::CreateMethod::Input)
#undef DRAL_TEST_GADGETS_VALIDATION

}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
