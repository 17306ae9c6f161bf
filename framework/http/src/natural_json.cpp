// Natural JSON: reading against a definition, writing from a value. Boost.JSON
// parses and escapes; OpenSSL does base64. The parser recurses per level of
// nesting, bounded by the depth limit it enforces (capped); the walks over the
// parsed document and over value trees here use explicit stacks.
#include <tovri/http/natural_json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include <openssl/evp.h>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "json_detail.hpp"

namespace Tovri {
namespace Http {
namespace {

namespace json = boost::json;
using Data::DataDefinition;
using Data::DataValue;
using Data::ValuePtr;

constexpr std::size_t kNoPath = static_cast<std::size_t>(-1);
const char kMapEntry[] = "map-entry";

// ---------------------------------------------------------------- base64

// EVP_EncodeBlock and EVP_DecodeBlock take int lengths: large blobs go
// through in chunks of whole 3-byte (4-character) groups.
constexpr std::size_t kChunkGroups = 1u << 16;

std::string EncodeBase64(const Data::Blob& blob) {
  std::string out;
  out.reserve((blob.size() + 2) / 3 * 4);
  std::vector<unsigned char> buffer(kChunkGroups * 4 + 1);
  for (std::size_t at = 0; at < blob.size(); at += kChunkGroups * 3) {
    const std::size_t n = std::min(blob.size() - at, kChunkGroups * 3);
    const int written = EVP_EncodeBlock(buffer.data(), blob.data() + at, static_cast<int>(n));
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(written));
  }
  return out;
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard alphabet, padded, canonical: what EncodeBase64 writes and nothing
// else. EVP_DecodeBlock alone would skip white space and count padding as
// zero bytes, so the text is screened first and re-encoded after.
bool DecodeBase64(std::string_view text, Data::Blob& out) {
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    if (!IsBase64Char(text[i])) return false;
  }
  out.clear();
  out.reserve(text.size() / 4 * 3);
  std::vector<unsigned char> buffer(kChunkGroups * 3);
  for (std::size_t at = 0; at < text.size(); at += kChunkGroups * 4) {
    const std::size_t n = std::min(text.size() - at, kChunkGroups * 4);
    const int got = EVP_DecodeBlock(buffer.data(), reinterpret_cast<const unsigned char*>(text.data() + at),
                                    static_cast<int>(n));
    if (got < 0) return false;
    out.insert(out.end(), buffer.data(), buffer.data() + got);
  }
  out.resize(out.size() - padding);
  return EncodeBase64(out) == text;
}

// ---------------------------------------------------------------- paths

// JSON paths of the values being read, kept as a table of nodes naming their
// parent: one node per value, rendered only for a message. Keys are views
// into the parsed document, which outlives the table.
class PathTable {
 public:
  std::size_t Key(std::size_t parent, std::string_view key) {
    nodes_.push_back(Node{parent, key, 0, false});
    return nodes_.size() - 1;
  }
  std::size_t Index(std::size_t parent, std::size_t index) {
    nodes_.push_back(Node{parent, {}, index, true});
    return nodes_.size() - 1;
  }

  std::string Render(std::size_t node) const {
    std::vector<const Node*> chain;
    for (std::size_t at = node; at != kNoPath; at = nodes_[at].parent) chain.push_back(&nodes_[at]);
    std::string out = "$";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const Node& n = **it;
      if (n.isIndex) {
        out += "[" + std::to_string(n.index) + "]";
      } else if (IsPlainKey(n.key)) {
        out += ".";
        out += n.key;
      } else {
        out += "[" + json::serialize(json::string_view(n.key.data(), n.key.size())) + "]";
      }
    }
    return out;
  }

 private:
  struct Node {
    std::size_t parent;
    std::string_view key;
    std::size_t index;
    bool isIndex;
  };

  static bool IsPlainKey(std::string_view key) {
    if (key.empty() || (key[0] >= '0' && key[0] <= '9')) return false;
    return std::all_of(key.begin(), key.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
             c == '-';
    });
  }

  std::vector<Node> nodes_;
};

// ---------------------------------------------------------------- messages

BaseMessage Message(const char* id, const std::string& text, std::list<std::string> args) {
  return BaseMessage(id, text, args);
}

const char* JsonKind(const json::value& v) {
  switch (v.kind()) {
    case json::kind::null:
      return "null";
    case json::kind::bool_:
      return "a boolean";
    case json::kind::int64:
    case json::kind::uint64:
      return "an integer";
    case json::kind::double_:
      return "a number with a fraction or exponent";
    case json::kind::string:
      return "a string";
    case json::kind::array:
      return "an array";
    case json::kind::object:
      return "an object";
  }
  return "a value";
}

const char* Expected(int code) {
  switch (code) {
    case Data::kVoid:
      return "null";
    case Data::kInteger:
      return "an integer";
    case Data::kDouble:
      return "a number";
    case Data::kBoolean:
      return "a boolean";
    case Data::kBlob:
      return "a base64 string";
    case Data::kString:
    case Data::kSecret:
      return "a string";
    default:
      return "a value";
  }
}

// ---------------------------------------------------------------- reading

// The content definition of an optional or a union case field.
const DataDefinition* ContentOf(const DataDefinition& def) {
  if (def.GetType() == Data::kOptional)
    return static_cast<const Data::OptionalDefinition&>(def).GetElement().get();
  return static_cast<const Data::UnionCaseDefinition&>(def).GetCase().get();
}

bool MayBeAbsent(const DataDefinition* def) {
  return def && (def->GetType() == Data::kOptional || def->GetType() == Data::kUnionCase);
}

// The structure behind a structure reference; null when unbound.
const DataDefinition* Resolve(const DataDefinition* def) {
  if (def && def->GetType() == Data::kStructRef) {
    // The target is owned by the outer definition, which the caller holds.
    return static_cast<const Data::StructRefDefinition*>(def)->GetTarget().get();
  }
  return def;
}

// The entry structure of a map's list definition, or null for a plain list.
const Data::StructDefinition* MapEntryOf(const DataDefinition* element) {
  element = Resolve(element);
  if (!element || element->GetType() != Data::kStruct) return nullptr;
  const auto* entry = static_cast<const Data::StructDefinition*>(element);
  const auto& fields = entry->GetFields();
  if (entry->GetName() != kMapEntry || fields.size() != 2 || !fields.count("key") || !fields.count("value")) {
    return nullptr;
  }
  return entry;
}

class Reader {
 public:
  Reader(const NaturalLimits& limits, std::list<BaseMessage>& messages)
      : limits_(limits), messages_(messages) {}

  // Builds the value of `root` into `out`; stops at the first fault.
  bool Read(const json::value& root, const DataDefinition& definition, ValuePtr& out) {
    if (!Push(&root, &definition, &out, kNoPath)) return false;
    while (!stack_.empty()) {
      const Item item = stack_.back();
      stack_.pop_back();
      if (!Step(item)) return false;
    }
    return true;
  }

 private:
  struct Item {
    const json::value* json;
    const DataDefinition* def;
    ValuePtr* slot;
    std::size_t path;
  };

  bool Push(const json::value* v, const DataDefinition* def, ValuePtr* slot, std::size_t path) {
    if (++count_ > limits_.maxElements) {
      messages_.push_back(Message("tovri.http.natural.too.many.values",
                                  paths_.Render(path) + ": the body holds more than " +
                                      std::to_string(limits_.maxElements) + " values.",
                                  {paths_.Render(path), std::to_string(limits_.maxElements)}));
      return false;
    }
    stack_.push_back(Item{v, def, slot, path});
    return true;
  }

  bool Fail(std::size_t path, const char* id, const std::string& what) {
    const std::string where = paths_.Render(path);
    messages_.push_back(Message(id, where + ": " + what + ".", {where, what}));
    return false;
  }

  bool Mismatch(const Item& item, const char* expected) {
    return Fail(item.path, "tovri.http.natural.kind.mismatch",
                std::string("expected ") + expected + ", got " + JsonKind(*item.json));
  }

  bool Step(const Item& item) {
    const DataDefinition* def = Resolve(item.def);
    if (!def)
      return Fail(item.path, "tovri.http.natural.definition.unbound", "the definition here is not bound");
    switch (def->GetType()) {
      case Data::kOptional:
      case Data::kUnionCase: {
        auto optional = Data::OptionalValue::GetInstance();
        if (!item.json->is_null()) {
          ValuePtr& content = optional->value();
          // The same JSON value again, now against the content: not counted twice.
          stack_.push_back(Item{item.json, ContentOf(*def), &content, item.path});
        }
        *item.slot = std::move(optional);
        return true;
      }
      case Data::kStruct:
        return ReadStruct(item, static_cast<const Data::StructDefinition&>(*def));
      case Data::kList:
        return ReadList(item, static_cast<const Data::ListDefinition&>(*def));
      default:
        return ReadPrimitive(item, def->GetType());
    }
  }

  bool ReadStruct(const Item& item, const Data::StructDefinition& def) {
    if (!item.json->is_object()) return Mismatch(item, "an object");
    const json::object& object = item.json->get_object();
    auto structure = Data::StructValue::GetInstance(def.GetName());
    const std::size_t first = stack_.size();
    for (const auto& member : object) {
      const std::string key(member.key());
      const auto field = def.GetFields().find(key);
      if (field == def.GetFields().end()) {
        return Fail(paths_.Key(item.path, member.key()), "tovri.http.natural.field.unknown",
                    "structure " + def.GetName() + " has no such field");
      }
      if (!Push(&member.value(), field->second.get(), structure->ReserveField(key),
                paths_.Key(item.path, member.key()))) {
        return false;
      }
    }
    for (const auto& field : def.GetFields()) {
      if (object.contains(field.first)) continue;
      if (!MayBeAbsent(field.second.get())) {
        return Fail(item.path, "tovri.http.natural.field.missing",
                    "the required field \"" + field.first + "\" is missing");
      }
      structure->SetField(field.first, Data::OptionalValue::Unset());
    }
    // Popped in document order, so the first fault reported is the first in the body.
    std::reverse(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end());
    *item.slot = std::move(structure);
    return true;
  }

  bool ReadList(const Item& item, const Data::ListDefinition& def) {
    const Data::StructDefinition* entry = MapEntryOf(def.GetElement().get());
    auto list = Data::ListValue::GetInstance(entry ? Data::ListValue::kMapKind : Data::ListValue::kListKind);
    const std::size_t first = stack_.size();
    if (entry && item.json->is_object()) {
      const DataDefinition* keyDef = Resolve(entry->GetFields().at("key").get());
      const DataDefinition* valueDef = entry->GetFields().at("value").get();
      for (const auto& member : item.json->get_object()) {
        const std::size_t path = paths_.Key(item.path, member.key());
        ValuePtr key;
        if (!ReadKey(member.key(), keyDef, path, key)) return false;
        auto pair = Data::StructValue::GetInstance(kMapEntry);
        pair->SetField("key", std::move(key));
        if (!Push(&member.value(), valueDef, pair->ReserveField("value"), path)) return false;
        list->Append(std::move(pair));
      }
    } else if (item.json->is_array()) {
      const json::array& array = item.json->get_array();
      for (std::size_t i = 0; i < array.size(); ++i) {
        if (!Push(&array[i], def.GetElement().get(), list->AppendSlot(), paths_.Index(item.path, i)))
          return false;
      }
    } else {
      return Mismatch(item, entry ? "an object or an array" : "an array");
    }
    std::reverse(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end());
    *item.slot = std::move(list);
    return true;
  }

  // A map key from an object's member name: the text itself, or the decimal
  // form of an integer key.
  bool ReadKey(std::string_view text, const DataDefinition* def, std::size_t path, ValuePtr& out) {
    const int code = def ? def->GetType() : -1;
    if (code == Data::kString) {
      out = Data::StringValue::GetInstance(std::string(text));
      return true;
    }
    if (code != Data::kInteger) {
      return Fail(path, "tovri.http.natural.map.key",
                  std::string("keys of type ") + Data::TypeName(code) +
                      " cannot be object members; send an array of {\"key\", \"value\"} objects");
    }
    long long key = 0;
    std::list<BaseMessage> parse;
    if (!DataValue::ToPrimitive(*Data::StringValue::GetInstance(std::string(text)), key, parse)) {
      return Fail(path, "tovri.http.natural.map.key",
                  "the key is not a decimal integer" +
                      (parse.empty() ? std::string() : " (" + parse.front().defaultMessage + ")"));
    }
    out = Data::IntegerValue::GetInstance(key);
    return true;
  }

  bool ReadPrimitive(const Item& item, int code) {
    const json::value& v = *item.json;
    switch (code) {
      case Data::kString:
        if (!v.is_string()) break;
        *item.slot = Data::StringValue::GetInstance(std::string(v.get_string()));
        return true;
      case Data::kSecret:
        if (!v.is_string()) break;
        *item.slot = Data::SecretValue::GetInstance(SecretString(std::string(v.get_string())));
        return true;
      case Data::kInteger:
        if (v.is_uint64()) {
          return Fail(item.path, "tovri.http.natural.out.of.range",
                      "the integer is outside the 64-bit range");
        }
        if (!v.is_int64()) break;
        *item.slot = Data::IntegerValue::GetInstance(v.get_int64());
        return true;
      case Data::kDouble:
        return ReadDouble(item);
      case Data::kBoolean:
        if (!v.is_bool()) break;
        *item.slot = Data::BooleanValue::GetInstance(v.get_bool());
        return true;
      case Data::kBlob: {
        if (!v.is_string()) break;
        Data::Blob blob;
        if (!DecodeBase64(v.get_string(), blob)) {
          return Fail(item.path, "tovri.http.natural.base64",
                      "expected padded standard base64 (A-Z a-z 0-9 + /, no white space)");
        }
        *item.slot = Data::BlobValue::GetInstance(std::move(blob));
        return true;
      }
      case Data::kVoid:
        if (!v.is_null()) break;
        *item.slot = Data::VoidValue::GetInstance();
        return true;
      default:
        return Fail(item.path, "tovri.http.natural.unsupported",
                    std::string("a value of type ") + Data::TypeName(code) + " has no natural shape to read");
    }
    return Mismatch(item, Expected(code));
  }

  // Numbers JSON has no literal for travel as strings (json_detail.hpp).
  bool ReadDouble(const Item& item) {
    double d = 0;
    if (!Detail::ReadJsonDouble(*item.json, d)) return Mismatch(item, Detail::kSpecialDoublesExpected);
    *item.slot = Data::DoubleValue::GetInstance(d);
    return true;
  }

  const NaturalLimits& limits_;
  std::list<BaseMessage>& messages_;
  std::vector<Item> stack_;
  PathTable paths_;
  std::size_t count_ = 0;
};

// ---------------------------------------------------------------- writing

std::string Quote(std::string_view text) {
  return json::serialize(json::string_view(text.data(), text.size()));
}

std::string DoubleText(double d) {
  if (const char* special = Detail::SpecialDoubleText(d)) return std::string("\"") + special + "\"";
  return json::serialize(json::value(d));
}

// The key of a map entry as an object member name, or false when the entry
// cannot be one (a key of another kind, or not an entry at all).
bool EntryKey(const ValuePtr& element, std::string& key, const ValuePtr*& value) {
  if (!element || element->GetType() != Data::kStruct) return false;
  const auto& entry = static_cast<const Data::CompoundValue&>(*element);
  const ValuePtr* keySlot = entry.FindSlot("key");
  value = entry.FindSlot("value");
  if (!keySlot || !*keySlot || !value || entry.GetFields().size() != 2) return false;
  if ((*keySlot)->GetType() == Data::kString) {
    key = static_cast<const Data::StringValue&>(**keySlot).GetValue();
    return true;
  }
  if ((*keySlot)->GetType() == Data::kInteger) {
    key = std::to_string(static_cast<const Data::IntegerValue&>(**keySlot).GetValue());
    return true;
  }
  return false;
}

class Writer {
 public:
  explicit Writer(const NaturalWriteOptions& options) : options_(options) {}

  std::string Write(const DataValue* root) {
    stack_.push_back(Task{root, {}, root == nullptr});
    while (!stack_.empty()) {
      Task task = std::move(stack_.back());
      stack_.pop_back();
      if (task.value) {
        Step(*task.value);
      } else if (task.isNull) {
        out_ += "null";
      } else {
        out_ += task.text;
      }
    }
    return std::move(out_);
  }

 private:
  // Either a value to write, or text to copy (null value, isNull false),
  // or a missing value (written as null).
  struct Task {
    const DataValue* value;
    std::string text;
    bool isNull = false;
  };

  void Add(std::vector<Task>& seq, const ValuePtr& value) { seq.push_back(Task{value.get(), {}, !value}); }
  void Add(std::vector<Task>& seq, std::string text) { seq.push_back(Task{nullptr, std::move(text), false}); }

  // Schedules `seq` to be written next, in order.
  void Schedule(std::vector<Task>& seq) {
    for (auto it = seq.rbegin(); it != seq.rend(); ++it) stack_.push_back(std::move(*it));
  }

  void Step(const DataValue& value) {
    switch (value.GetType()) {
      case Data::kVoid:
        out_ += "null";
        return;
      case Data::kInteger:
        out_ += std::to_string(static_cast<const Data::IntegerValue&>(value).GetValue());
        return;
      case Data::kDouble:
        out_ += DoubleText(static_cast<const Data::DoubleValue&>(value).GetValue());
        return;
      case Data::kBoolean:
        out_ += static_cast<const Data::BooleanValue&>(value).GetValue() ? "true" : "false";
        return;
      case Data::kBlob:
        out_ += "\"" + EncodeBase64(static_cast<const Data::BlobValue&>(value).GetValue()) + "\"";
        return;
      case Data::kString:
        out_ += Quote(static_cast<const Data::StringValue&>(value).GetValue());
        return;
      case Data::kSecret:
        out_ += options_.revealSecrets
                    ? Quote(static_cast<const Data::SecretValue&>(value).GetValue().Reveal())
                    : "null";
        return;
      case Data::kOptional: {
        const auto& optional = static_cast<const Data::OptionalValue&>(value);
        std::vector<Task> seq;
        if (optional.IsSet()) {
          Add(seq, optional.GetValue());
        } else {
          Add(seq, "null");
        }
        Schedule(seq);
        return;
      }
      case Data::kList:
        return WriteList(static_cast<const Data::ListValue&>(value));
      case Data::kError:
      case Data::kStruct:
      case Data::kDynamicStruct:
        return WriteCompound(static_cast<const Data::CompoundValue&>(value), value.GetType() == Data::kError);
      default:
        out_ += "null";
        return;
    }
  }

  // Unset optional fields are left out: absence reads back as unset.
  void WriteCompound(const Data::CompoundValue& compound, bool isError) {
    std::vector<Task> seq;
    std::string separator = "{";
    if (isError) {
      Add(seq, "{\"error\":" + Quote(compound.GetName()));
      separator = ",";
    }
    for (const auto& field : compound.GetFields()) {
      const ValuePtr& v = field.second;
      if (v && v->GetType() == Data::kOptional && !static_cast<const Data::OptionalValue&>(*v).IsSet())
        continue;
      if (isError && field.first == "error") continue;  // the id already holds that key
      Add(seq, separator + Quote(field.first) + ":");
      Add(seq, v);
      separator = ",";
    }
    Add(seq, separator == "{" ? "{}" : "}");
    Schedule(seq);
  }

  // A map whose keys are all strings or all integers, none repeated, is an
  // object keyed by their text; any other map is an array of entries.
  void WriteList(const Data::ListValue& list) {
    std::vector<Task> seq;
    if (list.GetKind() == Data::ListValue::kMapKind && WriteMapObject(list, seq)) {
      Schedule(seq);
      return;
    }
    seq.clear();
    std::string separator = "[";
    for (const ValuePtr& element : list.GetElements()) {
      Add(seq, separator);
      Add(seq, element);
      separator = ",";
    }
    Add(seq, separator == "[" ? "[]" : "]");
    Schedule(seq);
  }

  bool WriteMapObject(const Data::ListValue& list, std::vector<Task>& seq) {
    std::set<std::string> seen;
    int keyKind = -1;
    std::string separator = "{";
    for (const ValuePtr& element : list.GetElements()) {
      std::string key;
      const ValuePtr* value = nullptr;
      if (!EntryKey(element, key, value)) return false;
      const int kind = static_cast<const Data::CompoundValue&>(*element).FindSlot("key")->get()->GetType();
      if (keyKind != -1 && kind != keyKind) return false;
      keyKind = kind;
      if (!seen.insert(key).second) return false;
      Add(seq, separator + Quote(key) + ":");
      Add(seq, *value);
      separator = ",";
    }
    Add(seq, separator == "{" ? "{}" : "}");
    return true;
  }

  const NaturalWriteOptions& options_;
  std::vector<Task> stack_;
  std::string out_;
};

BaseMessage Internal(const char* what) {
  return Message("tovri.http.natural.internal",
                 std::string("$: the body could not be handled: ") + what + ".", {"$", what});
}

}  // namespace

NaturalValue ReadNatural(std::string_view text, const DataDefinition& definition,
                         const NaturalLimits& limits) {
  NaturalValue result;
  Data::ValueArenaScope arena;  // the whole tree from one arena
  try {
    if (text.size() > limits.maxBytes) {
      result.messages.push_back(Message("tovri.http.natural.too.large",
                                        "$: the body has " + std::to_string(text.size()) +
                                            " bytes, more than the limit of " +
                                            std::to_string(limits.maxBytes) + ".",
                                        {"$", std::to_string(text.size()), std::to_string(limits.maxBytes)}));
      return result;
    }
    // A monotonic resource, held by no one else, lets the document die
    // without visiting its elements: no recursion on the way out either.
    json::monotonic_resource memory;
    json::parse_options options;
    const std::size_t maxDepth = std::min(limits.maxDepth, NaturalLimits::kDepthCeiling);
    options.max_depth = maxDepth;
    json::parser parser(json::storage_ptr(), options);
    parser.reset(&memory);
    json::error_code ec;
    const std::size_t consumed = parser.write(text.data(), text.size(), ec);
    if (ec) {
      const std::string at = std::to_string(consumed);
      if (ec == json::error::too_deep) {
        result.messages.push_back(Message("tovri.http.natural.too.deep",
                                          "$: arrays and objects nest deeper than " +
                                              std::to_string(maxDepth) + " levels (byte " + at + ").",
                                          {"$", std::to_string(maxDepth), at}));
      } else {
        result.messages.push_back(Message("tovri.http.natural.malformed",
                                          "$: the body is not JSON: " + ec.message() + " (byte " + at + ").",
                                          {"$", ec.message(), at}));
      }
      return result;
    }
    const json::value document = parser.release();
    ValuePtr value;
    Reader reader(limits, result.messages);
    if (!reader.Read(document, definition, value)) return result;
    if (!Data::CheckValue(definition, value, result.messages)) return result;
    result.value = std::move(value);
  } catch (const std::bad_alloc&) {
    result.messages.push_back(Internal("out of memory"));
  } catch (const std::exception& e) {
    result.messages.push_back(Internal(e.what()));
  }
  return result;
}

NaturalText WriteNatural(const ValuePtr& value, const DataDefinition& definition,
                         const NaturalWriteOptions& options) {
  NaturalText result;
  try {
    if (!Data::CheckValue(definition, value, result.messages)) return result;
    result.text = Writer(options).Write(value.get());
  } catch (const std::exception& e) {
    result.text.clear();
    result.messages.push_back(Internal(e.what()));
  }
  return result;
}

std::string WriteNaturalError(const Data::ErrorValue& error) {
  try {
    return Writer(NaturalWriteOptions()).Write(&error);
  } catch (const std::exception&) {
    return "{\"error\":" + Quote(error.GetId()) + "}";
  }
}

}  // namespace Http
}  // namespace Tovri
