#include <tovri/core/value.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "core_messages.hpp"

namespace Tovri {
namespace Data {

const char* TypeName(int code) noexcept {
  switch (code) {
    case kVoid:
      return "void";
    case kInteger:
      return "integer";
    case kDouble:
      return "double";
    case kBoolean:
      return "boolean";
    case kBlob:
      return "blob";
    case kString:
      return "string";
    case kError:
      return "error";
    case kOptional:
      return "optional";
    case kList:
      return "list";
    case kStruct:
      return "structure";
    case kSecret:
      return "secret";
    case kStructRef:
      return "structure reference";
    case kUnionCase:
      return "union case";
    case kDynamicStruct:
      return "dynamic structure";
    default:
      return "unknown";
  }
}

ValueVisitor::~ValueVisitor() = default;
DataValue::~DataValue() = default;
ContainerValue::~ContainerValue() = default;

// Tears a container's subtree down without recursion: children this thread
// owns alone are emptied onto a stack before they are dropped, so every
// destructor that runs finds its container already empty. Children still
// shared elsewhere are merely released; their last owner tears them down the
// same way. A container dying while a teardown runs on its thread hands its
// children to the running loop rather than starting one of its own.
class ContainerTeardown {
 public:
  // A value's code names its class (as everywhere in this library), which
  // spares a dynamic_cast per node.
  static bool IsContainer(int code) noexcept {
    return code == kStruct || code == kList || code == kOptional || code == kError || code == kDynamicStruct;
  }

  static void Run(ContainerValue& root) noexcept {
    thread_local std::vector<ValuePtr>* running = nullptr;  // trivially destructible on purpose
    if (running) {
      root.ReleaseChildren(*running);
      return;
    }
    std::vector<ValuePtr> stack;
    stack.reserve(kInitialCapacity);  // one allocation for ordinary trees
    running = &stack;
    root.ReleaseChildren(stack);
    while (!stack.empty()) {
      ValuePtr child = std::move(stack.back());
      stack.pop_back();
      if (child && IsContainer(child->GetType()) && child.use_count() == 1) {
        // Sole owner: nobody else can observe the container any more.
        const_cast<ContainerValue*>(static_cast<const ContainerValue*>(child.get()))->ReleaseChildren(stack);
      }
      // `child` dies here with no children of its own left.
    }
    running = nullptr;
  }

 private:
  static constexpr std::size_t kInitialCapacity = 32;
};

// --- field lists -------------------------------------------------------------

namespace {

template <class T>
T* NewArray(std::size_t n) {
  return static_cast<T*>(Detail::AllocateValueMemory(n * sizeof(T)));
}

}  // namespace

// Fields in insertion order, then the order array of all fields so far.
// Blocks grow by doubling; an older block keeps its fields (their addresses
// were handed out) and only its order array goes unused.
struct FieldList::Block {
  Block* previous;
  std::uint32_t used;
  std::uint32_t capacity;
  ValueField* fields() noexcept { return reinterpret_cast<ValueField*>(this + 1); }
  ValueField** order() noexcept { return reinterpret_cast<ValueField**>(fields() + capacity); }
};

// Copies of names, constructed in place in chunks.
struct FieldList::Names {
  Names* previous;
  std::uint32_t used;
  std::uint32_t capacity;
  std::string* texts() noexcept { return reinterpret_cast<std::string*>(this + 1); }
};

FieldList::~FieldList() {
  for (Block* block = block_; block;) {
    Block* previous = block->previous;
    for (std::uint32_t i = 0; i < block->used; ++i) block->fields()[i].~ValueField();
    Detail::FreeValueMemory(block);
    block = previous;
  }
  for (Names* names = names_; names;) {
    Names* previous = names->previous;
    for (std::uint32_t i = 0; i < names->used; ++i) names->texts()[i].~basic_string();
    Detail::FreeValueMemory(names);
    names = previous;
  }
}

std::size_t FieldList::LowerBound(std::string_view name) const noexcept {
  std::size_t low = 0;
  std::size_t high = size_;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (std::string_view(order_[middle]->first) < name) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

FieldList::const_iterator FieldList::FindSorted(std::string_view name) const noexcept {
  const std::size_t at = LowerBound(name);
  return at < size_ && order_[at]->first == name ? const_iterator(order_ + at) : end();
}

const ValuePtr& FieldList::at(std::string_view name) const {
  const auto it = find(name);
  if (it == end()) throw std::out_of_range("no field " + std::string(name));
  return it->second;
}

const std::string& FieldList::Keep(std::string_view text) {
  if (!names_ || names_->used == names_->capacity) {
    const std::uint32_t capacity = names_ ? names_->capacity * 2 : 2;
    auto* names =
        static_cast<Names*>(Detail::AllocateValueMemory(sizeof(Names) + capacity * sizeof(std::string)));
    names->previous = names_;
    names->used = 0;
    names->capacity = capacity;
    names_ = names;
  }
  std::string* kept = new (&names_->texts()[names_->used]) std::string(text);
  ++names_->used;
  return *kept;
}

ValuePtr* FieldList::Insert(std::size_t position, const std::string& name) {
  if (!block_ || block_->used == block_->capacity) {
    std::size_t capacity = block_ ? size_ : (expected_ ? expected_ : 4);
    if (capacity < 2) capacity = 2;
    const std::size_t total = size_ + capacity;
    auto* block = static_cast<Block*>(Detail::AllocateValueMemory(
        sizeof(Block) + capacity * sizeof(ValueField) + total * sizeof(ValueField*)));
    block->previous = block_;
    block->used = 0;
    block->capacity = static_cast<std::uint32_t>(capacity);
    if (block_) std::memcpy(block->order(), order_, size_ * sizeof(ValueField*));
    block_ = block;
    order_ = block->order();
  }
  ValueField* field = new (&block_->fields()[block_->used]) ValueField{name, nullptr};
  ++block_->used;
  ValueField** order = order_;
  std::memmove(order + position + 1, order + position, (size_ - position) * sizeof(ValueField*));
  order[position] = field;
  ++size_;
  return &field->second;
}

ValuePtr* FieldList::Reserve(std::string_view name) {
  const std::size_t at = LowerBound(name);
  if (at < size_ && order_[at]->first == name) return &order_[at]->second;
  return Insert(at, Keep(name));
}

ValuePtr* FieldList::Reserve(StaticName name) {
  const std::string& text = name.Text();
  const std::size_t at = LowerBound(text);
  if (at < size_ && order_[at]->first == text) return &order_[at]->second;
  return Insert(at, text);
}

void FieldList::ReleaseChildren(std::vector<ValuePtr>& out) noexcept {
  // Only growing `out` can fail, under memory exhaustion, which ends the
  // process (noexcept).
  for (std::size_t i = 0; i < size_; ++i) {
    if (order_[i]->second) out.push_back(std::move(order_[i]->second));
  }
}

// --- compound values -------------------------------------------------------

CompoundValue::~CompoundValue() { ContainerTeardown::Run(*this); }

bool CompoundValue::GetField(std::string_view name, ValuePtr& out, std::list<BaseMessage>& messages) const {
  auto it = fields_.find(name);
  if (it == fields_.end() || !it->second) {
    messages.push_back(Core::MakeCoreMessage(Core::Ids::kFieldMissing, {*name_, std::string(name)}));
    return false;
  }
  out = it->second;
  return true;
}

ValuePtr CompoundValue::FindField(std::string_view name) const {
  auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : it->second;
}

const ValuePtr* CompoundValue::FindSlot(std::string_view name) const noexcept {
  auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : &it->second;
}

void CompoundValue::SetField(std::string_view name, ValuePtr value) {
  *fields_.Reserve(name) = std::move(value);
}

void CompoundValue::SetField(StaticName name, ValuePtr value) { *fields_.Reserve(name) = std::move(value); }

ValuePtr* CompoundValue::ReserveField(std::string_view name) { return fields_.Reserve(name); }

ValuePtr* CompoundValue::ReserveField(StaticName name) { return fields_.Reserve(name); }

void CompoundValue::ReleaseChildren(std::vector<ValuePtr>& out) noexcept { fields_.ReleaseChildren(out); }

using Detail::MakeValue;

std::shared_ptr<StructValue> StructValue::GetInstance(std::string_view name) {
  return MakeValue<StructValue>(name);
}

std::shared_ptr<StructValue> StructValue::GetInstance(StaticName name, std::size_t fields) {
  return MakeValue<StructValue>(name, fields);
}

std::shared_ptr<DynamicStructValue> DynamicStructValue::GetInstance(std::string_view name) {
  return MakeValue<DynamicStructValue>(name);
}

// --- optional and list -------------------------------------------------------

std::shared_ptr<OptionalValue> OptionalValue::GetInstance() { return MakeValue<OptionalValue>(); }

std::shared_ptr<OptionalValue> OptionalValue::GetInstance(ValuePtr content) {
  auto optional = MakeValue<OptionalValue>();
  optional->value() = std::move(content);
  return optional;
}

std::shared_ptr<const OptionalValue> OptionalValue::Unset() {
  static const auto* const instance =
      new std::shared_ptr<const OptionalValue>(std::make_shared<const OptionalValue>());  // never destroyed
  return *instance;
}

OptionalValue::~OptionalValue() { ContainerTeardown::Run(*this); }

void OptionalValue::ReleaseChildren(std::vector<ValuePtr>& out) noexcept {
  if (content_) out.push_back(std::move(content_));
  content_.reset();
}

ValuePtr* ValueSlots::NewBlock(std::size_t slots) {
  ValuePtr* block = NewArray<ValuePtr>(slots);
  for (std::size_t i = 0; i < slots; ++i) new (&block[i]) ValuePtr();
  return block;
}

void ValueSlots::DeleteBlock(ValuePtr* block, std::size_t slots) noexcept {
  for (std::size_t i = 0; i < slots; ++i) block[i].~ValuePtr();
  Detail::FreeValueMemory(block);
}

void ValueSlots::clear() noexcept {
  for (std::size_t b = 0; b < more_.size(); ++b) DeleteBlock(more_[b], kFirstBlock << (b + 1));
  more_.clear();
  if (first_) DeleteBlock(first_, kFirstBlock);
  first_ = nullptr;
  size_ = 0;
}

std::shared_ptr<ListValue> ListValue::GetInstance(int kind) { return MakeValue<ListValue>(kind); }

ListValue::~ListValue() { ContainerTeardown::Run(*this); }

ValuePtr* ListValue::AppendSlot() { return &elements_.emplace_back(); }

void ListValue::Append(ValuePtr element) { elements_.push_back(std::move(element)); }

void ListValue::ReleaseChildren(std::vector<ValuePtr>& out) noexcept {
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    if (elements_[i]) out.push_back(std::move(elements_[i]));
  }
  elements_.clear();
}

// --- primitives ------------------------------------------------------------

// Values never change once built, so the most common primitives are shared
// instead of allocated: void, the booleans and small non-negative integers
// (indices, counts, register numbers). The tables are never destroyed, so
// values held by other static objects stay valid at exit.
std::shared_ptr<const VoidValue> VoidValue::GetInstance() {
  static const auto* const instance =
      new std::shared_ptr<const VoidValue>(std::make_shared<const VoidValue>());
  return *instance;
}

namespace {
constexpr long long kSharedIntegers = 256;
}  // namespace

std::shared_ptr<const IntegerValue> IntegerValue::GetInstance(long long value) {
  static const auto* const table = [] {
    auto* integers = new std::shared_ptr<const IntegerValue>[kSharedIntegers];
    for (long long i = 0; i < kSharedIntegers; ++i) integers[i] = std::make_shared<const IntegerValue>(i);
    return integers;
  }();
  if (value >= 0 && value < kSharedIntegers) return table[value];
  return MakeValue<IntegerValue>(value);
}

std::shared_ptr<const DoubleValue> DoubleValue::GetInstance(double value) {
  return MakeValue<DoubleValue>(value);
}

std::shared_ptr<const BooleanValue> BooleanValue::GetInstance(bool value) {
  static const auto* const values = new std::shared_ptr<const BooleanValue>[2] {
    std::make_shared<const BooleanValue>(false), std::make_shared<const BooleanValue>(true)
  };
  return values[value ? 1 : 0];
}

std::shared_ptr<const BlobValue> BlobValue::GetInstance(Blob value) {
  return MakeValue<BlobValue>(std::move(value));
}

std::shared_ptr<const StringValue> StringValue::GetInstance(std::string value) {
  return MakeValue<StringValue>(std::move(value));
}

std::shared_ptr<const SecretValue> SecretValue::GetInstance(SecretString value) {
  return MakeValue<SecretValue>(std::move(value));
}

// --- structural equality -----------------------------------------------------

namespace {

template <class V>
bool SamePrimitive(const DataValue& a, const DataValue& b) {
  return static_cast<const V&>(a).GetValue() == static_cast<const V&>(b).GetValue();
}

}  // namespace

bool Equal(const DataValue& a, const DataValue& b) {
  std::vector<std::pair<const DataValue*, const DataValue*>> pending{{&a, &b}};
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x == y) continue;
    if (!x || !y || x->GetType() != y->GetType()) return false;
    switch (x->GetType()) {
      case kVoid:
        break;
      case kInteger:
        if (!SamePrimitive<IntegerValue>(*x, *y)) return false;
        break;
      case kDouble: {
        const double dx = static_cast<const DoubleValue*>(x)->GetValue();
        const double dy = static_cast<const DoubleValue*>(y)->GetValue();
        if (!(dx == dy || (std::isnan(dx) && std::isnan(dy)))) return false;
        break;
      }
      case kBoolean:
        if (!SamePrimitive<BooleanValue>(*x, *y)) return false;
        break;
      case kBlob:
        if (!SamePrimitive<BlobValue>(*x, *y)) return false;
        break;
      case kString:
        if (!SamePrimitive<StringValue>(*x, *y)) return false;
        break;
      case kSecret:
        if (!SamePrimitive<SecretValue>(*x, *y)) return false;
        break;
      case kOptional: {
        const auto& ox = static_cast<const OptionalValue&>(*x);
        const auto& oy = static_cast<const OptionalValue&>(*y);
        if (ox.IsSet() != oy.IsSet()) return false;
        pending.emplace_back(ox.GetValue().get(), oy.GetValue().get());
        break;
      }
      case kList: {
        const auto& lx = static_cast<const ListValue&>(*x);
        const auto& ly = static_cast<const ListValue&>(*y);
        if (lx.GetKind() != ly.GetKind() || lx.GetElements().size() != ly.GetElements().size()) return false;
        for (std::size_t i = 0; i < lx.GetElements().size(); ++i) {
          pending.emplace_back(lx.GetElements()[i].get(), ly.GetElements()[i].get());
        }
        break;
      }
      case kStruct:
      case kDynamicStruct:
      case kError: {
        const auto& cx = static_cast<const CompoundValue&>(*x);
        const auto& cy = static_cast<const CompoundValue&>(*y);
        if (cx.GetName() != cy.GetName() || cx.GetFields().size() != cy.GetFields().size()) return false;
        for (auto ix = cx.GetFields().begin(), iy = cy.GetFields().begin(); ix != cx.GetFields().end();
             ++ix, ++iy) {
          if (ix->first != iy->first) return false;
          pending.emplace_back(ix->second.get(), iy->second.get());
        }
        break;
      }
      default:
        return false;  // a kind this library does not make
    }
  }
  return true;
}

}  // namespace Data
}  // namespace Tovri
