// Binding all seven services (every operation's input, output and error
// definitions are derived anew per bind) and validating one input of every
// operation that has parameters, under the provider's REJECT_EXTRA_FIELDS.
#include <list>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <dral/runtime/validator.hpp>
#include <dral/trusted_infrastructure/common.hpp>

#include "registry.hpp"
#include "services.hpp"

namespace DralBench {
namespace {

using ::Tovri::MakeOptionalPtr;
using ::Tovri::Data::Validator::isValid;
using ::Tovri::Data::Validator::REJECT_EXTRA_FIELDS;
using TpmSvc = TI::Hardware::TpmSvc;
using EkSvc = TI::Hardware::Tpm::EndorsementKeysSvc;
using EventLogSvc = TI::Hardware::Tpm::EventLogSvc;
using AttestationSvc = TI::Attestation::ServicesSvc;
using KmsServicesSvc = TI::Kms::ServicesSvc;
using ProvidersSvc = TI::Kms::ProvidersSvc;

struct Implementations {
  std::shared_ptr<TpmService> tpm = std::make_shared<TpmService>(nullptr);
  std::shared_ptr<EndorsementKeysService> endorsementKeys = std::make_shared<EndorsementKeysService>();
  std::shared_ptr<EventLogService> eventLog = std::make_shared<EventLogService>();
  std::shared_ptr<ReportsService> reports = std::make_shared<ReportsService>();
  std::shared_ptr<AttestationServicesService> attestationServices =
      std::make_shared<AttestationServicesService>();
  std::shared_ptr<KmsServicesService> kmsServices = std::make_shared<KmsServicesService>();
  std::shared_ptr<ProvidersService> providers = std::make_shared<ProvidersService>(SummaryList());
};

// Returns the number of methods bound, so the work cannot be dropped.
std::size_t BindAll(const Implementations& impls) {
  std::size_t methods = 0;
  methods += TpmSvc::AsyncServiceBinder::BindImplementation(impls.tpm)->GetMethods().size();
  methods += EkSvc::AsyncServiceBinder::BindImplementation(impls.endorsementKeys)->GetMethods().size();
  methods += EventLogSvc::AsyncServiceBinder::BindImplementation(impls.eventLog)->GetMethods().size();
  methods +=
      TI::Attestation::ReportsSvc::AsyncServiceBinder::BindImplementation(impls.reports)->GetMethods().size();
  methods +=
      AttestationSvc::AsyncServiceBinder::BindImplementation(impls.attestationServices)->GetMethods().size();
  methods += KmsServicesSvc::AsyncServiceBinder::BindImplementation(impls.kmsServices)->GetMethods().size();
  methods += ProvidersSvc::AsyncServiceBinder::BindImplementation(impls.providers)->GetMethods().size();
  return methods;
}

std::shared_ptr<const TI::NetworkAddress> Address(const std::string& host) {
  auto address = std::make_shared<TI::NetworkAddress>();
  address->hostname = host;
  address->port = 8443;
  return address;
}

std::shared_ptr<const TI::X509CertChain> Chain() {
  auto chain = std::make_shared<TI::X509CertChain>();
  chain->certChain = {
      "-----BEGIN CERTIFICATE-----\nMIIBszCCAVmgAwIBAgIUb2ZmaWNlLWNh\n-----END CERTIFICATE-----",
      "-----BEGIN CERTIFICATE-----\nMIIBszCCAVmgAwIBAgIUcm9vdC1jYQ==\n-----END CERTIFICATE-----"};
  return chain;
}

// One input per operation with parameters (reports list has none), each
// with its structure parameters filled.
struct Inputs {
  TpmSvc::ListMethod::Input tpmList;
  TpmSvc::GetMethod::Input tpmGet;
  EkSvc::ListMethod::Input ekList;
  EkSvc::GetMethod::Input ekGet;
  EventLogSvc::GetMethod::Input eventLogGet;
  AttestationSvc::ListMethod::Input attestationList;
  AttestationSvc::GetMethod::Input attestationGet;
  AttestationSvc::CreateMethod::Input attestationCreate;
  AttestationSvc::DeleteMethod::Input attestationDelete;
  KmsServicesSvc::ListMethod::Input kmsList;
  KmsServicesSvc::GetMethod::Input kmsGet;
  KmsServicesSvc::CreateMethod::Input kmsCreate;
  KmsServicesSvc::DeleteMethod::Input kmsDelete;
  ProvidersSvc::ListMethod::Input providersList;
  ProvidersSvc::CreateMethod::Input providersCreate;
  ProvidersSvc::UpdateMethod::Input providersUpdate;
  ProvidersSvc::DeleteMethod::Input providersDelete;
  ProvidersSvc::GetMethod::Input providersGet;

  static constexpr std::size_t kCount = 18;

  Inputs() {
    auto tpmFilter = std::make_shared<TpmSvc::FilterSpec>();
    tpmFilter->majorVersions = std::set<long long>{1, 2};
    tpmFilter->active = true;
    tpmList.filter = tpmFilter;
    tpmGet.tpm = "tpm0";

    auto ekFilter = std::make_shared<EkSvc::FilterSpec>();
    ekFilter->types = std::set<EkSvc::Type>{EkSvc::Type::RSA_2048, EkSvc::Type::ECC_NIST_P_256};
    ekList.tpm = "tpm0";
    ekList.filter = ekFilter;
    ekGet.tpm = "tpm0";
    ekGet.key = "ek-rsa";
    eventLogGet.tpm = "tpm0";

    auto attestationFilter = std::make_shared<AttestationSvc::FilterSpec>();
    attestationFilter->services = std::set<std::string>{"as-1", "as-2"};
    attestationFilter->address = std::list<std::shared_ptr<const TI::NetworkAddress>>{Address("as1.example")};
    attestationFilter->group = std::set<std::string>{"default"};
    attestationList.filter = attestationFilter;
    attestationGet.service = "as-1";
    auto attestationSpec = std::make_shared<AttestationSvc::CreateSpec>();
    attestationSpec->address = Address("as1.example");
    attestationSpec->trustedCA = Chain();
    attestationSpec->group = "default";
    attestationCreate.spec = attestationSpec;
    attestationDelete.service = "as-1";

    auto kmsFilter = std::make_shared<KmsServicesSvc::FilterSpec>();
    kmsFilter->services = std::set<std::string>{"ks-1"};
    kmsFilter->address = std::list<std::shared_ptr<const TI::NetworkAddress>>{Address("kms.example")};
    kmsFilter->group = std::set<std::string>{"default"};
    kmsList.filter = kmsFilter;
    kmsGet.service = "ks-1";
    auto client = std::make_shared<TI::ApiClientSpec>();
    client->clientId = "host-17";
    client->clientName = std::string("host 17");
    client->clientSecret = ::Tovri::SecretString("s3cret");
    auto kmsSpec = std::make_shared<KmsServicesSvc::CreateSpec>();
    kmsSpec->address = Address("kms.example");
    kmsSpec->trustedCA = Chain();
    kmsSpec->apiClient = client;
    kmsSpec->group = "default";
    kmsCreate.spec = kmsSpec;
    kmsDelete.service = "ks-1";

    auto providersFilter = std::make_shared<ProvidersSvc::FilterSpec>();
    providersFilter->providers = std::set<std::string>{"p1", "p2"};
    providersFilter->available = true;
    providersFilter->types = std::set<ProvidersSvc::ProviderType>{ProvidersSvc::ProviderType::NATIVE};
    providersList.filterSpec = providersFilter;
    auto nativeSpec = std::make_shared<ProvidersSvc::NativeProviderCreateSpec>();
    nativeSpec->keyId = "key-1";
    nativeSpec->keyDerivationKey = ::Tovri::SecretString("kdk");
    auto createSpec = std::make_shared<ProvidersSvc::CreateSpec>();
    createSpec->provider = "p1";
    createSpec->nativeSpec = nativeSpec;
    providersCreate.spec = createSpec;
    auto updateNative = std::make_shared<ProvidersSvc::NativeProviderUpdateSpec>();
    updateNative->keyId = std::string("key-2");
    auto updateSpec = std::make_shared<ProvidersSvc::UpdateSpec>();
    updateSpec->nativeSpec = updateNative;
    providersUpdate.provider = "p1";
    providersUpdate.spec = updateSpec;
    providersDelete.provider = "p1";
    providersGet.provider = "p1";
  }

  // The number of inputs found valid.
  std::size_t ValidateAll() const {
    std::size_t valid = 0;
    valid += Check(tpmList) + Check(tpmGet) + Check(ekList) + Check(ekGet) + Check(eventLogGet);
    valid +=
        Check(attestationList) + Check(attestationGet) + Check(attestationCreate) + Check(attestationDelete);
    valid += Check(kmsList) + Check(kmsGet) + Check(kmsCreate) + Check(kmsDelete);
    valid += Check(providersList) + Check(providersCreate) + Check(providersUpdate) + Check(providersDelete) +
             Check(providersGet);
    return valid;
  }

  template <class Input>
  static std::size_t Check(const Input& input) {
    std::list<::Tovri::BaseMessage> messages;
    return isValid<Input>(input, REJECT_EXTRA_FIELDS, messages) ? 1 : 0;
  }
};

}  // namespace

void AddBindingCases() {
  AddCase(
      "bind/all_services/ours",
      [] {
        auto impls = std::make_shared<const Implementations>();
        Require(BindAll(*impls) == 19, "binding the seven services gives their 19 methods");
        return [impls] { benchmark::DoNotOptimize(BindAll(*impls)); };
      },
      10);
  AddCase(
      "validate/all_inputs/ours",
      [] {
        auto inputs = std::make_shared<const Inputs>();
        Require(inputs->ValidateAll() == Inputs::kCount, "every operation input is valid");
        return [inputs] { benchmark::DoNotOptimize(inputs->ValidateAll()); };
      },
      100);
}

}  // namespace DralBench
