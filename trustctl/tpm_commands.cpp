// trustctl tpm: the host's TPMs, their endorsement keys and event logs.
#include <fstream>
#include <set>

#include "context.hpp"
#include "event_log_view.hpp"

namespace Trustctl {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using TpmSvc = ti::Hardware::TpmSvc;
using KeysSvc = ti::Hardware::Tpm::EndorsementKeysSvc;
using EventLogSvc = ti::Hardware::Tpm::EventLogSvc;
using Banks = std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>>;

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// One row per register, one column per bank.
void PrintBanks(Output& out, const Banks& banks) {
  std::vector<std::string> headers = {"PCR"};
  std::set<long long> indices;
  for (const auto& bank : banks) {
    headers.push_back(bank->algorithm.ToString());
    for (const auto& entry : bank->pcrs) indices.insert(entry.first);
  }
  Table table(headers);
  for (long long index : indices) {
    std::vector<std::string> row = {std::to_string(index)};
    for (const auto& bank : banks) {
      const auto value = bank->pcrs.find(index);
      row.push_back(value == bank->pcrs.end() ? "-" : out.Hex(value->second));
    }
    table.Add(std::move(row));
  }
  table.Print(out);
}

std::string KeyType(const KeysSvc::Type& type) {
  return type == KeysSvc::Type::RSA_2048         ? "rsa-2048"
         : type == KeysSvc::Type::ECC_NIST_P_256 ? "ecc-nist-p256"
                                                 : type.ToString();
}

}  // namespace

void AddTpmCommands(CLI::App& app, Context& context) {
  CLI::App* tpm = app.add_subcommand("tpm", "the host's TPMs, their endorsement keys and measured-boot log");
  tpm->require_subcommand(1);
  tpm->footer("Example:\n  trustctl tpm list");

  // tpm list
  {
    CLI::App* list = tpm->add_subcommand("list", "list the TPMs with their version and whether they answer");
    auto active = std::make_shared<std::string>();
    list->add_option("--active", *active, "only TPMs that answer (yes) or do not (no)")
        ->check(CLI::IsMember({"yes", "no"}));
    list->footer("Example:\n  trustctl tpm list --active yes");
    list->callback([&context, active] {
      std::shared_ptr<TpmSvc::FilterSpec> filter;
      if (!active->empty()) {
        filter = std::make_shared<TpmSvc::FilterSpec>();
        filter->active = *active == "yes";
      }
      context.Run<TpmSvc::ListMethod>(
          [&](const auto& api, const auto& done) {
            TpmSvc::AsyncServiceStub(api).List(filter, nullptr, done);
          },
          [](Output& out, const auto& tpms) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& t : tpms) out.Stream() << t->tpm << "\n";
              return;
            }
            Table table({"TPM", "VERSION", "ACTIVE"});
            for (const auto& t : tpms)
              table.Add({t->tpm, std::to_string(t->majorVersion) + "." + std::to_string(t->minorVersion),
                         out.Verdict(YesNo(t->active), t->active)});
            table.Print(out);
          });
    });
  }

  // tpm get TPM
  {
    CLI::App* get = tpm->add_subcommand("get", "show a TPM: maker, firmware and every PCR bank");
    auto id = std::make_shared<std::string>();
    get->add_option("tpm", *id, "the TPM, as tpm list shows it")->required();
    get->footer("Example:\n  trustctl tpm get tpm0 --full");
    get->callback([&context, id] {
      context.Run<TpmSvc::GetMethod>(
          [&](const auto& api, const auto& done) { TpmSvc::AsyncServiceStub(api).Get(*id, nullptr, done); },
          [id](Output& out, const auto& info) {
            if (out.Options().format == Format::kQuiet) return;
            Block block;
            block.Add("TPM", *id);
            block.Add("Version",
                      std::to_string(info->majorVersion) + "." + std::to_string(info->minorVersion));
            block.Add("Active", out.Verdict(YesNo(info->active), info->active));
            block.Add("Manufacturer", info->manufacturer.value_or("-"));
            block.Add("Model", info->model.value_or("-"));
            block.Add("Firmware", info->firmwareVersion.value_or("-"));
            block.Print(out);
            out.Stream() << "\n";
            PrintBanks(out, info->banks);
          });
    });
  }

  // tpm keys list|get
  CLI::App* keys = tpm->add_subcommand("keys", "the TPM's endorsement keys and certificates");
  keys->require_subcommand(1);
  keys->footer("Example:\n  trustctl tpm keys list tpm0");
  {
    CLI::App* list = keys->add_subcommand("list", "list a TPM's endorsement keys");
    auto id = std::make_shared<std::string>();
    auto type = std::make_shared<std::string>();
    list->add_option("tpm", *id, "the TPM")->required();
    list->add_option("--type", *type, "only keys of this type")
        ->check(CLI::IsMember({"rsa-2048", "ecc-nist-p256"}));
    list->footer("Example:\n  trustctl tpm keys list tpm0 --type rsa-2048");
    list->callback([&context, id, type] {
      std::shared_ptr<KeysSvc::FilterSpec> filter;
      if (!type->empty()) {
        filter = std::make_shared<KeysSvc::FilterSpec>();
        filter->types = std::set<KeysSvc::Type>{*type == "rsa-2048" ? KeysSvc::Type::RSA_2048
                                                                    : KeysSvc::Type::ECC_NIST_P_256};
      }
      context.Run<KeysSvc::ListMethod>(
          [&](const auto& api, const auto& done) {
            KeysSvc::AsyncServiceStub(api).List(*id, filter, nullptr, done);
          },
          [](Output& out, const auto& summaries) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& s : summaries) out.Stream() << s->key << "\n";
              return;
            }
            Table table({"KEY", "TYPE"});
            for (const auto& s : summaries) table.Add({s->key, KeyType(s->type)});
            table.Print(out);
          });
    });
  }
  {
    CLI::App* get =
        keys->add_subcommand("get", "show an endorsement key: public key, certificate, issuer address");
    auto id = std::make_shared<std::string>();
    auto key = std::make_shared<std::string>();
    get->add_option("tpm", *id, "the TPM")->required();
    get->add_option("key", *key, "the key, as tpm keys list shows it")->required();
    get->footer("Example:\n  trustctl tpm keys get tpm0 ek-rsa-2048");
    get->callback([&context, id, key] {
      context.Run<KeysSvc::GetMethod>(
          [&](const auto& api, const auto& done) {
            KeysSvc::AsyncServiceStub(api).Get(*id, *key, nullptr, done);
          },
          [key](Output& out, const auto& info) {
            if (out.Options().format == Format::kQuiet) return;
            Block block;
            block.Add("Key", *key);
            block.Add("Type", KeyType(info->type));
            block.Add("Certificate", info->certificate ? "present" : "none");
            block.Add("Issuer certificate", info->manufacturerCertificateUri.value_or("-"));
            block.Print(out);
            out.Stream() << "\n" << info->publicKey;
            if (info->certificate) out.Stream() << *info->certificate;
          });
    });
  }

  // tpm event-log TPM
  {
    CLI::App* log = tpm->add_subcommand(
        "event-log", "decode the measured-boot log and replay it against the TPM's registers");
    auto id = std::make_shared<std::string>();
    auto raw = std::make_shared<std::string>();
    auto events = std::make_shared<bool>(false);
    log->add_option("tpm", *id, "the TPM")->required();
    log->add_option("--raw", *raw, "also write the log's bytes to this file");
    log->add_flag("--events", *events, "list every event with its digests");
    log->footer(
        "Examples:\n  trustctl tpm event-log tpm0\n  trustctl tpm event-log tpm0 --events --full\n"
        "  trustctl tpm event-log tpm0 --raw boot.log");
    log->callback([&context, id, raw, events] {
      context.Run<EventLogSvc::GetMethod>(
          [&](const auto& api, const auto& done) {
            EventLogSvc::AsyncServiceStub(api).Get(*id, nullptr, done);
          },
          [&context, raw, events](Output& out, const auto& info) {
            if (!raw->empty()) {
              std::ofstream file(*raw, std::ios::binary | std::ios::trunc);
              const auto& bytes = info->tcgCryptoAgile ? *info->tcgCryptoAgile : std::vector<unsigned char>();
              file.write(reinterpret_cast<const char*>(bytes.data()),
                         static_cast<std::streamsize>(bytes.size()));
              if (!file) {
                context.Err() << "trustctl: cannot write " << *raw << "\n";
                context.status = kFailed;
                return;
              }
            }
            if (!ShowEventLog(out, *info, *events)) context.status = kFailed;
          });
      // A replay that does not match is a finding, not a failure to run:
      // scripts read it from the output.
    });
  }
}

}  // namespace Trustctl
