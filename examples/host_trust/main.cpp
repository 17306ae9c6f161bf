// host_trust: a provider and a client of the trusted-infrastructure package
// in one process.
//
// The provider implements the seven services over an in-memory host and
// answers from a worker pool of its own; it is bound with the generated
// binders and registered with the framework's in-process provider. The
// client reaches it through the generated stubs only, walks every operation
// and prints a report. Exit status 0 when every answer was the expected one.
#include <chrono>
#include <exception>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <dral/tovri_bindings.hpp>

#include "host_model.hpp"
#include "provider.hpp"
#include "walk.hpp"
#include "worker_pool.hpp"

namespace {

constexpr std::size_t kWorkerThreads = 3;

// The activation every client call starts from. It asks for answers in
// `language`: the provider renders its messages in the first language of
// this list it has texts for.
std::shared_ptr<Tovri::Core::AsyncActivation> ClientActivation(const std::string& language) {
  auto locale = std::make_shared<Tovri::L10n::LocaleSpec>();
  locale->first = Tovri::L10n::LocaleHelpers::MakeLanguagePreference(language, locale->firstError);
  locale->second = Tovri::L10n::LocaleHelpers::MakeLanguagePreference("C", locale->secondError);
  locale->timezone = Tovri::L10n::TimezoneSpec("Etc/UTC");
  auto activation = std::make_shared<Tovri::Core::AsyncActivation>();
  activation->localeSpec = std::move(locale);
  return activation;
}

}  // namespace

int main() {
  try {
    // Provider side: the host, the threads that answer for it, and the
    // seven services registered with the in-process provider.
    const std::shared_ptr<host_trust::HostModel> host = host_trust::MakeExampleHost();
    const auto pool = std::make_shared<host_trust::WorkerPool>(kWorkerThreads);
    const auto registry = std::make_shared<Tovri::Core::LocalProvider>();
    const std::vector<std::string> services = host_trust::RegisterHostTrustServices(*registry, host, pool);
    if (services.size() != 7) {
      std::cerr << "host_trust: only " << services.size() << " of the 7 services could be registered\n";
      return 1;
    }

    std::cout << "host_trust: the trust configuration of one host, served in-process by a provider of the\n"
                 "7 services of com.corvane.morv.trusted_infrastructure ("
              << pool->size() << " worker threads), walked through the generated client stubs.\n";

    // Client side: the framework's api stub over the provider; the walk
    // builds one generated stub per service on it.
    const auto api = std::make_shared<Tovri::Stub::AsyncApiStub>(registry, ClientActivation("en_US"));
    host_trust::HostTrustWalk walk(api, std::cout);

    const auto start = std::chrono::steady_clock::now();
    const bool expected = walk.Run();
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;

    // Every answer is in; stop taking calls, then let the workers finish
    // and join them.
    for (const std::string& service : services) registry->Unregister(service);
    pool->Shutdown();

    std::cout << "\n== Done " << std::string(70, '=') << '\n'
              << "    " << walk.calls() << " calls answered in " << std::fixed << std::setprecision(1)
              << elapsed.count() << " ms, " << walk.refusals() << " of them refused as intended; "
              << (expected ? "every answer as expected" : "SOME ANSWERS WERE NOT AS EXPECTED") << ".\n"
              << "    Worker pool drained and stopped.\n";
    return expected ? 0 : 1;
  } catch (const std::exception& failure) {
    std::cerr << "host_trust: " << failure.what() << '\n';
    return 1;
  }
}
