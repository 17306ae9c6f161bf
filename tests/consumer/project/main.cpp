// Uses each installed library the way an application would: a structure
// value from the core, the wire name of a standard type from the standard
// bindings, a generated type of the package converted from that value by
// the bindings, and that value through the transport's JSON shape. Exits
// non-zero, naming the check, on a mismatch.
#include <dral/tovri_bindings.hpp>
#include <tovri/http/lossless_json.hpp>

#include <cstdio>
#include <list>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main() {
  using Com::Corvane::Morv::TrustedInfrastructure::Kms::ProvidersSvc;
  using Tovri::Data::DataValue;
  using Tovri::Data::StructValue;
  using Tovri::Data::TypeInfo;

  std::list<Tovri::BaseMessage> messages;
  auto info = StructValue::GetInstance(TypeInfo<ProvidersSvc::NativeProviderInfo>::name());
  info->SetField("key_id", DataValue::Create<std::string>("key-1"));

  Tovri::Data::ValuePtr field;
  std::string keyId;
  Check(info->GetField("key_id", field, messages) && DataValue::Value<std::string>(*field, keyId, messages) &&
            keyId == "key-1",
        "field \"key_id\" does not read back as \"key-1\"");
  Check(!info->GetField("absent", field, messages) && messages.size() == 1,
        "an absent field is not reported");
  messages.clear();

  Check(TypeInfo<Com::Corvane::Tovri::Std::LocalizableMessage>::name() ==
            "com.corvane.tovri.std.localizable_message",
        "wrong wire name of the localizable message");
  Check(TypeInfo<ProvidersSvc::NativeProviderInfo>::name() ==
            "com.corvane.morv.trusted_infrastructure.kms.providers.native_provider_info",
        "wrong wire name of the native provider info");

  ProvidersSvc::NativeProviderInfo native;
  Check(Tovri::Data::ValueToNativeAdapter::Adapt(info, native, messages) && messages.empty(),
        "the structure value does not convert to NativeProviderInfo");
  Check(native.keyId == "key-1", "the converted NativeProviderInfo lost its key id");

  if (failures == 0) std::puts("consumer: ok");
  std::string error;
  const auto back =
      Tovri::Http::ReadLosslessJson(Tovri::Http::ToLosslessJson(*info), Tovri::Http::JsonLimits(), error);
  Check(back && Tovri::Data::Equal(*back, *info), "the transport's lossless JSON does not round-trip");

  return failures == 0 ? 0 : 1;
}
