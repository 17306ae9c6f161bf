// The provider side: the seven services of the trusted-infrastructure
// package, implemented over a HostModel.
//
// Each class derives from its service's generated AsyncServiceInterface. An
// operation checks nothing the bindings already check (the input has been
// converted and validated before it is called); it queues the work on the
// WorkerPool and returns at once. The worker reads or changes the model and
// completes the operation's AsyncResult exactly once: with the native value,
// or with one of the errors the operation declares.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <dral/tovri_bindings.hpp>

#include "host_model.hpp"
#include "worker_pool.hpp"

namespace host_trust {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using Activation = std::shared_ptr<Tovri::Core::AsyncActivation>;

// What every service shares: the host it describes and the threads it
// answers from. The pool is borrowed: the application owns it and shuts it
// down; a call arriving after that is refused rather than queued.
class ServiceBase {
 public:
  ServiceBase(std::shared_ptr<HostModel> host, const std::shared_ptr<WorkerPool>& pool)
      : host_(std::move(host)), pool_(pool) {}

 protected:
  // Runs `work(HostModel&)` on the pool and completes `result` with what it
  // returns, a value or an error (see provider.cpp). When the pool no longer
  // takes work, answers at once with "com.corvane.tovri.std.errors.error".
  template <class T, class Work>
  void AnswerLater(const Tovri::AsyncResult<T, Tovri::AsyncResultTerminateCbPolicy>& result, Work work) const;

 private:
  std::shared_ptr<HostModel> host_;
  std::weak_ptr<WorkerPool> pool_;
};

class TpmService final : public ti::Hardware::TpmSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Hardware::TpmSvc;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation& activation,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string& tpm, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
};

class EndorsementKeysService final : public ti::Hardware::Tpm::EndorsementKeysSvc::AsyncServiceInterface,
                                     ServiceBase {
 public:
  using Svc = ti::Hardware::Tpm::EndorsementKeysSvc;
  using ServiceBase::ServiceBase;

  void List(const std::string& tpm, const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
            const Activation& activation, const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string& tpm, const std::string& key, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
};

class EventLogService final : public ti::Hardware::Tpm::EventLogSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Hardware::Tpm::EventLogSvc;
  using ServiceBase::ServiceBase;

  void Get(const std::string& tpm, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
};

class AttestationServicesService final : public ti::Attestation::ServicesSvc::AsyncServiceInterface,
                                         ServiceBase {
 public:
  using Svc = ti::Attestation::ServicesSvc;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation& activation,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string& service, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation& activation,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Delete(const std::string& service, const Activation& activation,
              const Svc::DeleteMethod::ResultCbType& result) override;
};

class AttestationReportsService final : public ti::Attestation::ReportsSvc::AsyncServiceInterface,
                                        ServiceBase {
 public:
  using Svc = ti::Attestation::ReportsSvc;
  using ServiceBase::ServiceBase;

  void List(const Activation& activation, const Svc::ListMethod::ResultCbType& result) override;
};

class KeyProvidersService final : public ti::Kms::ProvidersSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Kms::ProvidersSvc;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filterSpec, const Activation& activation,
            const Svc::ListMethod::ResultCbType& result) override;
  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation& activation,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Update(const std::string& provider, const std::shared_ptr<const Svc::UpdateSpec>& spec,
              const Activation& activation, const Svc::UpdateMethod::ResultCbType& result) override;
  void Delete(const std::string& provider, const Activation& activation,
              const Svc::DeleteMethod::ResultCbType& result) override;
  void Get(const std::string& provider, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
};

class KeyServersService final : public ti::Kms::ServicesSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Kms::ServicesSvc;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation& activation,
            const Svc::ListMethod::ResultCbType& result) override;
  void Get(const std::string& service, const Activation& activation,
           const Svc::GetMethod::ResultCbType& result) override;
  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation& activation,
              const Svc::CreateMethod::ResultCbType& result) override;
  void Delete(const std::string& service, const Activation& activation,
              const Svc::DeleteMethod::ResultCbType& result) override;
};

// Binds the seven services over `host`, answering from `pool`, and
// registers them with `registry`. Errors are rendered with the provider's
// localizer (messages.hpp) in the locale each caller asks for. Returns the
// ids of the services registered, in order: all seven, unless an id was
// taken already. The caller keeps `pool` alive until it has unregistered
// them and shut the pool down.
std::vector<std::string> RegisterHostTrustServices(Tovri::Core::LocalProvider& registry,
                                                   const std::shared_ptr<HostModel>& host,
                                                   const std::shared_ptr<WorkerPool>& pool);

}  // namespace host_trust
