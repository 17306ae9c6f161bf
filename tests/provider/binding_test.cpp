// Both roads end to end: the test service bound to the local provider and
// called through its stub.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/local_provider.hpp>
#include <tovri/core/message_ids.hpp>

#include <dral/test/gadgets.hpp>

#include "support/test_support.hpp"

namespace {

using Dral::Test::GadgetsSvc;
using Dral::TestSupport::Outcomes;
using Tovri::Progress;
using Tovri::Core::AsyncActivation;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Summaries = std::list<std::shared_ptr<const GadgetsSvc::Summary>>;
using DeleteResult = GadgetsSvc::DeleteMethod::ResultCbType;

// Answers each operation as configured by the test.
class Gadgets : public GadgetsSvc::AsyncServiceInterface {
 public:
  std::function<void(const GadgetsSvc::ListMethod::ResultCbType&)> onList;
  std::function<void(const std::string&, const DeleteResult&)> onDelete;

  void List(const std::shared_ptr<AsyncActivation>&,
            const GadgetsSvc::ListMethod::ResultCbType& result) override {
    onList(result);
  }
  void Delete(const std::string& gadget, const std::shared_ptr<AsyncActivation>&,
              const DeleteResult& result) override {
    onDelete(gadget, result);
  }
  void Create(const std::shared_ptr<const GadgetsSvc::CreateSpec>& spec,
              const std::shared_ptr<AsyncActivation>&,
              const GadgetsSvc::CreateMethod::ResultCbType& result) override {
    result(spec->name + "@" + spec->address->host);
  }
};

std::shared_ptr<const GadgetsSvc::Endpoint> Address(const std::string& host) {
  auto address = std::make_shared<GadgetsSvc::Endpoint>();
  address->host = host;
  return address;
}

class BindingTest : public ::testing::Test {
 protected:
  std::shared_ptr<Gadgets> impl = std::make_shared<Gadgets>();
  std::shared_ptr<Tovri::Core::LocalProvider> provider = std::make_shared<Tovri::Core::LocalProvider>();
  std::shared_ptr<AsyncActivation> activation = std::make_shared<AsyncActivation>();
  GadgetsSvc::AsyncServiceStub stub{std::make_shared<Tovri::Stub::AsyncApiStub>(provider)};

  void Bind(const std::shared_ptr<Tovri::L10n::Localizer>& localizer = nullptr) {
    const auto api = localizer ? GadgetsSvc::AsyncServiceBinder::BindImplementation(impl, localizer)
                               : GadgetsSvc::AsyncServiceBinder::BindImplementation(impl);
    ASSERT_TRUE(provider->Register(api));
  }
  // Delete answered by `answer`, in German.
  const Outcomes<Tovri::Void>::Entry& DeleteInGerman(std::function<void(const DeleteResult&)> answer) {
    impl->onDelete = [answer](const std::string&, const DeleteResult& result) { answer(result); };
    activation->localeSpec = std::make_shared<Tovri::L10n::LocaleSpec>();
    activation->localeSpec->first =
        Tovri::L10n::LocaleHelpers::MakeLanguagePreference("de_DE", activation->localeSpec->firstError);
    stub.Delete("g9", activation, deleted.Result());
    return deleted.Only();
  }
  Outcomes<Tovri::Void> deleted;
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
  // Every signal holds the binding's localizer: a new, empty one here.
  const auto& signal = static_cast<const Tovri::Provider::AsyncApiMethodSignal&>(create);
  ASSERT_TRUE(signal.GetLocalizer());
  EXPECT_TRUE(signal.GetLocalizer()->empty());
}

TEST_F(BindingTest, NativeArgumentsGoOutAndNativeValuesComeBack) {
  Bind();
  impl->onList = [](const GadgetsSvc::ListMethod::ResultCbType& result) {
    auto summary = std::make_shared<GadgetsSvc::Summary>();
    summary->address = Address("h1");
    result(Summaries{summary});
  };
  impl->onDelete = [](const std::string& gadget, const DeleteResult& result) {
    EXPECT_EQ(gadget, "g1");
    result.progress(Progress{0, 1, 3});
    result(Tovri::Void());
  };
  Outcomes<Summaries> listed;
  Outcomes<std::string> created;
  stub.List(activation, listed.Result());
  stub.Delete("g1", activation, deleted.Result());
  auto spec = std::make_shared<GadgetsSvc::CreateSpec>();
  spec->name = "g2";
  spec->address = Address("h2");
  stub.Create(spec, activation, created.Result());

  ASSERT_TRUE(listed.Only().value && listed.Only().value->size() == 1u);
  EXPECT_EQ(listed.Only().value->front()->address->host, "h1");
  EXPECT_EQ(listed.Only().progress, Tovri::FinalProgress());
  // Progress reports pass through, then the one value.
  ASSERT_EQ(deleted.entries.size(), 2u);
  EXPECT_EQ(deleted.entries[0].progress, (Progress{0, 1, 3}));
  EXPECT_FALSE(deleted.entries[0].value);
  EXPECT_TRUE(deleted.entries[1].value && !deleted.entries[1].error);
  EXPECT_EQ(created.Only().value, std::string("g2@h2"));
}

TEST_F(BindingTest, AnswerWithoutValueOrErrorReachesTheClientAsEmptyError) {
  Bind();
  const auto& out = DeleteInGerman([](const DeleteResult& result) { result.progress(Progress{0, 2, 2}); });
  EXPECT_FALSE(out.value);
  EXPECT_FALSE(out.error);
}

TEST_F(BindingTest, UnconvertibleListResultIsInternalServerErrorWithoutMessages) {
  Bind();
  impl->onList = [](const GadgetsSvc::ListMethod::ResultCbType& result) {
    result(Summaries{std::make_shared<GadgetsSvc::Summary>()});  // address left unset
  };
  Outcomes<Summaries> out;
  stub.List(activation, out.Result());
  ASSERT_TRUE(out.Only().error);
  EXPECT_EQ(out.Only().error->GetId(), "com.corvane.tovri.std.errors.internal_server_error");
  EXPECT_TRUE(out.Only().error->GetMessages().empty());
}

// The implementation's error is unlocalised; the provider localises it.
void FailBusy(const DeleteResult& result) {
  result.error(Tovri::Data::ErrorValue::Create(
      "com.corvane.tovri.std.errors.not_found",
      {Tovri::BaseMessage("gadget.busy", "Gadget g9 is busy", {"g9"}),
       Tovri::Message<Tovri::CoreTag>(::Tovri::MessageIds::kBadCast1, std::string("g9"))}));
}

TEST_F(BindingTest, ErrorIsLocalisedWithTheBindingLocalizer) {
  auto localizer = std::make_shared<Tovri::L10n::Localizer>();
  localizer->AddTemplate("de", "gadget.busy", "Gerät {1} ist belegt");
  Bind(localizer);
  const auto& out = DeleteInGerman(FailBusy);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->GetId(), "com.corvane.tovri.std.errors.not_found");
  const auto messages = out.error->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].localized, std::string("Gerät g9 ist belegt"));
  EXPECT_FALSE(messages[1].localized);  // no German template for it
}

TEST_F(BindingTest, BindingWithoutLocalizerUsesTheDefaultRequestLocalizer) {
  Bind();
  // The caller's own localizer is replaced by the binding's empty one.
  activation->localizer = std::make_shared<Tovri::L10n::Localizer>();
  activation->localizer->AddTemplate("de", "gadget.busy", "Gerät {1} ist belegt");
  const auto& out = DeleteInGerman(FailBusy);
  ASSERT_TRUE(out.error);
  const auto messages = out.error->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_FALSE(messages[0].localized);  // not in the core catalogue
  EXPECT_EQ(messages[1].localized,      // the core catalogue, in English
            Tovri::L10n::RenderTemplate(
                Tovri::Message<Tovri::CoreTag>::DefaultMessageForId(::Tovri::MessageIds::kBadCast1), {"g9"}));
}

}  // namespace
