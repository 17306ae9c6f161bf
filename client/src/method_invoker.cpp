#include <dral/client/method_invoker.hpp>

namespace Tovri {
namespace Stub {

const char* const AsyncResultWrapper::kOutputConversionError = "invalid_argument";

L10n::RequestLocalizer AsyncMethodInvoker::MakeRequestLocalizer() {
  auto localeSpec = std::make_shared<L10n::LocaleSpec>();
  localeSpec->first = L10n::LocaleHelpers::MakeLanguagePreference("en_US", localeSpec->firstError);
  localeSpec->second = L10n::LocaleHelpers::MakeLanguagePreference("C", localeSpec->secondError);
  localeSpec->timezone = L10n::TimezoneSpec("Etc/UTC");
  return L10n::RequestLocalizer{std::make_shared<L10n::Localizer>(), std::move(localeSpec)};
}

}  // namespace Stub
}  // namespace Tovri
