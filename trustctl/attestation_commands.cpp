// trustctl attestation: the attestation services the host trusts and the
// reports it holds.
#include <set>

#include "context.hpp"
#include "remote_options.hpp"

namespace Trustctl {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using ServicesSvc = ti::Attestation::ServicesSvc;
using ReportsSvc = ti::Attestation::ReportsSvc;

std::string Address(const ti::NetworkAddress& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

}  // namespace

void AddAttestationCommands(CLI::App& app, Context& context) {
  CLI::App* attestation =
      app.add_subcommand("attestation", "attestation services and the reports the host holds");
  attestation->require_subcommand(1);
  attestation->footer("Example:\n  trustctl attestation services list");
  CLI::App* services = attestation->add_subcommand("services", "the attestation services the host trusts");
  services->require_subcommand(1);
  services->footer("Example:\n  trustctl attestation services list --group fleet-a");

  {
    CLI::App* list = services->add_subcommand("list", "list the attestation services");
    auto filter = std::make_shared<RemoteFilter>();
    filter->AddTo(*list, "services");
    list->footer("Example:\n  trustctl attestation services list --group fleet-a");
    list->callback([&context, filter] {
      std::shared_ptr<ServicesSvc::FilterSpec> spec;
      if (!filter->ids.empty() || !filter->groups.empty()) {
        spec = std::make_shared<ServicesSvc::FilterSpec>();
        if (!filter->ids.empty())
          spec->services = std::set<std::string>(filter->ids.begin(), filter->ids.end());
        if (!filter->groups.empty())
          spec->group = std::set<std::string>(filter->groups.begin(), filter->groups.end());
      }
      context.Run<ServicesSvc::ListMethod>(
          [&](const auto& api, const auto& done) {
            ServicesSvc::AsyncServiceStub(api).List(spec, nullptr, done);
          },
          [](Output& out, const auto& summaries) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& s : summaries) out.Stream() << s->service << "\n";
              return;
            }
            Table table({"SERVICE", "ADDRESS", "GROUP"});
            for (const auto& s : summaries) table.Add({s->service, Address(*s->address), s->group});
            table.Print(out);
          });
    });
  }
  {
    CLI::App* get = services->add_subcommand("get", "show an attestation service and its CA chain");
    auto id = std::make_shared<std::string>();
    get->add_option("service", *id, "the service, as list shows it")->required();
    get->footer("Example:\n  trustctl attestation services get as-3f9a1c0b7d2e");
    get->callback([&context, id] {
      context.Run<ServicesSvc::GetMethod>(
          [&](const auto& api, const auto& done) {
            ServicesSvc::AsyncServiceStub(api).Get(*id, nullptr, done);
          },
          [id](Output& out, const auto& info) {
            if (out.Options().format == Format::kQuiet) return;
            Block block;
            block.Add("Service", *id);
            block.Add("Address", Address(*info->address));
            block.Add("Group", info->group);
            block.Add("CA certificates", std::to_string(info->trustedCA->certChain.size()));
            block.Print(out);
            for (const auto& pem : info->trustedCA->certChain) out.Stream() << "\n" << pem;
          });
    });
  }
  {
    CLI::App* create = services->add_subcommand("create", "trust a new attestation service; prints its id");
    auto remote = std::make_shared<RemoteOptions>();
    remote->AddTo(*create);
    create->footer(
        "Example:\n  trustctl attestation services create --host attest.example.com --port 443 \\\n"
        "      --ca-file attest-ca.pem --group fleet-a");
    create->callback([&context, remote] {
      auto spec = std::make_shared<ServicesSvc::CreateSpec>();
      std::string error;
      if (!remote->Build(spec->address, spec->trustedCA, error)) {
        context.Err() << "trustctl: " << error << "\n";
        context.status = kUsage;
        return;
      }
      spec->group = remote->group;
      context.Run<ServicesSvc::CreateMethod>(
          [&](const auto& api, const auto& done) {
            ServicesSvc::AsyncServiceStub(api).Create(spec, nullptr, done);
          },
          [](Output& out, const std::string& id) { out.Stream() << id << "\n"; });
    });
  }
  {
    CLI::App* remove = services->add_subcommand("delete", "stop trusting an attestation service");
    auto id = std::make_shared<std::string>();
    remove->add_option("service", *id, "the service")->required();
    remove->footer("Example:\n  trustctl attestation services delete as-3f9a1c0b7d2e");
    remove->callback([&context, id] {
      context.Run<ServicesSvc::DeleteMethod>(
          [&](const auto& api, const auto& done) {
            ServicesSvc::AsyncServiceStub(api).Delete(*id, nullptr, done);
          },
          [id](Output& out, const auto&) {
            if (out.Options().format == Format::kHuman) out.Stream() << "deleted " << *id << "\n";
          });
    });
  }

  CLI::App* reports =
      attestation->add_subcommand("reports", "the attestation reports (tokens) the host holds");
  reports->require_subcommand(1);
  reports->footer("Example:\n  trustctl attestation reports list");
  {
    CLI::App* list = reports->add_subcommand("list", "list the reports; --tokens shows each token in full");
    auto tokens = std::make_shared<bool>(false);
    list->add_flag("--tokens", *tokens, "print each report's token after the table");
    list->footer("Example:\n  trustctl attestation reports list --tokens");
    list->callback([&context, tokens] {
      context.Run<ReportsSvc::ListMethod>(
          [&](const auto& api, const auto& done) { ReportsSvc::AsyncServiceStub(api).List(nullptr, done); },
          [tokens](Output& out, const auto& summaries) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& s : summaries) out.Stream() << s->report << "\n";
              return;
            }
            Table table({"REPORT", "TYPE", "SERVICE", "GROUP", "TOKEN"});
            for (const auto& s : summaries) {
              const auto& jwt = s->reportingJwt;
              const std::string token = jwt ? jwt->jwt : std::string();
              table.Add({s->report, s->type.ToString(), jwt ? jwt->service : "-",
                         jwt && !jwt->group.empty() ? jwt->group : "-",
                         token.size() > 24 ? token.substr(0, 20) + "..." : token});
            }
            table.Print(out);
            if (*tokens) {
              for (const auto& s : summaries)
                if (s->reportingJwt)
                  out.Stream() << "\n" << s->report << ":\n" << s->reportingJwt->jwt << "\n";
            }
          });
    });
  }
}

}  // namespace Trustctl
