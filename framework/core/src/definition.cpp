#include <tovri/core/definition.hpp>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core_messages.hpp"

namespace Tovri {
namespace Data {

DataDefinition::~DataDefinition() = default;

std::shared_ptr<const PrimitiveDefinition> PrimitiveDefinition::GetInstance(int typeCode) {
  // Built once: derivation asks for these for every primitive member.
  static const auto* const instances = [] {
    auto* table = new std::shared_ptr<const PrimitiveDefinition>[kDynamicStruct + 1];
    for (int code : std::initializer_list<int>{kVoid, kInteger, kDouble, kBoolean, kBlob, kString, kError,
                                               kSecret, kDynamicStruct}) {
      table[code].reset(new PrimitiveDefinition(code));
    }
    return table;
  }();
  if (typeCode < 0 || typeCode > kDynamicStruct) return nullptr;
  return instances[typeCode];
}

std::shared_ptr<const StructDefinition> StructDefinition::GetInstance(const std::string& name,
                                                                      const FieldMap& fields) {
  return std::make_shared<const StructDefinition>(name, fields);
}

std::shared_ptr<StructRefDefinition> StructRefDefinition::GetInstance(const std::string& name) {
  return std::make_shared<StructRefDefinition>(name);
}

std::shared_ptr<const ListDefinition> ListDefinition::GetInstance(DefinitionPtr element) {
  return std::make_shared<const ListDefinition>(std::move(element));
}

std::shared_ptr<const OptionalDefinition> OptionalDefinition::GetInstance(DefinitionPtr element) {
  return std::make_shared<const OptionalDefinition>(std::move(element));
}

std::shared_ptr<const UnionCaseDefinition> UnionCaseDefinition::GetInstance(DefinitionPtr caseDefinition,
                                                                            const std::string& tagField,
                                                                            Predicate predicate) {
  return std::make_shared<const UnionCaseDefinition>(std::move(caseDefinition), tagField,
                                                     std::move(predicate));
}

bool UnionCaseDefinition::Selects(const std::string& tagValue) const {
  if (!predicate_) return false;
  return static_cast<bool>(predicate_(tagValue) == true);
}

template <>
DefinitionPtr DataDefinition::Create<std::string>() {
  return PrimitiveDefinition::GetInstance(kString);
}
template <>
DefinitionPtr DataDefinition::Create<long long>() {
  return PrimitiveDefinition::GetInstance(kInteger);
}
template <>
DefinitionPtr DataDefinition::Create<bool>() {
  return PrimitiveDefinition::GetInstance(kBoolean);
}
template <>
DefinitionPtr DataDefinition::Create<double>() {
  return PrimitiveDefinition::GetInstance(kDouble);
}
template <>
DefinitionPtr DataDefinition::Create<Blob>() {
  return PrimitiveDefinition::GetInstance(kBlob);
}
template <>
DefinitionPtr DataDefinition::Create<SecretString>() {
  return PrimitiveDefinition::GetInstance(kSecret);
}
template <>
DefinitionPtr DataDefinition::Create<Void>() {
  return PrimitiveDefinition::GetInstance(kVoid);
}

namespace {

// Walks a value and its definition side by side with an explicit stack.
// Positions are kept as a tree of path nodes and rendered only for messages:
// each work item carries its own last segment, and a node is stored only for
// a container whose children are queued, so leaves cost no node at all.
class Checker {
 public:
  explicit Checker(std::list<BaseMessage>& messages) : messages_(messages) {
    static const std::string kRoot = "value";
    nodes_.reserve(kInitialCapacity);
    work_.reserve(kInitialCapacity);
    root_ = Segment{kNoParent, &kRoot, 0};
  }

  // `definition` must outlive the walk; the targets of references met on
  // the way are held by the checker.
  bool Run(const DataDefinition* definition, const DataValue* value) {
    const std::size_t before = messages_.size();
    work_.push_back(Work{definition, value, root_});
    while (!work_.empty()) {
      Work item = std::move(work_.back());
      work_.pop_back();
      Step(item);
    }
    return messages_.size() == before;
  }

 private:
  static constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);
  // Paths deeper than this are shown by their innermost segments only.
  static constexpr std::size_t kMaxShownSegments = 24;
  // Small enough to stay below the allocator's large-request threshold (about
  // 1 KiB), where glibc consolidates its free lists first.
  static constexpr std::size_t kInitialCapacity = 16;

  // Plain pointers throughout: the names belong to the definitions and the
  // values to the tree, both alive for the whole walk, so a step costs no
  // string copy and no reference count.
  // The last segment of a position: a field name, or an index when `field`
  // is null, under the stored node `parent`.
  struct Segment {
    std::size_t parent;
    const std::string* field;
    std::size_t index;
  };

  struct Work {
    const DataDefinition* definition;
    const DataValue* value;
    Segment at;
  };

  // Stores a position so that children can name it as their parent.
  std::size_t Store(const Segment& at) {
    nodes_.push_back(at);
    return nodes_.size() - 1;
  }

  std::string Path(const Segment& last) const {
    // Only the segments shown are walked: a walk to the root for every
    // message made a value mismatching at each level of a deep chain cost
    // time quadratic in its depth.
    std::vector<const Segment*> chain{&last};
    std::size_t at = last.parent;
    for (; at != kNoParent && chain.size() < kMaxShownSegments; at = nodes_[at].parent) {
      chain.push_back(&nodes_[at]);
    }
    std::string out;
    std::size_t shown = chain.size();
    if (at != kNoParent) {
      shown = kMaxShownSegments - 1;
      out = "value...";
    }
    for (std::size_t i = shown; i-- > 0;) {
      const Segment& n = *chain[i];
      if (!n.field) {
        out += "[" + std::to_string(n.index) + "]";
      } else {
        if (!out.empty()) out += '.';
        out += *n.field;
      }
    }
    return out;
  }

  void Report(const char* id, std::initializer_list<std::string> args) {
    messages_.push_back(Core::MakeCoreMessage(id, args));
  }

  void KindMismatch(const Segment& at, int expected, const DataValue& value) {
    Report(Core::Ids::kCheckKind, {Path(at), TypeName(expected), TypeName(value.GetType())});
  }

  // The text a union's tag field holds: a string, or a set optional string.
  static const std::string* TagText(const ValuePtr& tag) {
    if (!tag) return nullptr;
    const DataValue* v = tag.get();
    if (v->GetType() == kOptional) v = static_cast<const OptionalValue*>(v)->GetValue().get();
    if (!v || v->GetType() != kString) return nullptr;
    return &static_cast<const StringValue*>(v)->GetValue();
  }

  // A structure-like value of `name`: a structure of that name, an error
  // whose id is that name, or a dynamic structure of any name.
  const CompoundValue* MatchCompound(const Segment& at, const std::string& name, const DataValue& value) {
    const int type = value.GetType();
    if (type != kStruct && type != kError && type != kDynamicStruct) {
      KindMismatch(at, kStruct, value);
      return nullptr;
    }
    const auto* compound = static_cast<const CompoundValue*>(&value);  // the code names the class
    if (type != kDynamicStruct && compound->GetName() != name) {
      Report(Core::Ids::kCheckStructName, {Path(at), name, compound->GetName()});
      return nullptr;
    }
    return compound;
  }

  void CheckStruct(const StructDefinition& definition, const CompoundValue& value, const Segment& at) {
    const std::size_t first = work_.size();
    std::size_t node = kNoParent;  // stored with the first field present
    for (const auto& [name, fieldDefinition] : definition.GetFields()) {
      if (!fieldDefinition) continue;
      const ValuePtr* slot = value.FindSlot(name);
      const DataValue* field = slot ? slot->get() : nullptr;
      const int kind = fieldDefinition->GetType();
      if (!field) {
        if (kind != kOptional && kind != kUnionCase) {
          Report(Core::Ids::kCheckFieldMissing, {Path(at), definition.GetName(), name});
        }
        continue;
      }
      if (node == kNoParent) node = Store(at);
      const Segment child{node, &name, 0};
      if (kind != kUnionCase) {
        work_.push_back(Work{fieldDefinition.get(), field, child});
        continue;
      }
      const auto& unionCase = static_cast<const UnionCaseDefinition&>(*fieldDefinition);
      const auto* optional =
          field->GetType() == kOptional ? static_cast<const OptionalValue*>(field) : nullptr;
      if (!optional) {
        KindMismatch(child, kOptional, *field);
        continue;
      }
      if (!optional->IsSet()) continue;
      const std::string* tag = TagText(value.FindField(unionCase.GetTagField()));
      if (!tag) {
        Report(Core::Ids::kCheckUnionNoTag, {Path(child), name, unionCase.GetTagField()});
      } else if (!unionCase.Selects(*tag)) {
        Report(Core::Ids::kCheckUnionNotSelected, {Path(child), name, unionCase.GetTagField(), *tag});
      }
      work_.push_back(Work{unionCase.GetCase().get(), optional->GetValue().get(), child});
    }
    // Reversed, so that fields are checked (and reported) in name order.
    std::reverse(work_.begin() + static_cast<std::ptrdiff_t>(first), work_.end());
  }

  void Step(const Work& item) {
    const DataDefinition* definition = item.definition;
    if (!definition) return;  // nothing to check against
    const int kind = definition->GetType();
    if (!item.value) {
      const int expected = kind == kStructRef ? kStruct : kind == kUnionCase ? kOptional : kind;
      Report(Core::Ids::kCheckMissingValue, {Path(item.at), TypeName(expected)});
      return;
    }
    const DataValue& value = *item.value;
    switch (kind) {
      case kStruct: {
        const auto& structure = static_cast<const StructDefinition&>(*definition);
        if (const CompoundValue* compound = MatchCompound(item.at, structure.GetName(), value)) {
          CheckStruct(structure, *compound, item.at);
        }
        return;
      }
      case kStructRef: {
        const auto& ref = static_cast<const StructRefDefinition&>(*definition);
        if (auto target = ref.GetTarget()) {
          work_.push_back(Work{target.get(), item.value, item.at});
          held_.push_back(std::move(target));
        } else {
          MatchCompound(item.at, ref.GetName(), value);  // unbound: the name is all there is
        }
        return;
      }
      case kList: {
        if (value.GetType() != kList) {
          KindMismatch(item.at, kList, value);
          return;
        }
        const auto* list = static_cast<const ListValue*>(&value);
        const DataDefinition* element = static_cast<const ListDefinition&>(*definition).GetElement().get();
        const auto& elements = list->GetElements();
        if (elements.empty()) return;
        const std::size_t node = Store(item.at);
        for (std::size_t i = elements.size(); i-- > 0;) {
          work_.push_back(Work{element, elements[i].get(), Segment{node, nullptr, i}});
        }
        return;
      }
      case kOptional:
      case kUnionCase: {
        if (value.GetType() != kOptional) {
          KindMismatch(item.at, kOptional, value);
          return;
        }
        const auto* optional = static_cast<const OptionalValue*>(&value);
        if (!optional->IsSet()) return;
        const DefinitionPtr& content = kind == kOptional
                                           ? static_cast<const OptionalDefinition&>(*definition).GetElement()
                                           : static_cast<const UnionCaseDefinition&>(*definition).GetCase();
        work_.push_back(Work{content.get(), optional->GetValue().get(), item.at});
        return;
      }
      case kDynamicStruct: {
        const int type = value.GetType();
        if (type != kStruct && type != kError && type != kDynamicStruct)
          KindMismatch(item.at, kStruct, value);
        return;
      }
      default:
        if (value.GetType() != kind) KindMismatch(item.at, kind, value);
        return;
    }
  }

  std::list<BaseMessage>& messages_;
  Segment root_;
  std::vector<Segment> nodes_;
  std::vector<Work> work_;
  std::vector<DefinitionPtr> held_;  // reference targets met, alive until the walk ends
};

}  // namespace

bool CheckValue(const DataDefinition& definition, const ValuePtr& value, std::list<BaseMessage>& messages) {
  return Checker(messages).Run(&definition, value.get());
}

}  // namespace Data
}  // namespace Tovri
