// The messages the host-trust provider reports with: in errors, and in the
// details of its key providers.
//
// Each message travels as an id, its English text and its arguments, so a
// localizer holding the same id can render it again in another language.
// MakeLocalizer() gives the provider's localizer: the framework's own
// catalogue plus these templates.
#pragma once

#include <memory>

#include <dral/tovri_bindings.hpp>

namespace host_trust::messages {

struct Template {
  const char* id;
  const char* text;  // "{1}", "{2}"... are the arguments, numbered from 1
};

// Arguments: what (a TPM, a key provider...), its identifier.
inline constexpr Template kNotFound{"host_trust.not_found", "No {1} \"{2}\" is configured on this host."};
inline constexpr Template kAlreadyExists{"host_trust.already_exists",
                                         "A {1} \"{2}\" is already configured on this host."};
// Arguments: what, the address, the identifier of the entry found there.
inline constexpr Template kAddressInUse{"host_trust.address_in_use",
                                        "{1} \"{3}\" already uses the address {2}."};
// Arguments: the text received, what it should identify.
inline constexpr Template kBadIdentifier{
    "host_trust.identifier.invalid",
    "\"{1}\" cannot identify a {2}: use 1 to 64 letters, digits, '.', '-' or '_'."};
// Argument: the port received.
inline constexpr Template kBadPort{"host_trust.port.invalid", "Port {1} is outside the range 1 to 65535."};
inline constexpr Template kEmptyChain{"host_trust.ca_chain.empty",
                                      "The trusted CA chain must hold at least one certificate."};
// Arguments: what, its identifier, the secret it lacks.
inline constexpr Template kSecretRequired{"host_trust.secret.required",
                                          "{1} \"{2}\" cannot be configured without its {3}."};
// Argument: the provider.
inline constexpr Template kNoNativeKey{
    "host_trust.kms.provider.no_native_key",
    "Key provider \"{1}\" delegates to a trust authority and has no key of "
    "its own to update."};
inline constexpr Template kShuttingDown{"host_trust.shutting_down",
                                        "The host-trust provider is shutting down; the request was not run."};

// Key provider details. Arguments: key id, data keys derived.
inline constexpr Template kKeyLoaded{"host_trust.kms.key.loaded",
                                     "Key {1} is loaded; {2} data keys derived since start-up."};
// Arguments: the key id.
inline constexpr Template kKeyCreated{"host_trust.kms.key.created",
                                      "Key {1} is loaded; no data key derived yet."};
// Arguments: the trust authority's address, since when.
inline constexpr Template kAuthorityUnreachable{"host_trust.kms.authority.unreachable",
                                                "Trust authority {1} has not answered since {2}."};
// Argument: since when.
inline constexpr Template kServingFromCache{"host_trust.kms.authority.cache",
                                            "Keys released before {1} stay usable from the local cache."};

inline constexpr const Template* kAll[] = {
    &kNotFound,   &kAlreadyExists,        &kAddressInUse,    &kBadIdentifier, &kBadPort,
    &kEmptyChain, &kSecretRequired,       &kNoNativeKey,     &kShuttingDown,  &kKeyLoaded,
    &kKeyCreated, &kAuthorityUnreachable, &kServingFromCache};

// The message of `tmpl` with `args` (texts), its English text filled in.
template <class... Args>
Tovri::BaseMessage Make(const Template& tmpl, const Args&... args) {
  return Tovri::MakeMessage(tmpl.id, tmpl.text, args...);
}

// The framework's catalogue with these templates added in English. A
// translation would add the same ids under its language ("de", "fr_CA").
inline std::shared_ptr<Tovri::L10n::Localizer> MakeLocalizer() {
  std::shared_ptr<Tovri::L10n::Localizer> localizer = Tovri::L10n::Localizer::MakeDefault();
  for (const Template* tmpl : kAll) localizer->AddTemplate("en", tmpl->id, tmpl->text);
  return localizer;
}

}  // namespace host_trust::messages
