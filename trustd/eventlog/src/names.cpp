// Names of the algorithms and event types, as tools show them.
#include <trustd/eventlog/event_log.hpp>

namespace Trustd {
namespace Tcg {

std::string AlgorithmName(std::uint16_t algorithmId) {
  switch (algorithmId) {
    case kSha1:
      return "sha1";
    case kSha256:
      return "sha256";
    case kSha384:
      return "sha384";
    case kSha512:
      return "sha512";
    case kSm3_256:
      return "sm3_256";
    default:
      return {};
  }
}

std::size_t KnownDigestSize(std::uint16_t algorithmId) {
  switch (algorithmId) {
    case kSha1:
      return 20;
    case kSha256:
      return 32;
    case kSha384:
      return 48;
    case kSha512:
      return 64;
    case kSm3_256:
      return 32;
    default:
      return 0;
  }
}

std::string EventTypeName(std::uint32_t type) {
  switch (type) {
    case 0x00000000:
      return "EV_PREBOOT_CERT";
    case 0x00000001:
      return "EV_POST_CODE";
    case 0x00000002:
      return "EV_UNUSED";
    case 0x00000003:
      return "EV_NO_ACTION";
    case 0x00000004:
      return "EV_SEPARATOR";
    case 0x00000005:
      return "EV_ACTION";
    case 0x00000006:
      return "EV_EVENT_TAG";
    case 0x00000007:
      return "EV_S_CRTM_CONTENTS";
    case 0x00000008:
      return "EV_S_CRTM_VERSION";
    case 0x00000009:
      return "EV_CPU_MICROCODE";
    case 0x0000000a:
      return "EV_PLATFORM_CONFIG_FLAGS";
    case 0x0000000b:
      return "EV_TABLE_OF_DEVICES";
    case 0x0000000c:
      return "EV_COMPACT_HASH";
    case 0x0000000d:
      return "EV_IPL";
    case 0x0000000e:
      return "EV_IPL_PARTITION_DATA";
    case 0x0000000f:
      return "EV_NONHOST_CODE";
    case 0x00000010:
      return "EV_NONHOST_CONFIG";
    case 0x00000011:
      return "EV_NONHOST_INFO";
    case 0x00000012:
      return "EV_OMIT_BOOT_DEVICE_EVENTS";
    case 0x00000013:
      return "EV_POST_CODE2";
    case 0x80000000:
      return "EV_EFI_EVENT_BASE";
    case 0x80000001:
      return "EV_EFI_VARIABLE_DRIVER_CONFIG";
    case 0x80000002:
      return "EV_EFI_VARIABLE_BOOT";
    case 0x80000003:
      return "EV_EFI_BOOT_SERVICES_APPLICATION";
    case 0x80000004:
      return "EV_EFI_BOOT_SERVICES_DRIVER";
    case 0x80000005:
      return "EV_EFI_RUNTIME_SERVICES_DRIVER";
    case 0x80000006:
      return "EV_EFI_GPT_EVENT";
    case 0x80000007:
      return "EV_EFI_ACTION";
    case 0x80000008:
      return "EV_EFI_PLATFORM_FIRMWARE_BLOB";
    case 0x80000009:
      return "EV_EFI_HANDOFF_TABLES";
    case 0x8000000a:
      return "EV_EFI_PLATFORM_FIRMWARE_BLOB2";
    case 0x8000000b:
      return "EV_EFI_HANDOFF_TABLES2";
    case 0x8000000c:
      return "EV_EFI_VARIABLE_BOOT2";
    case 0x8000000d:
      return "EV_EFI_GPT_EVENT2";
    case 0x80000010:
      return "EV_EFI_HCRTM_EVENT";
    case 0x800000e0:
      return "EV_EFI_VARIABLE_AUTHORITY";
    case 0x800000e1:
      return "EV_EFI_SPDM_FIRMWARE_BLOB";
    case 0x800000e2:
      return "EV_EFI_SPDM_FIRMWARE_CONFIG";
    default:
      return {};
  }
}

}  // namespace Tcg
}  // namespace Trustd
