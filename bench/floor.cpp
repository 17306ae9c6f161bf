#include "floor.hpp"

#include <cstddef>
#include <string>

namespace DralBench {
namespace Floor {
namespace {

using ::Tovri::Data::BlobValue;
using ::Tovri::Data::BooleanValue;
using ::Tovri::Data::CompoundValue;
using ::Tovri::Data::IntegerValue;
using ::Tovri::Data::ListValue;
using ::Tovri::Data::OptionalValue;
using ::Tovri::Data::StaticName;
using ::Tovri::Data::StringValue;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;

// Names are built once and never destroyed, as hand-written code would keep
// them, so values refer to them (StaticName) instead of copying them.
const std::string& kTpmInfoName =
    *new std::string("com.corvane.morv.trusted_infrastructure.hardware.tpm.info");
const std::string& kPcrBankName =
    *new std::string("com.corvane.morv.trusted_infrastructure.hardware.tpm.pcr_bank");
const std::string& kSummaryName =
    *new std::string("com.corvane.morv.trusted_infrastructure.kms.providers.summary");
const std::string& kMessageName = *new std::string("com.corvane.tovri.std.localizable_message");
const std::string& kMapEntryName = *new std::string("map-entry");
const std::string& kUnknownFieldsName = *new std::string("unknownFields");

const std::string& kMajorVersion = *new std::string("major_version");
const std::string& kMinorVersion = *new std::string("minor_version");
const std::string& kActive = *new std::string("active");
const std::string& kManufacturer = *new std::string("manufacturer");
const std::string& kModel = *new std::string("model");
const std::string& kFirmwareVersion = *new std::string("firmware_version");
const std::string& kBanks = *new std::string("banks");
const std::string& kAlgorithm = *new std::string("algorithm");
const std::string& kPcrs = *new std::string("pcrs");
const std::string& kKey = *new std::string("key");
const std::string& kValue = *new std::string("value");
const std::string& kProvider = *new std::string("provider");
const std::string& kAvailable = *new std::string("available");
const std::string& kHealth = *new std::string("health");
const std::string& kDetails = *new std::string("details");
const std::string& kType = *new std::string("type");
const std::string& kId = *new std::string("id");
const std::string& kDefaultMessage = *new std::string("default_message");
const std::string& kArgs = *new std::string("args");
const std::string& kLocalized = *new std::string("localized");

// --- writing ----------------------------------------------------------------

// An enumeration constant's value, one shared value per constant (as the
// adapters keep them); a text outside the constants gets its own.
template <class E>
ValuePtr EnumValue(const E& constant) {
  static const ValuePtr* const values = [] {
    std::size_t count = 0;
    while (E::Strings::values[count]) ++count;
    auto* table = new ValuePtr[count];
    for (std::size_t i = 0; i < count; ++i)
      table[i] = std::make_shared<const StringValue>(E::Strings::values[i]);
    return table;
  }();
  if (constant.IsUnknown() && !constant.text().empty()) return StringValue::GetInstance(constant.text());
  return values[constant.raw()];
}

ValuePtr OptionalString(const boost::optional<std::string>& text) {
  return text ? OptionalValue::GetInstance(StringValue::GetInstance(*text)) : OptionalValue::Unset();
}

void WriteBack(const ::Tovri::Data::BaseNative& native, StructValue& out) {
  if (!native.unknownFields) return;
  for (const auto& field : native.unknownFields->GetFields()) out.SetField(field.first, field.second);
}

ValuePtr BankValue(const PcrBank& bank) {
  auto value = StructValue::GetInstance(StaticName(kPcrBankName), 2);
  value->SetField(StaticName(kAlgorithm), EnumValue(bank.algorithm));
  auto pcrs = ListValue::GetInstance(ListValue::kMapKind);
  for (const auto& pcr : bank.pcrs) {
    auto entry = StructValue::GetInstance(StaticName(kMapEntryName), 2);
    entry->SetField(StaticName(kKey), IntegerValue::GetInstance(pcr.first));
    entry->SetField(StaticName(kValue), BlobValue::GetInstance(pcr.second));
    pcrs->Append(std::move(entry));
  }
  value->SetField(StaticName(kPcrs), std::move(pcrs));
  WriteBack(bank, *value);
  return value;
}

ValuePtr MessageValue(const LocalizableMessage& message) {
  auto value = StructValue::GetInstance(StaticName(kMessageName), 4);
  value->SetField(StaticName(kId), StringValue::GetInstance(message.id));
  value->SetField(StaticName(kDefaultMessage), StringValue::GetInstance(message.defaultMessage));
  auto args = ListValue::GetInstance(ListValue::kListKind);
  for (const std::string& arg : message.args) args->Append(StringValue::GetInstance(arg));
  value->SetField(StaticName(kArgs), std::move(args));
  value->SetField(StaticName(kLocalized), OptionalString(message.localized));
  return value;
}

ValuePtr SummaryValue(const Summary& summary) {
  auto value = StructValue::GetInstance(StaticName(kSummaryName), 5);
  value->SetField(StaticName(kProvider), StringValue::GetInstance(summary.provider));
  value->SetField(StaticName(kAvailable), BooleanValue::GetInstance(summary.available));
  value->SetField(StaticName(kHealth), summary.health ? OptionalValue::GetInstance(EnumValue(*summary.health))
                                                      : OptionalValue::Unset());
  auto details = ListValue::GetInstance(ListValue::kListKind);
  for (const auto& message : summary.details) {
    if (!message) return nullptr;
    details->Append(MessageValue(*message));
  }
  value->SetField(StaticName(kDetails), std::move(details));
  value->SetField(StaticName(kType), summary.type ? OptionalValue::GetInstance(EnumValue(*summary.type))
                                                  : OptionalValue::Unset());
  WriteBack(summary, *value);
  return value;
}

// --- reading ----------------------------------------------------------------

const CompoundValue* AsStruct(const ValuePtr& value) {
  if (!value) return nullptr;
  const int type = value->GetType();
  if (type != ::Tovri::Data::kStruct && type != ::Tovri::Data::kDynamicStruct &&
      type != ::Tovri::Data::kError) {
    return nullptr;
  }
  return static_cast<const CompoundValue*>(value.get());
}

const ListValue* AsList(const ValuePtr* value) {
  if (!value || (*value)->GetType() != ::Tovri::Data::kList) return nullptr;
  return static_cast<const ListValue*>(value->get());
}

// The field's value, or null when absent.
const ValuePtr* Find(const CompoundValue& value, const std::string& name) {
  const auto& fields = value.GetFields();
  const auto it = fields.find(name);
  return it == fields.end() || !it->second ? nullptr : &it->second;
}

bool ReadString(const ValuePtr* value, std::string& out) {
  if (!value || (*value)->GetType() != ::Tovri::Data::kString) return false;
  out = static_cast<const StringValue&>(**value).GetValue();
  return true;
}

bool ReadInteger(const ValuePtr* value, long long& out) {
  if (!value || (*value)->GetType() != ::Tovri::Data::kInteger) return false;
  out = static_cast<const IntegerValue&>(**value).GetValue();
  return true;
}

bool ReadBoolean(const ValuePtr* value, bool& out) {
  if (!value || (*value)->GetType() != ::Tovri::Data::kBoolean) return false;
  out = static_cast<const BooleanValue&>(**value).GetValue();
  return true;
}

// The content of an optional value: null when unset or absent, false when
// the value is no optional.
bool OptionalContent(const ValuePtr* value, const ValuePtr*& content) {
  content = nullptr;
  if (!value) return true;
  if ((*value)->GetType() != ::Tovri::Data::kOptional) return false;
  const auto& optional = static_cast<const OptionalValue&>(**value);
  if (optional.IsSet()) content = &optional.GetValue();
  return true;
}

bool ReadOptionalString(const ValuePtr* value, boost::optional<std::string>& out) {
  const ValuePtr* content;
  if (!OptionalContent(value, content)) return false;
  if (!content) return true;
  out.emplace();
  return ReadString(content, *out);
}

template <class E>
bool ReadEnumeration(const ValuePtr* value, E& out) {
  if (!value || (*value)->GetType() != ::Tovri::Data::kString) return false;
  out = E(static_cast<const StringValue&>(**value).GetValue());
  return true;
}

template <class E>
bool ReadOptionalEnumeration(const ValuePtr* value, boost::optional<E>& out) {
  const ValuePtr* content;
  if (!OptionalContent(value, content)) return false;
  if (!content) return true;
  out.emplace();
  return ReadEnumeration(content, *out);
}

// Keeps the fields a structure carries beyond the `found` declared ones;
// only runs when there are any, as a hand-written reader would.
template <std::size_t N>
void CollectExtras(const CompoundValue& value, std::size_t found, const std::string* const (&declared)[N],
                   std::shared_ptr<StructValue>& holder) {
  if (value.GetFields().size() <= found) return;
  for (const auto& field : value.GetFields()) {
    bool known = false;
    for (const std::string* name : declared) known = known || *name == field.first;
    if (known) continue;
    if (!holder) holder = StructValue::GetInstance(StaticName(kUnknownFieldsName), 0);
    holder->SetField(field.first, field.second);
  }
}

bool ReadBank(const ValuePtr& value, PcrBank& out) {
  const CompoundValue* bank = AsStruct(value);
  if (!bank || !ReadEnumeration(Find(*bank, kAlgorithm), out.algorithm)) return false;
  const ListValue* pcrs = AsList(Find(*bank, kPcrs));
  if (!pcrs) return false;
  for (const ValuePtr& element : pcrs->GetElements()) {
    const CompoundValue* entry = AsStruct(element);
    long long key;
    if (!entry || !ReadInteger(Find(*entry, kKey), key)) return false;
    const ValuePtr* blob = Find(*entry, kValue);
    if (!blob || (*blob)->GetType() != ::Tovri::Data::kBlob) return false;
    out.pcrs.emplace_hint(out.pcrs.end(), key, static_cast<const BlobValue&>(**blob).GetValue());
  }
  static const std::string* const kDeclared[] = {&kAlgorithm, &kPcrs};
  CollectExtras(*bank, 2, kDeclared, out.unknownFields);
  return true;
}

bool ReadMessage(const ValuePtr& value, LocalizableMessage& out) {
  const CompoundValue* message = AsStruct(value);
  if (!message || !ReadString(Find(*message, kId), out.id) ||
      !ReadString(Find(*message, kDefaultMessage), out.defaultMessage)) {
    return false;
  }
  const ListValue* args = AsList(Find(*message, kArgs));
  if (!args) return false;
  for (const ValuePtr& arg : args->GetElements()) {
    out.args.emplace_back();
    if (!ReadString(&arg, out.args.back())) return false;
  }
  return ReadOptionalString(Find(*message, kLocalized), out.localized);
}

bool ReadSummary(const ValuePtr& value, Summary& out) {
  const CompoundValue* summary = AsStruct(value);
  if (!summary || !ReadString(Find(*summary, kProvider), out.provider) ||
      !ReadBoolean(Find(*summary, kAvailable), out.available)) {
    return false;
  }
  const ValuePtr* health = Find(*summary, kHealth);
  const ValuePtr* type = Find(*summary, kType);
  if (!ReadOptionalEnumeration(health, out.health) || !ReadOptionalEnumeration(type, out.type)) return false;
  const ListValue* details = AsList(Find(*summary, kDetails));
  if (!details) return false;
  for (const ValuePtr& element : details->GetElements()) {
    auto message = std::make_shared<LocalizableMessage>();
    if (!ReadMessage(element, *message)) return false;
    out.details.push_back(std::move(message));
  }
  static const std::string* const kDeclared[] = {&kProvider, &kAvailable, &kHealth, &kDetails, &kType};
  CollectExtras(*summary, 3 + (health ? 1 : 0) + (type ? 1 : 0), kDeclared, out.unknownFields);
  return true;
}

}  // namespace

ValuePtr ToValue(const TpmInfo& info) {
  ::Tovri::Data::ValueArenaScope arena;  // as the adapters do
  auto value = StructValue::GetInstance(StaticName(kTpmInfoName), 7);
  value->SetField(StaticName(kMajorVersion), IntegerValue::GetInstance(info.majorVersion));
  value->SetField(StaticName(kMinorVersion), IntegerValue::GetInstance(info.minorVersion));
  value->SetField(StaticName(kActive), BooleanValue::GetInstance(info.active));
  value->SetField(StaticName(kManufacturer), OptionalString(info.manufacturer));
  value->SetField(StaticName(kModel), OptionalString(info.model));
  value->SetField(StaticName(kFirmwareVersion), OptionalString(info.firmwareVersion));
  auto banks = ListValue::GetInstance(ListValue::kListKind);
  for (const auto& bank : info.banks) {
    if (!bank) return nullptr;
    banks->Append(BankValue(*bank));
  }
  value->SetField(StaticName(kBanks), std::move(banks));
  WriteBack(info, *value);
  return value;
}

ValuePtr ToValue(const SummaryList& summaries) {
  ::Tovri::Data::ValueArenaScope arena;  // as the adapters do
  auto list = ListValue::GetInstance(ListValue::kListKind);
  for (const auto& summary : summaries) {
    if (!summary) return nullptr;
    ValuePtr element = SummaryValue(*summary);
    if (!element) return nullptr;
    list->Append(std::move(element));
  }
  return list;
}

bool FromValue(const ValuePtr& value, TpmInfo& out) {
  const CompoundValue* info = AsStruct(value);
  if (!info || !ReadInteger(Find(*info, kMajorVersion), out.majorVersion) ||
      !ReadInteger(Find(*info, kMinorVersion), out.minorVersion) ||
      !ReadBoolean(Find(*info, kActive), out.active)) {
    return false;
  }
  const ValuePtr* manufacturer = Find(*info, kManufacturer);
  const ValuePtr* model = Find(*info, kModel);
  const ValuePtr* firmware = Find(*info, kFirmwareVersion);
  if (!ReadOptionalString(manufacturer, out.manufacturer) || !ReadOptionalString(model, out.model) ||
      !ReadOptionalString(firmware, out.firmwareVersion)) {
    return false;
  }
  const ListValue* banks = AsList(Find(*info, kBanks));
  if (!banks) return false;
  for (const ValuePtr& element : banks->GetElements()) {
    auto bank = std::make_shared<PcrBank>();
    if (!ReadBank(element, *bank)) return false;
    out.banks.push_back(std::move(bank));
  }
  static const std::string* const kDeclared[] = {&kMajorVersion, &kMinorVersion,    &kActive, &kManufacturer,
                                                 &kModel,        &kFirmwareVersion, &kBanks};
  const std::size_t found = 4 + (manufacturer ? 1 : 0) + (model ? 1 : 0) + (firmware ? 1 : 0);
  CollectExtras(*info, found, kDeclared, out.unknownFields);
  return true;
}

bool FromValue(const ValuePtr& value, SummaryList& out) {
  if (!value || value->GetType() != ::Tovri::Data::kList) return false;
  for (const ValuePtr& element : static_cast<const ListValue&>(*value).GetElements()) {
    auto summary = std::make_shared<Summary>();
    if (!ReadSummary(element, *summary)) return false;
    out.push_back(std::move(summary));
  }
  return true;
}

}  // namespace Floor
}  // namespace DralBench
