// The event log codec without a TPM: writer and reader agree, every cut of
// a log reads as its whole events plus the cut, malformed logs are refused
// with the event and offset named, replay against digests computed apart.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>

#include <trustd/eventlog/event_log.hpp>

#include "sample_log.hpp"
#include "support/checks.hpp"

namespace Trustd {
namespace {

using Tcg::Bytes;
using Testing::Text;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

Tcg::Log FirmwareLog(int locality = 3) {
  auto log = Tcg::MakeLog({Tcg::kSha256, Tcg::kSha384}, Testing::FirmwareEvents(locality));
  EXPECT_TRUE(log) << log.Error();
  return log.Value();
}

Bytes Encoded(const Tcg::Log& log) {
  auto bytes = Tcg::Encode(log);
  EXPECT_TRUE(bytes) << bytes.Error();
  return bytes.Value();
}

TEST(Codec, FirmwareLogReadsBackAsWritten) {
  const Tcg::Log log = FirmwareLog();
  const Bytes bytes = Encoded(log);
  const auto decoded = Tcg::Decode(bytes);
  ASSERT_TRUE(decoded) << decoded.Error();
  EXPECT_TRUE(decoded.Value() == log);
  EXPECT_FALSE(decoded.Value().truncatedAt);
  EXPECT_EQ(Encoded(decoded.Value()), bytes);

  const auto& header = decoded.Value().header;
  ASSERT_EQ(header.algorithms.size(), 2u);
  EXPECT_EQ(header.algorithms[0].digestSize, 32);
  EXPECT_EQ(header.algorithms[1].digestSize, 48);
  const auto& events = decoded.Value().events;
  ASSERT_EQ(events.size(), 16u);
  // Independently of the writer: each digest is the data's, except the
  // unmeasured EV_NO_ACTION's, which are zeros.
  for (const auto& event : events) {
    SCOPED_TRACE(event.index);
    const bool noAction = event.TypeName() == "EV_NO_ACTION";
    EXPECT_EQ(*event.DigestOf(Tcg::kSha256), noAction ? Bytes(32, 0) : Testing::Digest("SHA256", event.data));
    EXPECT_EQ(*event.DigestOf(Tcg::kSha384), noAction ? Bytes(48, 0) : Testing::Digest("SHA384", event.data));
  }
  EXPECT_EQ(events[0].offset, 69u);  // after the 32 + 37 bytes of the header event
  EXPECT_EQ(events[0].index, 1u);
  EXPECT_EQ(events[0].data, FromHex("537461727475704c6f63616c697479"
                                    "0003"));
  EXPECT_EQ(events[4].TypeName(), "EV_EFI_ACTION");
  EXPECT_EQ(events[5].TypeName(), "EV_SEPARATOR");
  EXPECT_EQ(Tcg::EventTypeName(0x12345), "");

  // The TPM sees every event but the EV_NO_ACTION one, in order.
  const auto extensions = Tcg::Extensions(decoded.Value());
  ASSERT_EQ(extensions.size(), 15u);
  EXPECT_EQ(extensions.front().eventIndex, 2u);
  EXPECT_EQ(extensions.back().pcr, 8u);
}

TEST(Codec, HeaderFieldsDigestOrderAndUnknownAlgorithmsSurvive) {
  // Another producer's choices: vendor bytes, a 32-bit UINTN, digests in
  // another order than the header's, and an algorithm this code cannot hash.
  Tcg::Log log;
  log.header.platformClass = 1;
  log.header.versionMinor = 0;
  log.header.errata = 2;
  log.header.uintnSize = 1;
  log.header.algorithms = {{Tcg::kSha1, 20}, {0x0027, 32}};
  log.header.vendorInfo = Text("vendor");
  Tcg::Event event;
  event.pcr = 14;
  event.type = 0xdeadbeef;
  event.digests = {{0x0027, Bytes(32, 0xaa)}, {Tcg::kSha1, Bytes(20, 0xbb)}};
  event.data = Bytes(300, 7);
  log.events = {event, event};
  const Bytes bytes = Encoded(log);
  const auto decoded = Tcg::Decode(bytes);
  ASSERT_TRUE(decoded) << decoded.Error();
  EXPECT_TRUE(decoded.Value().header == log.header);
  ASSERT_EQ(decoded.Value().events.size(), 2u);
  EXPECT_TRUE(decoded.Value().events[1].digests == event.digests);
  EXPECT_EQ(Encoded(decoded.Value()), bytes);

  const auto replayed = Tcg::Replay(decoded.Value());
  ASSERT_TRUE(replayed) << replayed.Error();
  EXPECT_EQ(replayed.Value().notReplayed, std::vector<std::uint16_t>{0x0027});
  EXPECT_EQ(replayed.Value().banks.size(), 1u);
}

TEST(Codec, EveryCutReadsAsTheWholeEventsBeforeIt) {
  const Tcg::Log log = FirmwareLog();
  const Bytes bytes = Encoded(log);
  const std::size_t headerSize = log.events[0].offset;
  for (std::size_t size = 0; size <= bytes.size(); ++size) {
    SCOPED_TRACE(size);
    const auto decoded = Tcg::Decode(bytes.data(), size);
    if (size < headerSize) {
      ASSERT_FALSE(decoded);
      EXPECT_NE(decoded.Error().find(size == 0 ? "empty" : "ends inside its header"), std::string::npos)
          << decoded.Error();
      continue;
    }
    ASSERT_TRUE(decoded) << decoded.Error();
    std::size_t whole = 0;
    while (whole < log.events.size() &&
           (whole + 1 < log.events.size() ? log.events[whole + 1].offset : bytes.size()) <= size) {
      ++whole;
    }
    ASSERT_EQ(decoded.Value().events.size(), whole);
    for (std::size_t i = 0; i < whole; ++i) EXPECT_TRUE(decoded.Value().events[i] == log.events[i]);
    const bool boundary =
        whole == log.events.size() ? size == bytes.size() : size == log.events[whole].offset;
    if (boundary) {
      EXPECT_FALSE(decoded.Value().truncatedAt);
    } else {
      EXPECT_EQ(decoded.Value().truncatedAt, log.events[whole].offset);
    }
  }
}

TEST(Codec, MalformedLogsAreRefusedWithTheirPlace) {
  const Tcg::Log log = FirmwareLog();
  const Bytes good = Encoded(log);
  const std::size_t third = log.events[2].offset;  // event 3
  const std::string at3 = "event 3 at offset " + std::to_string(third) + ": ";
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    std::string error;  // empty: reads, truncated at `truncatedAt`
    std::size_t truncatedAt = 0;
  };
  const Case cases[] = {
      {"empty", [](Bytes& b) { b.clear(); }, "the log is empty"},
      {"cut in the header", [](Bytes& b) { b.resize(40); },
       "ends inside its header: 40 bytes, the header needs 69"},
      {"cut in the fixed header fields", [](Bytes& b) { b.resize(31); }, "ends inside its header: 31 bytes"},
      {"wrong signature", [](Bytes& b) { b[46] = '2'; },
       "event 0 at offset 0: no \"Spec ID Event03\" signature"},
      {"first event not EV_NO_ACTION", [](Bytes& b) { PutU32(b, 4, 4); }, "not an EV_NO_ACTION in PCR 0"},
      {"first event's digest set", [](Bytes& b) { b[10] = 1; }, "digest is not zero"},
      {"header size too small", [](Bytes& b) { PutU32(b, 28, 20); }, "too small for the header"},
      {"header size past the end", [](Bytes& b) { PutU32(b, 28, 0x7fffffff); }, "ends inside its header"},
      {"header size beyond its vendor information", [](Bytes& b) { PutU32(b, 28, 38); }, "does not match"},
      {"no algorithm", [](Bytes& b) { PutU32(b, 56, 0); }, "lists 0 algorithms"},
      {"algorithm count huge", [](Bytes& b) { PutU32(b, 56, 0xffffffff); }, "lists 4294967295 algorithms"},
      {"algorithm listed twice", [](Bytes& b) { b[64] = 0x0b; }, "lists algorithm 0x000b twice"},
      {"known algorithm, wrong size", [](Bytes& b) { b[62] = 20; },
       "gives sha256 a digest size of 20, not 32"},
      {"digest size huge",
       [](Bytes& b) {
         b[60] = 0x99;
         b[62] = 0xff;
         b[63] = 0xff;
       },
       "a digest size of 65535"},
      {"digest count huge", [&](Bytes& b) { PutU32(b, third + 8, 0xffffffff); },
       at3 + "4294967295 digests, the header lists 2 algorithms"},
      {"digest count short", [&](Bytes& b) { PutU32(b, third + 8, 1); }, at3 + "1 digests"},
      {"unknown algorithm", [&](Bytes& b) { b[third + 12] = 0x0d; },
       at3 + "a digest of algorithm 0x000d, which the header does not list"},
      {"same algorithm twice", [&](Bytes& b) { b[third + 12 + 2 + 32] = 0x0b; },
       at3 + "two digests of algorithm 0x000b"},
      {"event size huge", [&](Bytes& b) { PutU32(b, third + 12 + 34 + 50, 0xfffffff0); },
       at3 + "an event size of 4294967280 bytes, more than the 16777216 allowed"},
      // Sizes that fit the limits but not the bytes: a log cut there.
      {"event size past the end", [&](Bytes& b) { PutU32(b, third + 12 + 34 + 50, 1000000); }, "", third},
      {"cut in a digest", [&](Bytes& b) { b.resize(third + 20); }, "", third},
      {"cut before the event size", [&](Bytes& b) { b.resize(third + 12 + 34 + 50); }, "", third},
      {"cut in the fixed fields", [&](Bytes& b) { b.resize(third + 5); }, "", third},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.change(bytes);
    const auto decoded = Tcg::Decode(bytes);
    if (c.error.empty()) {
      ASSERT_TRUE(decoded) << decoded.Error();
      EXPECT_EQ(decoded.Value().truncatedAt, c.truncatedAt);
      EXPECT_EQ(decoded.Value().events.size(), 2u);
    } else {
      ASSERT_FALSE(decoded);
      EXPECT_NE(decoded.Error().find(c.error), std::string::npos) << decoded.Error();
    }
  }
}

TEST(Codec, WriterRefusesWhatCouldNotBeReadBack) {
  const Tcg::Log good = FirmwareLog();
  struct Case {
    const char* name;
    std::function<void(Tcg::Log&)> change;
    std::string error;
  };
  const Case cases[] = {
      {"digest missing", [](Tcg::Log& l) { l.events[3].digests.pop_back(); }, "event 4 at offset"},
      {"digest of the wrong size", [](Tcg::Log& l) { l.events[3].digests[0].bytes.push_back(0); },
       "33 bytes, not 32"},
      {"digest of another algorithm", [](Tcg::Log& l) { l.events[3].digests[1].algorithmId = Tcg::kSha1; },
       "0x0004, which the header does not list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tcg::Log log = good;
    c.change(log);
    const auto bytes = Tcg::Encode(log);
    ASSERT_FALSE(bytes);
    EXPECT_NE(bytes.Error().find(c.error), std::string::npos) << bytes.Error();
  }
}

// Expected values from Python's hashlib.
TEST(Replay, StartupLocalityAndUnmeasuredEvents) {
  struct Case {
    const char* name;
    int locality;  // -1: no StartupLocality event
    std::map<std::uint16_t, std::map<std::uint32_t, std::string>> expected;
  };
  const Case cases[] = {
      {"locality 3",
       3,
       {{Tcg::kSha1,
         {{0, "89a203213156e6b52506c8f0e9f9f57ca572bc9f"}, {3, "b2a83b0ebf2f8374299a5b2bdfc31ea955ad7236"}}},
        {Tcg::kSha256,
         {{0, "cbec29c24fb744ae8d5a8119f20f76f72ab27f252b8469f08ba205603af1e49b"},
          {3, "3d458cfe55cc03ea1f443f1562beec8df51c75e14a9fcf9a7234a13f198e7969"}}}}},
      {"no locality event",
       -1,
       {{Tcg::kSha1,
         {{0, "31c7e799f12fc2ddd085dd1da8d50241677acad5"}, {3, "b2a83b0ebf2f8374299a5b2bdfc31ea955ad7236"}}},
        {Tcg::kSha256,
         {{0, "e3ef9c5e01eff8a1d375254d085bbe668d66312107525610f39b7fbb9eb149bc"},
          {3, "3d458cfe55cc03ea1f443f1562beec8df51c75e14a9fcf9a7234a13f198e7969"}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Tcg::NewEvent> events;
    if (c.locality >= 0) events.push_back({0, Tcg::kEvNoAction, Tcg::StartupLocalityData(3), {}});
    events.push_back({0, 1, Text("a"), {}});
    events.push_back({3, Tcg::kEvNoAction, Text("not measured"), {}});
    events.push_back({0, Tcg::kEvSeparator, Bytes(4, 0), {}});
    events.push_back({3, Tcg::kEvSeparator, Bytes(4, 0), {}});
    const auto log = Tcg::MakeLog({Tcg::kSha1, Tcg::kSha256}, events);
    ASSERT_TRUE(log) << log.Error();
    const auto replayed = Tcg::Replay(log.Value());
    ASSERT_TRUE(replayed) << replayed.Error();
    EXPECT_EQ(replayed.Value().startupLocality.has_value(), c.locality >= 0);
    Tcg::Banks expected;
    for (const auto& [algorithm, pcrs] : c.expected) {
      for (const auto& [pcr, hex] : pcrs) expected[algorithm][pcr] = FromHex(hex);
    }
    EXPECT_EQ(replayed.Value().banks, expected);
  }
}

TEST(Replay, LocalityWithoutMeasurementAndMisplacedLocalities) {
  const auto replay = [](const std::vector<Tcg::NewEvent>& events) {
    const auto log = Tcg::MakeLog({Tcg::kSha256}, events);
    EXPECT_TRUE(log) << log.Error();
    return Tcg::Replay(log.Value());
  };
  // An H-CRTM platform: PCR 0 starts at 4 and nothing else happened.
  const auto alone = replay({{0, Tcg::kEvNoAction, Tcg::StartupLocalityData(4), {}}});
  ASSERT_TRUE(alone) << alone.Error();
  Bytes four(32, 0);
  four.back() = 4;
  EXPECT_EQ(alone.Value().banks, (Tcg::Banks{{Tcg::kSha256, {{0, four}}}}));

  const Tcg::NewEvent locality{0, Tcg::kEvNoAction, Tcg::StartupLocalityData(3), {}};
  const Tcg::NewEvent measured{0, 1, Text("x"), {}};
  Bytes longer = Tcg::StartupLocalityData(3);
  longer.push_back(0);
  struct Case {
    const char* name;
    std::vector<Tcg::NewEvent> events;
    std::string error;
  };
  const Case cases[] = {
      {"after PCR 0 was extended",
       {measured, locality},
       "event 2 at offset 116: a StartupLocality event after PCR 0"},
      {"twice", {locality, locality}, "a second StartupLocality event"},
      {"for PCR 1",
       {{1, Tcg::kEvNoAction, Tcg::StartupLocalityData(3), {}}},
       "a StartupLocality event for PCR 1"},
      {"too long", {{0, Tcg::kEvNoAction, longer, {}}}, "of 18 bytes, not 17"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto replayed = replay(c.events);
    ASSERT_FALSE(replayed);
    EXPECT_NE(replayed.Error().find(c.error), std::string::npos) << replayed.Error();
  }
}

TEST(Replay, ComparisonSaysPerRegisterWhatTheTpmHolds) {
  Tcg::Replayed replayed;
  replayed.banks[Tcg::kSha256] = {{0, Bytes(32, 1)}, {1, Bytes(32, 2)}, {4, Bytes(32, 4)}};
  replayed.banks[Tcg::kSha1] = {{0, Bytes(20, 1)}};
  const Tcg::Banks served = {
      {Tcg::kSha256, {{0, Bytes(32, 1)}, {1, Bytes(32, 3)}, {2, Bytes(32, 0)}, {3, Bytes(32, 0xff)}}},
      {Tcg::kSha384, {{0, Bytes(48, 0)}}},
  };
  using S = Tcg::RegisterState;
  struct Expected {
    std::uint16_t algorithm;
    std::uint32_t pcr;
    S state;
    bool zero;
  };
  const Expected expected[] = {
      {Tcg::kSha1, 0, S::kNotServed, false},  {Tcg::kSha256, 0, S::kMatches, false},
      {Tcg::kSha256, 1, S::kDiffers, false},  {Tcg::kSha256, 2, S::kNotInLog, true},
      {Tcg::kSha256, 3, S::kNotInLog, false}, {Tcg::kSha256, 4, S::kNotServed, false},
      {Tcg::kSha384, 0, S::kNotInLog, true},
  };
  const auto compared = Tcg::Compare(replayed, served);
  ASSERT_EQ(compared.size(), std::size(expected));
  for (std::size_t i = 0; i < compared.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(compared[i].algorithmId, expected[i].algorithm);
    EXPECT_EQ(compared[i].pcr, expected[i].pcr);
    EXPECT_EQ(compared[i].state, expected[i].state);
    EXPECT_EQ(compared[i].servedAllZero, expected[i].zero);
  }
  EXPECT_EQ(compared[2].replayed, Bytes(32, 2));
  EXPECT_EQ(compared[2].served, Bytes(32, 3));
}

}  // namespace
}  // namespace Trustd
