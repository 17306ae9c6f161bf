// Localisation: message templates per language, locale preferences, and the
// request localizer a call's errors are rendered with.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <system_error>

#include <boost/optional.hpp>

#include <tovri/core/message.hpp>

namespace Tovri {
namespace L10n {

// One language preference parsed from a POSIX-style tag ("en_US",
// "de_DE.UTF-8", "C").
struct LanguagePreference {
  std::string tag;        // as given
  std::string language;   // "en"; "C" for the POSIX locale
  std::string territory;  // "US"; empty when absent
};

class TimezoneSpec {
 public:
  TimezoneSpec() = default;
  explicit TimezoneSpec(std::string id) : id_(std::move(id)) {}
  const std::string& GetId() const noexcept { return id_; }

 private:
  std::string id_;
};

// The locale of a request: two language preferences, first wins, and a time
// zone. The error codes record what parsing the preferences reported.
struct LocaleSpec {
  std::error_code firstError;
  std::error_code secondError;
  LanguagePreference first;
  LanguagePreference second;
  TimezoneSpec timezone;
};

namespace LocaleHelpers {
// Parses a language tag. A malformed tag sets `ec` and yields the POSIX "C"
// preference.
LanguagePreference MakeLanguagePreference(const std::string& tag, std::error_code& ec);
}  // namespace LocaleHelpers

// Message templates per language and message id. A default-constructed
// localizer is empty and localises nothing.
class Localizer {
 public:
  using Templates = std::map<std::string, std::map<std::string, std::string>>;  // language -> id -> template

  Localizer() = default;
  explicit Localizer(Templates templates);

  bool empty() const noexcept { return !templates_ || templates_->empty(); }

  // Adds (or replaces) the template of `id` for `language` ("en", "en_US",
  // "de"...).
  void AddTemplate(const std::string& language, const std::string& id, const std::string& tmpl);

  // The text of `message` in the first language of `locale` that has a
  // template for its id: for each preference, the full "language_TERRITORY"
  // first, then the language alone. "C" stands for the framework's default
  // texts (the core catalogue), which this localizer uses when it holds them
  // under "C". No template: none.
  boost::optional<std::string> Localize(const BaseMessage& message, const LocaleSpec& locale) const;

  // A new localizer holding the core catalogue's templates under "C" and
  // "en". Cheap: every such localizer shares one immutable table until it is
  // given a template of its own.
  static std::shared_ptr<Localizer> MakeDefault();

 private:
  // Shared between copies and default localizers; AddTemplate copies it
  // first unless this localizer is its only holder.
  std::shared_ptr<Templates> templates_;
};

// A localizer and the locale to render with.
struct RequestLocalizer {
  std::shared_ptr<Localizer> localizer;
  std::shared_ptr<LocaleSpec> localeSpec;
};

struct RequestLocalizerHelper {
  // The framework's default: the core catalogue in English ("en_US", then
  // "C"), time zone "Etc/UTC". A new pair of objects on every call.
  static RequestLocalizer GetDefaultRequestLocalizer();
};

}  // namespace L10n
}  // namespace Tovri
