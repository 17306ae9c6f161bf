// trustctl: the command a person uses to manage a host's trust through
// trustd. See docs/trustctl.md.
#include <exception>
#include <iostream>

#include "call.hpp"
#include "cli.hpp"

int main(int argc, char** argv) {
  try {
    return Trustctl::Run(argc, argv, std::cout, std::cerr);
  } catch (const std::exception& e) {
    // Not expected: every failure is reported as a value; still no abort.
    std::cerr << "trustctl: " << e.what() << "\n";
    return Trustctl::kFailed;
  }
}
