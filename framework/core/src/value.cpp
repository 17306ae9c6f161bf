#include <tovri/core/value.hpp>

#include <cmath>
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

// --- compound values -------------------------------------------------------

CompoundValue::~CompoundValue() { ContainerTeardown::Run(*this); }

bool CompoundValue::GetField(std::string_view name, ValuePtr& out, std::list<BaseMessage>& messages) const {
  auto it = fields_.find(name);
  if (it == fields_.end() || !it->second) {
    messages.push_back(Core::MakeCoreMessage(Core::Ids::kFieldMissing, {name_, std::string(name)}));
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

void CompoundValue::SetField(const std::string& name, ValuePtr value) { fields_[name] = std::move(value); }

ValuePtr* CompoundValue::ReserveField(std::string_view name) {
  auto it = fields_.lower_bound(name);
  if (it == fields_.end() || it->first != name) it = fields_.emplace_hint(it, std::string(name), nullptr);
  return &it->second;
}

void CompoundValue::ReleaseChildren(std::vector<ValuePtr>& out) noexcept {
  // Only growing `out` can fail, under memory exhaustion, which ends the
  // process (noexcept).
  for (auto& field : fields_) {
    if (field.second) out.push_back(std::move(field.second));
  }
  fields_.clear();
}

std::shared_ptr<StructValue> StructValue::GetInstance(const std::string& name) {
  return std::make_shared<StructValue>(name);
}

std::shared_ptr<DynamicStructValue> DynamicStructValue::GetInstance(const std::string& name) {
  return std::make_shared<DynamicStructValue>(name);
}

// --- optional and list -------------------------------------------------------

std::shared_ptr<OptionalValue> OptionalValue::GetInstance() { return std::make_shared<OptionalValue>(); }

std::shared_ptr<OptionalValue> OptionalValue::GetInstance(ValuePtr content) {
  auto optional = std::make_shared<OptionalValue>();
  optional->value() = std::move(content);
  return optional;
}

OptionalValue::~OptionalValue() { ContainerTeardown::Run(*this); }

void OptionalValue::ReleaseChildren(std::vector<ValuePtr>& out) noexcept {
  if (content_) out.push_back(std::move(content_));
  content_.reset();
}

std::shared_ptr<ListValue> ListValue::GetInstance(int kind) { return std::make_shared<ListValue>(kind); }

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
  return std::make_shared<const IntegerValue>(value);
}

std::shared_ptr<const DoubleValue> DoubleValue::GetInstance(double value) {
  return std::make_shared<const DoubleValue>(value);
}

std::shared_ptr<const BooleanValue> BooleanValue::GetInstance(bool value) {
  static const auto* const values = new std::shared_ptr<const BooleanValue>[2] {
    std::make_shared<const BooleanValue>(false), std::make_shared<const BooleanValue>(true)
  };
  return values[value ? 1 : 0];
}

std::shared_ptr<const BlobValue> BlobValue::GetInstance(Blob value) {
  return std::make_shared<const BlobValue>(std::move(value));
}

std::shared_ptr<const StringValue> StringValue::GetInstance(std::string value) {
  return std::make_shared<const StringValue>(std::move(value));
}

std::shared_ptr<const SecretValue> SecretValue::GetInstance(SecretString value) {
  return std::make_shared<const SecretValue>(std::move(value));
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
