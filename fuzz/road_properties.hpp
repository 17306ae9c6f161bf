// Properties of the two roads a call takes through the generated services,
// with arbitrary value trees where operation inputs and outputs belong.
//
// Input: an operation byte (the 19 operations, service by service in slot
// order), a flags byte, then the input value, the output value and an error
// value, each decoded by ValueDecoder.
//   flags bits 0-1  input: 3 free form, else biased towards the operation's input definition
//         bits 2-3  output: likewise, towards its output definition
//         bits 4-5  answer offered to the client: 0 output, 1 error, 2 both, 3 neither
//         bit 6     a progress report reaches the client before its answer
//         bit 7     the implementation reports progress before its answer
//
// Client road: the answer goes, as a framework MethodResult, to the result
// wrapper AsyncMethodInvoker::Invoke would install for the operation.
// Provider road: the input goes through a LocalProvider to the bound
// service; the implementation answers at once with the native value the
// client road delivered, otherwise with the decoded error (possibly none).
//
// Properties, besides the sanitizers' silence:
//  - each road answers exactly once, progress reports before the answer;
//  - the implementation is called iff the input passes the input definition
//    and carries no undeclared field where validation looks (the input, its
//    structure parameters and their required structures); a refusal is
//    invalid_argument with messages ending in tovri.invoke.invalid.input;
//  - a native the implementation receives, or the client delivers, converts
//    to a value the definition accepts (for the client, union case
//    selection aside: it does not validate), back to a native and again to
//    an equal value;
//  - an output the definition accepts gives the client a value; one with a
//    mismatch no looser shape of the conversion accepts gives an error;
//    errors reach the client unchanged;
//  - the provider answers with what the implementation's native converts
//    to, or internal_server_error when the output definition refuses it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include <dral/client/async_result.hpp>
#include <dral/client/method_invoker.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>
#include <tovri/core/definition.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/value.hpp>

#include "byte_reader.hpp"
#include "describe.hpp"
#include "value_decoder.hpp"
#include "verdict.hpp"

namespace DralFuzz {
namespace RoadFuzz {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
namespace Core = ::Tovri::Core;
using namespace ::Tovri::Data;
using ErrorPtr = std::shared_ptr<const ErrorValue>;
using Activation = std::shared_ptr<Core::AsyncActivation>;

constexpr const char* kInvalidArgument = "com.corvane.tovri.std.errors.invalid_argument";
constexpr const char* kInternalServerError = "com.corvane.tovri.std.errors.internal_server_error";
constexpr const char* kExtraField = "dral_fuzz_extra";

inline std::string FirstText(const std::list<Tovri::BaseMessage>& messages) {
  return messages.empty() ? std::string() : messages.front().id + ": " + messages.front().defaultMessage;
}

inline const StructDefinition* StructOf(const DataDefinition* definition) {
  if (auto* structure = dynamic_cast<const StructDefinition*>(definition)) return structure;
  if (auto* ref = dynamic_cast<const StructRefDefinition*>(definition)) return ref->GetTarget().get();
  return nullptr;
}

// Whether the input filter's validation meets an undeclared field: on the
// input structure, on a structure parameter (required, or optional and set),
// or on a required structure below one.
inline bool UndeclaredWhereValidated(const DataDefinition& input, const ValuePtr& value) {
  struct Item {
    const StructDefinition* definition;
    const CompoundValue* value;
    bool root;
  };
  std::vector<Item> pending{{StructOf(&input), dynamic_cast<const CompoundValue*>(value.get()), true}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    if (!item.definition || !item.value) continue;
    const auto& fields = item.definition->GetFields();
    for (const auto& field : item.value->GetFields()) {
      if (fields.count(field.first) == 0) return true;
    }
    for (const auto& field : fields) {
      const ValuePtr content = item.value->FindField(field.first);
      if (!content || !field.second) continue;
      if (const StructDefinition* nested = StructOf(field.second.get())) {
        pending.push_back(Item{nested, dynamic_cast<const CompoundValue*>(content.get()), false});
      } else if (auto* optional = dynamic_cast<const OptionalDefinition*>(field.second.get());
                 optional && item.root) {
        auto* set = dynamic_cast<const OptionalValue*>(content.get());
        if (set && set->IsSet()) {
          pending.push_back(Item{StructOf(optional->GetElement().get()),
                                 dynamic_cast<const CompoundValue*>(set->GetValue().get()), false});
        }
      }
    }
  }
  return false;
}

// What an optional or union case definition leads to: its content's
// definition with the content of a set optional value, or with the value
// itself when it comes bare. False for an unset optional: nothing to follow.
inline bool OptionalContent(const DataDefinition* expected, const DataValue* found,
                            std::pair<const DataDefinition*, const DataValue*>& next) {
  next.first = expected->GetType() == kOptional
                   ? static_cast<const OptionalDefinition*>(expected)->GetElement().get()
                   : static_cast<const UnionCaseDefinition*>(expected)->GetCase().get();
  next.second = found;
  if (auto* optional = dynamic_cast<const OptionalValue*>(found)) {
    if (!optional->IsSet()) return false;
    next.second = optional->GetValue().get();
  }
  return true;
}

// Whether a map entry comes as an error or a dynamic structure: the value
// check passes it (it does not insist on structure names) but the conversion
// takes only structure values as map entries.
inline bool LooseMapEntry(const DefinitionPtr& definition, const ValuePtr& value) {
  std::vector<std::pair<const DataDefinition*, const DataValue*>> pending{{definition.get(), value.get()}};
  while (!pending.empty()) {
    const auto [expected, found] = pending.back();
    pending.pop_back();
    if (!expected || !found) continue;
    const int kind = expected->GetType();
    if (kind == kStruct || kind == kStructRef) {
      const StructDefinition* structure = StructOf(expected);
      auto* compound = dynamic_cast<const CompoundValue*>(found);
      if (!structure || !compound) continue;
      for (const auto& field : structure->GetFields()) {
        const auto present = compound->GetFields().find(field.first);
        if (field.second && present != compound->GetFields().end() && present->second) {
          pending.emplace_back(field.second.get(), present->second.get());
        }
      }
    } else if (kind == kOptional || kind == kUnionCase) {
      std::pair<const DataDefinition*, const DataValue*> content;
      if (OptionalContent(expected, found, content)) pending.push_back(content);
    } else if (kind == kList) {
      auto* list = dynamic_cast<const ListValue*>(found);
      if (!list) continue;
      const DataDefinition* element = static_cast<const ListDefinition*>(expected)->GetElement().get();
      const StructDefinition* entry = element ? StructOf(element) : nullptr;
      const bool map = entry && entry->GetName() == "map-entry";
      for (const ValuePtr& item : list->GetElements()) {
        if (map && item && (item->GetType() == kError || item->GetType() == kDynamicStruct)) return true;
        pending.emplace_back(element, item.get());
      }
    }
  }
  return false;
}

// Whether the value holds a mismatch that no looser shape of the
// value-to-native conversion accepts: a missing value or required field, a
// non-empty string for a structure, a value of another kind (not a string)
// for a primitive, structure or list. Such a value never converts. Walks
// where the conversion walks, a bare value where an optional belongs
// included.
inline bool StrictMismatch(const DefinitionPtr& definition, const ValuePtr& value) {
  std::vector<std::pair<const DataDefinition*, const DataValue*>> pending{{definition.get(), value.get()}};
  while (!pending.empty()) {
    const auto [expected, found] = pending.back();
    pending.pop_back();
    if (!expected) continue;
    if (!found) return true;
    const int kind = expected->GetType();
    const bool text = found->GetType() == kString;
    if (kind == kStruct || kind == kStructRef) {
      const StructDefinition* structure = StructOf(expected);
      if (!structure) continue;  // unbound reference
      if (text) {
        if (!static_cast<const StringValue*>(found)->GetValue().empty()) return true;
        continue;
      }
      auto* compound = dynamic_cast<const CompoundValue*>(found);
      if (!compound) return true;
      for (const auto& field : structure->GetFields()) {
        if (!field.second) continue;
        const auto present = compound->GetFields().find(field.first);
        const int fieldKind = field.second->GetType();
        if (present == compound->GetFields().end() || !present->second) {  // a null slot reads as absent
          if (fieldKind != kOptional && fieldKind != kUnionCase) return true;
          continue;
        }
        pending.emplace_back(field.second.get(), present->second.get());
      }
    } else if (kind == kOptional || kind == kUnionCase) {
      if (text) continue;
      std::pair<const DataDefinition*, const DataValue*> content;
      if (OptionalContent(expected, found, content)) pending.push_back(content);
    } else if (kind == kList) {
      if (text || dynamic_cast<const CompoundValue*>(found)) continue;  // a map may come as a structure
      auto* list = dynamic_cast<const ListValue*>(found);
      if (!list) return true;
      const DataDefinition* element = static_cast<const ListDefinition*>(expected)->GetElement().get();
      for (const ValuePtr& item : list->GetElements()) pending.emplace_back(element, item.get());
    } else if (kind == kVoid || kind == kInteger || kind == kDouble || kind == kBoolean || kind == kBlob ||
               kind == kString || kind == kSecret) {
      if (!text && found->GetType() != kind) return true;
    }
  }
  return false;
}

struct Operation;

// One case, as the implementations see it.
struct Call {
  Verdict* verdict = nullptr;
  const Operation* operation = nullptr;
  int visits = 0;
  bool reportProgress = false;
  // What the implementation answers: the native result the client road
  // delivered (and the value it converts to), else the error.
  std::shared_ptr<const void> answer;
  ValuePtr answerValue;
  bool answerPasses = false;
  ErrorPtr error;
};

inline Call*& Current() {
  static Call* call = nullptr;
  return call;
}

struct Operation {
  std::string label;
  std::string service;
  std::string method;
  DefinitionPtr input;
  DefinitionPtr output;
  bool validated;  // false for an operation without parameters
  void (*client)(Call& call, const std::shared_ptr<const Core::MethodResult>& offered, bool progress);
};

// Messages of the definition check about union case selection, which only
// the provider side enforces (on its outputs).
inline bool OnlyUnionSelection(const std::list<Tovri::BaseMessage>& messages) {
  for (const Tovri::BaseMessage& message : messages) {
    if (message.id != ::Tovri::MessageIds::kCheckUnionNotSelected &&
        message.id != ::Tovri::MessageIds::kCheckUnionNoTag) {
      return false;
    }
  }
  return true;
}

struct Converted {
  ValuePtr value;
  bool passes = false;  // the value passes the definition, union selection included
};

// native -> value -> native -> value: the first value passes `definition`
// (union case selection aside, unless `unions`), and the two values are
// equal.
template <class T>
Converted RoundTrip(const T& native, const DataDefinition& definition, bool unions, Verdict& verdict,
                    const std::string& side) {
  const Tovri::L10n::RequestLocalizer localizer = Tovri::Stub::AsyncMethodInvoker::MakeRequestLocalizer();
  std::list<Tovri::BaseMessage> messages;
  Converted first;
  if (!verdict.Require(NativeToValueAdapter::Adapt(native, first.value, messages, localizer),
                       "a delivered native converts to a value", side + " " + FirstText(messages))) {
    return first;
  }
  first.passes = CheckValue(definition, first.value, messages);
  verdict.Require(first.passes || (!unions && OnlyUnionSelection(messages)),
                  "a delivered native converts to a value that passes", side + " " + FirstText(messages));
  T again{};
  messages.clear();
  if (!verdict.Require(ValueToNativeAdapter::Adapt(first.value, again, messages),
                       "a converted native converts back", side + " " + FirstText(messages))) {
    return first;
  }
  ValuePtr second;
  if (!verdict.Require(NativeToValueAdapter::Adapt(again, second, messages, localizer),
                       "a converted native converts back", side + " " + FirstText(messages))) {
    return first;
  }
  verdict.Require(first.value && second && Equal(*first.value, *second),
                  "a native converts back to an equal value", side);
  return first;
}

// Client road: one answer (after a progress report if asked) through the
// result wrapper of operation M.
template <class M>
void ClientRoad(Call& call, const std::shared_ptr<const Core::MethodResult>& offered, bool progress) {
  using T = typename M::ResultCbType::ValueType;
  using R = typename M::ResultCbType;
  Verdict& verdict = *call.verdict;
  int finals = 0;
  int reports = 0;
  boost::optional<T> value;
  ErrorPtr error;
  const Tovri::Progress report{0, 1, 2};
  R result([&](const boost::optional<T>& v, const ErrorPtr& e, const Tovri::Progress& p) {
    if (!v && !e && p == report) {
      verdict.Require(finals == 0, "no progress report after the final answer");
      ++reports;
      return;
    }
    verdict.Require(p == Tovri::FinalProgress(), "a final answer reports progress 0/1/1");
    ++finals;
    value = v;
    error = e;
  });
  using Wrapper = Tovri::Stub::AsyncResultWrapper::ResultWrapper<T, R>;
  const Core::AsyncApiResultCb answer{Wrapper(result)};
  if (progress) answer(nullptr, report);
  answer(offered, Tovri::FinalProgress());

  verdict.Require(finals == 1, "the client's result is completed exactly once", std::to_string(finals));
  verdict.Require(reports == (progress ? 1 : 0), "a progress report reaches the client once");
  if (finals != 1) return;
  const ValuePtr& output = offered->GetOutput();
  const ErrorPtr& offeredError = offered->GetError();
  if (offeredError || !output) {
    verdict.Require(!value && error == offeredError, "an error answer reaches the client unchanged");
    return;
  }
  verdict.Require(value.has_value() != (error != nullptr), "an output gives either a value or an error");
  std::list<Tovri::BaseMessage> messages;
  const bool passes = CheckValue(*call.operation->output, output, messages);
  if (value) {
    verdict.Require(!StrictMismatch(call.operation->output, output),
                    "an output no looser shape accepts gives an error, never a value");
    // The client converts without validating, so a union case set for a tag
    // that does not select it stays so; the rest is made to fit.
    const Converted converted = RoundTrip(*value, *call.operation->output, passes, verdict, "client");
    call.answerValue = converted.value;
    call.answerPasses = converted.passes;
    call.answer = std::make_shared<const T>(*value);
  } else if (error) {
    verdict.Require(!passes || LooseMapEntry(call.operation->output, output),
                    "an output the definition accepts gives a value", error->GetId());
    verdict.Require(error->GetId() == Tovri::Stub::AsyncResultWrapper::kOutputConversionError,
                    "an output that does not convert gives \"invalid_argument\"", error->GetId());
    verdict.Require(!error->GetMessages().empty(), "a conversion error carries messages");
  }
}

// Provider side: every operation records its visit, checks the native input
// it was given and answers at once.
template <class M, class Input>
void Visit(const Input& input, const typename M::ResultCbType& result) {
  Call* call = Current();
  if (!call) {
    result.error(nullptr);
    return;
  }
  ++call->visits;
  RoundTrip(input, *call->operation->input, true, *call->verdict, "provider input");
  if (call->reportProgress) result.progress(Tovri::Progress{0, 1, 2});
  using T = typename M::ResultCbType::ValueType;
  if (call->answer) {
    result(*static_cast<const T*>(call->answer.get()));
  } else {
    result.error(call->error);
  }
}

using Tpm = TI::Hardware::TpmSvc;
using EndorsementKeys = TI::Hardware::Tpm::EndorsementKeysSvc;
using EventLog = TI::Hardware::Tpm::EventLogSvc;
using AttestationServices = TI::Attestation::ServicesSvc;
using Reports = TI::Attestation::ReportsSvc;
using KmsProviders = TI::Kms::ProvidersSvc;
using KmsServices = TI::Kms::ServicesSvc;

class TpmImpl final : public Tpm::AsyncServiceInterface {
 public:
  void List(const Tovri::OptionalPtr<const Tpm::FilterSpec>& filter, const Activation&,
            const Tpm::ListMethod::ResultCbType& result) override {
    Tpm::ListMethod::Input input;
    input.filter = filter;
    Visit<Tpm::ListMethod>(input, result);
  }
  void Get(const std::string& tpm, const Activation&, const Tpm::GetMethod::ResultCbType& result) override {
    Tpm::GetMethod::Input input;
    input.tpm = tpm;
    Visit<Tpm::GetMethod>(input, result);
  }
};

class EndorsementKeysImpl final : public EndorsementKeys::AsyncServiceInterface {
 public:
  void List(const std::string& tpm, const Tovri::OptionalPtr<const EndorsementKeys::FilterSpec>& filter,
            const Activation&, const EndorsementKeys::ListMethod::ResultCbType& result) override {
    EndorsementKeys::ListMethod::Input input;
    input.tpm = tpm;
    input.filter = filter;
    Visit<EndorsementKeys::ListMethod>(input, result);
  }
  void Get(const std::string& tpm, const std::string& key, const Activation&,
           const EndorsementKeys::GetMethod::ResultCbType& result) override {
    EndorsementKeys::GetMethod::Input input;
    input.tpm = tpm;
    input.key = key;
    Visit<EndorsementKeys::GetMethod>(input, result);
  }
};

class EventLogImpl final : public EventLog::AsyncServiceInterface {
 public:
  void Get(const std::string& tpm, const Activation&,
           const EventLog::GetMethod::ResultCbType& result) override {
    EventLog::GetMethod::Input input;
    input.tpm = tpm;
    Visit<EventLog::GetMethod>(input, result);
  }
};

class AttestationServicesImpl final : public AttestationServices::AsyncServiceInterface {
 public:
  void List(const Tovri::OptionalPtr<const AttestationServices::FilterSpec>& filter, const Activation&,
            const AttestationServices::ListMethod::ResultCbType& result) override {
    AttestationServices::ListMethod::Input input;
    input.filter = filter;
    Visit<AttestationServices::ListMethod>(input, result);
  }
  void Get(const std::string& service, const Activation&,
           const AttestationServices::GetMethod::ResultCbType& result) override {
    AttestationServices::GetMethod::Input input;
    input.service = service;
    Visit<AttestationServices::GetMethod>(input, result);
  }
  void Create(const std::shared_ptr<const AttestationServices::CreateSpec>& spec, const Activation&,
              const AttestationServices::CreateMethod::ResultCbType& result) override {
    AttestationServices::CreateMethod::Input input;
    input.spec = spec;
    Visit<AttestationServices::CreateMethod>(input, result);
  }
  void Delete(const std::string& service, const Activation&,
              const AttestationServices::DeleteMethod::ResultCbType& result) override {
    AttestationServices::DeleteMethod::Input input;
    input.service = service;
    Visit<AttestationServices::DeleteMethod>(input, result);
  }
};

class ReportsImpl final : public Reports::AsyncServiceInterface {
 public:
  void List(const Activation&, const Reports::ListMethod::ResultCbType& result) override {
    Visit<Reports::ListMethod>(Reports::ListMethod::Input(), result);
  }
};

class KmsProvidersImpl final : public KmsProviders::AsyncServiceInterface {
 public:
  void List(const Tovri::OptionalPtr<const KmsProviders::FilterSpec>& filterSpec, const Activation&,
            const KmsProviders::ListMethod::ResultCbType& result) override {
    KmsProviders::ListMethod::Input input;
    input.filterSpec = filterSpec;
    Visit<KmsProviders::ListMethod>(input, result);
  }
  void Create(const std::shared_ptr<const KmsProviders::CreateSpec>& spec, const Activation&,
              const KmsProviders::CreateMethod::ResultCbType& result) override {
    KmsProviders::CreateMethod::Input input;
    input.spec = spec;
    Visit<KmsProviders::CreateMethod>(input, result);
  }
  void Update(const std::string& provider, const std::shared_ptr<const KmsProviders::UpdateSpec>& spec,
              const Activation&, const KmsProviders::UpdateMethod::ResultCbType& result) override {
    KmsProviders::UpdateMethod::Input input;
    input.provider = provider;
    input.spec = spec;
    Visit<KmsProviders::UpdateMethod>(input, result);
  }
  void Delete(const std::string& provider, const Activation&,
              const KmsProviders::DeleteMethod::ResultCbType& result) override {
    KmsProviders::DeleteMethod::Input input;
    input.provider = provider;
    Visit<KmsProviders::DeleteMethod>(input, result);
  }
  void Get(const std::string& provider, const Activation&,
           const KmsProviders::GetMethod::ResultCbType& result) override {
    KmsProviders::GetMethod::Input input;
    input.provider = provider;
    Visit<KmsProviders::GetMethod>(input, result);
  }
};

class KmsServicesImpl final : public KmsServices::AsyncServiceInterface {
 public:
  void List(const Tovri::OptionalPtr<const KmsServices::FilterSpec>& filter, const Activation&,
            const KmsServices::ListMethod::ResultCbType& result) override {
    KmsServices::ListMethod::Input input;
    input.filter = filter;
    Visit<KmsServices::ListMethod>(input, result);
  }
  void Get(const std::string& service, const Activation&,
           const KmsServices::GetMethod::ResultCbType& result) override {
    KmsServices::GetMethod::Input input;
    input.service = service;
    Visit<KmsServices::GetMethod>(input, result);
  }
  void Create(const std::shared_ptr<const KmsServices::CreateSpec>& spec, const Activation&,
              const KmsServices::CreateMethod::ResultCbType& result) override {
    KmsServices::CreateMethod::Input input;
    input.spec = spec;
    Visit<KmsServices::CreateMethod>(input, result);
  }
  void Delete(const std::string& service, const Activation&,
              const KmsServices::DeleteMethod::ResultCbType& result) override {
    KmsServices::DeleteMethod::Input input;
    input.service = service;
    Visit<KmsServices::DeleteMethod>(input, result);
  }
};

template <class M>
Operation OperationOf(const char* label) {
  return Operation{label,           TypeInfo<typename M::Interface>::name(),
                   M::methodName(), M::inputDef(),
                   M::outputDef(),  !std::is_same<typename M::Input, Tovri::OperationInput>::value,
                   &ClientRoad<M>};
}

// The operations, service by service in slot order (the order of the
// operation byte). Definitions are derived once here, not per case.
inline const std::vector<Operation>& Operations() {
  static const std::vector<Operation> operations{
      OperationOf<Tpm::ListMethod>("tpm.list"),
      OperationOf<Tpm::GetMethod>("tpm.get"),
      OperationOf<EndorsementKeys::ListMethod>("endorsement_keys.list"),
      OperationOf<EndorsementKeys::GetMethod>("endorsement_keys.get"),
      OperationOf<EventLog::GetMethod>("event_log.get"),
      OperationOf<AttestationServices::ListMethod>("attestation.services.list"),
      OperationOf<AttestationServices::GetMethod>("attestation.services.get"),
      OperationOf<AttestationServices::CreateMethod>("attestation.services.create"),
      OperationOf<AttestationServices::DeleteMethod>("attestation.services.delete"),
      OperationOf<Reports::ListMethod>("attestation.reports.list"),
      OperationOf<KmsProviders::ListMethod>("kms.providers.list"),
      OperationOf<KmsProviders::CreateMethod>("kms.providers.create"),
      OperationOf<KmsProviders::UpdateMethod>("kms.providers.update"),
      OperationOf<KmsProviders::DeleteMethod>("kms.providers.delete"),
      OperationOf<KmsProviders::GetMethod>("kms.providers.get"),
      OperationOf<KmsServices::ListMethod>("kms.services.list"),
      OperationOf<KmsServices::GetMethod>("kms.services.get"),
      OperationOf<KmsServices::CreateMethod>("kms.services.create"),
      OperationOf<KmsServices::DeleteMethod>("kms.services.delete"),
  };
  return operations;
}

// All seven services bound once, for every case.
inline Core::LocalProvider& Provider() {
  static Core::LocalProvider* provider = [] {
    auto* bound = new Core::LocalProvider();
    bound->Register(Tpm::AsyncServiceBinder::BindImplementation(std::make_shared<TpmImpl>()));
    bound->Register(
        EndorsementKeys::AsyncServiceBinder::BindImplementation(std::make_shared<EndorsementKeysImpl>()));
    bound->Register(EventLog::AsyncServiceBinder::BindImplementation(std::make_shared<EventLogImpl>()));
    bound->Register(AttestationServices::AsyncServiceBinder::BindImplementation(
        std::make_shared<AttestationServicesImpl>()));
    bound->Register(Reports::AsyncServiceBinder::BindImplementation(std::make_shared<ReportsImpl>()));
    bound->Register(
        KmsProviders::AsyncServiceBinder::BindImplementation(std::make_shared<KmsProvidersImpl>()));
    bound->Register(KmsServices::AsyncServiceBinder::BindImplementation(std::make_shared<KmsServicesImpl>()));
    return bound;
  }();
  return *provider;
}

// The package's names: structure wire names ("operation-input" first, then
// the standard error ids), field names (an undeclared one first) and
// enumeration texts, in a fixed order that fuzz/make_seeds.py relies on.
inline const Dictionary& Names() {
  static const Dictionary dictionary = [] {
    std::set<std::string> structures;
    std::set<std::string> fields;
    std::vector<const DataDefinition*> pending;
    std::set<const DataDefinition*> seen;
    for (const Operation& operation : Operations()) {
      pending.push_back(operation.input.get());
      pending.push_back(operation.output.get());
    }
    while (!pending.empty()) {
      const DataDefinition* definition = pending.back();
      pending.pop_back();
      if (!definition || !seen.insert(definition).second) continue;
      if (auto* structure = dynamic_cast<const StructDefinition*>(definition)) {
        structures.insert(structure->GetName());
        for (const auto& field : structure->GetFields()) {
          fields.insert(field.first);
          pending.push_back(field.second.get());
        }
      } else if (auto* ref = dynamic_cast<const StructRefDefinition*>(definition)) {
        structures.insert(ref->GetName());
        pending.push_back(ref->GetTarget().get());
      } else if (auto* list = dynamic_cast<const ListDefinition*>(definition)) {
        pending.push_back(list->GetElement().get());
      } else if (auto* optional = dynamic_cast<const OptionalDefinition*>(definition)) {
        pending.push_back(optional->GetElement().get());
      } else if (auto* unionCase = dynamic_cast<const UnionCaseDefinition*>(definition)) {
        pending.push_back(unionCase->GetCase().get());
      }
    }
    Dictionary names;
    names.structNames = {TypeInfo<Tovri::OperationInput>::name(), kInvalidArgument,
                         "com.corvane.tovri.std.errors.not_found", kInternalServerError};
    for (const std::string& name : structures) {
      if (name != names.structNames.front()) names.structNames.push_back(name);
    }
    names.fieldNames = {kExtraField};
    names.fieldNames.insert(names.fieldNames.end(), fields.begin(), fields.end());
    names.texts = {"NATIVE",           "TRUST_AUTHORITY", "NONE",     "OK",      "WARNING",  "ERROR",
                   "SHA256",           "SHA384",          "SHA512",   "SM3_256", "RSA_2048", "ECC_NIST_P_256",
                   "TCG_CRYPTO_AGILE", "REPORTING_JWT",   "_UNKNOWN", "",        "7",        "QUJD"};
    return names;
  }();
  return dictionary;
}

}  // namespace RoadFuzz

struct RoadOptions {
  bool trace = false;  // print the decoded values to stderr
  bool deep = false;   // allow chains of 150k levels instead of 1024
};

inline void CheckRoadCase(const std::uint8_t* data, std::size_t size, Verdict& verdict,
                          const RoadOptions& options = RoadOptions()) {
  using namespace RoadFuzz;
  const std::vector<Operation>& operations = Operations();
  const Dictionary& names = Names();
  DecodeLimits limits;
  limits.maxValueNodes = 384;
  limits.hardValueMargin = 256;
  limits.maxWrapDepth = options.deep ? 150000 : 1024;

  ByteReader in(data, size);
  const Operation& operation = operations[in.Byte() % operations.size()];
  const std::uint8_t flags = in.Byte();
  const bool freeInput = (flags & 3) == 3;
  const bool freeOutput = ((flags >> 2) & 3) == 3;
  const int answerKind = (flags >> 4) & 3;
  const bool clientProgress = (flags & 0x40) != 0;

  ValueDecoder inputDecoder(in, names, limits);
  const ValuePtr input = freeInput ? inputDecoder.Decode() : inputDecoder.DecodeFor(operation.input);
  const bool conformingInput = !freeInput && inputDecoder.Conforming();
  ValueDecoder outputDecoder(in, names, limits);
  const ValuePtr output = freeOutput ? outputDecoder.Decode() : outputDecoder.DecodeFor(operation.output);
  const bool conformingOutput = !freeOutput && outputDecoder.Conforming();
  static const DefinitionPtr kErrorDefinition = PrimitiveDefinition::GetInstance(kError);
  ValueDecoder errorDecoder(in, names, limits);
  const ErrorPtr error =
      std::dynamic_pointer_cast<const ErrorValue>(errorDecoder.DecodeFor(kErrorDefinition));

  if (options.trace) {
    std::fprintf(stderr, "operation %s, flags %02x\ninput (%zu nodes%s): %s\noutput (%zu nodes%s): %s\n",
                 operation.label.c_str(), flags, inputDecoder.Nodes(), conformingInput ? ", conforming" : "",
                 Describe(input.get()).c_str(), outputDecoder.Nodes(), conformingOutput ? ", conforming" : "",
                 Describe(output.get()).c_str());
  }

  std::list<Tovri::BaseMessage> messages;
  const bool inputPasses = CheckValue(*operation.input, input, messages);
  const bool outputPasses = CheckValue(*operation.output, output, messages);
  verdict.Require(!conformingInput || inputPasses, "an input built to the definition passes it");
  verdict.Require(!conformingOutput || outputPasses, "an output built to the definition passes it");

  Call call;
  call.verdict = &verdict;
  call.operation = &operation;
  call.reportProgress = (flags & 0x80) != 0;
  call.error = answerKind == 1 || answerKind == 2 ? error : nullptr;

  // Client road.
  const ValuePtr offeredOutput = answerKind == 0 || answerKind == 2 ? output : nullptr;
  operation.client(call, Core::MethodResult::GetInstance(offeredOutput, call.error), clientProgress);

  // Provider road.
  int finals = 0;
  int reports = 0;
  std::shared_ptr<const Core::MethodResult> answer;
  const Core::AsyncApiResultCb answered([&](const std::shared_ptr<const Core::MethodResult>& result,
                                            const Tovri::Progress&, Core::AsyncApiResultCb::Continuation&&) {
    if (!result) {
      verdict.Require(finals == 0, "no progress report after the provider's final answer");
      ++reports;
      return;
    }
    ++finals;
    answer = result;
  });
  Current() = &call;
  Provider().Invoke(Core::MethodIdentifier::GetInstance(
                        Core::InterfaceIdentifier::GetInstance(operation.service), operation.method),
                    input, std::make_shared<Core::AsyncActivation>(), answered);
  Current() = nullptr;

  verdict.Require(finals == 1, "the provider answers exactly once", std::to_string(finals));
  verdict.Require(call.visits <= 1, "the implementation is called at most once");
  const bool visited = call.visits == 1;
  verdict.Require(reports == (visited && call.reportProgress ? 1 : 0),
                  "the implementation's progress report reaches the caller once");
  const bool extra = operation.validated && UndeclaredWhereValidated(*operation.input, input);
  verdict.Require(visited == (inputPasses && !extra),
                  "an input reaches the implementation iff it passes the definition and validation",
                  std::string(inputPasses ? "passes" : "fails") + " the definition, " +
                      (extra ? "with" : "without") + " undeclared fields where validated, " +
                      (visited ? "visited" : "not visited"));
  if (answer) {
    const ValuePtr& sent = answer->GetOutput();
    const ErrorPtr& refusal = answer->GetError();
    if (!visited) {
      verdict.Require(!sent && refusal && refusal->GetId() == kInvalidArgument,
                      "a refused input is answered with invalid_argument",
                      refusal ? refusal->GetId() : std::string("no error"));
      verdict.Require(refusal && !refusal->GetMessages().empty(), "a refusal carries messages");
      if (refusal && !refusal->GetMessages().empty()) {
        const std::vector<ErrorMessage> carried = refusal->GetMessages();
        // (A missing input is refused by the provider before any method.)
        verdict.Require(!input || carried.back().message.id == ::Tovri::MessageIds::kInvalidInput,
                        "a refusal ends with tovri.invoke.invalid.input", carried.back().message.id);
        bool named = false;
        for (const ErrorMessage& entry : carried)
          named |= entry.message.id == ::Tovri::MessageIds::kFieldExtra;
        verdict.Require(named || !inputPasses, "a refusal for undeclared fields names them");
      }
    } else if (call.answer && !call.answerPasses) {
      verdict.Require(!sent && refusal && refusal->GetId() == kInternalServerError,
                      "an implementation's value the output definition refuses gives internal_server_error",
                      refusal ? refusal->GetId() : std::string("no error"));
    } else if (call.answer) {
      verdict.Require(sent && !refusal, "the implementation's value reaches the caller",
                      refusal ? refusal->GetId() : std::string());
      if (sent && call.answerValue) {
        verdict.Require(Equal(*sent, *call.answerValue), "the caller gets the value the native converts to");
      }
    } else {
      verdict.Require(!sent, "an error answer carries no output");
      verdict.Require(!call.error || (refusal && (refusal->GetId() == call.error->GetId() ||
                                                  refusal->GetId() == kInternalServerError)),
                      "the implementation's error reaches the caller, or internal_server_error",
                      refusal ? refusal->GetId() : std::string("no error"));
    }
  }

  if (!verdict.Passed()) {
    verdict.Note("operation: " + operation.label);
    verdict.Note("input: " + Describe(input.get()));
    verdict.Note("output: " + Describe(output.get()));
    verdict.Note("error: " + Describe(error.get()));
  }
}

}  // namespace DralFuzz
