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
  return dynamic_cast<const StringValue*>(value.get());
}

bool ValueToNativeAdapter::CheckPresent(const Source& value, WorkList& work,
                                        std::list<BaseMessage>& messages) {
  if (value) return true;
  AppendInvalidType(messages);
  work.clear();
  return false;
}

void ValueToNativeAdapter::AppendInvalidType(std::list<BaseMessage>& messages) {
  messages.push_back(Message<CoreTag>("tovri.data.invalid.type"));
}

void ValueToNativeAdapter::AppendBadCast(std::list<BaseMessage>& messages, const std::string& text) {
  messages.push_back(Message<CoreTag>("tovri.data.bad.cast1", text));
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
    : work_(&work), messages_(&messages), count_(messages.size()) {
  if (const StringValue* text = AsString(value)) {
    if (text->GetValue().empty()) {
      emptyString_ = std::static_pointer_cast<const StringValue>(value);
    } else {
      AppendBadCast(messages, text->GetValue());
    }
    return;
  }
  const int type = value ? value->GetType() : -1;
  if (type == kStruct || type == kError || type == kDynamicStruct) {
    compound_ = std::dynamic_pointer_cast<const CompoundValue>(value);
    if (compound_) return;
  }
  AppendInvalidType(messages);
}

std::shared_ptr<const StructValue> ValueToNativeAdapter::CompoundHelper<StructValue>::GetSource()
    const noexcept {
  return std::dynamic_pointer_cast<const StructValue>(compound_);
}

}  // namespace Data
}  // namespace Tovri
