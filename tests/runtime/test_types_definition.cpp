// The definition form of the test types' AdapterHelper, as generated.
#include "runtime/test_types.hpp"

namespace Dral {
namespace TestTypes {

using N2DHelper = ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>;

void Endpoint::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("host");
  h.AddField<long long>("port");
}

void PcrBank::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("algorithm");
  h.AddField<std::map<long long, std::vector<unsigned char>>>("pcrs");
}

void NativeDetails::AdapterHelper::AddFields(N2DHelper& h) { h.AddField<std::string>("key_store"); }

void ProviderInfo::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<ProviderType>("type");
  h.AddUnionCaseField<::Tovri::OptionalPtr<const NativeDetails>, ProviderInfoAnnotations::UnionTags, 0,
                      ::Tovri::Data::UnionCaseAnyEnumValue<ProviderInfoAnnotations::NativeInfoUnionCases>>(
      "native_info");
  h.AddUnionCaseField<
      boost::optional<std::string>, ProviderInfoAnnotations::UnionTags, 0,
      ::Tovri::Data::UnionCaseAnyEnumValue<ProviderInfoAnnotations::TrustAuthorityUrlUnionCases>>(
      "trust_authority_url");
}

void AllKinds::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("text");
  h.AddField<long long>("number");
  h.AddField<bool>("flag");
  h.AddField<std::vector<unsigned char>>("blob");
  h.AddField<::Tovri::SecretString>("secret");
  h.AddField<Color>("color");
  h.AddField<std::shared_ptr<const Endpoint>>("endpoint");
  h.AddField<::Tovri::OptionalPtr<const Endpoint>>("backup");
  h.AddField<boost::optional<std::string>>("comment");
  h.AddField<boost::optional<long long>>("limit");
  h.AddField<boost::optional<bool>>("enabled");
  h.AddField<boost::optional<std::vector<unsigned char>>>("digest");
  h.AddField<boost::optional<Color>>("tint");
  h.AddField<boost::optional<std::list<std::string>>>("aliases");
  h.AddField<std::list<std::shared_ptr<const Endpoint>>>("mirrors");
  h.AddField<std::list<std::string>>("tags");
  h.AddField<std::set<std::string>>("names");
  h.AddField<std::set<long long>>("numbers");
  h.AddField<std::set<Color>>("colors");
  h.AddField<std::shared_ptr<const PcrBank>>("bank");
  h.AddField<std::shared_ptr<const ProviderInfo>>("provider");
  h.AddField<std::shared_ptr<const ::Com::Corvane::Tovri::Std::LocalizableMessage>>("note");
}

void Node::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("name");
  h.AddField<::Tovri::OptionalPtr<const Node>>("next");
  h.AddField<std::list<std::shared_ptr<const Node>>>("children");
}

void WidgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::shared_ptr<const Endpoint>>("spec");
}

void WidgetsSvc::ListMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<::Tovri::OptionalPtr<const Endpoint>>("filter");
}

void WidgetsSvc::GetAllMethod::Input::AdapterHelper::AddFields(N2DHelper&) {}

void Route::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::shared_ptr<const Endpoint>>("from");
  h.AddField<std::shared_ptr<const Endpoint>>("to");
  h.AddField<boost::optional<std::set<std::string>>>("labels");
}

void RoutesSvc::CreateMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<std::string>("name");
  h.AddField<std::shared_ptr<const Route>>("spec");
}

void RoutesSvc::ListMethod::Input::AdapterHelper::AddFields(N2DHelper& h) {
  h.AddField<::Tovri::OptionalPtr<const Route>>("filter");
}

}  // namespace TestTypes
}  // namespace Dral
