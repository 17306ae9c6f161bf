#include <tovri/core/l10n.hpp>

#include <cctype>

#include "core_messages.hpp"

namespace Tovri {
namespace L10n {
namespace LocaleHelpers {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) { return IsAlpha(c) || IsDigit(c) || c == '-' || c == '_'; }

// A codeset (".UTF-8") and/or a modifier ("@euro") may follow the name; each,
// when present, must be non-empty.
bool SuffixValid(const std::string& tag, std::size_t pos) {
  if (pos < tag.size() && tag[pos] == '.') {
    const std::size_t start = ++pos;
    while (pos < tag.size() && IsWordChar(tag[pos])) ++pos;
    if (pos == start) return false;
  }
  if (pos < tag.size() && tag[pos] == '@') {
    const std::size_t start = ++pos;
    while (pos < tag.size() && IsWordChar(tag[pos])) ++pos;
    if (pos == start) return false;
  }
  return pos == tag.size();
}

LanguagePreference Posix(const std::string& tag) { return LanguagePreference{tag, "C", ""}; }

}  // namespace

LanguagePreference MakeLanguagePreference(const std::string& tag, std::error_code& ec) {
  ec.clear();
  for (const char* posix : {"POSIX", "C"}) {
    const std::size_t len = std::char_traits<char>::length(posix);
    if (tag.compare(0, len, posix) == 0 && (tag.size() == len || tag[len] == '.' || tag[len] == '@') &&
        SuffixValid(tag, len)) {
      return Posix(tag);
    }
  }
  std::size_t pos = 0;
  while (pos < tag.size() && IsAlpha(tag[pos])) ++pos;
  if (pos < 2 || pos > 3) {
    ec = std::make_error_code(std::errc::invalid_argument);
    return Posix(tag);
  }
  LanguagePreference preference{tag, tag.substr(0, pos), ""};
  for (char& c : preference.language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (pos < tag.size() && (tag[pos] == '_' || tag[pos] == '-')) {
    const std::size_t start = ++pos;
    if (pos + 2 <= tag.size() && IsAlpha(tag[pos]) && IsAlpha(tag[pos + 1])) {
      pos += 2;
    } else if (pos + 3 <= tag.size() && IsDigit(tag[pos]) && IsDigit(tag[pos + 1]) && IsDigit(tag[pos + 2])) {
      pos += 3;  // a UN M.49 region ("es_419")
    }
    if (pos == start || (pos < tag.size() && (IsAlpha(tag[pos]) || IsDigit(tag[pos])))) {
      ec = std::make_error_code(std::errc::invalid_argument);
      return Posix(tag);
    }
    preference.territory = tag.substr(start, pos - start);
    for (char& c : preference.territory) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (!SuffixValid(tag, pos)) {
    ec = std::make_error_code(std::errc::invalid_argument);
    return Posix(tag);
  }
  return preference;
}

}  // namespace LocaleHelpers

Localizer::Localizer(Templates templates) : templates_(std::make_shared<Templates>(std::move(templates))) {}

void Localizer::AddTemplate(const std::string& language, const std::string& id, const std::string& tmpl) {
  if (!templates_) {
    templates_ = std::make_shared<Templates>();
  } else if (templates_.use_count() > 1) {
    templates_ = std::make_shared<Templates>(*templates_);  // others keep the table they had
  }
  (*templates_)[language][id] = tmpl;
}

boost::optional<std::string> Localizer::Localize(const BaseMessage& message, const LocaleSpec& locale) const {
  if (!templates_) return boost::none;
  auto lookup = [&](const std::string& language) -> const std::string* {
    auto byLanguage = templates_->find(language);
    if (byLanguage == templates_->end()) return nullptr;
    auto byId = byLanguage->second.find(message.id);
    return byId == byLanguage->second.end() ? nullptr : &byId->second;
  };
  for (const LanguagePreference* preference : {&locale.first, &locale.second}) {
    if (preference->language.empty()) continue;
    const std::string* tmpl = nullptr;
    if (!preference->territory.empty()) tmpl = lookup(preference->language + "_" + preference->territory);
    if (!tmpl) tmpl = lookup(preference->language);
    if (tmpl) return RenderTemplate(*tmpl, message.args);
  }
  return boost::none;
}

std::shared_ptr<Localizer> Localizer::MakeDefault() {
  // Built once; a static holder keeps its count above one, so no localizer
  // ever changes it in place.
  static const std::shared_ptr<Templates> catalogue = [] {
    std::size_t count = 0;
    const Core::CatalogueEntry* entries = Core::CoreCatalogue(count);
    auto templates = std::make_shared<Templates>();
    auto& posix = (*templates)["C"];
    auto& english = (*templates)["en"];
    for (std::size_t i = 0; i < count; ++i) {
      posix.emplace(entries[i].id, entries[i].text);
      english.emplace(entries[i].id, entries[i].text);
    }
    return templates;
  }();
  auto localizer = std::make_shared<Localizer>();
  localizer->templates_ = catalogue;
  return localizer;
}

RequestLocalizer RequestLocalizerHelper::GetDefaultRequestLocalizer() {
  static const LocaleSpec kDefault = [] {
    LocaleSpec locale;
    locale.first = LocaleHelpers::MakeLanguagePreference("en_US", locale.firstError);
    locale.second = LocaleHelpers::MakeLanguagePreference("C", locale.secondError);
    locale.timezone = TimezoneSpec("Etc/UTC");
    return locale;
  }();
  return RequestLocalizer{Localizer::MakeDefault(), std::make_shared<LocaleSpec>(kDefault)};
}

}  // namespace L10n
}  // namespace Tovri
