// trustctl kms: key providers and the key servers they reach.
#include <set>

#include "context.hpp"
#include "remote_options.hpp"
#include "secret_input.hpp"

namespace Trustctl {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using ProvidersSvc = ti::Kms::ProvidersSvc;
using ServersSvc = ti::Kms::ServicesSvc;

std::string Address(const ti::NetworkAddress& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

std::string TypeText(const ProvidersSvc::ProviderType& type) {
  return type == ProvidersSvc::ProviderType::NATIVE            ? "native"
         : type == ProvidersSvc::ProviderType::TRUST_AUTHORITY ? "trust-authority"
                                                               : type.ToString();
}

std::string HealthText(const ProvidersSvc::Health& health) {
  std::string text = health.ToString();
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void AddSecretOptions(CLI::App& command, SecretSource& source, const std::string& name,
                      const std::string& what) {
  command.add_option("--" + name + "-file", source.file, "read the " + what + " from this file")
      ->check(CLI::ExistingFile);
  command.add_flag("--" + name + "-stdin", source.fromStdin, "read the " + what + " from standard input");
}

void AddProviderCommands(CLI::App& kms, Context& context) {
  CLI::App* providers = kms.add_subcommand("providers", "the key providers of the host");
  providers->require_subcommand(1);
  providers->footer("Example:\n  trustctl kms providers list");
  {
    CLI::App* list = providers->add_subcommand("list", "list the key providers with availability and health");
    struct Filter {
      std::vector<std::string> ids;
      std::string type, available;
    };
    auto filter = std::make_shared<Filter>();
    list->add_option("--id", filter->ids, "only these providers (repeatable)");
    list->add_option("--type", filter->type, "only providers of this type")
        ->check(CLI::IsMember({"native", "trust-authority"}));
    list->add_option("--available", filter->available, "only available (yes) or unavailable (no) providers")
        ->check(CLI::IsMember({"yes", "no"}));
    list->footer("Example:\n  trustctl kms providers list --available no");
    list->callback([&context, filter] {
      std::shared_ptr<ProvidersSvc::FilterSpec> spec;
      if (!filter->ids.empty() || !filter->type.empty() || !filter->available.empty()) {
        spec = std::make_shared<ProvidersSvc::FilterSpec>();
        if (!filter->ids.empty())
          spec->providers = std::set<std::string>(filter->ids.begin(), filter->ids.end());
        if (!filter->type.empty())
          spec->types = std::set<ProvidersSvc::ProviderType>{
              filter->type == "native" ? ProvidersSvc::ProviderType::NATIVE
                                       : ProvidersSvc::ProviderType::TRUST_AUTHORITY};
        if (!filter->available.empty()) spec->available = filter->available == "yes";
      }
      context.Run<ProvidersSvc::ListMethod>(
          [&](const auto& api, const auto& done) {
            ProvidersSvc::AsyncServiceStub(api).List(spec, nullptr, done);
          },
          [](Output& out, const auto& summaries) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& s : summaries) out.Stream() << s->provider << "\n";
              return;
            }
            Table table({"PROVIDER", "TYPE", "AVAILABLE", "HEALTH", "DETAILS"});
            for (const auto& s : summaries) {
              std::string details;
              for (const auto& d : s->details)
                details += (details.empty() ? "" : " ") + (d->localized ? *d->localized : d->defaultMessage);
              const std::string health = s->health ? HealthText(*s->health) : "-";
              table.Add({s->provider, s->type ? TypeText(*s->type) : "-",
                         out.Verdict(s->available ? "yes" : "no", s->available),
                         out.Verdict(health, !s->health || *s->health != ProvidersSvc::Health::ERROR),
                         details});
            }
            table.Print(out);
          });
    });
  }
  {
    CLI::App* get = providers->add_subcommand("get", "show a key provider");
    auto id = std::make_shared<std::string>();
    get->add_option("provider", *id, "the provider")->required();
    get->footer("Example:\n  trustctl kms providers get kp-native-01");
    get->callback([&context, id] {
      context.Run<ProvidersSvc::GetMethod>(
          [&](const auto& api, const auto& done) {
            ProvidersSvc::AsyncServiceStub(api).Get(*id, nullptr, done);
          },
          [id](Output& out, const auto& info) {
            if (out.Options().format == Format::kQuiet) return;
            Block block;
            block.Add("Provider", *id);
            block.Add("Type", TypeText(info->type));
            if (info->nativeInfo) block.Add("Key", info->nativeInfo->keyId);
            block.Print(out);
          });
    });
  }
  {
    CLI::App* create = providers->add_subcommand(
        "create", "create a key provider: native (--key-id and a key derivation key) or trust-authority");
    struct Options {
      std::string id, keyId;
      SecretSource kdk;
    };
    auto options = std::make_shared<Options>();
    create->add_option("provider", options->id, "the new provider's identifier")->required();
    create->add_option("--key-id", options->keyId,
                       "a native provider's key; its key derivation key is then read");
    AddSecretOptions(*create, options->kdk, "kdk", "key derivation key");
    create->footer(
        "Examples:\n  trustctl kms providers create kp-native-01 --key-id key-2026 --kdk-file kdk.bin\n"
        "  printf %s \"$KDK\" | trustctl kms providers create kp-native-01 --key-id key-2026 --kdk-stdin\n"
        "  trustctl kms providers create kp-ta-01");
    create->callback([&context, options] {
      auto spec = std::make_shared<ProvidersSvc::CreateSpec>();
      spec->provider = options->id;
      if (!options->keyId.empty()) {
        std::string error;
        auto kdk = ReadSecret(options->kdk, "key derivation key", error);
        if (!kdk) {
          context.Err() << "trustctl: " << error << "\n";
          context.status = kUsage;
          return;
        }
        auto native = std::make_shared<ProvidersSvc::NativeProviderCreateSpec>();
        native->keyId = options->keyId;
        native->keyDerivationKey = std::move(*kdk);
        spec->nativeSpec = native;
      } else if (options->kdk.file || options->kdk.fromStdin) {
        context.Err() << "trustctl: a key derivation key needs --key-id\n";
        context.status = kUsage;
        return;
      }
      context.Run<ProvidersSvc::CreateMethod>(
          [&](const auto& api, const auto& done) {
            ProvidersSvc::AsyncServiceStub(api).Create(spec, nullptr, done);
          },
          [options](Output& out, const auto&) {
            if (out.Options().format == Format::kHuman) out.Stream() << "created " << options->id << "\n";
          });
    });
  }
  {
    CLI::App* update = providers->add_subcommand("update", "change a native provider's key");
    auto id = std::make_shared<std::string>();
    auto keyId = std::make_shared<std::string>();
    update->add_option("provider", *id, "the provider")->required();
    update->add_option("--key-id", *keyId, "the key it uses from now on")->required();
    update->footer("Example:\n  trustctl kms providers update kp-native-01 --key-id key-2027");
    update->callback([&context, id, keyId] {
      auto spec = std::make_shared<ProvidersSvc::UpdateSpec>();
      auto native = std::make_shared<ProvidersSvc::NativeProviderUpdateSpec>();
      native->keyId = *keyId;
      spec->nativeSpec = native;
      context.Run<ProvidersSvc::UpdateMethod>(
          [&](const auto& api, const auto& done) {
            ProvidersSvc::AsyncServiceStub(api).Update(*id, spec, nullptr, done);
          },
          [id](Output& out, const auto&) {
            if (out.Options().format == Format::kHuman) out.Stream() << "updated " << *id << "\n";
          });
    });
  }
  {
    CLI::App* remove = providers->add_subcommand("delete", "delete a key provider");
    auto id = std::make_shared<std::string>();
    remove->add_option("provider", *id, "the provider")->required();
    remove->footer("Example:\n  trustctl kms providers delete kp-native-01");
    remove->callback([&context, id] {
      context.Run<ProvidersSvc::DeleteMethod>(
          [&](const auto& api, const auto& done) {
            ProvidersSvc::AsyncServiceStub(api).Delete(*id, nullptr, done);
          },
          [id](Output& out, const auto&) {
            if (out.Options().format == Format::kHuman) out.Stream() << "deleted " << *id << "\n";
          });
    });
  }
}

void AddServerCommands(CLI::App& kms, Context& context) {
  CLI::App* servers = kms.add_subcommand("servers", "the key servers the host's providers reach");
  servers->require_subcommand(1);
  servers->footer("Example:\n  trustctl kms servers list");
  {
    CLI::App* list = servers->add_subcommand("list", "list the key servers");
    auto filter = std::make_shared<RemoteFilter>();
    filter->AddTo(*list, "servers");
    list->footer("Example:\n  trustctl kms servers list --group fleet-a");
    list->callback([&context, filter] {
      std::shared_ptr<ServersSvc::FilterSpec> spec;
      if (!filter->ids.empty() || !filter->groups.empty()) {
        spec = std::make_shared<ServersSvc::FilterSpec>();
        if (!filter->ids.empty())
          spec->services = std::set<std::string>(filter->ids.begin(), filter->ids.end());
        if (!filter->groups.empty())
          spec->group = std::set<std::string>(filter->groups.begin(), filter->groups.end());
      }
      context.Run<ServersSvc::ListMethod>(
          [&](const auto& api, const auto& done) {
            ServersSvc::AsyncServiceStub(api).List(spec, nullptr, done);
          },
          [](Output& out, const auto& summaries) {
            if (out.Options().format == Format::kQuiet) {
              for (const auto& s : summaries) out.Stream() << s->service << "\n";
              return;
            }
            Table table({"SERVER", "ADDRESS", "GROUP"});
            for (const auto& s : summaries) table.Add({s->service, Address(*s->address), s->group});
            table.Print(out);
          });
    });
  }
  {
    CLI::App* get = servers->add_subcommand("get", "show a key server, its API client and CA chain");
    auto id = std::make_shared<std::string>();
    get->add_option("server", *id, "the server, as list shows it")->required();
    get->footer("Example:\n  trustctl kms servers get ks-0a1b2c3d4e5f");
    get->callback([&context, id] {
      context.Run<ServersSvc::GetMethod>(
          [&](const auto& api, const auto& done) {
            ServersSvc::AsyncServiceStub(api).Get(*id, nullptr, done);
          },
          [id](Output& out, const auto& info) {
            if (out.Options().format == Format::kQuiet) return;
            Block block;
            block.Add("Server", *id);
            block.Add("Address", Address(*info->address));
            block.Add("Group", info->group);
            if (info->apiClient) {
              block.Add("API client", info->apiClient->clientId);
              block.Add("Client name", info->apiClient->clientName.value_or("-"));
              block.Add("Client group", info->apiClient->clientGroup.value_or("-"));
            } else {
              block.Add("API client", "none");
            }
            block.Add("CA certificates", std::to_string(info->trustedCA->certChain.size()));
            block.Print(out);
            for (const auto& pem : info->trustedCA->certChain) out.Stream() << "\n" << pem;
          });
    });
  }
  {
    CLI::App* create = servers->add_subcommand("create", "add a key server; prints its id");
    struct Options {
      RemoteOptions remote;
      std::string clientId, clientName, clientGroup;
      SecretSource secret;
    };
    auto options = std::make_shared<Options>();
    options->remote.AddTo(*create);
    create->add_option("--client-id", options->clientId, "the API client the host logs in as");
    create->add_option("--client-name", options->clientName, "its display name");
    create->add_option("--client-group", options->clientGroup, "its group");
    AddSecretOptions(*create, options->secret, "client-secret", "API client secret");
    create->footer(
        "Example:\n  trustctl kms servers create --host kms.example.com --port 5696 --ca-file kms-ca.pem \\\n"
        "      --group fleet-a --client-id host-17 --client-secret-file secret.txt");
    create->callback([&context, options] {
      auto spec = std::make_shared<ServersSvc::CreateSpec>();
      std::string error;
      if (!options->remote.Build(spec->address, spec->trustedCA, error)) {
        context.Err() << "trustctl: " << error << "\n";
        context.status = kUsage;
        return;
      }
      spec->group = options->remote.group;
      if (!options->clientId.empty()) {
        auto secret = ReadSecret(options->secret, "API client secret", error);
        if (!secret) {
          context.Err() << "trustctl: " << error << "\n";
          context.status = kUsage;
          return;
        }
        auto client = std::make_shared<ti::ApiClientSpec>();
        client->clientId = options->clientId;
        if (!options->clientName.empty()) client->clientName = options->clientName;
        if (!options->clientGroup.empty()) client->clientGroup = options->clientGroup;
        client->clientSecret = std::move(*secret);
        spec->apiClient = client;
      }
      context.Run<ServersSvc::CreateMethod>(
          [&](const auto& api, const auto& done) {
            ServersSvc::AsyncServiceStub(api).Create(spec, nullptr, done);
          },
          [](Output& out, const std::string& id) { out.Stream() << id << "\n"; });
    });
  }
  {
    CLI::App* remove = servers->add_subcommand("delete", "remove a key server");
    auto id = std::make_shared<std::string>();
    remove->add_option("server", *id, "the server")->required();
    remove->footer("Example:\n  trustctl kms servers delete ks-0a1b2c3d4e5f");
    remove->callback([&context, id] {
      context.Run<ServersSvc::DeleteMethod>(
          [&](const auto& api, const auto& done) {
            ServersSvc::AsyncServiceStub(api).Delete(*id, nullptr, done);
          },
          [id](Output& out, const auto&) {
            if (out.Options().format == Format::kHuman) out.Stream() << "deleted " << *id << "\n";
          });
    });
  }
}

}  // namespace

void AddKmsCommands(CLI::App& app, Context& context) {
  CLI::App* kms = app.add_subcommand("kms", "key providers and key servers");
  kms->require_subcommand(1);
  kms->footer("Example:\n  trustctl kms providers list");
  AddProviderCommands(*kms, context);
  AddServerCommands(*kms, context);
}

}  // namespace Trustctl
