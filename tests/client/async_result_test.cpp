#include <dral/client/async_result.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

namespace {

using Tovri::AsyncResult;
using Tovri::AsyncStreamResult;
using Tovri::Progress;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using NativeErrorOpt = boost::optional<Tovri::Data::NativeError>;
using Result = AsyncResult<std::string, Tovri::AsyncResultTerminateCbPolicy>;
using Stream = AsyncStreamResult<std::string, Tovri::AsyncStreamResultTerminateCbPolicy>;

// What one callback invocation saw.
struct Seen {
  boost::optional<std::string> value;
  ErrorPtr error;
  Progress progress;
  bool viaFull = false;
};

Result::ResultCb::Simple Simple(std::vector<Seen>& seen) {
  return [&seen](const boost::optional<std::string>& v, const ErrorPtr& e, const Progress& p) {
    seen.push_back(Seen{v, e, p, false});
  };
}

Result::ResultCb::Full Full(std::vector<Seen>& seen) {
  return [&seen](const boost::optional<std::string>& v, const ErrorPtr& e, const NativeErrorOpt& n,
                 const Progress& p) {
    EXPECT_FALSE(n);
    seen.push_back(Seen{v, e, p, true});
  };
}

// Counts the copies made of it.
struct Counted {
  Counted() = default;
  Counted(const Counted& other) : copies(other.copies + 1) {}
  Counted(Counted&&) noexcept = default;
  int copies = 0;
};

TEST(AsyncResultDelivery, TemporariesAreMovedLvaluesCopied) {
  int seen = -1;
  const auto record = [&seen](const boost::optional<Counted>& value, const ErrorPtr&, const Progress&) {
    seen = value ? value->copies : -1;
  };
  AsyncResult<Counted, Tovri::AsyncResultTerminateCbPolicy>{record}(Counted());
  EXPECT_EQ(seen, 0);
  const Counted kept;
  AsyncResult<Counted, Tovri::AsyncResultTerminateCbPolicy>{record}(kept);
  EXPECT_EQ(seen, 1);
  AsyncStreamResult<Counted, Tovri::AsyncStreamResultTerminateCbPolicy>{record}(Counted());
  EXPECT_EQ(seen, 0);
}

TEST(AsyncResultDelivery, FullSlotOnlyWhenSimpleIsEmpty) {
  std::vector<Seen> seen;
  const auto error = Tovri::Data::ErrorValue::GetInstance("x");
  Result(Full(seen)).error(error);  // with an empty native error
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].viaFull);
  EXPECT_EQ(seen[0].error, error);
  EXPECT_FALSE(seen[0].value);
  Result::ResultCb both;
  both.simple = Simple(seen);
  both.full = Full(seen);
  const Result result(both);
  result.progress(Progress{0, 1, 2});
  result("v");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen[1].viaFull || seen[2].viaFull);
}

TEST(AsyncResultDelivery, EmptyErrorStillCompletesWithNeitherValueNorError) {
  std::vector<Seen> seen;
  const Result result(Simple(seen));
  result.error(nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].value || seen[0].error);
  EXPECT_DEATH(result.error(nullptr), "");
}

TEST(AsyncResultDelivery, ProgressReportsKeepTheResultOpen) {
  std::vector<Seen> seen;
  const Result result(Simple(seen));
  result.progress(Progress{0, 1, 3});
  result.progress(Progress{0, 2, 3});
  result("v");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].progress, (Progress{0, 2, 3}));
  EXPECT_FALSE(seen[1].value);
  EXPECT_EQ(seen[2].value, std::string("v"));
  EXPECT_FALSE(seen[2].error);
  EXPECT_EQ(seen[2].progress, Tovri::FinalProgress());
  EXPECT_DEATH(result.progress(Progress{0, 1, 3}), "");
}

TEST(AsyncResultDelivery, ProviderFilterShapeGoesToFullSlotWithEmptyContinuation) {
  int calls = 0;
  const Result result([&calls](const boost::optional<std::string>& v, const ErrorPtr&, const NativeErrorOpt&,
                               const Progress&, Result::StreamContinuation&& next) {
    ++calls;
    EXPECT_EQ(v, std::string("v"));
    EXPECT_FALSE(next);
  });
  result("v");
  EXPECT_EQ(calls, 1);
}

// Only callables fitting a slot convert to a result.
static_assert(
    std::is_convertible<void (*)(const boost::optional<std::string>&, const ErrorPtr&, const Progress&),
                        Result>::value,
    "");
static_assert(!std::is_convertible<void (*)(int), Result>::value, "");
static_assert(!std::is_convertible<std::string, Result>::value, "");

TEST(AsyncResultState, CopiesAreIndependent) {
  std::vector<Seen> seen;
  const Result original(Simple(seen));
  const Result copy(original);
  copy("first");
  original("second");
  ASSERT_EQ(seen.size(), 2u);
  const Result copyOfTerminated(copy);
  EXPECT_DEATH(copyOfTerminated("again"), "");
}

TEST(AsyncResultState, ThrowingCallbackLeavesResultOpen) {
  int calls = 0;
  const Result result([&calls](const boost::optional<std::string>&, const ErrorPtr&, const Progress&) {
    if (++calls == 1) throw std::runtime_error("busy");
  });
  EXPECT_THROW(result("v"), std::runtime_error);
  result("v");
  EXPECT_EQ(calls, 2);
  EXPECT_DEATH(result("v"), "");
}

TEST(AsyncResultState, BothSlotsEmptyThrowsAndStaysOpen) {
  const Result result(Result::ResultCb{});
  EXPECT_THROW(result.progress(Progress{0, 1, 2}), std::bad_function_call);
  EXPECT_THROW(result("v"), std::bad_function_call);
  EXPECT_THROW(result.error(nullptr), std::bad_function_call);
}

TEST(AsyncStreamResultTest, MakeOptionalPtrFillsFullSlotEvenForGenericCallables) {
  std::size_t arity = 0;
  bool continuationSet = false;
  const auto stream = Tovri::MakeOptionalPtr<Stream>([&](const auto&... args) {
    arity = sizeof...(args);
    if constexpr (sizeof...(args) == 5) continuationSet = static_cast<bool>(std::get<4>(std::tie(args...)));
  });
  ASSERT_TRUE(stream);
  (*stream)("piece", [](Tovri::OptionalPtr<Stream>&&) {});
  EXPECT_EQ(arity, 5u);
  EXPECT_TRUE(continuationSet);
  EXPECT_DEATH((*stream)("piece"), "");
}

}  // namespace
