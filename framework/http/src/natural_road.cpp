#include "natural_road.hpp"

#include <set>
#include <utility>
#include <vector>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include <tovri/core/error.hpp>
#include <tovri/http/wire.hpp>

namespace Tovri {
namespace Http {
namespace Detail {

namespace json = boost::json;
using Data::DataDefinition;

namespace {

constexpr const char* kRequestName = "com.corvane.tovri.http.request";
constexpr const char* kMapEntry = "map-entry";

// The request envelope as a definition, so that the natural reader walks it
// like any structure and its paths start at the body ("$.input.spec").
Data::DefinitionPtr RequestDefinition(const Data::DefinitionPtr& input) {
  const auto text = DataDefinition::Create<std::string>();
  const auto entry = Data::StructDefinition::GetInstance(kMapEntry, {{"key", text}, {"value", text}});
  const auto properties = Data::OptionalDefinition::GetInstance(Data::ListDefinition::GetInstance(entry));
  return Data::StructDefinition::GetInstance(kRequestName, {{"input", input}, {"properties", properties}});
}

const char* PrimitiveName(int code) {
  switch (code) {
    case Data::kVoid:
      return "void";
    case Data::kInteger:
      return "integer";
    case Data::kDouble:
      return "double";
    case Data::kBoolean:
      return "boolean";
    case Data::kBlob:
      return "blob";
    case Data::kString:
      return "string";
    case Data::kSecret:
      return "secret";
    case Data::kError:
      return "error";
    case Data::kDynamicStruct:
      return "dynamic_structure";
    default:
      return "unknown";
  }
}

// The map-entry structure a list definition holds, or null when it is a
// plain list.
const Data::StructDefinition* MapEntryOf(const DataDefinition& element) {
  const DataDefinition* resolved = &element;
  std::shared_ptr<const Data::StructDefinition> target;
  if (element.GetType() == Data::kStructRef) {
    target = static_cast<const Data::StructRefDefinition&>(element).GetTarget();
    resolved = target.get();
  }
  if (!resolved || resolved->GetType() != Data::kStruct) return nullptr;
  const auto* entry = static_cast<const Data::StructDefinition*>(resolved);
  const auto& fields = entry->GetFields();
  if (entry->GetName() != kMapEntry || fields.size() != 2 || !fields.count("key") || !fields.count("value")) {
    return nullptr;
  }
  return target ? nullptr : entry;  // a map entry is never a self reference
}

// Writes definitions as JSON. A structure is written in place as its name
// only and once, in full, in the table of structures, so that definitions
// referring to themselves come out finite. Walks with an explicit stack.
class Describer {
 public:
  // The definition's JSON; the structures it names are queued for the table.
  // With `fieldsInPlace`, a structure at the top is written with its fields
  // rather than named: operation inputs all share one name.
  json::value Describe(const DataDefinition* definition, bool fieldsInPlace = false) {
    json::value root;
    std::vector<std::pair<const DataDefinition*, json::value*>> stack{{definition, &root}};
    while (!stack.empty()) {
      const auto [def, slot] = stack.back();
      stack.pop_back();
      if (!def) continue;  // left as null: an unset definition
      json::object node;
      std::vector<std::pair<const char*, const DataDefinition*>> children;
      const Data::StructDefinition::FieldMap* fields = nullptr;
      switch (def->GetType()) {
        case Data::kStruct: {
          const auto& structure = static_cast<const Data::StructDefinition&>(*def);
          node["type"] = "structure";
          if (fieldsInPlace && slot == &root) {
            node["name"] = structure.GetName();
            fields = &structure.GetFields();
            json::object placeholders;
            for (const auto& field : *fields) placeholders[field.first] = nullptr;
            node["fields"] = std::move(placeholders);
          } else {
            node["name"] = Name(structure.GetName(), &structure);
          }
          break;
        }
        case Data::kStructRef: {
          const auto& ref = static_cast<const Data::StructRefDefinition&>(*def);
          node["type"] = "structure";
          node["name"] = Name(ref.GetName(), ref.GetTarget().get());
          break;
        }
        case Data::kList: {
          const auto& element = static_cast<const Data::ListDefinition&>(*def).GetElement();
          if (const Data::StructDefinition* entry = element ? MapEntryOf(*element) : nullptr) {
            node["type"] = "map";
            children = {{"key", entry->GetFields().at("key").get()},
                        {"value", entry->GetFields().at("value").get()}};
          } else {
            node["type"] = "list";
            children = {{"element", element.get()}};
          }
          break;
        }
        case Data::kOptional:
          node["type"] = "optional";
          children = {{"element", static_cast<const Data::OptionalDefinition&>(*def).GetElement().get()}};
          break;
        case Data::kUnionCase: {
          const auto& unionCase = static_cast<const Data::UnionCaseDefinition&>(*def);
          node["type"] = "union_case";
          node["tag_field"] = unionCase.GetTagField();
          children = {{"element", unionCase.GetCase().get()}};
          break;
        }
        default:
          node["type"] = PrimitiveName(def->GetType());
          break;
      }
      for (const auto& child : children) node[child.first] = nullptr;
      *slot = std::move(node);
      // The node is complete: pointers to its members stay valid.
      json::object& placed = slot->get_object();
      for (const auto& child : children) stack.emplace_back(child.second, &placed[child.first]);
      if (fields) {
        json::object& slots = placed["fields"].get_object();
        for (const auto& field : *fields) stack.emplace_back(field.second.get(), &slots[field.first]);
      }
    }
    return root;
  }

  // The table of every structure named so far, and of those they name.
  json::object Structures() {
    json::object table;
    for (std::size_t i = 0; i < queue_.size(); ++i) {  // grows while walked
      table[queue_[i]->GetName()] = Describe(queue_[i], true);
    }
    return table;
  }

 private:
  const std::string& Name(const std::string& name, const Data::StructDefinition* structure) {
    if (structure && named_.insert(name).second) queue_.push_back(structure);
    return name;
  }

  std::set<std::string> named_;
  // Owned by the definitions of the interfaces being described.
  std::vector<const Data::StructDefinition*> queue_;
};

}  // namespace

bool FindOperation(const Core::LocalProvider& provider, const std::string& service,
                   const std::string& operation, OperationDefinitions& found) {
  const auto api = provider.Find(service);
  const auto method = api ? api->FindMethod(operation) : nullptr;
  if (!method || !method->inputDefinition()) return false;
  found.input = method->inputDefinition();
  found.output = method->outputDefinition();
  found.errors = method->errorDefinitions();
  return true;
}

Data::ValuePtr ReadNaturalRequest(std::string_view body, const Data::DefinitionPtr& input,
                                  const NaturalLimits& limits, std::map<std::string, std::string>& properties,
                                  std::list<BaseMessage>& messages) {
  NaturalValue read = ReadNatural(body, *RequestDefinition(input), limits);
  if (!read.ok()) {
    messages = std::move(read.messages);
    return nullptr;
  }
  const auto& envelope = static_cast<const Data::CompoundValue&>(*read.value);
  const Data::ValuePtr* given = envelope.FindSlot("properties");
  if (given && *given && (*given)->GetType() == Data::kOptional) {
    const auto& optional = static_cast<const Data::OptionalValue&>(**given);
    if (optional.GetValue()) {
      for (const auto& entry : static_cast<const Data::ListValue&>(*optional.GetValue()).GetElements()) {
        const auto& pair = static_cast<const Data::CompoundValue&>(*entry);
        properties[static_cast<const Data::StringValue&>(**pair.FindSlot("key")).GetValue()] =
            static_cast<const Data::StringValue&>(**pair.FindSlot("value")).GetValue();
      }
    }
  }
  const Data::ValuePtr* value = envelope.FindSlot("input");
  return value ? *value : nullptr;
}

std::string WriteNaturalAnswer(const Core::MethodResult& result, const Data::DefinitionPtr& output,
                               std::string& errorId) {
  std::shared_ptr<const Data::ErrorValue> error = result.GetError();
  if (!error) {
    Data::ValuePtr value = result.GetOutput() ? result.GetOutput() : Data::VoidValue::GetInstance();
    NaturalText text = output ? WriteNatural(value, *output)
                              : NaturalText{"", {BaseMessage(kBadOutputMessage, "no output definition", {})}};
    if (text.ok()) {
      errorId.clear();
      return "{\"output\":" + text.text + "}";
    }
    text.messages.push_front(
        BaseMessage(kBadOutputMessage, "The answer does not match the operation's output definition.", {}));
    error = Data::ErrorValue::Create(kInternalServerErrorId, std::move(text.messages));
  }
  errorId = error->GetId();
  return WriteNaturalError(*error);
}

std::string WriteDiscovery(const Core::LocalProvider& provider) {
  // Held to the end: the table of structures points into their definitions.
  const auto apis = provider.Interfaces();
  Describer describer;
  json::array services;
  for (const auto& api : apis) {
    json::array operations;
    for (const auto& method : api->GetMethods()) {
      json::object operation;
      operation["name"] = method->methodName();
      operation["input"] = describer.Describe(method->inputDefinition().get(), true);
      operation["output"] = describer.Describe(method->outputDefinition().get());
      json::array errors;
      for (const auto& error : method->errorDefinitions()) errors.push_back(describer.Describe(error.get()));
      operation["errors"] = std::move(errors);
      operations.push_back(std::move(operation));
    }
    json::object service;
    service["id"] = api->GetIdentifier()->GetName();
    service["operations"] = std::move(operations);
    services.push_back(std::move(service));
  }
  json::object body;
  body["services"] = std::move(services);
  body["structures"] = describer.Structures();
  return json::serialize(body);
}

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
