#include <dral/provider/method_signal.hpp>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>
#include <tovri/core/message_ids.hpp>

namespace {

using Tovri::Progress;
using Tovri::Core::AsyncActivation;
using Tovri::Core::AsyncApiResultCb;
using Tovri::Core::MethodResult;
using Tovri::Data::DataDefinition;
using Tovri::Data::DefinitionPtr;
using Tovri::Provider::AsyncApiMethod;
using Tovri::Provider::AsyncApiMethodSignal;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;

// What the framework's callback received.
struct Answer {
  std::shared_ptr<const MethodResult> result;
  Progress progress;
  AsyncApiResultCb::Continuation continuation;
};

AsyncApiResultCb Recorder(std::vector<Answer>& answers) {
  return [&answers](const std::shared_ptr<const MethodResult>& r, const Progress& p,
                    AsyncApiResultCb::Continuation&& c) {
    answers.push_back(Answer{r, p, std::move(c)});
  };
}

class SignalTest : public ::testing::Test {
 protected:
  DefinitionPtr input = DataDefinition::Create<std::string>();
  DefinitionPtr output = DataDefinition::Create<long long>();
  DefinitionPtr notFound = Tovri::Data::StructDefinition::GetInstance(
      "com.corvane.tovri.std.errors.not_found",
      {{"messages", Tovri::Data::ListDefinition::GetInstance(DataDefinition::Create<std::string>())}});
  std::shared_ptr<Tovri::L10n::Localizer> localizer = std::make_shared<Tovri::L10n::Localizer>();
  std::shared_ptr<AsyncApiMethodSignal> signal =
      AsyncApiMethodSignal::GetInstance("get", input, output, {notFound}, localizer);
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  std::vector<Answer> answers;
  AsyncApiMethod::ResultCb handlerCb;  // what the handler was given
  int handlerCalls = 0;

  void ConnectRecordingHandler() {
    signal->Connect([this](const Tovri::Data::ValuePtr&, const std::shared_ptr<AsyncActivation>&,
                           const AsyncApiMethod::ResultCb& cb) {
      ++handlerCalls;
      handlerCb = cb;
    });
  }
  void InvokeGood() {
    signal->Invoke(Tovri::Data::StringValue::GetInstance("id"), activation, Recorder(answers));
  }
};

TEST_F(SignalTest, UnconnectedSignalAnswersInternalServerError) {
  EXPECT_FALSE(signal->IsConnected());
  InvokeGood();
  ASSERT_EQ(answers.size(), 1u);
  const auto& result = answers[0].result;
  EXPECT_FALSE(result->GetOutput());
  EXPECT_EQ(result->GetError()->GetId(), "com.corvane.tovri.std.errors.internal_server_error");
  EXPECT_EQ(result->GetError()->GetMessages().at(0).message.id, ::Tovri::MessageIds::kSignalNotConnected);
  EXPECT_EQ(answers[0].progress, Tovri::FinalProgress());
}

TEST_F(SignalTest, RefusedInputNeverReachesTheHandler) {
  ConnectRecordingHandler();
  signal->Invoke(Tovri::Data::IntegerValue::GetInstance(1), activation, Recorder(answers));
  EXPECT_EQ(handlerCalls, 0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].result->GetError()->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  EXPECT_FALSE(activation->localizer);

  InvokeGood();
  EXPECT_EQ(handlerCalls, 1);
  EXPECT_EQ(activation->localizer, localizer) << "the signal installs its localizer";
  EXPECT_EQ(answers.size(), 1u);
}

TEST_F(SignalTest, SignalNotHeldBySharedPointerThrowsBadWeakPtr) {
  ConnectRecordingHandler();
  const AsyncApiMethodSignal copy(*signal);
  EXPECT_THROW(copy.Invoke(Tovri::Data::StringValue::GetInstance("id"), activation, Recorder(answers)),
               std::bad_weak_ptr);
}

TEST_F(SignalTest, AnswerWithOutputAndErrorIsAnError) {
  ConnectRecordingHandler();
  InvokeGood();
  const auto error = Tovri::Data::ErrorValue::GetInstance("com.corvane.tovri.std.errors.not_found");
  handlerCb(Tovri::Data::ValuePtr(Tovri::Data::IntegerValue::GetInstance(5)), error, Tovri::FinalProgress(),
            {});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_FALSE(answers[0].result->GetOutput());
  EXPECT_EQ(answers[0].result->GetError(), error);
}

TEST_F(SignalTest, EmptyFinalAnswerHasNeitherOutputNorError) {
  ConnectRecordingHandler();
  InvokeGood();
  handlerCb(boost::none, nullptr, Progress{0, 4, 4}, {});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_FALSE(answers[0].result->GetOutput() || answers[0].result->GetError());
  EXPECT_TRUE(answers[0].result->IsChecked());
  EXPECT_EQ(answers[0].progress, (Progress{0, 4, 4}));
}

TEST_F(SignalTest, ContinuationHandsTheNextCallbackCheckedToTheHandler) {
  ConnectRecordingHandler();
  InvokeGood();
  std::vector<std::shared_ptr<AsyncApiMethod::ResultCb>> nextCbs;
  handlerCb(
      Tovri::Data::ValuePtr(Tovri::Data::IntegerValue::GetInstance(1)), nullptr, Tovri::FinalProgress(),
      [&nextCbs](std::shared_ptr<AsyncApiMethod::ResultCb>&& next) { nextCbs.push_back(std::move(next)); });
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_TRUE(answers[0].continuation);

  std::vector<Answer> nextAnswers;
  answers[0].continuation(std::make_shared<AsyncApiResultCb>(Recorder(nextAnswers)));
  answers[0].continuation(nullptr);
  ASSERT_EQ(nextCbs.size(), 2u);
  EXPECT_FALSE(nextCbs[1]);
  ASSERT_TRUE(nextCbs[0]);
  // The next piece goes through the output check too.
  (*nextCbs[0])(Tovri::Data::ValuePtr(Tovri::Data::StringValue::GetInstance("bad")), nullptr,
                Tovri::FinalProgress(), {});
  ASSERT_EQ(nextAnswers.size(), 1u);
  EXPECT_EQ(nextAnswers[0].result->GetError()->GetId(), "com.corvane.tovri.std.errors.internal_server_error");
}

}  // namespace
