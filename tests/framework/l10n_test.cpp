#include <tovri/core/l10n.hpp>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/error.hpp>
#include <tovri/core/message.hpp>

namespace {

using namespace Tovri;
using namespace Tovri::L10n;

TEST(FwLanguagePreference, ParsesPosixTags) {
  struct Case {
    const char* tag;
    const char* language;
    const char* territory;
  };
  for (const Case& c :
       {Case{"en_US", "en", "US"}, Case{"de_DE.UTF-8@euro", "de", "DE"}, Case{"fr", "fr", ""},
        Case{"C", "C", ""}, Case{"POSIX", "C", ""}, Case{"C.UTF-8", "C", ""}, Case{"pt-br", "pt", "BR"},
        Case{"es_419", "es", "419"}, Case{"sr_RS@latin", "sr", "RS"}}) {
    std::error_code ec = std::make_error_code(std::errc::io_error);
    LanguagePreference p = LocaleHelpers::MakeLanguagePreference(c.tag, ec);
    EXPECT_FALSE(ec) << c.tag;
    EXPECT_EQ(p.language + "/" + p.territory, std::string(c.language) + "/" + c.territory) << c.tag;
  }
  for (const char* bad :
       {"", "e", "english", "en_", "en_USA", "en_US.", "en_US@", "en US", "12", "en_US.UTF-8!"}) {
    std::error_code ec;
    LanguagePreference p = LocaleHelpers::MakeLanguagePreference(bad, ec);
    EXPECT_TRUE(ec) << bad;
    EXPECT_EQ(p.language + "/" + p.territory, "C/") << bad;
  }
}

LocaleSpec Locale(const std::string& first, const std::string& second) {
  LocaleSpec locale;
  locale.first = LocaleHelpers::MakeLanguagePreference(first, locale.firstError);
  locale.second = LocaleHelpers::MakeLanguagePreference(second, locale.secondError);
  return locale;
}

TEST(FwLocalizer, RendersTheFirstPreferenceThatHasATemplate) {
  Localizer localizer;
  localizer.AddTemplate("de", "tovri.data.compound.field.extra",
                        "Die Struktur {1} deklariert das Feld {2} nicht.");
  localizer.AddTemplate("de_AT", "greeting", "Servus {1}!");
  localizer.AddTemplate("de", "greeting", "Hallo {1}!");
  localizer.AddTemplate("C", "greeting", "Hello {1}!");

  BaseMessage extra = Core::MakeCoreMessage("tovri.data.compound.field.extra", {"::Ns::Spec", "farbe"});
  EXPECT_EQ(localizer.Localize(extra, Locale("de_DE.UTF-8", "C")),
            std::string("Die Struktur ::Ns::Spec deklariert das Feld farbe nicht."));

  BaseMessage greeting("greeting", "Hello Ana!", {"Ana"});
  EXPECT_EQ(localizer.Localize(greeting, Locale("de_AT", "C")), std::string("Servus Ana!"));
  EXPECT_EQ(localizer.Localize(greeting, Locale("de_CH", "C")), std::string("Hallo Ana!"));
  EXPECT_EQ(localizer.Localize(greeting, Locale("fr_FR", "C")), std::string("Hello Ana!"));
  EXPECT_EQ(localizer.Localize(greeting, Locale("fr_FR", "it")), boost::none);
  EXPECT_EQ(localizer.Localize(BaseMessage("unknown", "t", {}), Locale("de", "C")), boost::none);
}

TEST(FwLocalizer, DefaultRequestLocalizerSpeaksTheCoreCatalogue) {
  RequestLocalizer a = RequestLocalizerHelper::GetDefaultRequestLocalizer();
  RequestLocalizer b = RequestLocalizerHelper::GetDefaultRequestLocalizer();
  ASSERT_TRUE(a.localizer && a.localeSpec);
  EXPECT_EQ(a.localeSpec->first.tag, "en_US");
  BaseMessage m = Core::MakeCoreMessage("tovri.invoke.invalid.input", {"::Ns::Svc::Get"});
  EXPECT_EQ(a.localizer->Localize(m, *a.localeSpec), m.defaultMessage);

  // The default localizers share their catalogue, but a template added to
  // one (or to a copy of one) stays its own.
  a.localizer->AddTemplate("en_US", m.id, "mine");
  Localizer copy = *b.localizer;
  copy.AddTemplate("en", m.id, "copied");
  EXPECT_EQ(a.localizer->Localize(m, *a.localeSpec), std::string("mine"));
  EXPECT_EQ(copy.Localize(m, *b.localeSpec), std::string("copied"));
  EXPECT_EQ(b.localizer->Localize(m, *b.localeSpec), m.defaultMessage);
  EXPECT_EQ(Localizer().Localize(m, *b.localeSpec), boost::none);
}

TEST(FwNativeErrors, ErrorWinsAndUnlocalisedMessagesAreLocalised) {
  auto german = std::make_shared<Localizer>();
  german->AddTemplate("de", "app.missing", "{1} fehlt.");
  auto locale = std::make_shared<LocaleSpec>(Locale("de_DE", "C"));
  RequestLocalizer request{german, locale};

  Data::NativeError native{
      Errors::kNotFound,
      {BaseMessage("app.missing", "x is missing.", {"x"}), BaseMessage("app.other", "Other.", {})}};
  auto fromNative = Data::NativeErrorHelper::GetError(nullptr, native, request);
  ASSERT_TRUE(fromNative);
  EXPECT_EQ(fromNative->GetId(), Errors::kNotFound);
  auto messages = fromNative->GetMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].localized, std::string("x fehlt."));
  EXPECT_FALSE(messages[1].localized);

  // A set error wins; already localised texts are kept as they are.
  auto given = Data::ErrorValue::Create(
      Errors::kAlreadyExists, std::vector<Data::ErrorMessage>{
                                  {BaseMessage("app.missing", "y is missing.", {"y"}), std::string("kept")}});
  auto fromError = Data::NativeErrorHelper::GetError(given, native, request);
  EXPECT_EQ(fromError, given);
  EXPECT_EQ(fromError->GetMessages().at(0).localized, std::string("kept"));

  auto plain = Data::ErrorValue::Create(
      Errors::kUnsupported, std::list<BaseMessage>{BaseMessage("app.missing", "z is missing.", {"z"})});
  auto localised = Data::NativeErrorHelper::GetError(plain, boost::none, request);
  EXPECT_NE(localised, plain);
  EXPECT_EQ(localised->GetMessages().at(0).localized, std::string("z fehlt."));
  EXPECT_FALSE(plain->GetMessages().at(0).localized) << "the given error is not changed";

  EXPECT_EQ(Data::NativeErrorHelper::GetError(nullptr, boost::none, request), nullptr);
}

TEST(FwNativeErrors, IncompleteLocalizerFallsBackToTheDefault) {
  Data::NativeError native{Errors::kInvalidArgument,
                           {Core::MakeCoreMessage("tovri.invoke.invalid.input", {"::Ns::Svc::Get"})}};
  auto error = Data::NativeErrorHelper::GetError(nullptr, native, RequestLocalizer{});
  EXPECT_EQ(error->GetMessages().at(0).localized,
            std::string("The input of operation ::Ns::Svc::Get is not valid."));
}

}  // namespace
