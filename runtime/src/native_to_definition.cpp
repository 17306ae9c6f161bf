#include <dral/runtime/native_to_definition.hpp>

#include <utility>

namespace Tovri {
namespace Data {

namespace N2D_internal {

bool StackMapCnt::GetDef(void* key, std::shared_ptr<const DataDefinition>& out) const {
  const auto found = definitions.find(key);
  if (found == definitions.end()) return false;
  out = found->second;
  return true;
}

void StackMapCnt::SetDef(void* key, std::shared_ptr<const DataDefinition> definition) {
  definitions[key] = std::move(definition);
}

}  // namespace N2D_internal

void NativeToDefinitionAdapter::Adapt(Method step, const Destination& dest, Messages& messages) {
  StackMapCnt stack;
  step(SrcType(), dest, stack, messages);
  while (!stack.empty()) {
    const Entry entry = stack.back();
    stack.pop_back();
    entry.method(entry.source, entry.destination, stack, messages);
  }
}

void NativeToDefinitionAdapter::ReferToEnclosing(const std::string& name, void* key, const Destination& dest,
                                                 StackMapCnt& stack) {
  SrcType resolve;
  resolve.ref = StructRefDefinition::GetInstance(name);
  resolve.key = key;
  *dest = resolve.ref;
  stack.push_front(Entry{std::move(resolve), &ResolveMethod, nullptr});
}

void NativeToDefinitionAdapter::ResolveMethod(const SrcType& src, const Destination&, StackMapCnt& stack,
                                              Messages&) {
  std::shared_ptr<const DataDefinition> target;
  if (!src.ref || !stack.GetDef(src.key, target)) return;
  src.ref->Bind(std::dynamic_pointer_cast<const StructDefinition>(target));
}

template <>
void NativeToDefinitionAdapter::CompoundEndMethod<StructDefinition>(const SrcType& src,
                                                                    const Destination& dest,
                                                                    StackMapCnt& stack, Messages&) {
  std::shared_ptr<const DataDefinition> definition = StructDefinition::GetInstance(src.name, *src.fields);
  *dest = definition;
  stack.SetDef(src.key, std::move(definition));
}

template <>
void NativeToDefinitionAdapter::CompositeEndMethod<OptionalDefinition>(const SrcType& src,
                                                                       const Destination& dest, StackMapCnt&,
                                                                       Messages&) {
  *dest = OptionalDefinition::GetInstance(*src.slot);
}

template <>
void NativeToDefinitionAdapter::CompositeEndMethod<ListDefinition>(const SrcType& src,
                                                                   const Destination& dest, StackMapCnt&,
                                                                   Messages&) {
  *dest = ListDefinition::GetInstance(*src.slot);
}

void NativeToDefinitionAdapter::MapEndMethod(const SrcType& src, const Destination& dest, StackMapCnt&,
                                             Messages&) {
  *dest = ListDefinition::GetInstance(StructDefinition::GetInstance("map-entry", *src.fields));
}

NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::CompoundHelper(StackMapCnt& stack)
    : fields_(std::make_shared<StructDefinition::FieldMap>()), stack_(&stack) {}

void NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::Start(const std::string& name, void* key,
                                                                        const Destination& dest, Method end) {
  SrcType src;
  src.fields = fields_;
  src.name = name;
  src.key = key;
  stack_->push_back(Entry{std::move(src), end, dest});
}

void NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::AddField(const std::string& wireName,
                                                                           Method begin) {
  std::shared_ptr<const DataDefinition>& slot = (*fields_)[wireName];
  slot.reset();
  stack_->push_back(Entry{SrcType(), begin, &slot});
}

}  // namespace Data
}  // namespace Tovri
