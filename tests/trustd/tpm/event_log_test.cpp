// The measured-boot log read up to a maximum, from regular files and from
// files whose size the file system does not report.
#include <gtest/gtest.h>

#include <fstream>

#include <trustd/tpm/tpm.hpp>

#include "support/checks.hpp"

namespace Trustd {
namespace {

using Testing::Bytes;

TEST(EventLog, ReadUpToTheMaximumAndSaysWhetherMoreWasThere) {
  Testing::TempDir dir;
  struct Case {
    std::size_t size;
    std::size_t max;
    bool truncated;
  };
  const Case cases[] = {
      {0, 0, false},         {0, 10, false},
      {5, 10, false},        {10, 10, false},
      {11, 10, true},        {5, 0, true},
      {65536, 65536, false}, {65537, 65536, true},
      {200000, 70000, true}, {200000, 1000000, false},
      {3, SIZE_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, at most " + std::to_string(c.max));
    Bytes contents(c.size);
    for (std::size_t i = 0; i < c.size; ++i) contents[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    const auto path = dir.Path() / "log";
    Testing::WriteBytes(path, contents);
    const auto log = ReadEventLog(path.string(), c.max);
    ASSERT_TRUE(log) << log.Error();
    EXPECT_EQ(log.Value().truncated, c.truncated);
    contents.resize(std::min(c.size, c.max));
    EXPECT_EQ(log.Value().bytes, contents);
  }
}

TEST(EventLog, FileOfUnreportedSizeIsReadToItsEnd) {
  // Like securityfs' binary_bios_measurements, /proc files have st_size 0.
  const std::string path = "/proc/self/mountinfo";
  std::ifstream in(path);
  ASSERT_TRUE(in);
  const auto whole = ReadEventLog(path, 1 << 24);
  ASSERT_TRUE(whole) << whole.Error();
  EXPECT_FALSE(whole.Value().truncated);
  EXPECT_GT(whole.Value().bytes.size(), 0u);
  const auto part = ReadEventLog(path, 4);
  ASSERT_TRUE(part) << part.Error();
  EXPECT_TRUE(part.Value().truncated);
  EXPECT_EQ(part.Value().bytes.size(), 4u);
}

TEST(EventLog, UnreadablePathIsAnErrorNamingIt) {
  Testing::TempDir dir;
  const std::string paths[] = {(dir.Path() / "missing").string(), dir.Path().string(), ""};
  for (const auto& path : paths) {
    const auto log = ReadEventLog(path, 1024);
    ASSERT_FALSE(log) << path;
    EXPECT_EQ(log.Error().rfind("cannot read the event log " + path + ": ", 0), 0u) << log.Error();
  }
}

}  // namespace
}  // namespace Trustd
