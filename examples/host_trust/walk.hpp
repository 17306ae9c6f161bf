// The client side: one stub per service over a framework api stub, and a
// walk through every operation of the seven services that prints what it
// learns as a report.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include <dral/tovri_bindings.hpp>

#include "await.hpp"

namespace host_trust {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;

class HostTrustWalk {
 public:
  // `api` reaches the provider; every call starts from its default
  // activation (the stubs are given no activation of their own).
  HostTrustWalk(const std::shared_ptr<Tovri::Stub::AsyncApiStub>& api, std::ostream& out);

  // Reads everything, changes and restores the configuration, and shows
  // four refusals. False when any answer was not the expected one; the
  // report says which.
  bool Run();

  int calls() const noexcept { return calls_; }
  int refusals() const noexcept { return refusals_; }

 private:
  void Tpms();
  void EndorsementKeys(const std::string& tpm);
  void EventLog(const std::string& tpm);
  void AttestationServices();
  void AttestationReports();
  void KeyProviders();
  void KeyServers();
  void Refusals();

  // One call through a stub, counted.
  template <class Method, class Fn>
  Answer<typename Method::ResultCbType::ValueType> Call(Fn&& call) {
    ++calls_;
    return Await<Method>(std::forward<Fn>(call));
  }
  // True when the call answered with a value; otherwise reports the
  // unexpected error.
  template <class T>
  bool Succeeded(const Answer<T>& answer);
  // Reports a refusal expected with error `errorId`; a value or another
  // error counts as unexpected.
  template <class T>
  void ExpectRefusal(const Answer<T>& answer, const char* errorId);
  void PrintError(const ErrorPtr& error);

  ti::Hardware::TpmSvc::AsyncServiceStub tpm_;
  ti::Hardware::Tpm::EndorsementKeysSvc::AsyncServiceStub endorsementKeys_;
  ti::Hardware::Tpm::EventLogSvc::AsyncServiceStub eventLog_;
  ti::Attestation::ServicesSvc::AsyncServiceStub attestationServices_;
  ti::Attestation::ReportsSvc::AsyncServiceStub attestationReports_;
  ti::Kms::ProvidersSvc::AsyncServiceStub keyProviders_;
  ti::Kms::ServicesSvc::AsyncServiceStub keyServers_;

  std::ostream& out_;
  int calls_ = 0;
  int refusals_ = 0;
  int unexpected_ = 0;
};

}  // namespace host_trust
