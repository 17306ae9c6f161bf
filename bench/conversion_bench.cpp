// Conversion, native to value and back: the generic adapters (ours) and the
// hand-written floor, on the same data. Every operation converts once and
// drops its result, so the time includes tearing the result down.
#include <list>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>

#include "data.hpp"
#include "floor.hpp"
#include "registry.hpp"

namespace DralBench {
namespace {

using ::Tovri::Data::NativeToValueAdapter;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;

// Native form, value form (as ours writes it), and the name used in cases.
struct TpmData {
  std::shared_ptr<const TpmInfo> native = MakeTpmInfo();
  ValuePtr value;
};

struct SummariesData {
  explicit SummariesData(std::size_t count) : native(MakeSummaries(count)) {}
  SummaryList native;
  ValuePtr value;
};

template <class T>
ValuePtr OursToValue(const T& native) {
  const ::Tovri::L10n::RequestLocalizer localizer;
  std::list<::Tovri::BaseMessage> messages;
  ValuePtr value;
  Require(NativeToValueAdapter::Adapt(native, value, messages, localizer) && value,
          "ours converts to a value");
  return value;
}

// Value trees compare structurally; native objects compare through the tree
// ours writes for them.
template <class T>
bool SameAsOurs(const T& native, const ValuePtr& expected) {
  return ::Tovri::Data::Equal(*OursToValue(native), *expected);
}

void AddTpmCases() {
  const std::string data = "tpm_info";
  AddCase(
      "to_value/" + data + "/ours",
      [] {
        auto d = std::make_shared<TpmData>();
        const ::Tovri::L10n::RequestLocalizer localizer;
        return [d, localizer] {
          std::list<::Tovri::BaseMessage> messages;
          ValuePtr value;
          NativeToValueAdapter::Adapt(*d->native, value, messages, localizer);
          benchmark::DoNotOptimize(value);
        };
      },
      100);
  AddCase(
      "to_value/" + data + "/floor",
      [] {
        auto d = std::make_shared<TpmData>();
        Require(::Tovri::Data::Equal(*Floor::ToValue(*d->native), *OursToValue(*d->native)),
                "the floor writes the TPM tree ours writes");
        return [d] {
          ValuePtr value = Floor::ToValue(*d->native);
          benchmark::DoNotOptimize(value);
        };
      },
      100);
  AddCase(
      "from_value/" + data + "/ours",
      [] {
        auto d = std::make_shared<TpmData>();
        d->value = OursToValue(*d->native);
        TpmInfo check;
        std::list<::Tovri::BaseMessage> messages;
        Require(ValueToNativeAdapter::Adapt(d->value, check, messages) && SameAsOurs(check, d->value),
                "ours reads the TPM tree back");
        return [d] {
          TpmInfo native;
          std::list<::Tovri::BaseMessage> messages;
          ValueToNativeAdapter::Adapt(d->value, native, messages);
          benchmark::DoNotOptimize(native);
        };
      },
      100);
  AddCase(
      "from_value/" + data + "/floor",
      [] {
        auto d = std::make_shared<TpmData>();
        d->value = OursToValue(*d->native);
        TpmInfo check;
        Require(Floor::FromValue(d->value, check) && SameAsOurs(check, d->value),
                "the floor reads the TPM tree");
        return [d] {
          TpmInfo native;
          Floor::FromValue(d->value, native);
          benchmark::DoNotOptimize(native);
        };
      },
      100);
}

void AddSummaryCases(std::size_t count, int probeOps) {
  const std::string data = "summaries_" + std::to_string(count);
  AddCase(
      "to_value/" + data + "/ours",
      [count] {
        auto d = std::make_shared<SummariesData>(count);
        const ::Tovri::L10n::RequestLocalizer localizer;
        return [d, localizer] {
          std::list<::Tovri::BaseMessage> messages;
          ValuePtr value;
          NativeToValueAdapter::Adapt(d->native, value, messages, localizer);
          benchmark::DoNotOptimize(value);
        };
      },
      probeOps);
  AddCase(
      "to_value/" + data + "/floor",
      [count] {
        auto d = std::make_shared<SummariesData>(count);
        Require(::Tovri::Data::Equal(*Floor::ToValue(d->native), *OursToValue(d->native)),
                "the floor writes the summary list ours writes");
        return [d] {
          ValuePtr value = Floor::ToValue(d->native);
          benchmark::DoNotOptimize(value);
        };
      },
      probeOps);
  AddCase(
      "from_value/" + data + "/ours",
      [count] {
        auto d = std::make_shared<SummariesData>(count);
        d->value = OursToValue(d->native);
        SummaryList check;
        std::list<::Tovri::BaseMessage> messages;
        Require(ValueToNativeAdapter::Adapt(d->value, check, messages) && SameAsOurs(check, d->value),
                "ours reads the summary list back");
        return [d] {
          SummaryList native;
          std::list<::Tovri::BaseMessage> messages;
          ValueToNativeAdapter::Adapt(d->value, native, messages);
          benchmark::DoNotOptimize(native);
        };
      },
      probeOps);
  AddCase(
      "from_value/" + data + "/floor",
      [count] {
        auto d = std::make_shared<SummariesData>(count);
        d->value = OursToValue(d->native);
        SummaryList check;
        Require(Floor::FromValue(d->value, check) && SameAsOurs(check, d->value),
                "the floor reads the summary list");
        return [d] {
          SummaryList native;
          Floor::FromValue(d->value, native);
          benchmark::DoNotOptimize(native);
        };
      },
      probeOps);
}

}  // namespace

void AddConversionCases() {
  AddTpmCases();
  AddSummaryCases(1000, 5);
  AddSummaryCases(10000, 2);
}

}  // namespace DralBench
