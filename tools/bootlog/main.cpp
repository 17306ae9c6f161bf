// bootlog: writes the measured-boot log a UEFI firmware and boot loader
// would leave (crypto-agile, SHA-256 and SHA-384, PCRs 0-9) and prints, one
// line per measurement, the `tpm2_pcrextend` argument that puts the same
// digests into a TPM. The demo uses it to give a software TPM the registers
// a booted host has, so that the served log replays to the served banks.
//
//   bootlog --output binary_bios_measurements | while read -r m; do tpm2_pcrextend "$m"; done
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <trustd/eventlog/event_log.hpp>

namespace {

namespace Tcg = Trustd::Tcg;

Tcg::Bytes Text(const std::string& text) { return Tcg::Bytes(text.begin(), text.end()); }

std::string Hex(const Tcg::Bytes& bytes) {
  std::string out;
  char digit[3];
  for (auto byte : bytes) {
    std::snprintf(digit, sizeof digit, "%02x", byte);
    out += digit;
  }
  return out;
}

// A UEFI_VARIABLE_DATA record of the global-variable namespace: what the
// firmware measures for SecureBoot, PK and friends.
Tcg::Bytes UefiVariable(const std::string& name, const Tcg::Bytes& data) {
  // EFI_GLOBAL_VARIABLE 8be4df61-93ca-11d2-aa0d-00e098032b8c, first three
  // fields little-endian.
  Tcg::Bytes out = {0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11,
                    0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};
  const auto u64 = [&out](std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  u64(name.size());
  u64(data.size());
  for (char c : name) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<Tcg::NewEvent> BootEvents() {
  constexpr std::uint32_t kPostCode = 0x00000001, kCrtmVersion = 0x00000008, kIpl = 0x0000000d,
                          kEfiVariableDriverConfig = 0x80000001;
  std::vector<Tcg::NewEvent> events;
  events.push_back({0, kCrtmVersion, Text("1.37.0"), {}});
  events.push_back({0, kPostCode, Text("SYSTEM FIRMWARE"), {}});
  events.push_back({1, kPostCode, Text("ACPI DATA"), {}});
  events.push_back({7, kEfiVariableDriverConfig, UefiVariable("SecureBoot", {1}), {}});
  events.push_back({7, kEfiVariableDriverConfig, UefiVariable("PK", Text("platform key")), {}});
  for (std::uint32_t pcr = 0; pcr < 8; ++pcr)
    events.push_back({pcr, Tcg::kEvSeparator, Tcg::Bytes(4, 0), {}});
  events.push_back({4, Tcg::kEvEfiAction, Text("Calling EFI Application from Boot Option"), {}});
  events.push_back({8, kIpl, Text("grub_cmd: linux /vmlinuz-6.1.0-28-amd64 root=/dev/sda2 ro quiet"), {}});
  events.push_back({9, kIpl, Text("/boot/vmlinuz-6.1.0-28-amd64"), {}});
  events.push_back({9, kIpl, Text("/boot/initrd.img-6.1.0-28-amd64"), {}});
  return events;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"bootlog: write a measured-boot log and print its measurements for tpm2_pcrextend", "bootlog"};
  std::string output;
  app.add_option("-o,--output", output, "the log file to write")->required();
  CLI11_PARSE(app, argc, argv);

  const auto log = Tcg::MakeLog({Tcg::kSha256, Tcg::kSha384}, BootEvents());
  const auto bytes = log ? Tcg::Encode(log.Value()) : Trustd::Result<Tcg::Bytes>::Failure(log.Error());
  if (!bytes) {
    std::cerr << "bootlog: " << bytes.Error() << "\n";
    return 1;
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.Value().data()),
             static_cast<std::streamsize>(bytes.Value().size()));
  if (!file.flush()) {
    std::cerr << "bootlog: cannot write " << output << "\n";
    return 1;
  }
  for (const Tcg::Extension& extension : Tcg::Extensions(log.Value())) {
    std::string argument = std::to_string(extension.pcr) + ":";
    for (std::size_t i = 0; i < extension.digests.size(); ++i)
      argument += (i ? "," : "") + Tcg::AlgorithmName(extension.digests[i].algorithmId) + "=" +
                  Hex(extension.digests[i].bytes);
    std::cout << argument << "\n";
  }
  return 0;
}
