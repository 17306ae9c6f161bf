// A log shaped like a firmware's: SHA-256 and SHA-384, a StartupLocality
// event, the CRTM version, POST code, EFI actions, separators in PCRs 0-7
// and a boot loader measurement.
#pragma once

#include <string>
#include <vector>

#include <trustd/eventlog/event_log.hpp>

namespace Trustd {
namespace Testing {

inline Tcg::Bytes Text(const std::string& text, bool terminated = false) {
  Tcg::Bytes out(text.begin(), text.end());
  if (terminated) out.push_back(0);
  return out;
}

inline std::vector<Tcg::NewEvent> FirmwareEvents(int startupLocality) {
  std::vector<Tcg::NewEvent> events;
  if (startupLocality >= 0) {
    events.push_back(
        {0, Tcg::kEvNoAction, Tcg::StartupLocalityData(static_cast<std::uint8_t>(startupLocality)), {}});
  }
  events.push_back({0, 0x00000008, Text("1.0"), {}});        // EV_S_CRTM_VERSION
  events.push_back({0, 0x00000001, Text("ACPI DATA"), {}});  // EV_POST_CODE
  events.push_back({2, 0x00000001, Text("Embedded UEFI Driver"), {}});
  events.push_back({7, Tcg::kEvEfiAction, Text("Calling EFI Application from Boot Option"), {}});
  for (std::uint32_t pcr = 0; pcr < 8; ++pcr)
    events.push_back({pcr, Tcg::kEvSeparator, Tcg::Bytes(4, 0), {}});
  events.push_back({4, Tcg::kEvEfiAction, Text("Returning from EFI Application from Boot Option"), {}});
  events.push_back({5, 0x00000006, Text("tagged event"), {}});                    // EV_EVENT_TAG
  events.push_back({8, 0x0000000d, Text("grub_cmd: linux /vmlinuz", true), {}});  // EV_IPL
  return events;
}

}  // namespace Testing
}  // namespace Trustd
