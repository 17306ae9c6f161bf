// The input and result filters of the test service, driven directly.
#include <dral/provider/method_filter.hpp>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/message_ids.hpp>

#include <dral/test/gadgets.hpp>

namespace {

using Dral::Test::GadgetsSvc;
using Tovri::Progress;
using Tovri::Core::AsyncActivation;
using Tovri::Data::StructValue;
using Tovri::Data::ValuePtr;
using Tovri::Provider::AsyncApiMethod;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;

// What the signal side received from a filter.
struct Answer {
  boost::optional<ValuePtr> output;
  ErrorPtr error;
  Progress progress;
  AsyncApiMethod::ResultContinuation continuation;
};

AsyncApiMethod::ResultCb Recorder(std::vector<Answer>& answers) {
  return [&answers](const boost::optional<ValuePtr>& o, const ErrorPtr& e, const Progress& p,
                    AsyncApiMethod::ResultContinuation&& c) {
    answers.push_back(Answer{o, e, p, std::move(c)});
  };
}

// Counts the calls that reach the implementation.
class Gadgets : public GadgetsSvc::AsyncServiceInterface {
 public:
  void List(const std::shared_ptr<AsyncActivation>&, const GadgetsSvc::ListMethod::ResultCbType&) override {
    ++calls;
  }
  void Delete(const std::string&, const std::shared_ptr<AsyncActivation>&,
              const GadgetsSvc::DeleteMethod::ResultCbType&) override {
    ++calls;
  }
  void Create(const std::shared_ptr<const GadgetsSvc::CreateSpec>&, const std::shared_ptr<AsyncActivation>&,
              const GadgetsSvc::CreateMethod::ResultCbType&) override {
    ++calls;
  }
  int calls = 0;
};

class FilterTest : public ::testing::Test {
 protected:
  using Helper = GadgetsSvc::AsyncServiceBinderHelper;
  std::shared_ptr<Gadgets> impl = std::make_shared<Gadgets>();
  std::shared_ptr<GadgetsSvc::AsyncServiceInterface> iface = impl;
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  std::vector<Answer> answers;

  static std::shared_ptr<StructValue> Input() {
    return StructValue::GetInstance(Tovri::Data::TypeInfo<Tovri::OperationInput>::name());
  }
  static std::shared_ptr<StructValue> Endpoint() {
    auto endpoint = StructValue::GetInstance("com.corvane.test.gadgets.endpoint");
    endpoint->SetField("host", Tovri::Data::StringValue::GetInstance("h"));
    endpoint->SetField("port", Tovri::Data::IntegerValue::GetInstance(1));
    return endpoint;
  }
  void Delete(const ValuePtr& input) {
    Helper::DeleteMethodBuilder()(&GadgetsSvc::AsyncServiceInterface::Delete, iface, nullptr)(
        input, activation, Recorder(answers));
  }
  void Create(const ValuePtr& input) {
    Helper::CreateMethodBuilder()(&GadgetsSvc::AsyncServiceInterface::Create, iface, nullptr)(
        input, activation, Recorder(answers));
  }
  void List(const ValuePtr& input) {
    Helper::ListMethodBuilder()(&GadgetsSvc::AsyncServiceInterface::List, iface, nullptr)(input, activation,
                                                                                          Recorder(answers));
  }
  // Expects the one answer to be a final refusal, returns its messages and
  // forgets it.
  std::vector<Tovri::Data::ErrorMessage> Refusal() {
    EXPECT_EQ(answers.size(), 1u);
    if (answers.size() != 1u || !answers[0].error) return {};
    EXPECT_FALSE(answers[0].output);
    EXPECT_EQ(answers[0].error->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
    EXPECT_EQ(answers[0].progress, Tovri::FinalProgress());
    EXPECT_FALSE(answers[0].continuation);
    auto messages = answers[0].error->GetMessages();
    answers.clear();
    return messages;
  }
};

TEST_F(FilterTest, InputNotConvertingOrValidatingIsRefused) {
  auto badGadget = Input();
  badGadget->SetField("gadget", Tovri::Data::ListValue::GetInstance());
  Delete(badGadget);
  EXPECT_FALSE(Refusal().empty());
  Create(Input());  // lacks its required parameter
  Refusal();

  // An undeclared field converts, but is refused by the validation.
  auto spec = StructValue::GetInstance("com.corvane.test.gadgets.create_spec");
  spec->SetField("name", Tovri::Data::StringValue::GetInstance("n"));
  spec->SetField("address", Endpoint());
  spec->SetField("colour", Tovri::Data::StringValue::GetInstance("red"));
  auto input = Input();
  input->SetField("spec", spec);
  Create(input);
  const auto messages = Refusal();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message.id, ::Tovri::MessageIds::kFieldExtra);
  EXPECT_EQ(messages[0].message.args.front(), "::Dral::Test::GadgetsSvc::CreateSpec");
  EXPECT_EQ(messages[1].message.id, ::Tovri::MessageIds::kInvalidInput);
  EXPECT_EQ(messages[1].message.args.front(), "::Dral::Test::GadgetsSvc::Create");
  EXPECT_EQ(impl->calls, 0);
}

TEST_F(FilterTest, OperationInputIsNotValidated) {
  auto input = Input();
  input->SetField("surplus", Tovri::Data::StringValue::GetInstance("x"));
  List(input);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(impl->calls, 1);
}

class ResultFilterTest : public ::testing::Test {
 protected:
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  std::vector<Answer> answers;
};

TEST_F(ResultFilterTest, ErrorWinsOverValueAndLaterAnswersAreDropped) {
  auto filter = Tovri::Provider::AsyncApiMethodResultFilter<Tovri::Void>(Recorder(answers), activation);
  const auto error = Tovri::Data::ErrorValue::GetInstance("com.corvane.tovri.std.errors.not_found");
  filter(Tovri::Void(), error, boost::none, Tovri::FinalProgress(), {});
  filter(Tovri::Void(), nullptr, boost::none, Tovri::FinalProgress(), {});
  filter(boost::none, nullptr, boost::none, Progress{0, 1, 2}, {});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_FALSE(answers[0].output);
  EXPECT_EQ(answers[0].error->GetId(), error->GetId());
}

TEST_F(ResultFilterTest, ContinuationYieldsStreamResultsAnsweringTheNextCallback) {
  using Filter = Tovri::Provider::AsyncApiMethodResultFilter<std::string>;
  Filter filter(Recorder(answers), activation);
  std::vector<Tovri::OptionalPtr<Filter::StreamResult>> pieces;
  filter(std::string("first"), nullptr, boost::none, Progress{0, 1, 1},
         [&pieces](Tovri::OptionalPtr<Filter::StreamResult>&& next) { pieces.push_back(std::move(next)); });
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_TRUE(answers[0].continuation);

  std::vector<Answer> nextAnswers;
  answers[0].continuation(nullptr);
  answers[0].continuation(std::make_shared<AsyncApiMethod::ResultCb>(Recorder(nextAnswers)));
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_FALSE(pieces[0]);
  ASSERT_TRUE(pieces[1]);
  (*pieces[1])("second");
  ASSERT_EQ(nextAnswers.size(), 1u);
  ASSERT_TRUE(nextAnswers[0].output);
  EXPECT_EQ(static_cast<const Tovri::Data::StringValue&>(**nextAnswers[0].output).GetValue(), "second");
}

}  // namespace
