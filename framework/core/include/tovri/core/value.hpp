// Dynamic values: the tree every call travels as.
//
// Values are built once, then shared as `std::shared_ptr<const DataValue>` and
// never changed. Containers are filled in place while they are built: a field
// slot of a structure, an element slot of a list and the content slot of an
// optional stay at the same address while the container grows, so a builder
// may hand out slot pointers and fill them later (the bindings' adapters do).
//
// Destroying a tree of any depth does not recurse: containers hand their
// uniquely owned children to an explicit stack when they die.
//
// Being immutable, the commonest primitives are shared rather than made:
// GetInstance of void, of a boolean or of an integer in [0, 256) returns
// one instance per value, and OptionalValue::Unset one unset optional.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/optional.hpp>

#include <tovri/core/message.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/value_arena.hpp>

namespace Tovri {
namespace Data {

// Type codes of values (and of the definitions describing them).
enum TypeCode : int {
  kVoid = 0,
  kInteger = 1,
  kDouble = 2,
  kBoolean = 3,
  kBlob = 4,
  kString = 5,
  kError = 6,  // compound: an error value
  kOptional = 7,
  kList = 8,
  kStruct = 9,
  kSecret = 10,
  kStructRef = 11,      // definitions only
  kUnionCase = 12,      // definitions only
  kDynamicStruct = 15,  // compound: a structure built without a definition
};

// A short lower-case name of a type code ("string", "structure", ...).
const char* TypeName(int code) noexcept;

class DataValue;
class VoidValue;
class IntegerValue;
class DoubleValue;
class BooleanValue;
class BlobValue;
class StringValue;
class SecretValue;
class ErrorValue;
class OptionalValue;
class ListValue;
class StructValue;

using Blob = std::vector<unsigned char>;
using ValuePtr = std::shared_ptr<const DataValue>;

// Double dispatch over the value kinds. Slot order is part of the contract.
class ValueVisitor {
 public:
  virtual void VisitVoid(const VoidValue& value) = 0;
  virtual void VisitInteger(const IntegerValue& value) = 0;
  virtual void VisitDouble(const DoubleValue& value) = 0;
  virtual void VisitBoolean(const BooleanValue& value) = 0;
  virtual void VisitBlob(const BlobValue& value) = 0;
  virtual void VisitString(const StringValue& value) = 0;
  virtual void VisitSecret(const SecretValue& value) = 0;
  virtual void VisitError(const ErrorValue& value) = 0;
  virtual void VisitOptional(const OptionalValue& value) = 0;
  virtual void VisitList(const ListValue& value) = 0;
  virtual void VisitStruct(const StructValue& value) = 0;
  virtual ~ValueVisitor();
};

class DataValue {
 public:
  virtual int GetType() const noexcept = 0;
  virtual void Accept(ValueVisitor& visitor) const = 0;
  virtual ~DataValue();

  DataValue(const DataValue&) = delete;
  DataValue& operator=(const DataValue&) = delete;

  // Makes the value of a native primitive. Specialised for std::string,
  // long long, bool, Blob, SecretString, Void and double.
  template <class T>
  static ValuePtr Create(const T& value);

  // Reads a value of exactly the kind of T. On a value of another kind it
  // appends a message and returns false, leaving `out` untouched.
  template <class T>
  static bool Value(const DataValue& value, T& out, std::list<BaseMessage>& messages);

  // Parses a string value into T: base-10 integers in the 64-bit range,
  // "true"/"false" booleans, base64 blobs, the text itself for strings and
  // secrets, the empty text for Void. Anything else (another kind, garbage,
  // overflow) appends a message and returns false, leaving `out` untouched.
  template <class T>
  static bool ToPrimitive(const DataValue& value, T& out, std::list<BaseMessage>& messages);

 protected:
  DataValue() = default;
};

// Structural equality of two trees (kinds, names, fields, elements); used by
// tests and tools. Iterative, any depth.
bool Equal(const DataValue& a, const DataValue& b);

template <class T>
class PrimitiveValue : public DataValue {
 public:
  const T& GetValue() const noexcept { return value_; }

 protected:
  explicit PrimitiveValue(T value) : value_(std::move(value)) {}

 private:
  T value_;
};

class VoidValue final : public DataValue {
 public:
  static std::shared_ptr<const VoidValue> GetInstance();
  int GetType() const noexcept override { return kVoid; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitVoid(*this); }
  VoidValue() = default;
};

class IntegerValue final : public PrimitiveValue<long long> {
 public:
  static std::shared_ptr<const IntegerValue> GetInstance(long long value);
  int GetType() const noexcept override { return kInteger; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitInteger(*this); }
  explicit IntegerValue(long long value) : PrimitiveValue(value) {}
};

class DoubleValue final : public PrimitiveValue<double> {
 public:
  static std::shared_ptr<const DoubleValue> GetInstance(double value);
  int GetType() const noexcept override { return kDouble; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitDouble(*this); }
  explicit DoubleValue(double value) : PrimitiveValue(value) {}
};

class BooleanValue final : public PrimitiveValue<bool> {
 public:
  static std::shared_ptr<const BooleanValue> GetInstance(bool value);
  int GetType() const noexcept override { return kBoolean; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitBoolean(*this); }
  explicit BooleanValue(bool value) : PrimitiveValue(value) {}
};

class BlobValue final : public PrimitiveValue<Blob> {
 public:
  static std::shared_ptr<const BlobValue> GetInstance(Blob value);
  int GetType() const noexcept override { return kBlob; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitBlob(*this); }
  explicit BlobValue(Blob value) : PrimitiveValue(std::move(value)) {}
};

class StringValue final : public PrimitiveValue<std::string> {
 public:
  static std::shared_ptr<const StringValue> GetInstance(std::string value);
  int GetType() const noexcept override { return kString; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitString(*this); }
  explicit StringValue(std::string value) : PrimitiveValue(std::move(value)) {}
};

// Holds a secret; its text is wiped with the value (SecretString).
class SecretValue final : public PrimitiveValue<SecretString> {
 public:
  static std::shared_ptr<const SecretValue> GetInstance(SecretString value);
  int GetType() const noexcept override { return kSecret; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitSecret(*this); }
  explicit SecretValue(SecretString value) : PrimitiveValue(std::move(value)) {}
};

// Base of the container values; takes part in non-recursive teardown. Each
// concrete container's destructor hands its children to ContainerTeardown
// before its members die (a base destructor would run too late for that).
class ContainerValue : public DataValue {
 public:
  ~ContainerValue() override;

 protected:
  ContainerValue() = default;
  // Moves every child into `out` and leaves the container empty.
  virtual void ReleaseChildren(std::vector<ValuePtr>& out) noexcept = 0;
  friend class ContainerTeardown;
};

// Text that lives as long as the program, such as a name in a generated
// table: a value refers to it instead of keeping a copy. Make one only from
// a std::string that is never destroyed (for example a function-local
// `static const std::string& name = *new std::string(...)`).
class StaticName {
 public:
  explicit constexpr StaticName(const std::string& text) noexcept : text_(&text) {}
  const std::string& Text() const noexcept { return *text_; }

 private:
  const std::string* text_;
};

// One field of a compound value. It never moves while the value lives.
struct ValueField {
  const std::string& first;  // the name
  ValuePtr second;           // the value; null while a reserved slot is unfilled
};

// The fields of a compound value, read like a map ordered by the bytes of
// the names: fields sit in a few blocks (usually one, sized when the value
// is made) beside an array of them in name order, and names given as
// StaticName are not copied.
class FieldList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = ValueField;
    using difference_type = std::ptrdiff_t;
    using pointer = const ValueField*;
    using reference = const ValueField&;

    const_iterator() = default;
    explicit const_iterator(ValueField* const* at) : at_(at) {}
    reference operator*() const { return **at_; }
    pointer operator->() const { return *at_; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    const_iterator operator++(int) { return const_iterator(at_++); }
    const_iterator& operator--() {
      --at_;
      return *this;
    }
    const_iterator operator--(int) { return const_iterator(at_--); }
    friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }
    friend bool operator!=(const const_iterator& a, const const_iterator& b) { return a.at_ != b.at_; }

   private:
    ValueField* const* at_ = nullptr;
  };
  using iterator = const_iterator;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;
  using value_type = ValueField;
  using size_type = std::size_t;

  FieldList() = default;
  FieldList(const FieldList&) = delete;
  FieldList& operator=(const FieldList&) = delete;
  ~FieldList();

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const_iterator begin() const noexcept { return const_iterator(order_); }
  const_iterator end() const noexcept { return const_iterator(order_ + size_); }
  const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
  const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }
  const_iterator find(std::string_view name) const noexcept {
    if (size_ > kScan) return FindSorted(name);
    // A short scan beats a binary search on the few fields of most
    // structures, and a byte loop a call to memcmp on their short names.
    for (std::size_t i = 0; i < size_; ++i) {
      const std::string& candidate = order_[i]->first;
      if (candidate.size() != name.size()) continue;
      std::size_t k = 0;
      while (k < name.size() && candidate[k] == name[k]) ++k;
      if (k == name.size()) return const_iterator(order_ + i);
    }
    return end();
  }
  std::size_t count(std::string_view name) const noexcept { return find(name) == end() ? 0 : 1; }
  // The field's value; throws std::out_of_range when absent, as std::map does.
  const ValuePtr& at(std::string_view name) const;

  // The slot of a field, made empty when absent. Never moves.
  ValuePtr* Reserve(std::string_view name);
  ValuePtr* Reserve(StaticName name);
  // Room for `fields` fields in one block; only before the first Reserve.
  void Expect(std::size_t fields) noexcept { expected_ = fields; }
  // A copy of `text` that lives as long as this list.
  const std::string& Keep(std::string_view text);
  // Moves every value into `out`; the fields stay, empty.
  void ReleaseChildren(std::vector<ValuePtr>& out) noexcept;

 private:
  struct Block;
  struct Names;
  static constexpr std::size_t kScan = 8;
  const_iterator FindSorted(std::string_view name) const noexcept;
  std::size_t LowerBound(std::string_view name) const noexcept;
  ValuePtr* Insert(std::size_t position, const std::string& name);

  Block* block_ = nullptr;        // the newest; its order array covers all fields
  ValueField** order_ = nullptr;  // that array
  Names* names_ = nullptr;        // copied names
  std::size_t size_ = 0;
  std::size_t expected_ = 0;
};

// A value with named fields, kept in ascending byte order of their names.
class CompoundValue : public ContainerValue {
 public:
  using FieldMap = FieldList;

  const std::string& GetName() const noexcept { return *name_; }
  const FieldMap& GetFields() const noexcept { return fields_; }

  ~CompoundValue() override;

  // The field's value. When absent, appends a message naming the field and
  // the structure and returns false.
  bool GetField(std::string_view name, ValuePtr& out, std::list<BaseMessage>& messages) const;
  // The field's value, or null when absent. No message.
  ValuePtr FindField(std::string_view name) const;
  // The same without touching the reference count: null when absent, valid
  // while the value lives.
  const ValuePtr* FindSlot(std::string_view name) const noexcept;

  // Sets (or replaces) a field. Only while the value is being built.
  void SetField(std::string_view name, ValuePtr value);
  void SetField(StaticName name, ValuePtr value);
  // The slot of a field, created empty when absent. The address stays valid
  // for the life of the value.
  ValuePtr* ReserveField(std::string_view name);
  ValuePtr* ReserveField(StaticName name);
  // Room for `fields` fields in one piece of memory. Only before the first
  // field is added; a hint, not a limit.
  void ExpectFields(std::size_t fields) noexcept { fields_.Expect(fields); }

 protected:
  explicit CompoundValue(std::string_view name, std::size_t fields = 0) : name_(&fields_.Keep(name)) {
    fields_.Expect(fields);
  }
  CompoundValue(StaticName name, std::size_t fields) : name_(&name.Text()) { fields_.Expect(fields); }
  void ReleaseChildren(std::vector<ValuePtr>& out) noexcept override;

 private:
  FieldMap fields_;  // before name_: it may hold the name
  const std::string* name_;
};

class StructValue : public CompoundValue {
 public:
  static std::shared_ptr<StructValue> GetInstance(std::string_view name);
  // A structure named by a static text, with room for `fields` fields.
  static std::shared_ptr<StructValue> GetInstance(StaticName name, std::size_t fields);
  int GetType() const noexcept override { return kStruct; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitStruct(*this); }
  explicit StructValue(std::string_view name, std::size_t fields = 0) : CompoundValue(name, fields) {}
  StructValue(StaticName name, std::size_t fields) : CompoundValue(name, fields) {}
};

// A structure assembled by a generic tool that has no definition for it. It
// reads like a structure (visitors see VisitStruct) but reports its own type
// code, so the definition check does not insist on its name.
class DynamicStructValue final : public StructValue {
 public:
  static std::shared_ptr<DynamicStructValue> GetInstance(std::string_view name);
  int GetType() const noexcept override { return kDynamicStruct; }
  explicit DynamicStructValue(std::string_view name) : StructValue(name) {}
};

// One message carried by an error, with its localised text when the error
// was localised.
struct ErrorMessage {
  BaseMessage message;
  boost::optional<std::string> localized;
};

// An error: a compound value named by the error id (for example
// "com.corvane.tovri.std.errors.not_found") whose field "messages" is a list
// of "com.corvane.tovri.std.localizable_message" structures, the shape of the
// standard error structures.
class ErrorValue final : public CompoundValue {
 public:
  // An error without messages (an empty "messages" list).
  static std::shared_ptr<ErrorValue> GetInstance(const std::string& id);
  // An error carrying `messages`, unlocalised.
  static std::shared_ptr<ErrorValue> Create(const std::string& id, const std::list<BaseMessage>& messages);
  // An error carrying `messages` with their localised texts.
  static std::shared_ptr<ErrorValue> Create(const std::string& id, const std::vector<ErrorMessage>& messages);

  int GetType() const noexcept override { return kError; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitError(*this); }

  const std::string& GetId() const noexcept { return GetName(); }
  // The messages read back from the "messages" field; entries of another
  // shape are skipped.
  std::vector<ErrorMessage> GetMessages() const;

  explicit ErrorValue(std::string_view id) : CompoundValue(id, 1) {}
};

// Present or absent content.
class OptionalValue final : public ContainerValue {
 public:
  // An unset optional.
  static std::shared_ptr<OptionalValue> GetInstance();
  // A set optional holding `content`.
  static std::shared_ptr<OptionalValue> GetInstance(ValuePtr content);
  // The unset optional, shared like the other immutable instances (for a
  // tree whose builder knows the optional stays unset).
  static std::shared_ptr<const OptionalValue> Unset();

  ~OptionalValue() override;

  int GetType() const noexcept override { return kOptional; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitOptional(*this); }

  bool IsSet() const noexcept { return set_; }
  // The content; null when unset.
  const ValuePtr& GetValue() const noexcept { return content_; }

  // Marks the optional set and gives the content slot to fill (empty until
  // filled). Only while the value is being built.
  ValuePtr& value() noexcept {
    set_ = true;
    return content_;
  }

  OptionalValue() = default;

 protected:
  void ReleaseChildren(std::vector<ValuePtr>& out) noexcept override;

 private:
  bool set_ = false;
  ValuePtr content_;
};

// The elements of a list: indexable like a vector, but a slot never moves
// once made, so builders may fill slots after appending more. Elements live
// in blocks of 4, 8, 16... slots; the first block is allocated with the first
// element, so an empty list costs nothing and a short one one small block
// (a std::deque would take over half a kilobyte for either).
class ValueSlots {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = ValuePtr;
    using difference_type = std::ptrdiff_t;
    using pointer = const ValuePtr*;
    using reference = const ValuePtr&;

    const_iterator() = default;
    const_iterator(const ValueSlots* slots, std::size_t index) : slots_(slots), index_(index) {}

    reference operator*() const { return (*slots_)[index_]; }
    pointer operator->() const { return &(*slots_)[index_]; }
    reference operator[](difference_type n) const { return (*slots_)[index_ + n]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) { return const_iterator(slots_, index_++); }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) { return const_iterator(slots_, index_--); }
    const_iterator& operator+=(difference_type n) {
      index_ += n;
      return *this;
    }
    const_iterator& operator-=(difference_type n) {
      index_ -= n;
      return *this;
    }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.index_ == b.index_; }
    friend bool operator!=(const const_iterator& a, const const_iterator& b) { return a.index_ != b.index_; }
    friend bool operator<(const const_iterator& a, const const_iterator& b) { return a.index_ < b.index_; }
    friend bool operator>(const const_iterator& a, const const_iterator& b) { return a.index_ > b.index_; }
    friend bool operator<=(const const_iterator& a, const const_iterator& b) { return a.index_ <= b.index_; }
    friend bool operator>=(const const_iterator& a, const const_iterator& b) { return a.index_ >= b.index_; }

   private:
    const ValueSlots* slots_ = nullptr;
    std::size_t index_ = 0;
  };
  using iterator = const_iterator;
  using value_type = ValuePtr;
  using size_type = std::size_t;
  using const_reference = const ValuePtr&;

  ValueSlots() = default;
  ValueSlots(const ValueSlots&) = delete;
  ValueSlots& operator=(const ValueSlots&) = delete;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const ValuePtr& operator[](std::size_t index) const noexcept { return *Slot(index); }
  ValuePtr& operator[](std::size_t index) noexcept { return *Slot(index); }
  const ValuePtr& front() const noexcept { return (*this)[0]; }
  const ValuePtr& back() const noexcept { return (*this)[size_ - 1]; }
  const_iterator begin() const noexcept { return const_iterator(this, 0); }
  const_iterator end() const noexcept { return const_iterator(this, size_); }

  ~ValueSlots() { clear(); }

  // A new empty slot at the end.
  ValuePtr& emplace_back() {
    const std::size_t block = BlockOf(size_);
    if (block == 0) {
      if (!first_) first_ = NewBlock(kFirstBlock);
    } else if (block > more_.size()) {
      more_.push_back(NewBlock(kFirstBlock << block));
    }
    return *Slot(size_++);
  }
  void push_back(ValuePtr value) { emplace_back() = std::move(value); }
  void clear() noexcept;

 private:
  static constexpr std::size_t kFirstBlock = 4;

  // Block b holds the indices from kFirstBlock * (2^b - 1) on.
  static std::size_t BlockOf(std::size_t index) noexcept {
    const unsigned long long q = index / kFirstBlock + 1;
    return static_cast<std::size_t>(63 - __builtin_clzll(q));
  }
  ValuePtr* Slot(std::size_t index) const noexcept {
    const std::size_t block = BlockOf(index);
    ValuePtr* base = block == 0 ? first_ : more_[block - 1];
    return &base[index - kFirstBlock * ((std::size_t{1} << block) - 1)];
  }

  // Blocks come from value memory (see value_arena.hpp).
  static ValuePtr* NewBlock(std::size_t slots);
  static void DeleteBlock(ValuePtr* block, std::size_t slots) noexcept;

  ValuePtr* first_ = nullptr;                                       // kFirstBlock slots
  std::vector<ValuePtr*, Detail::ValueAllocator<ValuePtr*>> more_;  // block b at more_[b - 1]
  std::size_t size_ = 0;
};

// A sequence: a list (kind 1), a set (kind 2, elements in ascending order) or
// a map (kind 3, "map-entry" structures with "key" and "value").
class ListValue final : public ContainerValue {
 public:
  enum Kind : int { kListKind = 1, kSetKind = 2, kMapKind = 3 };
  using Elements = ValueSlots;

  static std::shared_ptr<ListValue> GetInstance(int kind = kListKind);

  ~ListValue() override;

  int GetType() const noexcept override { return kList; }
  void Accept(ValueVisitor& visitor) const override { visitor.VisitList(*this); }

  int GetKind() const noexcept { return kind_; }
  const Elements& GetElements() const noexcept { return elements_; }

  // Appends an empty element slot; its address stays valid for the life of
  // the value. Only while the value is being built.
  ValuePtr* AppendSlot();
  void Append(ValuePtr element);

  explicit ListValue(int kind) : kind_(kind) {}

 protected:
  void ReleaseChildren(std::vector<ValuePtr>& out) noexcept override;

 private:
  int kind_;
  Elements elements_;
};

// Specialisations of the DataValue templates, defined by the core library.
template <>
ValuePtr DataValue::Create<std::string>(const std::string&);
template <>
ValuePtr DataValue::Create<long long>(const long long&);
template <>
ValuePtr DataValue::Create<bool>(const bool&);
template <>
ValuePtr DataValue::Create<double>(const double&);
template <>
ValuePtr DataValue::Create<Blob>(const Blob&);
template <>
ValuePtr DataValue::Create<SecretString>(const SecretString&);
template <>
ValuePtr DataValue::Create<Void>(const Void&);

template <>
bool DataValue::Value<std::string>(const DataValue&, std::string&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<long long>(const DataValue&, long long&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<bool>(const DataValue&, bool&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<double>(const DataValue&, double&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<Blob>(const DataValue&, Blob&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<SecretString>(const DataValue&, SecretString&, std::list<BaseMessage>&);
template <>
bool DataValue::Value<Void>(const DataValue&, Void&, std::list<BaseMessage>&);

template <>
bool DataValue::ToPrimitive<std::string>(const DataValue&, std::string&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<long long>(const DataValue&, long long&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<bool>(const DataValue&, bool&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<double>(const DataValue&, double&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<Blob>(const DataValue&, Blob&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<SecretString>(const DataValue&, SecretString&, std::list<BaseMessage>&);
template <>
bool DataValue::ToPrimitive<Void>(const DataValue&, Void&, std::list<BaseMessage>&);

}  // namespace Data
}  // namespace Tovri
