#include "provider/gadgets_svc.hpp"

namespace Dral::Test {
namespace {
using N2VHelper = ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>;
using V2NHelper = ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>;
using N2DHelper = ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>;
namespace StdErrors = ::Com::Corvane::Tovri::Std::Errors;
}  // namespace

// The generator writes these out for every operation.
#define DRAL_TEST_GADGETS_METHOD(Method, name, ...)                    \
  std::string GadgetsSvc::Method::methodName() { return name; }        \
  ::Tovri::Data::DefinitionPtr GadgetsSvc::Method::inputDef() {        \
    return ::Tovri::Provider::DefinitionOf<Input>();                   \
  }                                                                    \
  ::Tovri::Data::DefinitionPtr GadgetsSvc::Method::outputDef() {       \
    return ::Tovri::Provider::DefinitionOf<ResultCbType::ValueType>(); \
  }                                                                    \
  std::list<::Tovri::Data::DefinitionPtr> GadgetsSvc::Method::errorDefs() { return __VA_ARGS__; }

void GadgetsSvc::Endpoint::AdapterHelper::AddFields(N2VHelper& h, const Endpoint* obj) {
  h.AddField("host", &obj->host);
  h.AddField("port", &obj->port);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void GadgetsSvc::Endpoint::AdapterHelper::AddFields(V2NHelper& h, Endpoint* obj) {
  h.AddFieldInt("host", &obj->host);
  h.AddFieldInt("port", &obj->port);
  static const ::boost::string_view kFieldNames[] = {"host", "port"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void GadgetsSvc::Endpoint::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("host");
  h.AddField<long long>("port");
}

void GadgetsSvc::Summary::AdapterHelper::AddFields(N2VHelper& h, const Summary* obj) {
  h.AddField("gadget", &obj->gadget);
  h.AddField("address", &obj->address);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void GadgetsSvc::Summary::AdapterHelper::AddFields(V2NHelper& h, Summary* obj) {
  h.AddFieldInt("gadget", &obj->gadget);
  h.AddField("address", &obj->address);
  static const ::boost::string_view kFieldNames[] = {"address", "gadget"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void GadgetsSvc::Summary::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("gadget");
  h.AddField<std::shared_ptr<const Endpoint>>("address");
}

void GadgetsSvc::CreateSpec::AdapterHelper::AddFields(N2VHelper& h, const CreateSpec* obj) {
  h.AddField("name", &obj->name);
  h.AddField("address", &obj->address);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void GadgetsSvc::CreateSpec::AdapterHelper::AddFields(V2NHelper& h, CreateSpec* obj) {
  h.AddFieldInt("name", &obj->name);
  h.AddField("address", &obj->address);
  static const ::boost::string_view kFieldNames[] = {"address", "name"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void GadgetsSvc::CreateSpec::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("name");
  h.AddField<std::shared_ptr<const Endpoint>>("address");
}

DRAL_TEST_GADGETS_METHOD(ListMethod, "list", ::Tovri::Provider::ErrorDefinitionsOf<>())

void GadgetsSvc::DeleteMethod::Input::AdapterHelper::AddFields(N2VHelper& h, const Input* obj) {
  h.AddField("gadget", &obj->gadget);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void GadgetsSvc::DeleteMethod::Input::AdapterHelper::AddFields(V2NHelper& h, Input* obj) {
  h.AddFieldInt("gadget", &obj->gadget);
  static const ::boost::string_view kFieldNames[] = {"gadget"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void GadgetsSvc::DeleteMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("gadget");
}

DRAL_TEST_GADGETS_METHOD(DeleteMethod, "delete", ::Tovri::Provider::ErrorDefinitionsOf<StdErrors::NotFound>())

void GadgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(N2VHelper& h, const Input* obj) {
  h.AddField("spec", &obj->spec);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void GadgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(V2NHelper& h, Input* obj) {
  h.AddField("spec", &obj->spec);
  static const ::boost::string_view kFieldNames[] = {"spec"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void GadgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::shared_ptr<const CreateSpec>>("spec");
}

DRAL_TEST_GADGETS_METHOD(
    CreateMethod, "create",
    ::Tovri::Provider::ErrorDefinitionsOf<StdErrors::AlreadyExists, StdErrors::InvalidArgument>())

GadgetsSvc::AsyncServiceInterface::~AsyncServiceInterface() = default;

GadgetsSvc::AsyncServiceStub::AsyncServiceStub(std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub)
    : apiStub_(std::move(apiStub)) {}

GadgetsSvc::AsyncServiceStub::~AsyncServiceStub() = default;

void GadgetsSvc::AsyncServiceStub::List(const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                                        const ListMethod::ResultCbType& result) {
  ListMethod::Input input;
  ::Tovri::Stub::AsyncMethodInvoker::Invoke<ListMethod>(input, activation, result, apiStub_);
}

void GadgetsSvc::AsyncServiceStub::Delete(const std::string& gadget,
                                          const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                                          const DeleteMethod::ResultCbType& result) {
  DeleteMethod::Input input;
  input.gadget = gadget;
  ::Tovri::Stub::AsyncMethodInvoker::Invoke<DeleteMethod>(input, activation, result, apiStub_);
}

void GadgetsSvc::AsyncServiceStub::Create(const std::shared_ptr<const CreateSpec>& spec,
                                          const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation,
                                          const CreateMethod::ResultCbType& result) {
  CreateMethod::Input input;
  input.spec = spec;
  ::Tovri::Stub::AsyncMethodInvoker::Invoke<CreateMethod>(input, activation, result, apiStub_);
}

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface>
GadgetsSvc::AsyncServiceBinder::BindImplementation(const std::shared_ptr<AsyncServiceInterface>& impl) {
  return BindImplementation(impl, std::make_shared<::Tovri::L10n::Localizer>());
}

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface>
GadgetsSvc::AsyncServiceBinder::BindImplementation(
    const std::shared_ptr<AsyncServiceInterface>& impl,
    const std::shared_ptr<::Tovri::L10n::Localizer>& localizer) {
  return AsyncServiceBinderHelper::Bind(impl, localizer);
}

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> GadgetsSvc::AsyncServiceBinderHelper::Bind(
    const std::shared_ptr<AsyncServiceInterface>& impl,
    const std::shared_ptr<::Tovri::L10n::Localizer>& localizer) {
  return BindOperations(impl, localizer, Slot<ListMethod, ListMethodBuilder>(&AsyncServiceInterface::List),
                        Slot<DeleteMethod, DeleteMethodBuilder>(&AsyncServiceInterface::Delete),
                        Slot<CreateMethod, CreateMethodBuilder>(&AsyncServiceInterface::Create));
}

#undef DRAL_TEST_GADGETS_METHOD

}  // namespace Dral::Test

namespace Tovri::Data {

std::string TypeInfo<::Dral::Test::GadgetsSvc::AsyncServiceInterface>::name() {
  return "com.corvane.test.gadgets";
}

#define DRAL_TEST_GADGETS_TYPE_INFO(Type, Name)                                                    \
  std::string TypeInfo<Type>::name() { return Name; }                                              \
  std::shared_ptr<Type> TypeInfo<Type>::defaultInstance(const std::shared_ptr<const DataValue>&) { \
    return std::make_shared<Type>();                                                               \
  }
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::Endpoint, "com.corvane.test.gadgets.endpoint")
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::Summary, "com.corvane.test.gadgets.summary")
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::CreateSpec, "com.corvane.test.gadgets.create_spec")
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::DeleteMethod::Input,
                            TypeInfo<::Tovri::OperationInput>::name())
DRAL_TEST_GADGETS_TYPE_INFO(::Dral::Test::GadgetsSvc::CreateMethod::Input,
                            TypeInfo<::Tovri::OperationInput>::name())
#undef DRAL_TEST_GADGETS_TYPE_INFO

namespace Validator {

using ::Dral::Test::GadgetsSvc;

bool Rules<GadgetsSvc::Endpoint>::Check(const GadgetsSvc::Endpoint& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::Test::GadgetsSvc::Endpoint");
}

bool Rules<GadgetsSvc::Summary>::Check(const GadgetsSvc::Summary& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::Test::GadgetsSvc::Summary") && c.DescendRequired(v.address);
}

bool Rules<GadgetsSvc::CreateSpec>::Check(const GadgetsSvc::CreateSpec& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::Test::GadgetsSvc::CreateSpec") && c.DescendRequired(v.address);
}

bool Rules<GadgetsSvc::DeleteMethod::Input>::Check(const GadgetsSvc::DeleteMethod::Input& v, Checker& c) {
  return c.CheckInputUndeclaredFields(v, "::Dral::Test::GadgetsSvc::DeleteMethod::Input",
                                      "::Dral::Test::GadgetsSvc::Delete");
}

bool Rules<GadgetsSvc::CreateMethod::Input>::Check(const GadgetsSvc::CreateMethod::Input& v, Checker& c) {
  static constexpr const char* kOperation = "::Dral::Test::GadgetsSvc::Create";
  return c.CheckInputUndeclaredFields(v, "::Dral::Test::GadgetsSvc::CreateMethod::Input", kOperation) &&
         c.DescendParameter(v.spec, kOperation);
}

#define DRAL_TEST_GADGETS_IS_VALID(Type)                                            \
  template <>                                                                       \
  bool isValid<Type>(const Type& v, Policy p, std::list<::Tovri::BaseMessage>& m) { \
    return Validate(v, p, m);                                                       \
  }
DRAL_TEST_GADGETS_IS_VALID(GadgetsSvc::Endpoint)
DRAL_TEST_GADGETS_IS_VALID(GadgetsSvc::Summary)
DRAL_TEST_GADGETS_IS_VALID(GadgetsSvc::CreateSpec)
DRAL_TEST_GADGETS_IS_VALID(GadgetsSvc::DeleteMethod::Input)
DRAL_TEST_GADGETS_IS_VALID(GadgetsSvc::CreateMethod::Input)
#undef DRAL_TEST_GADGETS_IS_VALID

}  // namespace Validator
}  // namespace Tovri::Data
