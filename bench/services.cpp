#include "services.hpp"

#include <tovri/core/error.hpp>

namespace DralBench {
namespace {

template <class Result>
void Unsupported(const Result& result) {
  result.error(::Tovri::Data::ErrorValue::GetInstance(::Tovri::Errors::kUnsupported));
}

}  // namespace

void TpmService::List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
                      const Svc::ListMethod::ResultCbType& result) {
  Unsupported(result);
}

void ProvidersService::Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
                              const Svc::CreateMethod::ResultCbType& result) {
  Unsupported(result);
}
void ProvidersService::Update(const std::string&, const std::shared_ptr<const Svc::UpdateSpec>&,
                              const Activation&, const Svc::UpdateMethod::ResultCbType& result) {
  Unsupported(result);
}
void ProvidersService::Delete(const std::string&, const Activation&,
                              const Svc::DeleteMethod::ResultCbType& result) {
  Unsupported(result);
}
void ProvidersService::Get(const std::string&, const Activation&,
                           const Svc::GetMethod::ResultCbType& result) {
  Unsupported(result);
}

void ReportsService::List(const Activation&, const Svc::ListMethod::ResultCbType& result) {
  Unsupported(result);
}

void AttestationServicesService::List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
                                      const Svc::ListMethod::ResultCbType& result) {
  Unsupported(result);
}
void AttestationServicesService::Get(const std::string&, const Activation&,
                                     const Svc::GetMethod::ResultCbType& result) {
  Unsupported(result);
}
void AttestationServicesService::Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
                                        const Svc::CreateMethod::ResultCbType& result) {
  Unsupported(result);
}
void AttestationServicesService::Delete(const std::string&, const Activation&,
                                        const Svc::DeleteMethod::ResultCbType& result) {
  Unsupported(result);
}

void EndorsementKeysService::List(const std::string&, const ::Tovri::OptionalPtr<const Svc::FilterSpec>&,
                                  const Activation&, const Svc::ListMethod::ResultCbType& result) {
  Unsupported(result);
}
void EndorsementKeysService::Get(const std::string&, const std::string&, const Activation&,
                                 const Svc::GetMethod::ResultCbType& result) {
  Unsupported(result);
}

void EventLogService::Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) {
  Unsupported(result);
}

void KmsServicesService::List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
                              const Svc::ListMethod::ResultCbType& result) {
  Unsupported(result);
}
void KmsServicesService::Get(const std::string&, const Activation&,
                             const Svc::GetMethod::ResultCbType& result) {
  Unsupported(result);
}
void KmsServicesService::Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
                                const Svc::CreateMethod::ResultCbType& result) {
  Unsupported(result);
}
void KmsServicesService::Delete(const std::string&, const Activation&,
                                const Svc::DeleteMethod::ResultCbType& result) {
  Unsupported(result);
}

}  // namespace DralBench
