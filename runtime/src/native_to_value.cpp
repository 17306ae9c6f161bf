#include <dral/runtime/native_to_value.hpp>

#include <dral/runtime/message.hpp>

namespace Tovri {
namespace Data {

bool NativeToValueAdapter::Adapt(const NativeConstPtr& source, Method method, const Destination& destination,
                                 std::list<BaseMessage>& messages, const L10n::RequestLocalizer& localizer) {
  const std::size_t before = messages.size();
  WorkList work(localizer);
  method(source, destination, work, messages);
  while (!work.empty()) {
    const Entry entry = work.back();
    work.pop_back();
    entry.method(entry.source, entry.destination, work, messages);
  }
  return messages.size() == before;
}

void NativeToValueAdapter::AppendUnsetField(std::list<BaseMessage>& messages, const std::string& typeName) {
  messages.push_back(Message<CoreTag>(MessageIds::kUnsetNonOptional, typeName));
}

NativeToValueAdapter::CompoundHelper<StructValue>::CompoundHelper(const std::string& name,
                                                                  const Destination& destination,
                                                                  WorkList& work)
    : value_(StructValue::GetInstance(name)), work_(&work) {
  *destination = value_;
}

void NativeToValueAdapter::CompoundHelper<StructValue>::AddField(std::string_view name,
                                                                 const NativeConstPtr& member,
                                                                 Method method) {
  work_->push_back(Entry{member, method, value_->ReserveField(name)});
}

}  // namespace Data
}  // namespace Tovri
