#include <tovri/core/invocation.hpp>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/error.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/core/stub.hpp>

namespace {

using namespace Tovri;
using namespace Tovri::Core;
using Tovri::Provider::ApiMethodHelper;
using Tovri::Provider::AsyncApiInterface;
using Tovri::Provider::AsyncApiMethod;

Data::ValuePtr Str(const std::string& text) { return Data::StringValue::GetInstance(text); }

// Answers every call with "<method>:<input text>" (or runs a hook instead).
class EchoMethod final : public AsyncApiMethod {
 public:
  using Hook = std::function<void(const Data::ValuePtr&, const std::shared_ptr<AsyncActivation>&,
                                  const AsyncApiResultCb&)>;
  explicit EchoMethod(std::string name, Hook hook = nullptr)
      : name_(std::move(name)), hook_(std::move(hook)) {}

  const std::string& methodName() const override { return name_; }
  std::shared_ptr<const MethodDefinition> definition(
      const std::shared_ptr<const InterfaceIdentifier>& interfaceId) const override {
    return MethodDefinition::GetInstance(MethodIdentifier::GetInstance(interfaceId, name_), nullptr, nullptr);
  }
  Data::DefinitionPtr inputDefinition() const override { return nullptr; }
  Data::DefinitionPtr outputDefinition() const override { return nullptr; }
  std::list<Data::DefinitionPtr> errorDefinitions() override { return errors_; }
  const std::list<Data::DefinitionPtr>& errorDefinitions() const override { return errors_; }
  void Invoke(const Data::ValuePtr& input, const std::shared_ptr<AsyncActivation>& activation,
              const AsyncApiResultCb& resultCb) const override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lastActivation_ = activation;
    }
    if (hook_) return hook_(input, activation, resultCb);
    const std::string text = static_cast<const Data::StringValue&>(*input).GetValue();
    resultCb(MethodResult::GetInstance(Str(name_ + ":" + text), nullptr), FinalProgress());
  }

  std::shared_ptr<AsyncActivation> LastActivation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastActivation_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::shared_ptr<AsyncActivation> lastActivation_;
  std::string name_;
  Hook hook_;
  std::list<Data::DefinitionPtr> errors_;
};

std::shared_ptr<const AsyncApiInterface> Api(const std::string& name,
                                             std::vector<std::shared_ptr<const AsyncApiMethod>> methods) {
  return AsyncApiInterface::GetInstance(InterfaceIdentifier::GetInstance(name),
                                        {methods.begin(), methods.end()});
}

std::shared_ptr<const MethodIdentifier> Method(const std::string& service, const std::string& name) {
  return MethodIdentifier::GetInstance(InterfaceIdentifier::GetInstance(service), name);
}

// Collects the one final answer of a call.
struct Answer {
  std::shared_ptr<const MethodResult> result;
  Progress progress;
  int calls = 0;

  AsyncApiResultCb Callback() {
    return AsyncApiResultCb([this](const std::shared_ptr<const MethodResult>& r, const Progress& p,
                                   AsyncApiResultCb::Continuation&&) {
      result = r;
      progress = p;
      ++calls;
    });
  }
  std::string Text() const {
    auto* text = dynamic_cast<const Data::StringValue*>(result ? result->GetOutput().get() : nullptr);
    return text ? text->GetValue() : "";
  }
  std::string ErrorId() const { return result && result->GetError() ? result->GetError()->GetId() : ""; }
};

TEST(FwActivation, CopiesAreIsolatedFromTheirSource) {
  AsyncActivation source;
  source.executionContext->applicationData["app"] = std::string("1");
  source.value = Str("opaque");
  source.properties["p"] = "q";
  int cancels = 0;
  source.onCancel = [&cancels] { ++cancels; };
  source.sequence = 41;

  AsyncActivation copy(source);
  EXPECT_NE(copy.executionContext, source.executionContext);
  EXPECT_EQ(copy.value, source.value);
  EXPECT_EQ(copy.sequence, 0u);
  copy.onCancel();
  EXPECT_EQ(cancels, 1);
  copy.executionContext->applicationData["app"] = std::string("changed");
  copy.properties["p"] = "changed";
  EXPECT_EQ(source.executionContext->applicationData["app"], std::string("1"));
  EXPECT_EQ(source.properties["p"], "q");

  AsyncActivation assigned;
  assigned.sequence = 9;
  assigned = source;
  EXPECT_NE(assigned.executionContext, source.executionContext);
  EXPECT_EQ(assigned.executionContext->applicationData["app"], std::string("1"));
  EXPECT_EQ(assigned.sequence, 0u);
  AsyncActivation& alias = assigned;
  assigned = alias;  // self-assignment keeps everything
  EXPECT_EQ(assigned.properties["p"], "q");

  AsyncActivation noContext;
  noContext.executionContext.reset();
  EXPECT_TRUE(AsyncActivation(noContext).executionContext);
}

TEST(FwActivation, ErrorLocalizerNeedsAFilledLocalizerAndALocale) {
  AsyncActivation activation;
  ASSERT_TRUE(activation.GetErrorRequestLocalizer().localizer);

  activation.localizer = std::make_shared<L10n::Localizer>();
  activation.localeSpec = std::make_shared<L10n::LocaleSpec>();
  EXPECT_NE(activation.GetErrorRequestLocalizer().localizer, activation.localizer) << "empty localizer";
  activation.localizer->AddTemplate("de", "x", "y");
  EXPECT_EQ(activation.GetErrorRequestLocalizer().localizer, activation.localizer);
  activation.localeSpec.reset();
  EXPECT_NE(activation.GetErrorRequestLocalizer().localizer, activation.localizer) << "no locale";
}

TEST(FwResultCallback, EmptiesItselfAfterTheFinalAnswer) {
  EXPECT_THROW(AsyncApiResultCb()(nullptr, Progress{}), std::bad_function_call);

  auto held = std::make_shared<int>(0);
  int calls = 0;
  AsyncApiResultCb cb([held, &calls](const std::shared_ptr<const MethodResult>&, const Progress&,
                                     AsyncApiResultCb::Continuation&&) { ++calls; });
  cb(nullptr, Progress{0, 1, 3});
  EXPECT_EQ(held.use_count(), 2);
  cb(MethodResult::GetInstance(Str("done"), nullptr), FinalProgress());
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(cb);
  EXPECT_EQ(held.use_count(), 1) << "the final answer releases what the function held";
  EXPECT_THROW(cb(MethodResult::GetInstance(nullptr, nullptr), FinalProgress()), std::bad_function_call);

  // A final answer whose function throws is not delivered: the callback stays.
  AsyncApiResultCb throwing([](const std::shared_ptr<const MethodResult>&, const Progress&,
                               AsyncApiResultCb::Continuation&&) { throw std::runtime_error("busy"); });
  EXPECT_THROW(throwing(MethodResult::GetInstance(nullptr, nullptr), FinalProgress()), std::runtime_error);
  EXPECT_TRUE(throwing);

  // A second final answer given from inside the first reaches the function
  // again; the function stays alive until the outer call returns.
  auto outerHeld = std::make_shared<int>(0);
  int depth = 0;
  AsyncApiResultCb nested;
  nested =
      AsyncApiResultCb([outerHeld, &depth, &nested](const std::shared_ptr<const MethodResult>& r,
                                                    const Progress& p, AsyncApiResultCb::Continuation&&) {
        if (++depth == 1) nested(r, p);
        EXPECT_EQ(outerHeld.use_count(), 2) << "still held at depth " << depth;
      });
  nested(MethodResult::GetInstance(Str("done"), nullptr), FinalProgress());
  EXPECT_EQ(depth, 2);
  EXPECT_FALSE(nested);
  EXPECT_EQ(outerHeld.use_count(), 1);
}

TEST(FwStub, NullActivationBecomesACopyOfTheDefault) {
  auto provider = std::make_shared<LocalProvider>();
  auto method = std::make_shared<EchoMethod>("get");
  ASSERT_TRUE(provider->Register(Api("svc", {method})));
  auto defaults = std::make_shared<AsyncActivation>();
  defaults->executionContext->applicationData["k"] = std::string("v");
  Stub::AsyncApiStub stub(provider, defaults);

  Answer answer;
  stub.Invoke(Method("svc", "get"), Str("x"), nullptr, answer.Callback());
  EXPECT_EQ(answer.Text(), "get:x");
  ASSERT_TRUE(method->LastActivation());
  EXPECT_NE(method->LastActivation(), defaults);
  method->LastActivation()->executionContext->applicationData["k"] = std::string("changed");
  EXPECT_EQ(defaults->executionContext->applicationData["k"], std::string("v"));

  auto own = std::make_shared<AsyncActivation>();
  stub.Invoke(Method("svc", "get"), Str("y"), own, answer.Callback());
  EXPECT_EQ(method->LastActivation(), own);

  Answer orphan;
  Stub::AsyncApiStub(nullptr).Invoke(Method("svc", "get"), Str("z"), nullptr, orphan.Callback());
  EXPECT_EQ(orphan.ErrorId(), Errors::kInternalServerError);
}

// --- ApiMethodHelper ----------------------------------------------------------

// The messages' own shape is not what these tests are about.
Data::DefinitionPtr ErrorDef(const std::string& id) {
  return Data::StructDefinition::GetInstance(
      id, {{"messages", Data::ListDefinition::GetInstance(
                            Data::PrimitiveDefinition::GetInstance(Data::kDynamicStruct))}});
}

TEST(FwMethodHelper, InputAndOutputAreCheckedAgainstTheirDefinitions) {
  auto stringDef = Data::DataDefinition::Create<std::string>();
  std::shared_ptr<const MethodResult> result;
  const Data::ValuePtr input = Str("ok");
  EXPECT_TRUE(ApiMethodHelper::ValidateInput("get", stringDef, input, result));
  EXPECT_EQ(result->GetOutput(), input);
  EXPECT_TRUE(result->IsChecked());

  EXPECT_FALSE(ApiMethodHelper::ValidateInput("get", stringDef, Data::DataValue::Create<bool>(true), result));
  EXPECT_TRUE(result->IsChecked());
  EXPECT_FALSE(result->GetOutput());
  EXPECT_EQ(result->GetError()->GetId(), Errors::kInvalidArgument);
  auto messages = result->GetError()->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message.id, MessageIds::kCheckKind);
  EXPECT_EQ(messages[1].message.id, MessageIds::kInvalidInput);

  EXPECT_TRUE(ApiMethodHelper::ValidateOutput("get", stringDef, Str("out"), result));
  EXPECT_FALSE(result->GetError());
  EXPECT_FALSE(ApiMethodHelper::ValidateOutput("get", stringDef, nullptr, result));
  EXPECT_EQ(result->GetError()->GetId(), Errors::kInternalServerError);
  EXPECT_EQ(result->GetError()->GetMessages().back().message.id, MessageIds::kInvalidOutput);
}

TEST(FwMethodHelper, OnlyDeclaredAndFrameworkErrorsPass) {
  const std::list<Data::DefinitionPtr> declared{ErrorDef(Errors::kNotFound), ErrorDef(Errors::kUnauthorized)};
  std::shared_ptr<const MethodResult> result;

  auto notFound =
      Data::ErrorValue::Create(Errors::kNotFound, std::list<BaseMessage>{BaseMessage("i", "t", {})});
  EXPECT_TRUE(ApiMethodHelper::ValidateError("get", declared, notFound, result));
  EXPECT_EQ(result->GetError(), notFound);
  EXPECT_TRUE(result->IsChecked());

  for (const char* framework : {Errors::kInvalidArgument, Errors::kInternalServerError}) {
    auto error = Data::ErrorValue::GetInstance(framework);
    EXPECT_TRUE(ApiMethodHelper::ValidateError("get", {}, error, result)) << framework;
    EXPECT_EQ(result->GetError(), error);
  }

  EXPECT_FALSE(ApiMethodHelper::ValidateError("get", declared,
                                              Data::ErrorValue::GetInstance(Errors::kUnsupported), result));
  EXPECT_EQ(result->GetError()->GetId(), Errors::kInternalServerError);
  const auto undeclared = result->GetError()->GetMessages().at(0).message;
  EXPECT_EQ(undeclared.id, MessageIds::kErrorUndeclared);
  EXPECT_EQ(undeclared.args, (std::list<std::string>{"get", Errors::kUnsupported}));

  // Declared, but not of the declared shape.
  auto malformed = std::make_shared<Data::ErrorValue>(Errors::kUnauthorized);
  malformed->SetField("messages", Str("not a list"));
  EXPECT_FALSE(ApiMethodHelper::ValidateError("get", declared, malformed, result));
  EXPECT_EQ(result->GetError()->GetId(), Errors::kInternalServerError);
  EXPECT_EQ(result->GetError()->GetMessages().back().message.id, MessageIds::kErrorInvalid);

  EXPECT_FALSE(ApiMethodHelper::ValidateError("get", declared, nullptr, result));
  EXPECT_EQ(result->GetError()->GetMessages().at(0).message.id, MessageIds::kErrorMissing);
}

// --- LocalProvider ---------------------------------------------------------------

TEST(FwLocalProvider, RoutesByServiceAndMethod) {
  LocalProvider provider;
  ASSERT_TRUE(provider.Register(
      Api("a", {std::make_shared<EchoMethod>("list"), std::make_shared<EchoMethod>("get")})));
  ASSERT_TRUE(provider.Register(Api("b", {std::make_shared<EchoMethod>("get")})));
  EXPECT_FALSE(provider.Register(Api("a", {}))) << "name taken";
  EXPECT_FALSE(provider.Register(nullptr));
  EXPECT_FALSE(provider.Register(AsyncApiInterface::GetInstance(nullptr, {})));

  Answer answer;
  provider.Invoke(Method("a", "list"), Str("2"), std::make_shared<AsyncActivation>(), answer.Callback());
  EXPECT_EQ(answer.Text(), "list:2");
  EXPECT_EQ(answer.progress, FinalProgress());

  EXPECT_TRUE(provider.Unregister("b"));
  EXPECT_FALSE(provider.Unregister("b"));
  EXPECT_EQ(provider.Find("b"), nullptr);
}

TEST(FwLocalProvider, UnknownOrMalformedCallsAreAnsweredOnceNotCrashed) {
  LocalProvider provider;
  auto method = std::make_shared<EchoMethod>("get");
  provider.Register(Api("svc", {method}));
  const struct {
    std::shared_ptr<const MethodIdentifier> target;
    Data::ValuePtr input;
    std::string error;
    std::string message;
  } cases[] = {
      {Method("nosuch.svc", "get"), Str("x"), Errors::kNotFound,
       "No service nosuch.svc is registered (method get was called)."},
      {Method("svc", "frobnicate"), Str("x"), Errors::kNotFound, "Service svc has no method frobnicate."},
      {Method("svc", "get"), nullptr, Errors::kInvalidArgument, ""},
      {MethodIdentifier::GetInstance(nullptr, "get"), Str("x"), Errors::kInvalidArgument, ""},
      {nullptr, Str("x"), Errors::kInvalidArgument, ""},
  };
  for (const auto& c : cases) {
    Answer answer;
    provider.Invoke(c.target, c.input, nullptr, answer.Callback());
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.progress, (Progress{0, 1, 1}));
    ASSERT_EQ(answer.ErrorId(), c.error) << c.message;
    if (!c.message.empty()) {
      EXPECT_EQ(answer.result->GetError()->GetMessages().at(0).message.defaultMessage, c.message);
    }
  }
  EXPECT_NO_THROW(provider.Invoke(Method("svc", "get"), Str("x"), nullptr, AsyncApiResultCb()));
  EXPECT_EQ(method->LastActivation(), nullptr) << "no answer possible: the method is not called";

  Answer ok;
  provider.Invoke(Method("svc", "get"), Str("x"), nullptr, ok.Callback());
  EXPECT_EQ(ok.Text(), "get:x");
  EXPECT_TRUE(method->LastActivation()) << "a missing activation is replaced by a new one";
}

TEST(FwLocalProvider, InterfaceOutlivesItsUnregistrationDuringACall) {
  auto provider = std::make_shared<LocalProvider>();
  auto method = std::make_shared<EchoMethod>(
      "get", [&provider](const Data::ValuePtr&, const std::shared_ptr<AsyncActivation>&,
                         const AsyncApiResultCb& cb) {
        // Re-entrant: the lock is not held while the method runs.
        EXPECT_TRUE(provider->Unregister("svc"));
        cb(MethodResult::GetInstance(Str("still here"), nullptr), FinalProgress());
      });
  std::weak_ptr<EchoMethod> watch = method;
  provider->Register(Api("svc", {std::move(method)}));
  Answer answer;
  provider->Invoke(Method("svc", "get"), Str("x"), nullptr, answer.Callback());
  EXPECT_EQ(answer.Text(), "still here");
  EXPECT_TRUE(watch.expired()) << "released once the call is over";
}

TEST(FwLocalProvider, ServesEightThreadsWhileRegistrationsChange) {
  auto provider = std::make_shared<LocalProvider>();
  provider->Register(Api("svc", {std::make_shared<EchoMethod>("get"), std::make_shared<EchoMethod>("list")}));
  Stub::AsyncApiStub stub(provider);
  constexpr int kThreads = 8;
  constexpr int kCalls = 2000;
  std::atomic<int> wrong{0};
  std::atomic<bool> stop{false};

  std::thread churn([&] {
    while (!stop) {
      provider->Register(Api("flaky", {std::make_shared<EchoMethod>("get")}));
      provider->Unregister("flaky");
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const std::string name = i % 2 ? "get" : "list";
        const std::string text = std::to_string(t) + "/" + std::to_string(i);
        Answer steady, flaky;  // the local provider answers before Invoke returns
        stub.Invoke(Method("svc", name), Str(text), nullptr, steady.Callback());
        stub.Invoke(Method("flaky", "get"), Str(text), nullptr, flaky.Callback());
        if (steady.calls != 1 || steady.Text() != name + ":" + text) ++wrong;
        // Served or not found, never neither nor both.
        if (flaky.calls != 1 || flaky.Text().empty() != (flaky.ErrorId() == Errors::kNotFound)) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  stop = true;
  churn.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
