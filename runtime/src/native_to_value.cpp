#include <dral/runtime/native_to_value.hpp>

#include <dral/runtime/message.hpp>

namespace Tovri {
namespace Data {

bool NativeToValueAdapter::Adapt(const NativeConstPtr& source, Method method, const Destination& destination,
                                 std::list<BaseMessage>& messages, const L10n::RequestLocalizer& localizer) {
  const std::size_t before = messages.size();
  // The whole tree from one arena (see value_arena.hpp).
  ValueArenaScope arena;
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

const std::string* NativeToValueAdapter::StaticNames(const std::string_view* names, std::size_t count) {
  auto* texts = new std::string[count];  // never destroyed: values refer to them
  for (std::size_t i = 0; i < count; ++i) texts[i] = std::string(names[i]);
  return texts;
}

const ValuePtr* NativeToValueAdapter::EnumerationValues(const char* const* names) {
  std::size_t count = 0;
  while (names[count]) ++count;
  auto* values = new ValuePtr[count];  // never destroyed: shared by every tree
  // From the heap, not from the arena of the conversion that asks first.
  for (std::size_t i = 0; i < count; ++i) values[i] = std::make_shared<const StringValue>(names[i]);
  return values;
}

const NativeToValueAdapter::MapEntryNames& NativeToValueAdapter::GetMapEntryNames() {
  static const MapEntryNames* const names =
      new MapEntryNames{StaticName(*new std::string("map-entry")), StaticName(*new std::string("key")),
                        StaticName(*new std::string("value"))};
  return *names;
}

NativeToValueAdapter::CompoundHelper<StructValue>::CompoundHelper(StaticName name,
                                                                  const Destination& destination,
                                                                  WorkList& work)
    : value_(StructValue::GetInstance(name, 0)), work_(&work) {
  *destination = value_;
}

void NativeToValueAdapter::CompoundHelper<StructValue>::AddField(std::string_view name,
                                                                 const NativeConstPtr& member,
                                                                 Method method) {
  work_->push_back(Entry{member, method, value_->ReserveField(name)});
}

void NativeToValueAdapter::CompoundHelper<StructValue>::AddField(StaticName name,
                                                                 const NativeConstPtr& member,
                                                                 Method method) {
  work_->push_back(Entry{member, method, value_->ReserveField(name)});
}

}  // namespace Data
}  // namespace Tovri
