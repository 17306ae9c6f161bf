#include <tovri/http/lossless_json.hpp>

#include <openssl/evp.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <boost/json/basic_parser_impl.hpp>

#include "json_detail.hpp"

namespace Tovri {
namespace Http {

namespace json = boost::json;
using Data::DataValue;
using Data::ValuePtr;

namespace {

// The item list is flat whatever the depth of the value; the envelope
// around it adds a few levels.
constexpr std::size_t kMaxJsonDepth = 8;

// Builds a document as json::parse does, except that a number with a
// fraction or an exponent is read exactly (std::from_chars, round to
// nearest) from its text: Boost.JSON's own conversion may be one unit in the
// last place off, and a double must read back as the very value written.
struct ExactNumberHandler {
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  json::value_stack st;
  std::string number;  // the pieces of a number split across writes

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) { return true; }
  bool on_object_end(std::size_t n, json::error_code&) {
    st.push_object(n);
    return true;
  }
  bool on_array_begin(json::error_code&) { return true; }
  bool on_array_end(std::size_t n, json::error_code&) {
    st.push_array(n);
    return true;
  }
  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    st.push_chars(s);
    return true;
  }
  bool on_key(json::string_view s, std::size_t, json::error_code&) {
    st.push_key(s);
    return true;
  }
  bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
    st.push_chars(s);
    return true;
  }
  bool on_string(json::string_view s, std::size_t, json::error_code&) {
    st.push_string(s);
    return true;
  }
  bool on_number_part(json::string_view s, json::error_code&) {
    number.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, json::string_view, json::error_code&) {
    number.clear();
    st.push_int64(i);
    return true;
  }
  bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) {
    number.clear();
    st.push_uint64(u);
    return true;
  }
  bool on_double(double d, json::string_view s, json::error_code&) {
    number.append(s.data(), s.size());
    double exact = 0;
    const auto read = std::from_chars(number.data(), number.data() + number.size(), exact);
    // Out of range (beyond the largest double): keep the parser's infinity.
    if (read.ec == std::errc() && read.ptr == number.data() + number.size()) d = exact;
    number.clear();
    st.push_double(d);
    return true;
  }
  bool on_bool(bool b, json::error_code&) {
    st.push_bool(b);
    return true;
  }
  bool on_null(json::error_code&) {
    st.push_null();
    return true;
  }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }
};

const char* ListKindName(int kind) {
  switch (kind) {
    case Data::ListValue::kListKind:
      return "list";
    case Data::ListValue::kSetKind:
      return "set";
    case Data::ListValue::kMapKind:
      return "map";
    default:
      return nullptr;
  }
}

void AppendBase64(const Data::Blob& blob, std::string& out) {
  out.push_back('"');
  const std::size_t start = out.size();
  // EVP_EncodeBlock writes 4 characters per 3 bytes and a terminating zero.
  out.resize(start + 4 * ((blob.size() + 2) / 3) + 1);
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[start]), blob.data(),
                                      static_cast<int>(blob.size()));
  out.resize(start + static_cast<std::size_t>(written));
  out.push_back('"');
}

bool DecodeBase64(std::string_view text, Data::Blob& out) {
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool alphabet =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    // Padding only in the last two places.
    if (!alphabet && !(c == '=' && i + 2 >= text.size())) return false;
  }
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') {
    if (padding == 0) return false;
    ++padding;
  }
  out.resize(text.size() / 4 * 3);
  if (text.empty()) return true;
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return false;
  out.resize(static_cast<std::size_t>(n) - padding);
  return true;
}

void AppendDouble(double d, std::string& out) {
  if (const char* special = Detail::SpecialDoubleText(d)) {
    out.push_back('"');
    out += special;
    out.push_back('"');
  } else {
    out += json::serialize(json::value(d));
  }
}

// One step of the writer: a value to write, or a field name to write before
// its value.
struct WriteTask {
  const DataValue* value = nullptr;
  const std::string* key = nullptr;
};

// Writes the pre-order item list: a tag per value, then its operands, then
// its children.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void Run(const DataValue* root) {
    out_.push_back('[');
    tasks_.push_back(WriteTask{root, nullptr});
    bool first = true;
    while (!tasks_.empty()) {
      const WriteTask task = tasks_.back();
      tasks_.pop_back();
      if (!first) out_.push_back(',');
      first = false;
      if (task.key) {
        Detail::AppendJsonString(*task.key, out_);
      } else {
        Write(task.value);
      }
    }
    out_.push_back(']');
  }

 private:
  void Tag(const char* tag) {
    out_.push_back('"');
    out_ += tag;
    out_ += "\",";
  }
  void Count(std::size_t n) { out_ += std::to_string(n); }

  void Write(const DataValue* value) {
    if (!value) {
      out_ += "null";
      return;
    }
    switch (value->GetType()) {
      case Data::kVoid:
        out_ += "\"void\"";
        return;
      case Data::kInteger:
        Tag("int");
        out_ += std::to_string(static_cast<const Data::IntegerValue*>(value)->GetValue());
        return;
      case Data::kDouble:
        Tag("double");
        AppendDouble(static_cast<const Data::DoubleValue*>(value)->GetValue(), out_);
        return;
      case Data::kBoolean:
        Tag("bool");
        out_ += static_cast<const Data::BooleanValue*>(value)->GetValue() ? "true" : "false";
        return;
      case Data::kBlob:
        Tag("blob");
        AppendBase64(static_cast<const Data::BlobValue*>(value)->GetValue(), out_);
        return;
      case Data::kString:
        Tag("string");
        Detail::AppendJsonString(static_cast<const Data::StringValue*>(value)->GetValue(), out_);
        return;
      case Data::kSecret:
        Tag("secret");
        Detail::AppendJsonString(static_cast<const Data::SecretValue*>(value)->GetValue().Reveal(), out_);
        return;
      case Data::kOptional: {
        const auto* optional = static_cast<const Data::OptionalValue*>(value);
        if (!optional->IsSet()) {
          out_ += "\"unset\"";
          return;
        }
        out_ += "\"optional\"";
        tasks_.push_back(WriteTask{optional->GetValue().get(), nullptr});
        return;
      }
      case Data::kList: {
        const auto* list = static_cast<const Data::ListValue*>(value);
        if (const char* name = ListKindName(list->GetKind())) {
          Tag(name);
        } else {
          Tag("listkind");
          out_ += std::to_string(list->GetKind());
          out_.push_back(',');
        }
        const auto& elements = list->GetElements();
        Count(elements.size());
        for (std::size_t i = elements.size(); i-- > 0;)
          tasks_.push_back(WriteTask{elements[i].get(), nullptr});
        return;
      }
      case Data::kError:
      case Data::kStruct:
      case Data::kDynamicStruct: {
        const auto* compound = static_cast<const Data::CompoundValue*>(value);
        const int type = value->GetType();
        Tag(type == Data::kError ? "error" : type == Data::kStruct ? "struct" : "dynamic");
        Detail::AppendJsonString(compound->GetName(), out_);
        out_.push_back(',');
        const auto& fields = compound->GetFields();
        Count(fields.size());
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
          tasks_.push_back(WriteTask{it->second.get(), nullptr});
          tasks_.push_back(WriteTask{nullptr, &it->first});
        }
        return;
      }
      default:
        out_ += "null";
        return;
    }
  }

  std::string& out_;
  std::vector<WriteTask> tasks_;
};

// An open container while reading: where its next child goes and how many
// are still to come.
struct OpenContainer {
  std::shared_ptr<Data::ListValue> list;
  std::shared_ptr<Data::CompoundValue> compound;
  Data::OptionalValue* optional = nullptr;
  std::size_t remaining = 0;
};

class Reader {
 public:
  Reader(const json::array& items, const JsonLimits& limits, std::string& error)
      : items_(items), limits_(limits), error_(error) {}

  ValuePtr Run() {
    ValuePtr root;
    if (!ReadValue(&root)) return nullptr;
    while (!open_.empty()) {
      OpenContainer& top = open_.back();
      if (top.remaining == 0) {
        open_.pop_back();
        continue;
      }
      --top.remaining;
      ValuePtr* slot = nullptr;
      if (top.list) {
        slot = top.list->AppendSlot();
      } else if (top.compound) {
        const json::string* key = Next() ? next_->if_string() : nullptr;
        if (!key) {
          Fail("a field name");
          return nullptr;
        }
        const std::string_view name(key->data(), key->size());
        if (top.compound->FindSlot(name)) {
          Fail("a field name not given before");
          return nullptr;
        }
        slot = top.compound->ReserveField(name);
      } else {
        slot = &top.optional->value();
      }
      if (!ReadValue(slot)) return nullptr;
    }
    if (position_ != items_.size()) {
      Fail("the end of the value");
      return nullptr;
    }
    return root;
  }

 private:
  bool Fail(const std::string& expected) {
    error_ = "malformed lossless value: expected " + expected + " at item " + std::to_string(position_);
    return false;
  }
  bool Refuse(const std::string& what) {
    error_ = what;
    return false;
  }
  bool Next() {
    if (position_ >= items_.size()) return false;
    next_ = &items_[position_++];
    return true;
  }
  bool NextCount(std::size_t& count) {
    if (!Next()) return Fail("a count");
    if (!next_->is_int64() || next_->get_int64() < 0) return Fail("a count");
    count = static_cast<std::size_t>(next_->get_int64());
    // Each child takes at least one item; a count beyond them is a lie.
    if (count > items_.size() - position_) return Fail("as many items as the count");
    return true;
  }
  bool Open(OpenContainer container) {
    // Its children sit one level below the containers now open.
    if (container.remaining > 0 && open_.size() + 2 > limits_.maxDepth) {
      return Refuse("value nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    }
    open_.push_back(std::move(container));
    return true;
  }

  // Reads the tag and operands of one value into `slot`; a container is left
  // open for its children.
  bool ReadValue(ValuePtr* slot) {
    if (++values_ > limits_.maxElements) {
      return Refuse("more than " + std::to_string(limits_.maxElements) + " values");
    }
    if (!Next() || !next_->is_string()) return Fail("a value tag");
    const json::string& tag = next_->get_string();
    if (tag == "void") {
      *slot = Data::VoidValue::GetInstance();
      return true;
    }
    if (tag == "unset") {
      *slot = Data::OptionalValue::Unset();
      return true;
    }
    if (tag == "optional") {
      auto optional = Data::Detail::MakeValue<Data::OptionalValue>();
      *slot = optional;
      OpenContainer open;
      open.optional = optional.get();
      open.remaining = 1;
      return Open(std::move(open));
    }
    if (tag == "list" || tag == "set" || tag == "map" || tag == "listkind") {
      int kind = tag == "list"  ? Data::ListValue::kListKind
                 : tag == "set" ? Data::ListValue::kSetKind
                                : Data::ListValue::kMapKind;
      if (tag == "listkind") {
        if (!Next() || !next_->is_int64() || next_->get_int64() < std::numeric_limits<int>::min() ||
            next_->get_int64() > std::numeric_limits<int>::max()) {
          return Fail("a list kind");
        }
        kind = static_cast<int>(next_->get_int64());
      }
      OpenContainer open;
      if (!NextCount(open.remaining)) return false;
      open.list = Data::ListValue::GetInstance(kind);
      *slot = open.list;
      return Open(std::move(open));
    }
    if (tag == "struct" || tag == "dynamic" || tag == "error") {
      const bool isStruct = tag == "struct";
      const bool isDynamic = tag == "dynamic";
      if (!Next() || !next_->is_string()) return Fail("a name");
      const std::string_view name(next_->get_string().data(), next_->get_string().size());
      OpenContainer open;
      if (!NextCount(open.remaining)) return false;
      if (isStruct) {
        open.compound = Data::Detail::MakeValue<Data::StructValue>(name, open.remaining);
      } else if (isDynamic) {
        open.compound = Data::Detail::MakeValue<Data::DynamicStructValue>(name);
      } else {
        open.compound = Data::Detail::MakeValue<Data::ErrorValue>(name);
      }
      *slot = open.compound;
      return Open(std::move(open));
    }
    // The primitives: one operand each.
    const std::string kind(tag.data(), tag.size());
    if (kind != "int" && kind != "double" && kind != "bool" && kind != "blob" && kind != "string" &&
        kind != "secret") {
      --position_;
      return Fail("a known value tag");
    }
    if (!Next()) return Fail("the operand of " + kind);
    const json::value& v = *next_;
    if (kind == "int") {
      if (v.is_int64()) {
        *slot = Data::IntegerValue::GetInstance(v.get_int64());
        return true;
      }
      return Fail("an integer in the 64-bit range");
    }
    if (kind == "double") return ReadDouble(v, slot);
    if (kind == "bool") {
      if (!v.is_bool()) return Fail("true or false");
      *slot = Data::BooleanValue::GetInstance(v.get_bool());
      return true;
    }
    if (kind == "blob") {
      Data::Blob blob;
      if (!v.is_string() ||
          !DecodeBase64(std::string_view(v.get_string().data(), v.get_string().size()), blob)) {
        return Fail("base64 text");
      }
      *slot = Data::BlobValue::GetInstance(std::move(blob));
      return true;
    }
    if (kind == "string" || kind == "secret") {
      if (!v.is_string()) return Fail("a JSON string");
      std::string text(v.get_string().data(), v.get_string().size());
      if (kind == "string") {
        *slot = Data::StringValue::GetInstance(std::move(text));
      } else {
        *slot = Data::SecretValue::GetInstance(SecretString(std::move(text)));
      }
      return true;
    }
    return Fail("a known value tag");
  }

  bool ReadDouble(const json::value& v, ValuePtr* slot) {
    double d = 0;
    if (!Detail::ReadJsonDouble(v, d)) return Fail(Detail::kSpecialDoublesExpected);
    *slot = Data::DoubleValue::GetInstance(d);
    return true;
  }

  const json::array& items_;
  const JsonLimits& limits_;
  std::string& error_;
  std::vector<OpenContainer> open_;
  std::size_t position_ = 0;
  const json::value* next_ = nullptr;
  std::size_t values_ = 0;
};

}  // namespace

namespace Detail {

bool ReadJsonDouble(const json::value& v, double& d) noexcept {
  if (v.is_double()) {
    d = v.get_double();
  } else if (v.is_int64()) {
    d = static_cast<double>(v.get_int64());
  } else if (v.is_uint64()) {
    d = static_cast<double>(v.get_uint64());
  } else {
    return v.is_string() && ReadSpecialDouble(v.get_string(), d);
  }
  return true;
}

void AppendJsonString(std::string_view text, std::string& out) {
  out += json::serialize(json::string_view(text.data(), text.size()));
}

const char* SpecialDoubleText(double d) noexcept {
  if (std::isnan(d)) return kNaNText;
  if (std::isinf(d)) return d > 0 ? kInfinityText : kNegativeInfinityText;
  if (d == 0 && std::signbit(d)) return kNegativeZeroText;
  return nullptr;
}

bool ReadSpecialDouble(std::string_view text, double& d) noexcept {
  if (text == kNaNText) {
    d = std::numeric_limits<double>::quiet_NaN();
  } else if (text == kInfinityText) {
    d = std::numeric_limits<double>::infinity();
  } else if (text == kNegativeInfinityText) {
    d = -std::numeric_limits<double>::infinity();
  } else if (text == kNegativeZeroText) {
    d = -0.0;
  } else {
    return false;
  }
  return true;
}

bool ParseDocument(std::string_view text, const JsonLimits& limits, const json::storage_ptr& storage,
                   json::value& out, std::string& error) {
  if (text.size() > limits.maxBytes) {
    error = "body larger than " + std::to_string(limits.maxBytes) + " bytes";
    return false;
  }
  json::parse_options options;
  options.max_depth = kMaxJsonDepth;
  // Strings are bytes to the framework; they cross unchanged.
  options.allow_invalid_utf8 = true;
  boost::system::error_code ec;
  json::basic_parser<ExactNumberHandler> parser(options);
  parser.handler().st.reset(storage);
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (!ec && used < text.size()) ec = json::error::extra_data;
  if (!ec) out = parser.handler().st.release();
  if (ec) {
    error = "malformed JSON: " + ec.message();
    return false;
  }
  return true;
}

ValuePtr ValueFromJson(const json::value& node, const JsonLimits& limits, std::string& error) {
  const json::array* items = node.if_array();
  if (!items) {
    error = "malformed lossless value: expected a JSON array of items";
    return nullptr;
  }
  Data::ValueArenaScope arena;  // the whole tree from one arena
  return Reader(*items, limits, error).Run();
}

}  // namespace Detail

void WriteLosslessJson(const DataValue& value, std::string& out) { Writer(out).Run(&value); }

std::string ToLosslessJson(const DataValue& value) {
  std::string out;
  WriteLosslessJson(value, out);
  return out;
}

ValuePtr ReadLosslessJson(std::string_view text, const JsonLimits& limits, std::string& error) {
  // A stack-local monotonic resource: the document is released at once,
  // without a recursive walk over its nodes.
  json::monotonic_resource resource;
  json::storage_ptr storage(&resource);
  json::value document(storage);
  if (!Detail::ParseDocument(text, limits, storage, document, error)) return nullptr;
  return Detail::ValueFromJson(document, limits, error);
}

}  // namespace Http
}  // namespace Tovri
