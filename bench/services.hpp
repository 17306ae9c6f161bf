// Implementations of the seven service interfaces, completing every result
// at once on the caller's thread. TPM get answers with a prebuilt Info and
// providers list with a prebuilt list; every other operation answers
// "unsupported" (only binding reaches them).
#pragma once

#include <memory>

#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

#include "data.hpp"

namespace DralBench {

using Activation = std::shared_ptr<::Tovri::Core::AsyncActivation>;

class TpmService final : public TI::Hardware::TpmSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Hardware::TpmSvc;
  explicit TpmService(std::shared_ptr<const TpmInfo> info) : info_(std::move(info)) {}
  void List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) override {
    result(info_);
  }

 private:
  std::shared_ptr<const TpmInfo> info_;
};

class ProvidersService final : public TI::Kms::ProvidersSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Kms::ProvidersSvc;
  explicit ProvidersService(SummaryList summaries) : summaries_(std::move(summaries)) {}
  void List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override {
    result(summaries_);
  }
  void Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Update(const std::string&, const std::shared_ptr<const Svc::UpdateSpec>&, const Activation&,
              const Svc::UpdateMethod::ResultCbType& result) override;
  void Delete(const std::string&, const Activation&, const Svc::DeleteMethod::ResultCbType& result) override;
  void Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) override;

 private:
  SummaryList summaries_;
};

class ReportsService final : public TI::Attestation::ReportsSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Attestation::ReportsSvc;
  void List(const Activation&, const Svc::ListMethod::ResultCbType& result) override;
};

class AttestationServicesService final : public TI::Attestation::ServicesSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Attestation::ServicesSvc;
  void List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) override;
  void Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Delete(const std::string&, const Activation&, const Svc::DeleteMethod::ResultCbType& result) override;
};

class EndorsementKeysService final : public TI::Hardware::Tpm::EndorsementKeysSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Hardware::Tpm::EndorsementKeysSvc;
  void List(const std::string&, const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string&, const std::string&, const Activation&,
           const Svc::GetMethod::ResultCbType& result) override;
};

class EventLogService final : public TI::Hardware::Tpm::EventLogSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Hardware::Tpm::EventLogSvc;
  void Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) override;
};

class KmsServicesService final : public TI::Kms::ServicesSvc::AsyncServiceInterface {
 public:
  using Svc = TI::Kms::ServicesSvc;
  void List(const ::Tovri::OptionalPtr<const Svc::FilterSpec>&, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string&, const Activation&, const Svc::GetMethod::ResultCbType& result) override;
  void Create(const std::shared_ptr<const Svc::CreateSpec>&, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Delete(const std::string&, const Activation&, const Svc::DeleteMethod::ResultCbType& result) override;
};

}  // namespace DralBench
