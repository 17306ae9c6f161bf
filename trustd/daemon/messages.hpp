// The messages trustd answers with: in declared errors and in the details
// of key providers. Each travels as an id, its English text and its
// arguments, so that a localizer holding the same id renders it in the
// caller's language. None ever carries a secret.
#pragma once

#include <memory>

#include <dral/tovri_bindings.hpp>

namespace Trustd {
namespace Messages {

struct Template {
  const char* id;
  const char* text;  // "{1}", "{2}"... are the arguments, numbered from 1
};

// Arguments: what (a TPM, a key provider...), its identifier.
inline constexpr Template kNotFound{"trustd.not_found", "No {1} \"{2}\" is configured on this host."};
inline constexpr Template kAlreadyExists{"trustd.already_exists",
                                         "A {1} \"{2}\" is already configured on this host."};
// Arguments: what, the address, the identifier of the entry using it.
inline constexpr Template kAddressInUse{"trustd.address_in_use", "{1} \"{3}\" already uses the address {2}."};
// Arguments: the text received, what it should identify.
inline constexpr Template kBadIdentifier{
    "trustd.identifier.invalid",
    "\"{1}\" cannot identify a {2}: use 1 to 64 letters, digits, '.', '-' or '_'."};
// Argument: the port received.
inline constexpr Template kBadPort{"trustd.port.invalid", "Port {1} is outside the range 1 to 65535."};
inline constexpr Template kEmptyChain{"trustd.ca_chain.empty",
                                      "The trusted CA chain must hold at least one certificate."};
// Arguments: what, its identifier, the secret it lacks.
inline constexpr Template kSecretRequired{"trustd.secret.required",
                                          "{1} \"{2}\" cannot be configured without its {3}."};
// Argument: the provider.
inline constexpr Template kNoNativeKey{
    "trustd.kms.provider.no_native_key",
    "Key provider \"{1}\" delegates to a trust authority and has no key of its "
    "own to update."};
// Argument: what failed (the store's own words, never a secret).
inline constexpr Template kStoreFailed{"trustd.store.failed", "The configuration store failed: {1}"};
// Arguments: the TPM, what failed.
inline constexpr Template kTpmFailed{"trustd.tpm.failed", "TPM \"{1}\" did not answer: {2}"};
// Argument: the TPM.
inline constexpr Template kNoEventLog{"trustd.tpm.event_log.none",
                                      "No measured-boot log is configured for TPM \"{1}\"."};
// Arguments: the TPM, what failed.
inline constexpr Template kEventLogFailed{"trustd.tpm.event_log.failed",
                                          "The measured-boot log of TPM \"{1}\" cannot be read: {2}"};
// Argument: the directory.
inline constexpr Template kNoReports{
    "trustd.reports.none",
    "No attestation client has written reports on this host yet ({1} does not "
    "exist)."};
// Argument: what failed.
inline constexpr Template kReportsFailed{"trustd.reports.failed",
                                         "The attestation reports cannot be read: {1}"};
inline constexpr Template kShuttingDown{"trustd.shutting_down",
                                        "trustd is shutting down; the request was not run."};

// Key provider details. Argument: the key id.
inline constexpr Template kKeyReady{"trustd.kms.key.ready",
                                    "Key {1} is ready: its key derivation key opens."};
// Arguments: the key id, why it does not open.
inline constexpr Template kKeyUnusable{"trustd.kms.key.unusable",
                                       "Key {1} is unusable: its key derivation key does not open ({2})."};
// Argument: the trust authority's address.
inline constexpr Template kAuthorityAnswers{"trustd.kms.authority.answers", "Trust authority {1} answers."};
// Arguments: the address, why not.
inline constexpr Template kAuthorityUnreachable{"trustd.kms.authority.unreachable",
                                                "Trust authority {1} does not answer: {2}."};
inline constexpr Template kNoAuthority{"trustd.kms.authority.none",
                                       "No trust authority is configured on this host (trust_authority in "
                                       "trustd's configuration)."};

inline constexpr const Template* kAll[] = {
    &kNotFound,   &kAlreadyExists,  &kAddressInUse,     &kBadIdentifier,        &kBadPort,
    &kEmptyChain, &kSecretRequired, &kNoNativeKey,      &kStoreFailed,          &kTpmFailed,
    &kNoEventLog, &kEventLogFailed, &kNoReports,        &kReportsFailed,        &kShuttingDown,
    &kKeyReady,   &kKeyUnusable,    &kAuthorityAnswers, &kAuthorityUnreachable, &kNoAuthority};

template <class... Args>
Tovri::BaseMessage Make(const Template& tmpl, const Args&... args) {
  return Tovri::MakeMessage(tmpl.id, tmpl.text, args...);
}

// The framework's catalogue with these templates added in English.
inline std::shared_ptr<Tovri::L10n::Localizer> MakeLocalizer() {
  std::shared_ptr<Tovri::L10n::Localizer> localizer = Tovri::L10n::Localizer::MakeDefault();
  for (const Template* tmpl : kAll) localizer->AddTemplate("en", tmpl->id, tmpl->text);
  return localizer;
}

}  // namespace Messages
}  // namespace Trustd
