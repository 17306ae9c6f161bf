// Decodes data definitions and dynamic value trees from fuzzer bytes.
//
// ValueDecoder builds a DataValue tree of any kind, depth and width, in one
// of two ways:
//  - Decode(): free form. Every node is whatever the bytes say, including
//    null slots, strings where structures would be expected, and deep
//    chains of one container kind (five bytes give 100k levels, so small
//    inputs reach depths a call stack cannot).
//  - DecodeFor(definition): biased towards a definition. Nodes follow the
//    definition (names, required fields, union cases set only when the tag
//    selects them, undeclared extra fields), and now and then deviate from
//    it: wrong kinds, strings instead of structures, wrong structure names,
//    missing required fields, null slots. Conforming() tells whether the
//    last tree was built without any deviation (it then must pass
//    Tovri::Data::CheckValue).
// Names and texts are drawn mostly from a Dictionary (structure names, field
// names, enumeration texts), otherwise from the input.
//
// DefinitionDecoder builds definitions: primitives, optional, list, struct,
// structure references (bound to a decoded structure of the same name, or
// left unbound), union cases with a tag field and a predicate over texts.
//
// Both decoders work with explicit stacks: no recursion, whatever the depth.
// Reads past the end of the input give zero, which every decision maps to
// its smallest ordinary choice, so decoding always ends.
//
// For an operation's input, with the package's names as the dictionary:
//   DralFuzz::ByteReader in(data, size);
//   const DralFuzz::Dictionary names{structureWireNames, fieldNames, enumerationTexts};
//   DralFuzz::ValueDecoder decoder(in, names);
//   const Tovri::Data::ValuePtr input = decoder.DecodeFor(inputDefinition);
#pragma once

#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/logic/tribool.hpp>

#include <tovri/core/definition.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/value.hpp>

#include "byte_reader.hpp"

namespace DralFuzz {

namespace Data = Tovri::Data;

// Names and texts a decoder prefers; empty lists are allowed.
struct Dictionary {
  std::vector<std::string> structNames;
  std::vector<std::string> fieldNames;
  std::vector<std::string> texts;  // enumeration texts, union tags, numbers...
};

struct DecodeLimits {
  std::size_t maxValueNodes = std::size_t{1} << 14;
  // Nodes beyond maxValueNodes that a definition may still force (required
  // fields); past these the decoder leaves null slots.
  std::size_t hardValueMargin = std::size_t{1} << 10;
  std::size_t maxWrapDepth = std::size_t{1} << 17;  // all chains of one tree together
  std::size_t maxElements = 16;                     // children of one list or structure
  std::size_t maxDefinitionDepth = 24;
  std::size_t maxDefinitionNodes = 512;
};

// Mostly a pool entry, sometimes a string of the input (possibly empty,
// possibly with NUL bytes).
inline std::string PickFrom(ByteReader& in, const std::vector<std::string>& pool) {
  const std::uint8_t choice = in.Byte();
  if (!pool.empty() && choice < 224) return pool[choice % pool.size()];
  return in.ShortString();
}

struct DecodeOptions {
  bool deviations = true;  // DecodeFor may stray from the definition
};

class ValueDecoder {
 public:
  ValueDecoder(ByteReader& in, const Dictionary& dictionary, const DecodeLimits& limits = DecodeLimits(),
               DecodeOptions options = DecodeOptions())
      : in_(in), dictionary_(dictionary), limits_(limits), options_(options) {}

  Data::ValuePtr Decode() { return Run(nullptr, false); }

  Data::ValuePtr DecodeFor(const Data::DefinitionPtr& definition) { return Run(definition, true); }

  bool Conforming() const noexcept { return conforming_; }
  // Nodes of the last tree, deep chains included.
  std::size_t Nodes() const noexcept { return nodes_ + wrapped_; }

 private:
  struct Task {
    Data::ValuePtr* slot;
    Data::DefinitionPtr definition;
    bool guided;
  };

  Data::ValuePtr Run(const Data::DefinitionPtr& definition, bool guided) {
    conforming_ = true;
    nodes_ = 0;
    wrapped_ = 0;
    Data::ValuePtr root;
    tasks_.push_back(Task{&root, definition, guided});
    while (!tasks_.empty()) {
      Task task = std::move(tasks_.back());
      tasks_.pop_back();
      if (task.guided) {
        Guided(task);
      } else {
        FreeForm(task.slot);
      }
    }
    return root;
  }

  bool Soft() const noexcept { return nodes_ >= limits_.maxValueNodes; }
  bool Hard() const noexcept { return nodes_ >= limits_.maxValueNodes + limits_.hardValueMargin; }
  // A decision byte; zero once the node budget is spent.
  std::uint8_t Pick() noexcept { return Soft() ? 0 : in_.Byte(); }
  std::size_t Count() noexcept { return Pick() % (limits_.maxElements + 1); }

  std::string Text() {
    const std::uint8_t choice = Pick();
    if (!dictionary_.texts.empty() && choice < 160)
      return dictionary_.texts[choice % dictionary_.texts.size()];
    return Soft() ? std::string() : in_.ShortString();
  }
  std::string StructName() { return Soft() ? std::string() : PickFrom(in_, dictionary_.structNames); }
  std::string FieldName() { return Soft() ? std::string() : PickFrom(in_, dictionary_.fieldNames); }

  // Pushes the tasks in reverse, so that children are decoded in order.
  void Schedule(std::vector<Task>& children) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) tasks_.push_back(std::move(*it));
    children.clear();
  }

  // A primitive value of `code` (void, integer, double, boolean, blob,
  // string, secret).
  Data::ValuePtr Leaf(int code) {
    ++nodes_;
    switch (code) {
      case Data::kInteger: {
        const std::uint64_t bits = in_.Number(Pick() & 1 ? 8 : 1);
        long long value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return Data::IntegerValue::GetInstance(value);
      }
      case Data::kDouble: {
        const std::uint64_t bits = in_.Number(8);
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return Data::DoubleValue::GetInstance(value);
      }
      case Data::kBoolean:
        return Data::BooleanValue::GetInstance(in_.Bool());
      case Data::kBlob: {
        const std::string bytes = Soft() ? std::string() : in_.ShortString();
        return Data::BlobValue::GetInstance(Data::Blob(bytes.begin(), bytes.end()));
      }
      case Data::kString:
        return Data::StringValue::GetInstance(Text());
      case Data::kSecret:
        return Data::SecretValue::GetInstance(Tovri::SecretString(Text()));
      default:
        return Data::VoidValue::GetInstance();
    }
  }

  static int PrimitiveCode(std::size_t index) noexcept {
    static const int kCodes[] = {Data::kVoid, Data::kInteger, Data::kDouble, Data::kBoolean,
                                 Data::kBlob, Data::kString,  Data::kSecret};
    return kCodes[index % 7];
  }

  // Fields of a compound value, decoded free form; duplicate names skipped
  // (a second task on one slot would orphan the first one's children).
  void FreeFields(Data::CompoundValue& compound, std::size_t count) {
    std::vector<Task> children;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string name = FieldName();
      if (compound.GetFields().count(name) != 0) continue;
      children.push_back(Task{compound.ReserveField(name), nullptr, false});
    }
    Schedule(children);
  }

  // Tovri::BaseMessage entries an error value may carry.
  std::list<Tovri::BaseMessage> SomeMessages() {
    std::list<Tovri::BaseMessage> messages;
    for (std::size_t n = Pick() % 3; n > 0; --n) {
      const std::string text = Text();
      messages.emplace_back(text, text, std::list<std::string>{text});
    }
    return messages;
  }

  void FreeForm(Data::ValuePtr* slot) {
    if (Soft()) {
      *slot = Data::VoidValue::GetInstance();
      ++nodes_;
      return;
    }
    const std::uint8_t op = in_.Byte() % 16;
    switch (op) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
        *slot = Leaf(PrimitiveCode(op));
        return;
      case 7: {
        ++nodes_;
        const std::string id = StructName();
        auto error =
            Pick() & 1 ? Data::ErrorValue::Create(id, SomeMessages()) : Data::ErrorValue::GetInstance(id);
        *slot = error;
        FreeFields(*error, Count() % 4);
        return;
      }
      case 8:
        ++nodes_;
        *slot = Data::OptionalValue::GetInstance();
        return;
      case 9: {
        ++nodes_;
        auto optional = Data::OptionalValue::GetInstance();
        *slot = optional;
        tasks_.push_back(Task{&optional->value(), nullptr, false});
        return;
      }
      case 10: {
        ++nodes_;
        auto list = Data::ListValue::GetInstance(1 + static_cast<int>(Pick() % 3));
        *slot = list;
        std::vector<Task> children;
        for (std::size_t n = Count(); n > 0; --n)
          children.push_back(Task{list->AppendSlot(), nullptr, false});
        Schedule(children);
        return;
      }
      case 11:
      case 12: {
        ++nodes_;
        const std::string name = StructName();
        std::shared_ptr<Data::StructValue> structure;
        if (op == 11) {
          structure = Data::StructValue::GetInstance(name);
        } else {
          structure = Data::DynamicStructValue::GetInstance(name);
        }
        *slot = structure;
        FreeFields(*structure, Count());
        return;
      }
      case 13:
        slot->reset();  // a slot nobody filled
        return;
      case 14:
        Wrap(slot);
        return;
      default:
        ++nodes_;
        *slot = Data::StringValue::GetInstance(StructName());  // a text where a structure may be expected
        return;
    }
  }

  // A chain of one container kind, ending in a free-form node.
  void Wrap(Data::ValuePtr* slot) {
    const std::uint8_t kind = in_.Byte() % 5;
    const std::string name = kind >= 2 ? StructName() : std::string();
    const std::string field = kind >= 2 ? FieldName() : std::string();
    const int listKind = 1 + static_cast<int>(in_.Byte() % 3);
    std::size_t depth = in_.Depth();
    // Chains have their own budget: deep, yet cheap to decode.
    const std::size_t left = limits_.maxWrapDepth - wrapped_;
    if (depth > left) depth = left;
    wrapped_ += depth;
    for (std::size_t i = 0; i < depth; ++i) {
      switch (kind) {
        case 0: {
          auto optional = Data::OptionalValue::GetInstance();
          *slot = optional;
          slot = &optional->value();
          break;
        }
        case 1: {
          auto list = Data::ListValue::GetInstance(listKind);
          *slot = list;
          slot = list->AppendSlot();
          break;
        }
        case 2: {
          auto structure = Data::StructValue::GetInstance(name);
          *slot = structure;
          slot = structure->ReserveField(field);
          break;
        }
        case 3: {
          auto structure = Data::DynamicStructValue::GetInstance(name);
          *slot = structure;
          slot = structure->ReserveField(field);
          break;
        }
        default: {
          auto error = Data::ErrorValue::GetInstance(name);
          *slot = error;
          slot = error->ReserveField(field);
          break;
        }
      }
    }
    tasks_.push_back(Task{slot, nullptr, false});
  }

  // --- definition-biased decoding ---------------------------------------------

  void Guided(const Task& task) {
    const Data::DataDefinition* definition = task.definition.get();
    if (!definition) {
      FreeForm(task.slot);  // nothing checks this value
      return;
    }
    if (Hard()) {
      task.slot->reset();
      conforming_ = false;
      return;
    }
    if (options_.deviations && Pick() >= 0xF0) {
      Deviate(task);
      return;
    }
    if (auto* structure = dynamic_cast<const Data::StructDefinition*>(definition)) {
      GuidedStruct(*structure, task.slot, false);
    } else if (auto* ref = dynamic_cast<const Data::StructRefDefinition*>(definition)) {
      if (auto target = ref->GetTarget()) {
        GuidedStruct(*target, task.slot, false);
      } else {
        // Unbound: only the name is checked.
        ++nodes_;
        auto structure = Pick() < 224 ? Data::StructValue::GetInstance(ref->GetName())
                                      : Data::DynamicStructValue::GetInstance(StructName());
        *task.slot = structure;
        FreeFields(*structure, Count() % 4);
      }
    } else if (auto* optional = dynamic_cast<const Data::OptionalDefinition*>(definition)) {
      GuidedOptional(optional->GetElement(), task.slot);
    } else if (auto* unionCase = dynamic_cast<const Data::UnionCaseDefinition*>(definition)) {
      GuidedOptional(unionCase->GetCase(), task.slot);
    } else if (auto* list = dynamic_cast<const Data::ListDefinition*>(definition)) {
      ++nodes_;
      auto value = Data::ListValue::GetInstance(1 + static_cast<int>(Pick() % 3));
      *task.slot = value;
      std::vector<Task> children;
      for (std::size_t n = Count(); n > 0; --n)
        children.push_back(Task{value->AppendSlot(), list->GetElement(), true});
      Schedule(children);
    } else {
      GuidedPrimitive(definition->GetType(), task.slot);
    }
  }

  void GuidedOptional(const Data::DefinitionPtr& content, Data::ValuePtr* slot) {
    ++nodes_;
    auto optional = Data::OptionalValue::GetInstance();
    *slot = optional;
    if (Pick() & 1) tasks_.push_back(Task{&optional->value(), content, true});
  }

  void GuidedPrimitive(int code, Data::ValuePtr* slot) {
    switch (code) {
      case Data::kVoid:
      case Data::kInteger:
      case Data::kDouble:
      case Data::kBoolean:
      case Data::kBlob:
      case Data::kString:
      case Data::kSecret:
        *slot = Leaf(code);
        return;
      case Data::kError: {
        ++nodes_;
        auto error = Data::ErrorValue::Create(StructName(), SomeMessages());
        *slot = error;
        return;
      }
      case Data::kDynamicStruct: {
        // Any compound value passes.
        ++nodes_;
        const std::uint8_t form = Pick() % 3;
        std::shared_ptr<Data::CompoundValue> compound;
        if (form == 0) {
          compound = Data::StructValue::GetInstance(StructName());
        } else if (form == 1) {
          compound = Data::DynamicStructValue::GetInstance(StructName());
        } else {
          compound = Data::ErrorValue::GetInstance(StructName());
        }
        *slot = compound;
        FreeFields(*compound, Count() % 4);
        return;
      }
      default:
        FreeForm(slot);  // a definition of a kind no value can satisfy for sure
        conforming_ = false;
        return;
    }
  }

  void Deviate(const Task& task) {
    conforming_ = false;
    switch (Pick() % 5) {
      case 0:
        FreeForm(task.slot);
        return;
      case 1:
        ++nodes_;
        *task.slot = Data::StringValue::GetInstance(Pick() & 1 ? StructName() : Text());
        return;
      case 2:
        task.slot->reset();
        return;
      case 3: {
        const Data::DataDefinition* definition = task.definition.get();
        std::shared_ptr<const Data::StructDefinition> target;
        if (auto* ref = dynamic_cast<const Data::StructRefDefinition*>(definition)) target = ref->GetTarget();
        if (auto* structure = dynamic_cast<const Data::StructDefinition*>(definition)) {
          GuidedStruct(*structure, task.slot, true);
        } else if (target) {
          GuidedStruct(*target, task.slot, true);
        } else {
          FreeForm(task.slot);
        }
        return;
      }
      default:
        *task.slot = Leaf(PrimitiveCode(Pick()));
        return;
    }
  }

  // A tag text for the union cases of one tag field: mostly one of the
  // dictionary texts that selects some case, else any text.
  std::string TagText(const std::vector<const Data::UnionCaseDefinition*>& cases) {
    std::vector<const std::string*> selecting;
    for (const std::string& text : dictionary_.texts) {
      for (const Data::UnionCaseDefinition* unionCase : cases) {
        if (unionCase->Selects(text)) {
          selecting.push_back(&text);
          break;
        }
      }
    }
    const std::uint8_t choice = Pick();
    if (!selecting.empty() && choice < 192) return *selecting[choice % selecting.size()];
    return Text();
  }

  static bool IsStringDefinition(const Data::DefinitionPtr& definition) {
    return definition && dynamic_cast<const Data::PrimitiveDefinition*>(definition.get()) &&
           definition->GetType() == Data::kString;
  }

  // A structure-like value for `definition`. A deviant one gets a wrong name
  // or lacks a required field.
  void GuidedStruct(const Data::StructDefinition& definition, Data::ValuePtr* slot, bool deviant) {
    ++nodes_;
    const auto& fields = definition.GetFields();
    const std::uint8_t formChoice = Pick();
    std::shared_ptr<Data::CompoundValue> compound;
    std::string name = definition.GetName();
    if (deviant && (Pick() & 1)) name = StructName() + "~";
    if (formChoice >= 240) {
      compound = Data::DynamicStructValue::GetInstance(StructName());
    } else if (formChoice >= 208 && fields.count("messages") == 0) {
      // An error value named like the structure; its own "messages" field
      // is undeclared here, hence allowed.
      compound = Data::ErrorValue::GetInstance(name);
    } else {
      compound = Data::StructValue::GetInstance(name);
    }
    *slot = compound;

    // Tag fields first, so that union cases are set only when selected.
    std::map<std::string, std::vector<const Data::UnionCaseDefinition*>> casesByTag;
    for (const auto& field : fields) {
      if (auto* unionCase = dynamic_cast<const Data::UnionCaseDefinition*>(field.second.get())) {
        casesByTag[unionCase->GetTagField()].push_back(unionCase);
      }
    }
    std::map<std::string, std::string> tags;  // tag field -> text it holds
    std::set<std::string> done;
    for (const auto& entry : casesByTag) {
      const std::string& tag = entry.first;
      auto declared = fields.find(tag);
      if (declared == fields.end()) {
        if (Pick() < 224) {  // an undeclared tag field is an allowed extra field
          tags[tag] = TagText(entry.second);
          compound->SetField(tag, Data::StringValue::GetInstance(tags[tag]));
          ++nodes_;
        }
        continue;
      }
      if (IsStringDefinition(declared->second)) {
        tags[tag] = TagText(entry.second);
        compound->SetField(tag, Data::StringValue::GetInstance(tags[tag]));
        ++nodes_;
        done.insert(tag);
      } else if (auto* optional = dynamic_cast<const Data::OptionalDefinition*>(declared->second.get())) {
        if (IsStringDefinition(optional->GetElement())) {
          auto value = Data::OptionalValue::GetInstance();
          nodes_ += 2;
          if (Pick() < 224) {
            tags[tag] = TagText(entry.second);
            value->value() = Data::StringValue::GetInstance(tags[tag]);
          }
          compound->SetField(tag, value);
          done.insert(tag);
        }
      }
      // A tag field of another kind holds no text: its cases stay unset.
    }

    std::vector<Task> children;
    bool dropped = false;
    for (const auto& field : fields) {
      const std::string& fieldName = field.first;
      const Data::DefinitionPtr& fieldDefinition = field.second;
      if (done.count(fieldName) != 0) continue;
      if (!fieldDefinition) {
        if (Pick() & 1) children.push_back(Task{compound->ReserveField(fieldName), nullptr, false});
        continue;
      }
      if (auto* unionCase = dynamic_cast<const Data::UnionCaseDefinition*>(fieldDefinition.get())) {
        auto tag = tags.find(unionCase->GetTagField());
        const bool selected = tag != tags.end() && unionCase->Selects(tag->second);
        const std::uint8_t choice = Pick() % 3;
        if (choice == 1 && (selected || deviant)) {
          if (!selected) conforming_ = false;
          auto optional = Data::OptionalValue::GetInstance();
          ++nodes_;
          compound->SetField(fieldName, optional);
          children.push_back(Task{&optional->value(), unionCase->GetCase(), true});
        } else if (choice != 0) {
          ++nodes_;
          compound->SetField(fieldName, Data::OptionalValue::GetInstance());
        }
        continue;
      }
      const int kind = fieldDefinition->GetType();
      if (kind == Data::kOptional) {
        if (Pick() & 1) children.push_back(Task{compound->ReserveField(fieldName), fieldDefinition, true});
        continue;
      }
      if (deviant && !dropped && (Pick() & 1)) {
        dropped = true;  // a required field left out
        continue;
      }
      children.push_back(Task{compound->ReserveField(fieldName), fieldDefinition, true});
    }
    // Undeclared fields are allowed.
    for (std::size_t n = Pick() % 3; n > 0; --n) {
      const std::string extra = FieldName();
      if (fields.count(extra) != 0 || compound->GetFields().count(extra) != 0) continue;
      children.push_back(Task{compound->ReserveField(extra), nullptr, false});
    }
    Schedule(children);
  }

  ByteReader& in_;
  const Dictionary& dictionary_;
  DecodeLimits limits_;
  DecodeOptions options_;
  std::vector<Task> tasks_;
  std::size_t nodes_ = 0;
  std::size_t wrapped_ = 0;  // nodes of deep chains, counted apart
  bool conforming_ = true;
};

class DefinitionDecoder {
 public:
  DefinitionDecoder(ByteReader& in, const Dictionary& dictionary, const DecodeLimits& limits = DecodeLimits())
      : in_(in), dictionary_(dictionary), limits_(limits) {}

  // Never null at the root; children may be null.
  Data::DefinitionPtr Decode() {
    nodes_ = 0;
    structures_.clear();
    references_.clear();
    std::vector<Frame> stack;
    Data::DefinitionPtr produced;
    bool haveProduced = Open(stack, produced);
    for (;;) {
      if (haveProduced) {
        if (stack.empty()) break;
        stack.back().children.push_back(std::move(produced));
        haveProduced = false;
      }
      Frame& top = stack.back();
      if (top.children.size() < top.wanted) {
        haveProduced = Open(stack, produced);
        continue;
      }
      produced = Build(top);
      stack.pop_back();
      haveProduced = true;
    }
    for (const auto& reference : references_) {
      std::vector<std::shared_ptr<const Data::StructDefinition>> candidates;
      for (const auto& structure : structures_) {
        auto alive = structure.lock();
        if (alive && alive->GetName() == reference.first->GetName()) candidates.push_back(alive);
      }
      if (!candidates.empty()) reference.first->Bind(candidates[reference.second % candidates.size()]);
    }
    if (!produced) produced = Data::DataDefinition::Create<Tovri::Void>();
    return produced;
  }

  // The text that makes every decoded union predicate answer indeterminate.
  static const char* UndecidedTag() noexcept { return "?"; }

 private:
  enum Op : int {
    kPrimitive,
    kErrorKind,
    kDynamicKind,
    kOptionalOp,
    kListOp,
    kStructOp,
    kRefOp,
    kUnionOp,
    kNullOp
  };

  struct Frame {
    Op op;
    std::size_t wanted;
    std::string name;                     // structure, reference or tag field name
    std::vector<std::string> fieldNames;  // struct
    std::vector<std::string> texts;       // union predicate
    std::vector<Data::DefinitionPtr> children;
  };

  static Op OpOf(std::uint8_t byte) noexcept {
    switch (byte % 16) {
      case 7:
        return kErrorKind;
      case 8:
        return kDynamicKind;
      case 9:
        return kOptionalOp;
      case 10:
        return kListOp;
      case 11:
      case 15:
        return kStructOp;
      case 12:
        return kRefOp;
      case 13:
        return kUnionOp;
      case 14:
        return kNullOp;
      default:
        return kPrimitive;
    }
  }

  // Reads one node: a leaf goes to `produced` (true is returned), a
  // container becomes a frame waiting for its children.
  bool Open(std::vector<Frame>& stack, Data::DefinitionPtr& produced) {
    ++nodes_;
    const std::uint8_t byte = in_.Byte();
    Op op = OpOf(byte);
    const bool leafOnly = stack.size() >= limits_.maxDefinitionDepth || nodes_ >= limits_.maxDefinitionNodes;
    if (leafOnly && op != kPrimitive && op != kErrorKind && op != kDynamicKind && op != kNullOp &&
        op != kRefOp) {
      op = kPrimitive;
    }
    switch (op) {
      case kPrimitive: {
        static const int kCodes[] = {Data::kVoid, Data::kInteger, Data::kDouble, Data::kBoolean,
                                     Data::kBlob, Data::kString,  Data::kSecret};
        produced = Data::PrimitiveDefinition::GetInstance(kCodes[(byte % 16) % 7]);
        return true;
      }
      case kErrorKind:
        produced = Data::PrimitiveDefinition::GetInstance(Data::kError);
        return true;
      case kDynamicKind:
        produced = Data::PrimitiveDefinition::GetInstance(Data::kDynamicStruct);
        return true;
      case kNullOp:
        produced.reset();
        return true;
      case kRefOp: {
        auto reference = Data::StructRefDefinition::GetInstance(PickFrom(in_, dictionary_.structNames));
        const std::uint8_t bind = in_.Byte();
        if (bind < 224) references_.emplace_back(reference, bind);
        produced = reference;
        return true;
      }
      case kOptionalOp:
      case kListOp:
        stack.push_back(Frame{op, 1, std::string(), {}, {}, {}});
        return false;
      case kStructOp: {
        Frame frame{op, 0, PickFrom(in_, dictionary_.structNames), {}, {}, {}};
        frame.wanted = in_.Byte() % 6;
        for (std::size_t i = 0; i < frame.wanted; ++i)
          frame.fieldNames.push_back(PickFrom(in_, dictionary_.fieldNames));
        stack.push_back(std::move(frame));
        return false;
      }
      case kUnionOp: {
        Frame frame{op, 1, PickFrom(in_, dictionary_.fieldNames), {}, {}, {}};
        for (std::size_t n = 1 + in_.Byte() % 3; n > 0; --n)
          frame.texts.push_back(PickFrom(in_, dictionary_.texts));
        stack.push_back(std::move(frame));
        return false;
      }
    }
    return true;
  }

  Data::DefinitionPtr Build(Frame& frame) {
    switch (frame.op) {
      case kOptionalOp:
        return Data::OptionalDefinition::GetInstance(std::move(frame.children[0]));
      case kListOp:
        return Data::ListDefinition::GetInstance(std::move(frame.children[0]));
      case kStructOp: {
        Data::StructDefinition::FieldMap fields;
        for (std::size_t i = 0; i < frame.children.size(); ++i) {
          fields[frame.fieldNames[i]] = std::move(frame.children[i]);
        }
        auto structure = Data::StructDefinition::GetInstance(frame.name, fields);
        structures_.push_back(structure);
        return structure;
      }
      case kUnionOp: {
        std::vector<std::string> texts = std::move(frame.texts);
        auto predicate = [texts](const std::string& tag) -> boost::logic::tribool {
          if (tag == UndecidedTag()) return boost::logic::indeterminate;
          for (const std::string& text : texts) {
            if (text == tag) return true;
          }
          return false;
        };
        return Data::UnionCaseDefinition::GetInstance(std::move(frame.children[0]), frame.name, predicate);
      }
      default:
        return nullptr;
    }
  }

  ByteReader& in_;
  const Dictionary& dictionary_;
  DecodeLimits limits_;
  std::size_t nodes_ = 0;
  std::vector<std::weak_ptr<const Data::StructDefinition>> structures_;
  std::vector<std::pair<std::shared_ptr<Data::StructRefDefinition>, std::uint8_t>> references_;
};

}  // namespace DralFuzz
