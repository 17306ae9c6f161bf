#include <dral/runtime/value_to_native.hpp>

#include <cerrno>
#include <cstdlib>

#include <dral/runtime/message.hpp>

namespace Tovri {
namespace Data {

bool ValueToNativeAdapter::Adapt(const Source& value, Method method, const NativePtr& destination,
                                 std::list<BaseMessage>& messages) {
  const std::size_t before = messages.size();
  WorkList work;
  method(value, destination, work, messages);
  while (!work.empty()) {
    const Entry entry = std::move(work.back());
    work.pop_back();
    entry.method(entry.source, entry.destination, work, messages);
  }
  return messages.size() == before;
}

const StringValue* ValueToNativeAdapter::AsString(const Source& value) noexcept {
  if (!value || value->GetType() != kString) return nullptr;
  return static_cast<const StringValue*>(value.get());  // the code names the class
}

bool ValueToNativeAdapter::CheckPresent(const Source& value, WorkList& work,
                                        std::list<BaseMessage>& messages) {
  if (value) return true;
  AppendInvalidType(messages);
  work.clear();
  return false;
}

void ValueToNativeAdapter::AppendInvalidType(std::list<BaseMessage>& messages) {
  messages.push_back(Message<CoreTag>(MessageIds::kInvalidType));
}

void ValueToNativeAdapter::AppendBadCast(std::list<BaseMessage>& messages, const std::string& text) {
  messages.push_back(Message<CoreTag>(MessageIds::kBadCast1, text));
}

bool ValueToNativeAdapter::KeyFromName(const std::string& name, long long& key) {
  const char* begin = name.c_str();
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  key = parsed;
  return true;
}

bool ValueToNativeAdapter::KeyFromName(const std::string& name, std::string& key) {
  key = name;
  return true;
}

ValueToNativeAdapter::CompoundHelper<StructValue>::CompoundHelper(const Source& value, WorkList& work,
                                                                  std::list<BaseMessage>& messages)
    : source_(&value), work_(&work), messages_(&messages), count_(messages.size()) {
  if (const StringValue* text = AsString(value)) {
    if (text->GetValue().empty()) {
      emptyString_ = true;
    } else {
      AppendBadCast(messages, text->GetValue());
    }
    return;
  }
  const int type = value ? value->GetType() : -1;
  if (type == kStruct || type == kError || type == kDynamicStruct) {
    compound_ = static_cast<const CompoundValue*>(value.get());
    return;
  }
  AppendInvalidType(messages);
}

std::shared_ptr<const StructValue> ValueToNativeAdapter::CompoundHelper<StructValue>::GetSource() const {
  const int type = compound_ ? compound_->GetType() : -1;
  // Field names are unique, so as many declared fields found as there are
  // fields means none is undeclared.
  if (type != -1 && found_ == compound_->GetFields().size()) return nullptr;
  if (type == kError) {
    // An error read as a structure is not a StructValue: hand over its fields
    // (shared) in one, so that its undeclared fields are kept and validated
    // like those of any structure instead of being dropped.
    auto fields = StructValue::GetInstance(compound_->GetName());
    for (const auto& field : compound_->GetFields()) fields->SetField(field.first, field.second);
    return fields;
  }
  if (type != kStruct && type != kDynamicStruct) return nullptr;
  return std::static_pointer_cast<const StructValue>(*source_);
}

}  // namespace Data
}  // namespace Tovri
