// The client road against a provider that records each invocation and lets
// the test answer it.
#include <dral/client/method_invoker.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/message_ids.hpp>

#include <dral/test/gadgets.hpp>

#include "support/test_support.hpp"

namespace {

using Dral::Test::GadgetsSvc;
using Dral::TestSupport::Outcomes;
using Tovri::Progress;
using Tovri::Core::AsyncActivation;
using Tovri::Core::MethodResult;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;

class RecordingProvider : public Tovri::Core::ApiProvider {
 public:
  struct Call {
    std::shared_ptr<const Tovri::Core::MethodIdentifier> method;
    Tovri::Data::ValuePtr input;
    std::shared_ptr<AsyncActivation> activation;
    Tovri::Core::AsyncApiResultCb answer;
  };

  void Invoke(const std::shared_ptr<const Tovri::Core::MethodIdentifier>& method,
              const Tovri::Data::ValuePtr& input, const std::shared_ptr<AsyncActivation>& activation,
              const Tovri::Core::AsyncApiResultCb& answer) override {
    calls.push_back(Call{method, input, activation, answer});
  }

  std::vector<Call> calls;
};

class InvokerTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingProvider> provider = std::make_shared<RecordingProvider>();
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  GadgetsSvc::AsyncServiceStub stub{std::make_shared<Tovri::Stub::AsyncApiStub>(provider)};

  std::shared_ptr<const GadgetsSvc::CreateSpec> Spec(bool withAddress) {
    auto spec = std::make_shared<GadgetsSvc::CreateSpec>();
    if (withAddress) spec->address = std::make_shared<GadgetsSvc::Endpoint>();
    return spec;
  }
};

TEST_F(InvokerTest, OperationWithoutParametersSendsTheEmptyOperationInput) {
  Outcomes<std::list<std::shared_ptr<const GadgetsSvc::Summary>>> out;
  stub.List(activation, out.Result());
  ASSERT_EQ(provider->calls.size(), 1u);
  const auto& call = provider->calls[0];
  EXPECT_EQ(call.method->GetInterface()->GetName(), "com.corvane.test.gadgets");
  EXPECT_EQ(call.method->GetName(), "list");
  const auto* input = dynamic_cast<const Tovri::Data::StructValue*>(call.input.get());
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(input->GetName(), Tovri::Data::TypeInfo<Tovri::OperationInput>::name());
  EXPECT_TRUE(input->GetFields().empty());
  EXPECT_EQ(call.activation, activation);
  EXPECT_TRUE(out.entries.empty());
}

TEST_F(InvokerTest, InputNotConvertingFailsBeforeInvokeReturnsWithoutFrameworkCall) {
  Outcomes<std::string> out;
  const auto result = out.Result();
  stub.Create(Spec(false), activation, result);
  EXPECT_TRUE(provider->calls.empty());
  ASSERT_EQ(out.entries.size(), 1u);
  const ErrorPtr& error = out.entries[0].error;
  ASSERT_TRUE(error);
  EXPECT_EQ(error->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  ASSERT_EQ(error->GetMessages().size(), 1u);
  EXPECT_EQ(error->GetMessages()[0].message.id, ::Tovri::MessageIds::kUnsetNonOptional);
  EXPECT_EQ(error->GetMessages()[0].message.args.front(), "com.corvane.test.gadgets.endpoint");
  EXPECT_EQ(out.entries[0].progress, Tovri::FinalProgress());
  // The caller's own object was completed, so it is terminated.
  EXPECT_DEATH(result.progress(Progress{0, 1, 2}), "");
}

TEST_F(InvokerTest, CallsThatReachTheFrameworkCompleteOnlyTheirCopy) {
  Outcomes<Tovri::Void> out;
  const auto result = out.Result();
  stub.Delete("a", activation, result);
  stub.Delete("b", activation, result);
  for (auto& call : provider->calls) {
    call.answer(MethodResult::GetInstance(Tovri::Data::VoidValue::GetInstance(), nullptr),
                Tovri::FinalProgress());
  }
  ASSERT_EQ(out.entries.size(), 2u);
  EXPECT_TRUE(out.entries[0].value);
  result.progress(Progress{0, 1, 2});  // still open
  EXPECT_EQ(out.entries.size(), 3u);
}

TEST_F(InvokerTest, AnswersReachTheCallerAsNativeValueErrorOrProgress) {
  Outcomes<std::string> out;
  stub.Create(Spec(true), activation, out.Result());
  auto& answer = provider->calls.at(0).answer;
  answer(nullptr, Progress{0, 1, 3});
  answer(nullptr, Progress{0, 2, 3});
  answer(MethodResult::GetInstance(Tovri::Data::StringValue::GetInstance("g-1"), nullptr),
         Tovri::FinalProgress());
  ASSERT_EQ(out.entries.size(), 3u);
  EXPECT_FALSE(out.entries[0].value || out.entries[0].error);
  EXPECT_EQ(out.entries[1].progress, (Progress{0, 2, 3}));
  EXPECT_EQ(out.entries[2].value, std::string("g-1"));
  EXPECT_EQ(out.entries[2].progress, Tovri::FinalProgress());
}

TEST_F(InvokerTest, FailureRowsOfTheAnswer) {
  Outcomes<std::string> out;
  for (int i = 0; i < 4; ++i) stub.Create(Spec(true), activation, out.Result());
  const auto declared = Tovri::Data::ErrorValue::GetInstance("com.corvane.tovri.std.errors.already_exists");
  // An error value is passed unchanged, even beside an output.
  provider->calls[0].answer(MethodResult::GetInstance(nullptr, declared), Tovri::FinalProgress());
  provider->calls[1].answer(MethodResult::GetInstance(Tovri::Data::StringValue::GetInstance("x"), declared),
                            Tovri::FinalProgress());
  // Neither output nor error.
  provider->calls[2].answer(MethodResult::GetInstance(nullptr, nullptr), Tovri::FinalProgress());
  // An output that does not convert to std::string.
  provider->calls[3].answer(MethodResult::GetInstance(Tovri::Data::ListValue::GetInstance(), nullptr),
                            Tovri::FinalProgress());
  ASSERT_EQ(out.entries.size(), 4u);
  EXPECT_EQ(out.entries[0].error, declared);
  EXPECT_EQ(out.entries[1].error, declared);
  EXPECT_FALSE(out.entries[1].value);
  EXPECT_FALSE(out.entries[2].error || out.entries[2].value);
  ASSERT_TRUE(out.entries[3].error);
  EXPECT_EQ(out.entries[3].error->GetId(), "invalid_argument");
  EXPECT_FALSE(out.entries[3].error->GetMessages().empty());
  for (const auto& entry : out.entries) EXPECT_EQ(entry.progress, Tovri::FinalProgress());
}

// A framework callback that answers again from inside its own final answer
// completes the caller's result a second time: the result's contract ends
// the process, where an emptied callback would throw bad_function_call.
void AnswerAgainFromInsideTheFinalAnswer() {
  using Result = Tovri::AsyncResult<std::string>;
  using Tovri::Core::AsyncApiResultCb;
  const Result result([](const boost::optional<std::string>&, const ErrorPtr&, const Progress&) {});
  const Tovri::Stub::AsyncResultWrapper::ResultWrapper<std::string, Result> wrapper(result);
  int calls = 0;
  AsyncApiResultCb answer;
  answer = AsyncApiResultCb([&](const std::shared_ptr<const MethodResult>& output, const Progress& progress,
                                AsyncApiResultCb::Continuation&& next) {
    wrapper(output, progress, std::move(next));
    if (++calls == 1) answer(output, progress);
  });
  answer(MethodResult::GetInstance(Tovri::Data::StringValue::GetInstance("g-1"), nullptr),
         Tovri::FinalProgress());
}

TEST(InvokerAnswer, SecondFinalAnswerFromInsideTheFirstEndsTheProcess) {
  EXPECT_DEATH(AnswerAgainFromInsideTheFinalAnswer(), "");
}

}  // namespace
