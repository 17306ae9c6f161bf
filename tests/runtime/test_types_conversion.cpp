// The conversion forms of the test types' AdapterHelper, as generated.
#include "runtime/test_types.hpp"

namespace Dral {
namespace TestTypes {

using N2VHelper = ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>;
using V2NHelper = ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>;

void Endpoint::AdapterHelper::AddFields(N2VHelper& h, const Endpoint* obj) {
  h.AddField("host", &obj->host);
  h.AddField("port", &obj->port);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void Endpoint::AdapterHelper::AddFields(V2NHelper& h, Endpoint* obj) {
  h.AddFieldInt("host", &obj->host);
  h.AddFieldInt("port", &obj->port);
  static const ::boost::string_view kFieldNames[] = {"host", "port"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void PcrBank::AdapterHelper::AddFields(N2VHelper& h, const PcrBank* obj) {
  h.AddField("algorithm", &obj->algorithm);
  h.AddField("pcrs", &obj->pcrs);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void PcrBank::AdapterHelper::AddFields(V2NHelper& h, PcrBank* obj) {
  h.AddFieldInt("algorithm", &obj->algorithm);
  h.AddFieldInt("pcrs", &obj->pcrs);
  static const ::boost::string_view kFieldNames[] = {"algorithm", "pcrs"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void NativeDetails::AdapterHelper::AddFields(N2VHelper& h, const NativeDetails* obj) {
  h.AddField("key_store", &obj->keyStore);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void NativeDetails::AdapterHelper::AddFields(V2NHelper& h, NativeDetails* obj) {
  h.AddFieldInt("key_store", &obj->keyStore);
  static const ::boost::string_view kFieldNames[] = {"key_store"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void ProviderInfo::AdapterHelper::AddFields(N2VHelper& h, const ProviderInfo* obj) {
  h.AddField("type", &obj->type);
  h.AddField("native_info", &obj->nativeInfo);
  h.AddField("trust_authority_url", &obj->trustAuthorityUrl);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void ProviderInfo::AdapterHelper::AddFields(V2NHelper& h, ProviderInfo* obj) {
  h.AddFieldInt("type", &obj->type);
  h.AddField("native_info", &obj->nativeInfo);
  h.AddField("trust_authority_url", &obj->trustAuthorityUrl);
  static const ::boost::string_view kFieldNames[] = {"native_info", "trust_authority_url", "type"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void AllKinds::AdapterHelper::AddFields(N2VHelper& h, const AllKinds* obj) {
  h.AddField("text", &obj->text);
  h.AddField("number", &obj->number);
  h.AddField("flag", &obj->flag);
  h.AddField("blob", &obj->blob);
  h.AddField("secret", &obj->secret);
  h.AddField("color", &obj->color);
  h.AddField("endpoint", &obj->endpoint);
  h.AddField("backup", &obj->backup);
  h.AddField("comment", &obj->comment);
  h.AddField("limit", &obj->limit);
  h.AddField("enabled", &obj->enabled);
  h.AddField("digest", &obj->digest);
  h.AddField("tint", &obj->tint);
  h.AddField("aliases", &obj->aliases);
  h.AddField("mirrors", &obj->mirrors);
  h.AddField("tags", &obj->tags);
  h.AddField("names", &obj->names);
  h.AddField("numbers", &obj->numbers);
  h.AddField("colors", &obj->colors);
  h.AddField("bank", &obj->bank);
  h.AddField("provider", &obj->provider);
  h.AddField("note", &obj->note);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void AllKinds::AdapterHelper::AddFields(V2NHelper& h, AllKinds* obj) {
  h.AddFieldInt("text", &obj->text);
  h.AddFieldInt("number", &obj->number);
  h.AddFieldInt("flag", &obj->flag);
  h.AddFieldInt("blob", &obj->blob);
  h.AddFieldInt("secret", &obj->secret);
  h.AddFieldInt("color", &obj->color);
  h.AddField("endpoint", &obj->endpoint);
  h.AddField("backup", &obj->backup);
  h.AddField("comment", &obj->comment);
  h.AddField("limit", &obj->limit);
  h.AddField("enabled", &obj->enabled);
  h.AddField("digest", &obj->digest);
  h.AddField("tint", &obj->tint);
  h.AddField("aliases", &obj->aliases);
  h.AddFieldInt("mirrors", &obj->mirrors);
  h.AddFieldInt("tags", &obj->tags);
  h.AddFieldInt("names", &obj->names);
  h.AddFieldInt("numbers", &obj->numbers);
  h.AddFieldInt("colors", &obj->colors);
  h.AddField("bank", &obj->bank);
  h.AddField("provider", &obj->provider);
  h.AddField("note", &obj->note);
  static const ::boost::string_view kFieldNames[] = {
      "aliases", "backup",   "bank",   "blob",  "color",   "colors", "comment", "digest",
      "enabled", "endpoint", "flag",   "limit", "mirrors", "names",  "note",    "number",
      "numbers", "provider", "secret", "tags",  "text",    "tint"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void Node::AdapterHelper::AddFields(N2VHelper& h, const Node* obj) {
  h.AddField("name", &obj->name);
  h.AddField("next", &obj->next);
  h.AddField("children", &obj->children);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void Node::AdapterHelper::AddFields(V2NHelper& h, Node* obj) {
  h.AddFieldInt("name", &obj->name);
  h.AddField("next", &obj->next);
  h.AddFieldInt("children", &obj->children);
  static const ::boost::string_view kFieldNames[] = {"children", "name", "next"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void WidgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(N2VHelper& h, const Input* obj) {
  h.AddField("spec", &obj->spec);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void WidgetsSvc::CreateMethod::Input::AdapterHelper::AddFields(V2NHelper& h, Input* obj) {
  h.AddField("spec", &obj->spec);
  static const ::boost::string_view kFieldNames[] = {"spec"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void WidgetsSvc::ListMethod::Input::AdapterHelper::AddFields(N2VHelper& h, const Input* obj) {
  h.AddField("filter", &obj->filter);
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void WidgetsSvc::ListMethod::Input::AdapterHelper::AddFields(V2NHelper& h, Input* obj) {
  h.AddField("filter", &obj->filter);
  static const ::boost::string_view kFieldNames[] = {"filter"};
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}

void WidgetsSvc::GetAllMethod::Input::AdapterHelper::AddFields(N2VHelper& h, const Input* obj) {
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}

void WidgetsSvc::GetAllMethod::Input::AdapterHelper::AddFields(V2NHelper& h, Input* obj) {
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(h.GetSource(), obj->unknownFields);
}

}  // namespace TestTypes
}  // namespace Dral
