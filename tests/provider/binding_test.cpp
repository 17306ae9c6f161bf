// Both roads end to end: the test service bound to the local provider and
// called through its stub.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/local_provider.hpp>

#include "provider/gadgets_svc.hpp"

namespace {

using Dral::Test::GadgetsSvc;
using Tovri::Progress;
using Tovri::Core::AsyncActivation;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Summaries = std::list<std::shared_ptr<const GadgetsSvc::Summary>>;

// Answers each operation as configured by the test.
class Gadgets : public GadgetsSvc::AsyncServiceInterface {
 public:
  std::function<void(const std::shared_ptr<AsyncActivation>&, const GadgetsSvc::ListMethod::ResultCbType&)>
      onList;
  std::function<void(const std::string&, const GadgetsSvc::DeleteMethod::ResultCbType&)> onDelete;
  int calls = 0;

  void List(const std::shared_ptr<AsyncActivation>& activation,
            const GadgetsSvc::ListMethod::ResultCbType& result) override {
    ++calls;
    onList(activation, result);
  }
  void Delete(const std::string& gadget, const std::shared_ptr<AsyncActivation>&,
              const GadgetsSvc::DeleteMethod::ResultCbType& result) override {
    ++calls;
    onDelete(gadget, result);
  }
  void Create(const std::shared_ptr<const GadgetsSvc::CreateSpec>& spec,
              const std::shared_ptr<AsyncActivation>&,
              const GadgetsSvc::CreateMethod::ResultCbType& result) override {
    ++calls;
    result(spec->name + "@" + spec->address->host);
  }
};

template <class T>
struct Outcomes {
  struct Entry {
    boost::optional<T> value;
    ErrorPtr error;
    Progress progress;
  };
  std::vector<Entry> entries;

  Tovri::AsyncResult<T, Tovri::AsyncResultTerminateCbPolicy> Result() {
    return [this](const boost::optional<T>& v, const ErrorPtr& e, const Progress& p) {
      entries.push_back(Entry{v, e, p});
    };
  }
  const Entry& Only() const {
    EXPECT_EQ(entries.size(), 1u);
    return entries.front();
  }
};

std::shared_ptr<const GadgetsSvc::Endpoint> Address(const std::string& host) {
  auto address = std::make_shared<GadgetsSvc::Endpoint>();
  address->host = host;
  address->port = 443;
  return address;
}

class BindingTest : public ::testing::Test {
 protected:
  std::shared_ptr<Gadgets> impl = std::make_shared<Gadgets>();
  std::shared_ptr<Tovri::Core::LocalProvider> provider = std::make_shared<Tovri::Core::LocalProvider>();
  std::shared_ptr<AsyncActivation> defaultActivation = std::make_shared<AsyncActivation>();
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  GadgetsSvc::AsyncServiceStub stub{std::make_shared<Tovri::Stub::AsyncApiStub>(provider, defaultActivation)};

  void Bind(const std::shared_ptr<Tovri::L10n::Localizer>& localizer = nullptr) {
    const auto api = localizer ? GadgetsSvc::AsyncServiceBinder::BindImplementation(impl, localizer)
                               : GadgetsSvc::AsyncServiceBinder::BindImplementation(impl);
    ASSERT_TRUE(provider->Register(api));
  }
};

TEST_F(BindingTest, SignalsAppearInSlotOrderWithTheirDefinitions) {
  const auto api = GadgetsSvc::AsyncServiceBinder::BindImplementation(impl);
  EXPECT_EQ(api->GetIdentifier()->GetName(), "com.corvane.test.gadgets");
  std::vector<std::string> names;
  for (const auto& method : api->GetMethods()) names.push_back(method->methodName());
  EXPECT_EQ(names, (std::vector<std::string>{"list", "delete", "create"}));

  const auto& create = *api->FindMethod("create");
  std::vector<std::string> errors;
  for (const auto& definition : create.errorDefinitions()) {
    errors.push_back(static_cast<const Tovri::Data::StructDefinition&>(*definition).GetName());
  }
  EXPECT_EQ(errors, (std::vector<std::string>{"com.corvane.tovri.std.errors.already_exists",
                                              "com.corvane.tovri.std.errors.invalid_argument"}));
  EXPECT_EQ(create.outputDefinition()->GetType(), Tovri::Data::kString);
  EXPECT_EQ(api->FindMethod("delete")->outputDefinition()->GetType(), Tovri::Data::kVoid);
  const auto& input = static_cast<const Tovri::Data::StructDefinition&>(*create.inputDefinition());
  EXPECT_EQ(input.GetName(), Tovri::Data::TypeInfo<Tovri::OperationInput>::name());
  EXPECT_EQ(input.GetFields().count("spec"), 1u);
  // Every signal holds the binding's localizer: a new, empty one here.
  const auto& signal = static_cast<const Tovri::Provider::AsyncApiMethodSignal&>(create);
  ASSERT_TRUE(signal.GetLocalizer());
  EXPECT_TRUE(signal.GetLocalizer()->empty());
}

TEST_F(BindingTest, NativeArgumentsGoOutAndNativeValuesComeBack) {
  Bind();
  impl->onList = [](const std::shared_ptr<AsyncActivation>&,
                    const GadgetsSvc::ListMethod::ResultCbType& result) {
    auto summary = std::make_shared<GadgetsSvc::Summary>();
    summary->gadget = "g1";
    summary->address = Address("h1");
    result(Summaries{summary});
  };
  impl->onDelete = [](const std::string& gadget, const GadgetsSvc::DeleteMethod::ResultCbType& result) {
    EXPECT_EQ(gadget, "g1");
    result(Tovri::Void());
  };
  Outcomes<Summaries> listed;
  Outcomes<Tovri::Void> deleted;
  Outcomes<std::string> created;
  stub.List(activation, listed.Result());
  stub.Delete("g1", activation, deleted.Result());
  auto spec = std::make_shared<GadgetsSvc::CreateSpec>();
  spec->name = "g2";
  spec->address = Address("h2");
  stub.Create(spec, activation, created.Result());

  ASSERT_TRUE(listed.Only().value);
  ASSERT_EQ(listed.Only().value->size(), 1u);
  EXPECT_EQ(listed.Only().value->front()->address->host, "h1");
  EXPECT_EQ(listed.Only().progress, Tovri::FinalProgress());
  EXPECT_TRUE(deleted.Only().value);
  EXPECT_FALSE(deleted.Only().error);
  EXPECT_EQ(created.Only().value, std::string("g2@h2"));
}

TEST_F(BindingTest, ProgressReportsThenOneValue) {
  Bind();
  impl->onDelete = [](const std::string&, const GadgetsSvc::DeleteMethod::ResultCbType& result) {
    result.progress(Progress{0, 1, 3});
    result.progress(Progress{0, 2, 3});
    result(Tovri::Void());
  };
  Outcomes<Tovri::Void> out;
  stub.Delete("g", activation, out.Result());
  ASSERT_EQ(out.entries.size(), 3u);
  EXPECT_EQ(out.entries[0].progress, (Progress{0, 1, 3}));
  EXPECT_FALSE(out.entries[0].value);
  EXPECT_EQ(out.entries[1].progress, (Progress{0, 2, 3}));
  EXPECT_TRUE(out.entries[2].value);
}

TEST_F(BindingTest, AnswerWithoutValueOrErrorReachesTheClientAsEmptyError) {
  Bind();
  impl->onDelete = [](const std::string&, const GadgetsSvc::DeleteMethod::ResultCbType& result) {
    result.progress(Progress{0, 2, 2});
  };
  Outcomes<Tovri::Void> out;
  stub.Delete("g", activation, out.Result());
  EXPECT_FALSE(out.Only().value);
  EXPECT_FALSE(out.Only().error);
}

TEST_F(BindingTest, UnconvertibleListResultIsInternalServerErrorWithoutMessages) {
  Bind();
  impl->onList = [](const std::shared_ptr<AsyncActivation>&,
                    const GadgetsSvc::ListMethod::ResultCbType& result) {
    auto summary = std::make_shared<GadgetsSvc::Summary>();
    summary->gadget = "g";  // address left unset
    result(Summaries{summary});
  };
  Outcomes<Summaries> out;
  stub.List(activation, out.Result());
  ASSERT_TRUE(out.Only().error);
  EXPECT_EQ(out.Only().error->GetId(), "com.corvane.tovri.std.errors.internal_server_error");
  EXPECT_TRUE(out.Only().error->GetMessages().empty());
}

std::shared_ptr<Tovri::L10n::LocaleSpec> German() {
  auto locale = std::make_shared<Tovri::L10n::LocaleSpec>();
  locale->first = Tovri::L10n::LocaleHelpers::MakeLanguagePreference("de_DE", locale->firstError);
  return locale;
}

// The implementation's error is unlocalised; the provider localises it.
void FailBusy(const std::string& gadget, const GadgetsSvc::DeleteMethod::ResultCbType& result) {
  result.error(Tovri::Data::ErrorValue::Create(
      "com.corvane.tovri.std.errors.not_found",
      {Tovri::BaseMessage("gadget.busy", "Gadget " + gadget + " is busy", {gadget}),
       Tovri::Message<Tovri::CoreTag>("tovri.data.bad.cast1", gadget)}));
}

TEST_F(BindingTest, ErrorIsLocalisedWithTheBindingLocalizer) {
  auto localizer = std::make_shared<Tovri::L10n::Localizer>();
  localizer->AddTemplate("de", "gadget.busy", "Gerät {1} ist belegt");
  Bind(localizer);
  impl->onDelete = FailBusy;
  activation->localeSpec = German();
  Outcomes<Tovri::Void> out;
  stub.Delete("g9", activation, out.Result());
  ASSERT_TRUE(out.Only().error);
  EXPECT_EQ(out.Only().error->GetId(), "com.corvane.tovri.std.errors.not_found");
  const auto messages = out.Only().error->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].localized, std::string("Gerät g9 ist belegt"));
  EXPECT_FALSE(messages[1].localized);  // no German template for it
}

TEST_F(BindingTest, BindingWithoutLocalizerUsesTheDefaultRequestLocalizer) {
  Bind();
  impl->onDelete = FailBusy;
  // The caller's own localizer is replaced by the binding's empty one.
  auto callerLocalizer = std::make_shared<Tovri::L10n::Localizer>();
  callerLocalizer->AddTemplate("de", "gadget.busy", "Gerät {1} ist belegt");
  activation->localizer = callerLocalizer;
  activation->localeSpec = German();
  Outcomes<Tovri::Void> out;
  stub.Delete("g9", activation, out.Result());
  ASSERT_TRUE(out.Only().error);
  const auto messages = out.Only().error->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_FALSE(messages[0].localized);  // not in the core catalogue
  ASSERT_TRUE(messages[1].localized);   // the core catalogue, in English
  EXPECT_EQ(*messages[1].localized,
            Tovri::L10n::RenderTemplate(
                Tovri::Message<Tovri::CoreTag>::DefaultMessageForId("tovri.data.bad.cast1"), {"g9"}));
}

TEST_F(BindingTest, NullActivationIsReplacedByACopyOfTheDefault) {
  Bind();
  defaultActivation->executionContext->applicationData["seen"] = std::string("yes");
  std::shared_ptr<AsyncActivation> received;
  impl->onList = [&received](const std::shared_ptr<AsyncActivation>& a,
                             const GadgetsSvc::ListMethod::ResultCbType& result) {
    received = a;
    a->executionContext->applicationData["written"] = std::string("by the call");
    result(Summaries{});
  };
  Outcomes<Summaries> out;
  stub.List(nullptr, out.Result());
  ASSERT_TRUE(out.Only().value);
  ASSERT_TRUE(received);
  EXPECT_NE(received, defaultActivation);
  EXPECT_EQ(received->executionContext->applicationData.count("seen"), 1u);
  EXPECT_EQ(defaultActivation->executionContext->applicationData.count("written"), 0u);
  EXPECT_TRUE(received->localizer);
  EXPECT_FALSE(defaultActivation->localizer);
}

}  // namespace
