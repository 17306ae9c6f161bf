#include "walk.hpp"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "report.hpp"

namespace host_trust {
namespace {

using TpmSvc = ti::Hardware::TpmSvc;
using EndorsementKeysSvc = ti::Hardware::Tpm::EndorsementKeysSvc;
using EventLogSvc = ti::Hardware::Tpm::EventLogSvc;
using AttestationServicesSvc = ti::Attestation::ServicesSvc;
using ReportsSvc = ti::Attestation::ReportsSvc;
using ProvidersSvc = ti::Kms::ProvidersSvc;
using KeyServersSvc = ti::Kms::ServicesSvc;
using Banks = std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>>;

// The certificate authority of the services the walk configures (the
// bindings carry each certificate as an opaque string).
const char* const kStagingCa =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIB0zCCAXmgAwIBAgIUpU3KGCUwux1tEyze1iN7LtkeP3IfyxlxF0SU1kk8nVw0\n"
    "YL4xIB5p/tqg7ui5mX9cfCmZ/a/lkyU81lSvTfrXFCegrrP+6SMvivIhH57kkcWx\n"
    "C+y1Vjv8Hm+TQn7LyP4pVeXNjkbcjtS3wnZNKlpNdncG+F2GkAJK1r2jQBvpyMvM\n"
    "yTX2zR9hImrhUziuGjQATTO6DSRqwEyBsbryPjv57vX3nytJNK+H9VILablLDZgu\n"
    "hbtVtnKocmN6zXRm/LYODo/xhGOw5LK6KXA0dPBkrGj3APWwKz3GZvRb3qosyu3N\n"
    "K1FXQQ5N7krys09DCgc0R95jbA6AbJV7poTWQx+16tdCTQnhXQJMWEjyPR+m9zYd\n"
    "f2GNFTLnDiDipmaN5/R+hGflRtU+yOKhJXvbJWybPk+7SYFG73Awy/lTclLczq3X\n"
    "ZLajL7sJrerhCcSplyA5dTUrh4sUXIpC2ITPTP2nLY4dXdkliQgthSpxIoc+6AWt\n"
    "1YlCFno4UoYZXGefnGmU5FuKsQmAEgcJYfN95Dbd/cmdbnWvZUfPsRtCBySC3FMc\n"
    "K8OQfJYX615QieQBhrqopX0Rnm+2XQCrwyrzjmZ/Ai6HLUnMFckL\n"
    "-----END CERTIFICATE-----\n";

std::string Address(const ti::NetworkAddress& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

std::string Optional(const boost::optional<std::string>& text) { return text ? *text : "-"; }

std::string DescribeBanks(const Banks& banks) {
  std::string out;
  for (const auto& bank : banks) {
    if (!out.empty()) out += ", ";
    out += bank->algorithm.ToString() + " (" + std::to_string(bank->pcrs.size()) + " registers)";
  }
  return out.empty() ? "none" : out;
}

// One row per register index, one column per bank.
void PrintRegisters(std::ostream& out, const Banks& banks) {
  std::vector<std::string> headers = {"PCR"};
  std::set<long long> indices;
  for (const auto& bank : banks) {
    headers.push_back(bank->algorithm.ToString());
    for (const auto& entry : bank->pcrs) indices.insert(entry.first);
  }
  report::Table table(std::move(headers));
  for (long long index : indices) {
    std::vector<std::string> row = {std::to_string(index)};
    for (const auto& bank : banks) {
      const auto value = bank->pcrs.find(index);
      row.push_back(value == bank->pcrs.end() ? "-" : report::Hex(value->second));
    }
    table.Add(std::move(row));
  }
  table.Print(out);
}

// What a TCG crypto-agile event log announces and holds: the header event
// (SHA-1 format) carries "Spec ID Event03" with the digest algorithms and
// sizes; every TCG_PCR_EVENT2 record after it carries one digest of each.
struct EventLogOverview {
  std::string signature;
  std::vector<std::string> algorithms;
  std::size_t events = 0;
  bool wellFormed = false;  // read to the last byte
};

EventLogOverview Inspect(const std::vector<unsigned char>& log) {
  EventLogOverview overview;
  std::size_t at = 0;
  auto read = [&](std::size_t& pos, int bytes, std::uint32_t& value) {
    if (pos + bytes > log.size()) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint32_t>(log[pos + i]) << (8 * i);
    pos += bytes;
    return true;
  };
  std::uint32_t pcr = 0, type = 0, size = 0, count = 0;
  if (!read(at, 4, pcr) || !read(at, 4, type)) return overview;
  at += 20;  // the header's SHA-1 digest slot
  if (!read(at, 4, size) || size < 28 || at + size > log.size()) return overview;
  std::size_t specId = at;
  at += size;
  overview.signature.assign(log.begin() + specId, log.begin() + specId + 15);
  specId += 24;  // signature, platform class, version, errata, UINTN size
  std::map<std::uint32_t, std::uint32_t> digestSizes;
  if (!read(specId, 4, count)) return overview;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t algorithm = 0, digestSize = 0;
    if (!read(specId, 2, algorithm) || !read(specId, 2, digestSize)) return overview;
    digestSizes[algorithm] = digestSize;
    overview.algorithms.push_back(algorithm == 0x0b   ? "SHA256"
                                  : algorithm == 0x0c ? "SHA384"
                                                      : "alg " + std::to_string(algorithm));
  }
  while (at < log.size()) {
    if (!read(at, 4, pcr) || !read(at, 4, type) || !read(at, 4, count)) return overview;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t algorithm = 0;
      if (!read(at, 2, algorithm) || !digestSizes.count(algorithm)) return overview;
      at += digestSizes[algorithm];
    }
    if (!read(at, 4, size) || at + size > log.size()) return overview;
    at += size;
    ++overview.events;
  }
  overview.wellFormed = true;
  return overview;
}

// The decoded header and claims of a JWT ("header.claims.signature", each
// part base64url); empty when the token is not one.
std::string JwtPart(const std::string& jwt, int part) {
  std::size_t begin = 0;
  for (int i = 0; i < part; ++i) {
    begin = jwt.find('.', begin);
    if (begin == std::string::npos) return {};
    ++begin;
  }
  const std::string encoded = jwt.substr(begin, jwt.find('.', begin) - begin);
  std::string decoded;
  std::uint32_t bits = 0;
  int count = 0;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  for (char c : encoded) {
    const std::size_t value = alphabet.find(c);
    if (value == std::string::npos) return {};
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return decoded;
}

}  // namespace

HostTrustWalk::HostTrustWalk(const std::shared_ptr<Tovri::Stub::AsyncApiStub>& api, std::ostream& out)
    : tpm_(api),
      endorsementKeys_(api),
      eventLog_(api),
      attestationServices_(api),
      attestationReports_(api),
      keyProviders_(api),
      keyServers_(api),
      out_(out) {}

bool HostTrustWalk::Run() {
  Tpms();
  AttestationServices();
  AttestationReports();
  KeyProviders();
  KeyServers();
  Refusals();
  return unexpected_ == 0;
}

template <class T>
bool HostTrustWalk::Succeeded(const Answer<T>& answer) {
  if (answer.value) return true;
  ++unexpected_;
  out_ << "    UNEXPECTED: the call failed\n";
  PrintError(answer.error);
  return false;
}

template <class T>
void HostTrustWalk::ExpectRefusal(const Answer<T>& answer, const char* errorId) {
  if (answer.value) {
    ++unexpected_;
    out_ << "    UNEXPECTED: the call succeeded\n";
    return;
  }
  PrintError(answer.error);
  if (answer.error && answer.error->GetId() == errorId) {
    ++refusals_;
  } else {
    ++unexpected_;
    out_ << "    UNEXPECTED: expected " << errorId << '\n';
  }
}

void HostTrustWalk::PrintError(const ErrorPtr& error) {
  if (!error) {
    out_ << "    refused without an error value\n";
    return;
  }
  out_ << "    refused: " << report::ShortId(error->GetId()) << '\n';
  for (const std::string& text : report::Texts(*error)) out_ << "      " << text << '\n';
}

// ---- Hardware -----------------------------------------------------------

void HostTrustWalk::Tpms() {
  report::Heading(out_, "TPMs (hardware.tpm)");

  auto filter = Tovri::MakeOptionalPtr<TpmSvc::FilterSpec>();
  filter->majorVersions = std::set<long long>{2};
  report::Operation(out_, "list, filtered to TPM 2.x");
  auto tpms = Call<TpmSvc::ListMethod>([&](const auto& done) { tpm_.List(filter, nullptr, done); });
  if (!Succeeded(tpms)) return;
  report::Table table({"TPM", "VERSION", "ACTIVE"});
  for (const auto& tpm : *tpms.value) {
    table.Add({tpm->tpm, std::to_string(tpm->majorVersion) + "." + std::to_string(tpm->minorVersion),
               report::YesNo(tpm->active)});
  }
  table.Print(out_);

  for (const auto& summary : *tpms.value) {
    const std::string& id = summary->tpm;
    report::Operation(out_, "get " + id);
    auto info = Call<TpmSvc::GetMethod>([&](const auto& done) { tpm_.Get(id, nullptr, done); });
    if (!Succeeded(info)) continue;
    const TpmSvc::Info& tpm = **info.value;
    report::Fields()
        .Add("manufacturer", Optional(tpm.manufacturer))
        .Add("model", Optional(tpm.model))
        .Add("firmware", Optional(tpm.firmwareVersion))
        .Add("banks", DescribeBanks(tpm.banks))
        .Print(out_);
    out_ << '\n';
    PrintRegisters(out_, tpm.banks);

    EndorsementKeys(id);
    EventLog(id);
  }
}

void HostTrustWalk::EndorsementKeys(const std::string& tpm) {
  report::Heading(out_, "Endorsement keys of " + tpm + " (hardware.tpm.endorsement_keys)");
  report::Operation(out_, "list " + tpm);
  auto keys = Call<EndorsementKeysSvc::ListMethod>(
      [&](const auto& done) { endorsementKeys_.List(tpm, nullptr, nullptr, done); });
  if (!Succeeded(keys)) return;
  report::Table table({"KEY", "TYPE"});
  for (const auto& key : *keys.value) table.Add({key->key, key->type.ToString()});
  table.Print(out_);

  for (const auto& summary : *keys.value) {
    report::Operation(out_, "get " + tpm + " " + summary->key);
    auto info = Call<EndorsementKeysSvc::GetMethod>(
        [&](const auto& done) { endorsementKeys_.Get(tpm, summary->key, nullptr, done); });
    if (!Succeeded(info)) continue;
    const EndorsementKeysSvc::Info& key = **info.value;
    report::Fields()
        .Add("type", key.type.ToString())
        .Add("public key", report::DescribePem(key.publicKey))
        .Add("certificate", key.certificate ? report::DescribePem(*key.certificate) : "-")
        .Add("manufacturer certificate", Optional(key.manufacturerCertificateUri))
        .Print(out_);
  }
}

void HostTrustWalk::EventLog(const std::string& tpm) {
  report::Heading(out_, "Event log of " + tpm + " (hardware.tpm.event_log)");
  report::Operation(out_, "get " + tpm);
  auto info = Call<EventLogSvc::GetMethod>([&](const auto& done) { eventLog_.Get(tpm, nullptr, done); });
  if (!Succeeded(info)) return;
  const EventLogSvc::Info& log = **info.value;
  report::Fields fields;
  fields.Add("format", log.type.ToString());
  // A union: the type names the field that holds the log.
  if (log.type == EventLogSvc::Type::TCG_CRYPTO_AGILE && log.tcgCryptoAgile) {
    const std::vector<unsigned char>& bytes = *log.tcgCryptoAgile;
    const EventLogOverview overview = Inspect(bytes);
    std::string algorithms;
    for (const std::string& algorithm : overview.algorithms)
      algorithms += (algorithms.empty() ? "" : " + ") + algorithm;
    fields
        .Add("size", std::to_string(bytes.size()) + " bytes" + (log.truncated ? ", truncated" : ", complete"))
        .Add("first bytes", report::Hex(bytes, 16, 0))
        .Add("header", overview.signature + ", digests " + algorithms)
        .Add("events", std::to_string(overview.events) + " after the header" +
                           (overview.wellFormed ? "" : " (the log does not parse to its end)"));
  }
  fields.Add("banks", DescribeBanks(log.banks)).Print(out_);
}

// ---- Attestation --------------------------------------------------------

void HostTrustWalk::AttestationServices() {
  report::Heading(out_, "Attestation services (attestation.services)");
  auto list = [&](const std::string& label) {
    report::Operation(out_, label);
    auto services = Call<AttestationServicesSvc::ListMethod>(
        [&](const auto& done) { attestationServices_.List(nullptr, nullptr, done); });
    report::Table table({"SERVICE", "ADDRESS", "GROUP"});
    if (Succeeded(services)) {
      for (const auto& service : *services.value)
        table.Add({service->service, Address(*service->address), service->group});
    }
    table.Print(out_);
    return services;
  };

  auto services = list("list");
  if (services.value) {
    for (const auto& summary : *services.value) {
      report::Operation(out_, "get " + summary->service);
      auto info = Call<AttestationServicesSvc::GetMethod>(
          [&](const auto& done) { attestationServices_.Get(summary->service, nullptr, done); });
      if (!Succeeded(info)) continue;
      const AttestationServicesSvc::Info& service = **info.value;
      report::Fields fields;
      fields.Add("address", Address(*service.address)).Add("group", service.group);
      int position = 0;
      for (const std::string& pem : service.trustedCA->certChain) {
        fields.Add(position == 0 ? "trusted CA chain" : "", report::DescribePem(pem));
        ++position;
      }
      fields.Print(out_);
    }
  }

  auto spec = std::make_shared<AttestationServicesSvc::CreateSpec>();
  auto address = std::make_shared<ti::NetworkAddress>();
  address->hostname = "attest.ap-south.corp.example";
  address->port = 8443;
  auto chain = std::make_shared<ti::X509CertChain>();
  chain->certChain = {kStagingCa};
  spec->address = address;
  spec->trustedCA = chain;
  spec->group = "staging";
  report::Operation(out_, "create attest.ap-south.corp.example:8443 in group staging");
  auto created = Call<AttestationServicesSvc::CreateMethod>(
      [&](const auto& done) { attestationServices_.Create(spec, nullptr, done); });
  if (!Succeeded(created)) return;
  out_ << "    created " << *created.value << '\n';
  list("list");

  report::Operation(out_, "delete " + *created.value);
  auto deleted = Call<AttestationServicesSvc::DeleteMethod>(
      [&](const auto& done) { attestationServices_.Delete(*created.value, nullptr, done); });
  if (Succeeded(deleted)) out_ << "    deleted\n";
  list("list");
}

void HostTrustWalk::AttestationReports() {
  report::Heading(out_, "Attestation reports (attestation.reports)");
  report::Operation(out_, "list");
  auto reports =
      Call<ReportsSvc::ListMethod>([&](const auto& done) { attestationReports_.List(nullptr, done); });
  if (!Succeeded(reports)) return;
  report::Table table({"REPORT", "TYPE", "SERVICE", "GROUP", "TOKEN"});
  for (const auto& summary : *reports.value) {
    // A union: the type names the field that holds the report.
    if (summary->type == ReportsSvc::ReportType::REPORTING_JWT && summary->reportingJwt) {
      const ReportsSvc::ReportingJwt& jwt = *summary->reportingJwt;
      table.Add({summary->report, summary->type.ToString(), jwt.service, jwt.group,
                 report::Truncate(jwt.jwt, 24) + " (" + std::to_string(jwt.jwt.size()) + " chars)"});
    } else {
      table.Add({summary->report, summary->type.ToString()});
    }
  }
  table.Print(out_);
  for (const auto& summary : *reports.value) {
    if (!summary->reportingJwt) continue;
    out_ << '\n';
    report::Fields()
        .Add(summary->report + " header", JwtPart(summary->reportingJwt->jwt, 0))
        .Add(summary->report + " claims", report::Truncate(JwtPart(summary->reportingJwt->jwt, 1), 96))
        .Print(out_);
  }
}

// ---- Key management -----------------------------------------------------

void HostTrustWalk::KeyProviders() {
  report::Heading(out_, "Key providers (kms.providers)");
  auto list = [&](const std::string& label,
                  const Tovri::OptionalPtr<const ProvidersSvc::FilterSpec>& filter) {
    report::Operation(out_, label);
    auto providers =
        Call<ProvidersSvc::ListMethod>([&](const auto& done) { keyProviders_.List(filter, nullptr, done); });
    if (!Succeeded(providers)) return providers;
    report::Table table({"PROVIDER", "TYPE", "AVAILABLE", "HEALTH", "DETAILS"});
    for (const auto& provider : *providers.value) {
      std::vector<std::string> details;
      for (const auto& detail : provider->details)
        details.push_back(report::Text(Tovri::BaseMessage(detail->id, detail->defaultMessage, detail->args),
                                       detail->localized));
      table.Add({provider->provider, provider->type ? provider->type->ToString() : "-",
                 report::YesNo(provider->available), provider->health ? provider->health->ToString() : "-",
                 details.empty() ? "-" : details[0]});
      // Further details continue under the first.
      for (std::size_t i = 1; i < details.size(); ++i) table.Add({"", "", "", "", details[i]});
    }
    table.Print(out_);
    return providers;
  };
  auto get = [&](const std::string& id) {
    report::Operation(out_, "get " + id);
    auto info =
        Call<ProvidersSvc::GetMethod>([&](const auto& done) { keyProviders_.Get(id, nullptr, done); });
    if (!Succeeded(info)) return;
    const ProvidersSvc::Info& provider = **info.value;
    report::Fields fields;
    fields.Add("type", provider.type.ToString());
    // A union: the native part is there exactly for a native provider.
    if (provider.nativeInfo) fields.Add("key id", provider.nativeInfo->keyId);
    fields.Print(out_);
  };

  auto providers = list("list", nullptr);
  if (providers.value) {
    for (const auto& provider : *providers.value) get(provider->provider);
  }

  auto native = std::make_shared<ProvidersSvc::NativeProviderCreateSpec>();
  native->keyId = "kek-2024-q3";
  // Travels as a secret value: masked when printed, wiped when freed.
  native->keyDerivationKey = Tovri::SecretString("q3v7N1dZr0wYx5KfB2mTgH8sLc4pUe6A");
  auto spec = std::make_shared<ProvidersSvc::CreateSpec>();
  spec->provider = "kp-hsm-02";
  spec->nativeSpec = native;
  report::Operation(out_, "create kp-hsm-02, native, key kek-2024-q3 (key derivation key sent, never shown)");
  auto created =
      Call<ProvidersSvc::CreateMethod>([&](const auto& done) { keyProviders_.Create(spec, nullptr, done); });
  if (Succeeded(created)) out_ << "    created\n";

  auto filter = Tovri::MakeOptionalPtr<ProvidersSvc::FilterSpec>();
  filter->types = std::set<ProvidersSvc::ProviderType>{ProvidersSvc::ProviderType::NATIVE};
  list("list, filtered to native providers", filter);

  auto update = std::make_shared<ProvidersSvc::UpdateSpec>();
  auto nativeUpdate = std::make_shared<ProvidersSvc::NativeProviderUpdateSpec>();
  nativeUpdate->keyId = std::string("kek-2024-q4");
  update->nativeSpec = nativeUpdate;
  report::Operation(out_, "update kp-hsm-02, key id kek-2024-q4");
  auto updated = Call<ProvidersSvc::UpdateMethod>(
      [&](const auto& done) { keyProviders_.Update("kp-hsm-02", update, nullptr, done); });
  if (Succeeded(updated)) out_ << "    updated\n";
  get("kp-hsm-02");

  report::Operation(out_, "delete kp-hsm-02");
  auto deleted = Call<ProvidersSvc::DeleteMethod>(
      [&](const auto& done) { keyProviders_.Delete("kp-hsm-02", nullptr, done); });
  if (Succeeded(deleted)) out_ << "    deleted\n";
  list("list", nullptr);
}

void HostTrustWalk::KeyServers() {
  report::Heading(out_, "Key servers (kms.services)");
  auto list = [&](const std::string& label) {
    report::Operation(out_, label);
    auto servers =
        Call<KeyServersSvc::ListMethod>([&](const auto& done) { keyServers_.List(nullptr, nullptr, done); });
    report::Table table({"SERVICE", "ADDRESS", "GROUP"});
    if (Succeeded(servers)) {
      for (const auto& server : *servers.value)
        table.Add({server->service, Address(*server->address), server->group});
    }
    table.Print(out_);
    return servers;
  };
  auto get = [&](const std::string& id) {
    report::Operation(out_, "get " + id);
    auto info = Call<KeyServersSvc::GetMethod>([&](const auto& done) { keyServers_.Get(id, nullptr, done); });
    if (!Succeeded(info)) return;
    const KeyServersSvc::Info& server = **info.value;
    report::Fields fields;
    fields.Add("address", Address(*server.address)).Add("group", server.group);
    for (const std::string& pem : server.trustedCA->certChain)
      fields.Add("trusted CA", report::DescribePem(pem));
    if (server.apiClient) {
      const ti::ApiClientInfo& client = *server.apiClient;
      // The secret never comes back: ApiClientInfo has no field for it.
      fields.Add("API client", client.clientId + " (" + Optional(client.clientName) + ", group " +
                                   Optional(client.clientGroup) + ")");
    } else {
      fields.Add("API client", "-");
    }
    fields.Print(out_);
  };

  auto servers = list("list");
  if (servers.value) {
    for (const auto& server : *servers.value) get(server->service);
  }

  auto spec = std::make_shared<KeyServersSvc::CreateSpec>();
  auto address = std::make_shared<ti::NetworkAddress>();
  address->hostname = "kms-dr.corp.example";
  address->port = 5696;
  auto chain = std::make_shared<ti::X509CertChain>();
  chain->certChain = {kStagingCa};
  auto client = std::make_shared<ti::ApiClientSpec>();
  client->clientId = "host-01-kmip-dr";
  client->clientName = std::string("Host 01 KMIP client (DR site)");
  client->clientSecret = Tovri::SecretString("Zt4q-8xPw-L2mV-0cRf");
  spec->address = address;
  spec->trustedCA = chain;
  spec->apiClient = client;
  spec->group = "disaster-recovery";
  report::Operation(
      out_, "create kms-dr.corp.example:5696 with API client host-01-kmip-dr (secret sent, never shown)");
  auto created =
      Call<KeyServersSvc::CreateMethod>([&](const auto& done) { keyServers_.Create(spec, nullptr, done); });
  if (!Succeeded(created)) return;
  out_ << "    created " << *created.value << '\n';
  get(*created.value);

  report::Operation(out_, "delete " + *created.value);
  auto deleted = Call<KeyServersSvc::DeleteMethod>(
      [&](const auto& done) { keyServers_.Delete(*created.value, nullptr, done); });
  if (Succeeded(deleted)) out_ << "    deleted\n";
  list("list");
}

// ---- Refusals -----------------------------------------------------------

void HostTrustWalk::Refusals() {
  report::Heading(out_, "Refusals (each answered with a declared error)");

  report::Operation(out_, "kms.providers create kp-native-01, which exists");
  auto spec = std::make_shared<ProvidersSvc::CreateSpec>();
  spec->provider = "kp-native-01";
  auto duplicate =
      Call<ProvidersSvc::CreateMethod>([&](const auto& done) { keyProviders_.Create(spec, nullptr, done); });
  ExpectRefusal(duplicate, Tovri::Errors::kAlreadyExists);

  report::Operation(out_, "hardware.tpm get tpm7, which does not exist");
  auto unknown = Call<TpmSvc::GetMethod>([&](const auto& done) { tpm_.Get("tpm7", nullptr, done); });
  ExpectRefusal(unknown, Tovri::Errors::kNotFound);

  report::Operation(out_,
                    "attestation.services create, the address carrying a field the package does not declare");
  auto address = std::make_shared<ti::NetworkAddress>();
  address->hostname = "attest.ap-south.corp.example";
  address->port = 8443;
  // What a peer built against a newer package might send. The stub passes
  // undeclared fields on; the provider's bindings refuse them.
  address->unknownFields = Tovri::Data::StructValue::GetInstance("unknownFields");
  address->unknownFields->SetField("proxy",
                                   Tovri::Data::StringValue::GetInstance("http://proxy.corp.example:3128"));
  auto service = std::make_shared<AttestationServicesSvc::CreateSpec>();
  service->address = address;
  auto chain = std::make_shared<ti::X509CertChain>();
  chain->certChain = {kStagingCa};
  service->trustedCA = chain;
  service->group = "staging";
  auto undeclared = Call<AttestationServicesSvc::CreateMethod>(
      [&](const auto& done) { attestationServices_.Create(service, nullptr, done); });
  ExpectRefusal(undeclared, Tovri::Errors::kInvalidArgument);

  report::Operation(out_, "kms.providers get \"kp native 01\", not an identifier");
  auto malformed = Call<ProvidersSvc::GetMethod>(
      [&](const auto& done) { keyProviders_.Get("kp native 01", nullptr, done); });
  ExpectRefusal(malformed, Tovri::Errors::kInvalidArgument);
}

}  // namespace host_trust
