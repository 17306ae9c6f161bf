// Reading and writing the log's bytes: one TCG_PCR_EVENT holding the
// "Spec ID Event03" structure, then TCG_PCR_EVENT2 records, little-endian.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include <trustd/eventlog/event_log.hpp>

#include "hash.hpp"

namespace Trustd {
namespace Tcg {

namespace {

constexpr char kHeaderSignature[16] = "Spec ID Event03";
constexpr char kStartupLocalitySignature[16] = "StartupLocality";
// pcrIndex, eventType, SHA-1 digest, eventSize.
constexpr std::size_t kHeaderEventFixedSize = 4 + 4 + 20 + 4;
// signature, platformClass, four version bytes, numberOfAlgorithms, one
// algorithm, vendorInfoSize.
constexpr std::size_t kMinHeaderDataSize = 16 + 4 + 4 + 4 + 4 + 1;
// There are far fewer hash algorithms than this; a larger count is garbage.
constexpr std::uint32_t kMaxAlgorithms = 16;
// TPMU_HA's largest member (SHA-512).
constexpr std::uint16_t kMaxDigestSize = 64;

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

std::string Where(std::size_t index, std::size_t offset) {
  return "event " + std::to_string(index) + " at offset " + std::to_string(offset) + ": ";
}

// Little-endian fields from a byte range; every read checks what is left.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Position() const { return position_; }
  std::size_t Left() const { return size_ - position_; }
  bool Has(std::size_t count) const { return Left() >= count; }

  std::uint8_t U8() { return data_[position_++]; }
  std::uint16_t U16() {
    const std::uint16_t value = static_cast<std::uint16_t>(data_[position_] | data_[position_ + 1] << 8);
    position_ += 2;
    return value;
  }
  std::uint32_t U32() {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | data_[position_ + static_cast<std::size_t>(i)];
    position_ += 4;
    return value;
  }
  Bytes Take(std::size_t count) {
    Bytes out(data_ + position_, data_ + position_ + count);
    position_ += count;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

class Writer {
 public:
  void U8(std::uint8_t value) { out_.push_back(value); }
  void U16(std::uint16_t value) {
    U8(static_cast<std::uint8_t>(value));
    U8(static_cast<std::uint8_t>(value >> 8));
  }
  void U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void Put(const std::uint8_t* data, std::size_t size) { out_.insert(out_.end(), data, data + size); }
  void Put(const Bytes& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  std::size_t Size() const { return out_.size(); }
  Bytes Done() { return std::move(out_); }

 private:
  Bytes out_;
};

// What makes a header unusable, empty when it is fine.
std::string HeaderProblem(const Header& header) {
  const auto count = header.algorithms.size();
  if (count == 0) return "the header lists no algorithm";
  if (count > kMaxAlgorithms) return "the header lists " + std::to_string(count) + " algorithms";
  for (std::size_t i = 0; i < count; ++i) {
    const Algorithm& a = header.algorithms[i];
    for (std::size_t j = 0; j < i; ++j) {
      if (header.algorithms[j].id == a.id) return "the header lists algorithm " + Hex16(a.id) + " twice";
    }
    if (a.digestSize == 0 || a.digestSize > kMaxDigestSize) {
      return "the header gives algorithm " + Hex16(a.id) + " a digest size of " +
             std::to_string(a.digestSize);
    }
    const std::size_t known = KnownDigestSize(a.id);
    if (known != 0 && known != a.digestSize) {
      return "the header gives " + AlgorithmName(a.id) + " a digest size of " + std::to_string(a.digestSize) +
             ", not " + std::to_string(known);
    }
  }
  if (header.vendorInfo.size() > 255) return "the vendor information is longer than 255 bytes";
  return {};
}

const Algorithm* FindAlgorithm(const Header& header, std::uint16_t id) {
  for (const Algorithm& a : header.algorithms) {
    if (a.id == id) return &a;
  }
  return nullptr;
}

// What makes an event's digests unwritable, empty when they are fine.
std::string DigestsProblem(const Header& header, const std::vector<Digest>& digests) {
  if (digests.size() != header.algorithms.size()) {
    return std::to_string(digests.size()) + " digests, the header lists " +
           std::to_string(header.algorithms.size()) + " algorithms";
  }
  for (std::size_t i = 0; i < digests.size(); ++i) {
    const Algorithm* algorithm = FindAlgorithm(header, digests[i].algorithmId);
    if (algorithm == nullptr) {
      return "a digest of algorithm " + Hex16(digests[i].algorithmId) + ", which the header does not list";
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (digests[j].algorithmId == digests[i].algorithmId) {
        return "two digests of algorithm " + Hex16(digests[i].algorithmId);
      }
    }
    if (digests[i].bytes.size() != algorithm->digestSize) {
      return "a digest of algorithm " + Hex16(algorithm->id) + " of " +
             std::to_string(digests[i].bytes.size()) + " bytes, not " + std::to_string(algorithm->digestSize);
    }
  }
  return {};
}

Result<Header> DecodeHeader(Reader& in) {
  using R = Result<Header>;
  const std::size_t total = in.Left();
  const auto cut = [total](std::size_t needed) {
    return R::Failure("the log ends inside its header: " + std::to_string(total) +
                      " bytes, the header needs " + std::to_string(needed));
  };
  if (total == 0) return R::Failure("the log is empty");
  if (!in.Has(kHeaderEventFixedSize)) return cut(kHeaderEventFixedSize);
  const std::uint32_t pcr = in.U32();
  const std::uint32_t type = in.U32();
  const Bytes sha1 = in.Take(20);
  const std::uint32_t eventSize = in.U32();
  const std::string where = Where(0, 0);
  if (pcr != 0 || type != kEvNoAction) {
    return R::Failure(where + "the first event is not an EV_NO_ACTION in PCR 0 (pcr " + std::to_string(pcr) +
                      ", type " + std::to_string(type) + ")");
  }
  if (std::any_of(sha1.begin(), sha1.end(), [](std::uint8_t b) { return b != 0; })) {
    return R::Failure(where + "the first event's digest is not zero");
  }
  if (eventSize < kMinHeaderDataSize) {
    return R::Failure(where + "an event size of " + std::to_string(eventSize) +
                      " is too small for the header");
  }
  if (!in.Has(eventSize)) return cut(kHeaderEventFixedSize + eventSize);
  const std::size_t end = in.Position() + eventSize;

  const Bytes signature = in.Take(16);
  if (std::memcmp(signature.data(), kHeaderSignature, 16) != 0) {
    return R::Failure(where + "no \"Spec ID Event03\" signature: not a crypto-agile log");
  }
  Header header;
  header.platformClass = in.U32();
  header.versionMinor = in.U8();
  header.versionMajor = in.U8();
  header.errata = in.U8();
  header.uintnSize = in.U8();
  const std::uint32_t count = in.U32();
  // Each algorithm takes 4 bytes, and the vendor information's size 1.
  if (count == 0 || count > kMaxAlgorithms || count > (end - in.Position() - 1) / 4) {
    return R::Failure(where + "the header lists " + std::to_string(count) + " algorithms in an event of " +
                      std::to_string(eventSize) + " bytes");
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    Algorithm algorithm;
    algorithm.id = in.U16();
    algorithm.digestSize = in.U16();
    header.algorithms.push_back(algorithm);
  }
  const std::uint8_t vendorSize = in.U8();
  if (vendorSize != end - in.Position()) {
    return R::Failure(where + "the header's event size " + std::to_string(eventSize) +
                      " does not match its " + std::to_string(vendorSize) + " bytes of vendor information");
  }
  header.vendorInfo = in.Take(vendorSize);
  const std::string problem = HeaderProblem(header);
  if (!problem.empty()) return R::Failure(where + problem);
  return R::Success(std::move(header));
}

void EncodeHeader(const Header& header, Writer& out) {
  out.U32(0);
  out.U32(kEvNoAction);
  for (int i = 0; i < 20; ++i) out.U8(0);
  out.U32(static_cast<std::uint32_t>(16 + 4 + 4 + 4 + 4 * header.algorithms.size() + 1 +
                                     header.vendorInfo.size()));
  out.Put(reinterpret_cast<const std::uint8_t*>(kHeaderSignature), 16);
  out.U32(header.platformClass);
  out.U8(header.versionMinor);
  out.U8(header.versionMajor);
  out.U8(header.errata);
  out.U8(header.uintnSize);
  out.U32(static_cast<std::uint32_t>(header.algorithms.size()));
  for (const Algorithm& a : header.algorithms) {
    out.U16(a.id);
    out.U16(a.digestSize);
  }
  out.U8(static_cast<std::uint8_t>(header.vendorInfo.size()));
  out.Put(header.vendorInfo);
}

// Writes the log; `offsets` (when given) receives each event's offset.
Result<Bytes> EncodeAt(const Log& log, std::vector<std::size_t>* offsets) {
  using R = Result<Bytes>;
  const std::string problem = HeaderProblem(log.header);
  if (!problem.empty()) return R::Failure(Where(0, 0) + problem);
  Writer out;
  EncodeHeader(log.header, out);
  for (std::size_t i = 0; i < log.events.size(); ++i) {
    const Event& event = log.events[i];
    const std::string digests = DigestsProblem(log.header, event.digests);
    if (!digests.empty()) return R::Failure(Where(i + 1, out.Size()) + digests);
    if (event.data.size() > std::numeric_limits<std::uint32_t>::max()) {
      return R::Failure(Where(i + 1, out.Size()) + "more than 4 GiB of data");
    }
    if (offsets != nullptr) offsets->push_back(out.Size());
    out.U32(event.pcr);
    out.U32(event.type);
    out.U32(static_cast<std::uint32_t>(event.digests.size()));
    for (const Digest& digest : event.digests) {
      out.U16(digest.algorithmId);
      out.Put(digest.bytes);
    }
    out.U32(static_cast<std::uint32_t>(event.data.size()));
    out.Put(event.data);
  }
  return R::Success(out.Done());
}

}  // namespace

const Bytes* Event::DigestOf(std::uint16_t algorithmId) const {
  for (const Digest& digest : digests) {
    if (digest.algorithmId == algorithmId) return &digest.bytes;
  }
  return nullptr;
}

bool operator==(const Algorithm& a, const Algorithm& b) {
  return a.id == b.id && a.digestSize == b.digestSize;
}
bool operator==(const Header& a, const Header& b) {
  return a.platformClass == b.platformClass && a.versionMinor == b.versionMinor &&
         a.versionMajor == b.versionMajor && a.errata == b.errata && a.uintnSize == b.uintnSize &&
         a.algorithms == b.algorithms && a.vendorInfo == b.vendorInfo;
}
bool operator==(const Digest& a, const Digest& b) {
  return a.algorithmId == b.algorithmId && a.bytes == b.bytes;
}
bool operator==(const Event& a, const Event& b) {
  return a.index == b.index && a.offset == b.offset && a.pcr == b.pcr && a.type == b.type &&
         a.digests == b.digests && a.data == b.data;
}
bool operator==(const Log& a, const Log& b) {
  return a.header == b.header && a.events == b.events && a.truncatedAt == b.truncatedAt;
}

Result<Log> Decode(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  using R = Result<Log>;
  Reader in(data, data == nullptr ? 0 : size);
  auto header = DecodeHeader(in);
  if (!header) return R::Failure(header.Error());
  Log log;
  log.header = std::move(header).Value();
  const std::size_t algorithms = log.header.algorithms.size();

  while (in.Left() > 0) {
    Event event;
    event.index = log.events.size() + 1;
    event.offset = in.Position();
    const std::string where = Where(event.index, event.offset);
    // A field that runs past the end is a cut log; a field whose value
    // cannot be right is an error, even when the log is also cut.
    bool whole = in.Has(12);
    if (whole) {
      event.pcr = in.U32();
      event.type = in.U32();
      const std::uint32_t count = in.U32();
      if (count != algorithms) {
        return R::Failure(where + std::to_string(count) + " digests, the header lists " +
                          std::to_string(algorithms) + " algorithms");
      }
      for (std::uint32_t i = 0; whole && i < count; ++i) {
        whole = in.Has(2);
        if (!whole) break;
        Digest digest;
        digest.algorithmId = in.U16();
        const Algorithm* algorithm = FindAlgorithm(log.header, digest.algorithmId);
        if (algorithm == nullptr) {
          return R::Failure(where + "a digest of algorithm " + Hex16(digest.algorithmId) +
                            ", which the header does not list");
        }
        if (event.DigestOf(digest.algorithmId) != nullptr) {
          return R::Failure(where + "two digests of algorithm " + Hex16(digest.algorithmId));
        }
        whole = in.Has(algorithm->digestSize);
        if (whole) digest.bytes = in.Take(algorithm->digestSize);
        event.digests.push_back(std::move(digest));
      }
    }
    if (whole && (whole = in.Has(4))) {
      const std::uint32_t dataSize = in.U32();
      if (dataSize > limits.maxEventDataSize) {
        return R::Failure(where + "an event size of " + std::to_string(dataSize) + " bytes, more than the " +
                          std::to_string(limits.maxEventDataSize) + " allowed");
      }
      whole = in.Has(dataSize);
      if (whole) event.data = in.Take(dataSize);
    }
    if (!whole) {
      log.truncatedAt = event.offset;
      break;
    }
    log.events.push_back(std::move(event));
  }
  return R::Success(std::move(log));
}

Result<Log> Decode(const Bytes& bytes, const DecodeLimits& limits) {
  return Decode(bytes.data(), bytes.size(), limits);
}

Result<Bytes> Encode(const Log& log) { return EncodeAt(log, nullptr); }

Result<Log> MakeLog(const std::vector<std::uint16_t>& algorithms, const std::vector<NewEvent>& events) {
  using R = Result<Log>;
  Log log;
  for (const std::uint16_t id : algorithms) {
    const std::size_t size = KnownDigestSize(id);
    if (size == 0) return R::Failure("algorithm " + Hex16(id) + " has no known digest size");
    log.header.algorithms.push_back(Algorithm{id, static_cast<std::uint16_t>(size)});
  }
  for (const NewEvent& spec : events) {
    Event event;
    event.index = log.events.size() + 1;
    event.pcr = spec.pcr;
    event.type = spec.type;
    event.data = spec.data;
    if (spec.digests) {
      event.digests = *spec.digests;
    } else {
      for (const Algorithm& a : log.header.algorithms) {
        std::optional<Bytes> digest = Bytes(a.digestSize, 0);
        if (spec.type != kEvNoAction) digest = Detail::Hash(a.id, spec.data);
        if (!digest) return R::Failure("cannot compute " + AlgorithmName(a.id) + " digests here");
        event.digests.push_back(Digest{a.id, std::move(*digest)});
      }
    }
    log.events.push_back(std::move(event));
  }
  std::vector<std::size_t> offsets;
  const auto bytes = EncodeAt(log, &offsets);
  if (!bytes) return R::Failure(bytes.Error());
  for (std::size_t i = 0; i < log.events.size(); ++i) log.events[i].offset = offsets[i];
  return R::Success(std::move(log));
}

Bytes StartupLocalityData(std::uint8_t locality) {
  Bytes data(kStartupLocalitySignature, kStartupLocalitySignature + 16);
  data.push_back(locality);
  return data;
}

}  // namespace Tcg
}  // namespace Trustd
