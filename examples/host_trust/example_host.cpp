// The example host's seed. Key material, digests and certificates are
// made-up bytes in the right shapes and sizes (DER headers, PEM armour,
// event-log framing), derived from fixed labels so every run prints the same.
#include <cstdint>
#include <string>
#include <utility>

#include "host_model.hpp"
#include "messages.hpp"

namespace host_trust {
namespace {

// ---- Deterministic bytes ------------------------------------------------

// `size` pseudo-random bytes determined by `label` (FNV-1a seed, splitmix64
// stream).
Bytes Pseudo(const std::string& label, std::size_t size) {
  std::uint64_t state = 14695981039346656037ull;
  for (unsigned char c : label) state = (state ^ c) * 1099511628211ull;
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    for (int i = 0; i < 8 && out.size() < size; ++i) out.push_back(static_cast<unsigned char>(z >> (8 * i)));
  }
  return out;
}

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::string Base64(const Bytes& data, bool url) {
  const char* alphabet = url ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
                             : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
    for (int shift : {18, 12, 6, 0}) out += alphabet[(v >> shift) & 63];
  }
  if (i < data.size()) {
    const unsigned v = data[i] << 16 | (i + 1 < data.size() ? data[i + 1] << 8 : 0);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    if (i + 1 < data.size()) out += alphabet[(v >> 6) & 63];
    if (!url) out += i + 1 < data.size() ? "=" : "==";
  }
  return out;
}

std::string Base64Url(const std::string& text) { return Base64(Bytes(text.begin(), text.end()), true); }

std::string Pem(const std::string& label, const Bytes& der) {
  const std::string body = Base64(der, false);
  std::string out = "-----BEGIN " + label + "-----\n";
  for (std::size_t i = 0; i < body.size(); i += 64) out += body.substr(i, 64) + "\n";
  return out + "-----END " + label + "-----\n";
}

// A certificate-shaped DER blob: SEQUENCE { TBSCertificate { [0] v3 ... } }.
std::string CertificatePem(const std::string& label, std::size_t size) {
  const std::size_t body = size - 4;
  const Bytes head = {0x30,
                      0x82,
                      static_cast<unsigned char>(body >> 8),
                      static_cast<unsigned char>(body & 0xff),
                      0x30,
                      0x82,
                      static_cast<unsigned char>((body - 300) >> 8),
                      static_cast<unsigned char>((body - 300) & 0xff),
                      0xa0,
                      0x03,
                      0x02,
                      0x01,
                      0x02};
  return Pem("CERTIFICATE", Concat(head, Pseudo(label, size - head.size())));
}

// ---- TPM ----------------------------------------------------------------

std::size_t DigestSize(HashAlgorithm algorithm) { return algorithm == HashAlgorithm::kSha256 ? 32 : 48; }

// Registers as a measured boot leaves them: firmware and boot loader
// (0-9), IMA (10) and the shim's MOK list (14) extended; the dynamic-root
// registers 17-22 still at their reset value of all ones; the rest unused.
PcrBank MakeBank(HashAlgorithm algorithm) {
  const std::size_t size = DigestSize(algorithm);
  const std::string name = algorithm == HashAlgorithm::kSha256 ? "sha256" : "sha384";
  PcrBank bank;
  bank.algorithm = algorithm;
  for (int index = 0; index < 24; ++index) {
    if (index <= 10 || index == 14) {
      bank.registers[index] = Pseudo("pcr/" + name + "/" + std::to_string(index), size);
    } else if (index >= 17 && index <= 22) {
      bank.registers[index] = Bytes(size, 0xff);
    } else {
      bank.registers[index] = Bytes(size, 0x00);
    }
  }
  return bank;
}

EndorsementKey RsaEndorsementKey() {
  // SubjectPublicKeyInfo { rsaEncryption, RSAPublicKey { modulus (2048 bits), 65537 } }.
  const Bytes head = {0x30, 0x82, 0x01, 0x22, 0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48,
                      0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01, 0x05, 0x00, 0x03, 0x82, 0x01,
                      0x0f, 0x00, 0x30, 0x82, 0x01, 0x0a, 0x02, 0x82, 0x01, 0x01, 0x00};
  Bytes modulus = Pseudo("ek/rsa2048/modulus", 256);
  modulus[0] |= 0x80;
  const Bytes exponent = {0x02, 0x03, 0x01, 0x00, 0x01};

  EndorsementKey key;
  key.id = "ek-rsa2048";
  key.type = EndorsementKey::Type::kRsa2048;
  key.publicKeyPem = Pem("PUBLIC KEY", Concat(Concat(head, modulus), exponent));
  key.certificatePem = CertificatePem("ek/rsa2048/certificate", 1186);
  return key;
}

EndorsementKey EccEndorsementKey() {
  // SubjectPublicKeyInfo { id-ecPublicKey, prime256v1, uncompressed point }.
  const Bytes head = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                      0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

  EndorsementKey key;
  key.id = "ek-eccp256";
  key.type = EndorsementKey::Type::kEccNistP256;
  key.publicKeyPem = Pem("PUBLIC KEY", Concat(head, Pseudo("ek/eccp256/point", 64)));
  key.manufacturerCertificateUri = "https://pki.tpm-vendor.example/EccMfrCA036/ek-eccp256-8d3f21c9.crt";
  return key;
}

void PutLe(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A TCG crypto-agile event log: the SHA-1-format header event carrying the
// "Spec ID Event03" structure that announces both banks, then one
// TCG_PCR_EVENT2 per measurement with a SHA-256 and a SHA-384 digest.
Bytes MakeEventLog() {
  constexpr std::uint32_t kNoAction = 0x3, kSeparator = 0x4, kCrtmVersion = 0x8, kIpl = 0xd;
  constexpr std::uint32_t kFirmwareBlob = 0x80000008, kVariableDriverConfig = 0x80000001,
                          kBootServicesApplication = 0x80000003, kGptEvent = 0x80000006;
  constexpr std::uint16_t kSha256 = 0x000b, kSha384 = 0x000c;

  Bytes specId = {'S', 'p', 'e', 'c', ' ', 'I', 'D', ' ', 'E', 'v', 'e', 'n', 't', '0', '3', 0};
  PutLe(specId, 0, 4);                        // platform class: client
  specId.insert(specId.end(), {0, 2, 0, 2});  // version 2.0, errata 0, UINTN of 2 words
  PutLe(specId, 2, 4);                        // algorithms
  PutLe(specId, kSha256, 2);
  PutLe(specId, 32, 2);
  PutLe(specId, kSha384, 2);
  PutLe(specId, 48, 2);
  specId.push_back(0);  // no vendor information

  Bytes log;
  PutLe(log, 0, 4);  // PCR
  PutLe(log, kNoAction, 4);
  log.insert(log.end(), 20, 0);  // SHA-1 digest slot, unused
  PutLe(log, static_cast<std::uint32_t>(specId.size()), 4);
  log.insert(log.end(), specId.begin(), specId.end());

  int sequence = 0;
  auto event = [&](std::uint32_t pcr, std::uint32_t type, const Bytes& data) {
    const std::string label = "event/" + std::to_string(sequence++);
    PutLe(log, pcr, 4);
    PutLe(log, type, 4);
    PutLe(log, 2, 4);  // digests
    PutLe(log, kSha256, 2);
    const Bytes sha256 = Pseudo(label + "/sha256", 32);
    log.insert(log.end(), sha256.begin(), sha256.end());
    PutLe(log, kSha384, 2);
    const Bytes sha384 = Pseudo(label + "/sha384", 48);
    log.insert(log.end(), sha384.begin(), sha384.end());
    PutLe(log, static_cast<std::uint32_t>(data.size()), 4);
    log.insert(log.end(), data.begin(), data.end());
  };
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  auto utf16 = [](const std::string& s) {
    Bytes out;
    for (char c : s) out.insert(out.end(), {static_cast<unsigned char>(c), 0});
    return Concat(out, {0, 0});
  };
  Bytes firmwareBlob;  // UEFI_PLATFORM_FIRMWARE_BLOB: base, length
  PutLe(firmwareBlob, 0xff820000u, 4);
  PutLe(firmwareBlob, 0, 4);
  PutLe(firmwareBlob, 0x007e0000u, 4);
  PutLe(firmwareBlob, 0, 4);

  event(0, kCrtmVersion, utf16("1.769"));
  event(0, kFirmwareBlob, firmwareBlob);
  event(7, kVariableDriverConfig, text("SecureBoot=01"));
  event(7, kVariableDriverConfig, text("PK=<platform key, 1 entry>"));
  event(7, kVariableDriverConfig, text("db=<allowed signatures, 4 entries>"));
  for (std::uint32_t pcr = 0; pcr <= 7; ++pcr) event(pcr, kSeparator, Bytes(4, 0));
  event(5, kGptEvent, text("EFI PART <GUID partition table, 3 partitions>"));
  event(4, kBootServicesApplication, text("\\EFI\\BOOT\\BOOTX64.EFI"));
  event(4, kBootServicesApplication, text("\\EFI\\debian\\grubx64.efi"));
  event(8, kIpl, text("grub_cmd: linux /vmlinuz-6.1.0-21-amd64 root=UUID=2b7f3c1e ro quiet"));
  event(9, kIpl, text("/vmlinuz-6.1.0-21-amd64"));
  event(9, kIpl, text("/initrd.img-6.1.0-21-amd64"));
  return log;
}

Tpm MakeTpm() {
  Tpm tpm;
  tpm.id = "tpm0";
  tpm.majorVersion = 2;
  tpm.minorVersion = 0;
  tpm.active = true;
  tpm.manufacturer = "Infineon Technologies";
  tpm.model = "SLB 9672";
  tpm.firmwareVersion = "16.13.18457.0";
  tpm.banks = {MakeBank(HashAlgorithm::kSha256), MakeBank(HashAlgorithm::kSha384)};
  tpm.endorsementKeys = {RsaEndorsementKey(), EccEndorsementKey()};
  tpm.eventLog.tcgCryptoAgile = MakeEventLog();
  tpm.eventLog.truncated = false;
  return tpm;
}

// ---- Configuration ------------------------------------------------------

std::string RootCaPem() { return CertificatePem("ca/corp-root", 1380); }

AttestationService MakeAttestationService(const std::string& region) {
  AttestationService service;
  service.address = Endpoint{"attest." + region + ".corp.example", 8443};
  service.trustedCaPem = {RootCaPem(), CertificatePem("ca/attestation-" + region, 1122)};
  service.group = "production";
  return service;
}

AttestationReport MakeReport() {
  const std::string header = R"({"alg":"PS384","kid":"attest-eu-west-2024","typ":"JWT"})";
  const std::string claims =
      R"({"iss":"https://attest.eu-west.corp.example","sub":"host-01.corp.example","iat":1718006400,)"
      R"("exp":1718092800,"tpm":"tpm0","secureboot":true,"pcr_bank":"SHA384","verdict":"trusted"})";
  AttestationReport report;
  report.id = "report-0001";
  report.serviceId = "as-0001";
  report.group = "production";
  report.jwt =
      Base64Url(header) + "." + Base64Url(claims) + "." + Base64(Pseudo("report/signature", 384), true);
  return report;
}

KeyProvider NativeKeyProvider() {
  KeyProvider provider;
  provider.id = "kp-native-01";
  provider.kind = KeyProvider::Kind::kNative;
  provider.keyId = "kek-2024-q2";
  provider.keyDerivationKey = Tovri::SecretString(Base64(Pseudo("kp/native-01/kdk", 32), false));
  provider.available = true;
  provider.health = Health::kOk;
  provider.details = {messages::Make(messages::kKeyLoaded, provider.keyId, "1284")};
  return provider;
}

KeyProvider TrustAuthorityKeyProvider() {
  KeyProvider provider;
  provider.id = "kp-trust-authority";
  provider.kind = KeyProvider::Kind::kTrustAuthority;
  provider.available = false;
  provider.health = Health::kWarning;
  provider.details = {messages::Make(messages::kAuthorityUnreachable, "attest.eu-west.corp.example:8443",
                                     "2024-06-10 08:15 UTC"),
                      messages::Make(messages::kServingFromCache, "2024-06-10 08:15 UTC")};
  return provider;
}

KeyServer MakeKeyServer() {
  KeyServer server;
  server.address = Endpoint{"kms.corp.example", 5696};  // KMIP
  server.trustedCaPem = {RootCaPem(), CertificatePem("ca/kms", 1098)};
  server.apiClient =
      ApiClient{"host-01-kmip", std::string("Host 01 KMIP client"), std::string("hosts-eu-west"),
                Tovri::SecretString(Base64(Pseudo("ks/host-01/secret", 24), false))};
  server.group = "production";
  return server;
}

}  // namespace

std::shared_ptr<HostModel> MakeExampleHost() {
  auto host = std::make_shared<HostModel>();
  host->AddTpm(MakeTpm());
  std::string id;
  host->AddAttestationService(MakeAttestationService("eu-west"), id);  // as-0001
  host->AddAttestationService(MakeAttestationService("us-east"), id);  // as-0002
  host->AddAttestationReport(MakeReport());
  host->AddKeyProvider(NativeKeyProvider());
  host->AddKeyProvider(TrustAuthorityKeyProvider());
  host->AddKeyServer(MakeKeyServer(), id);  // ks-0001
  return host;
}

}  // namespace host_trust
