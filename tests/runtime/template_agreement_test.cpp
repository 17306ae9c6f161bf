// The framework's L10n::RenderTemplate and the runtime's formatter read one
// grammar. A localizer renders a message from its recorded arguments, so with
// text arguments both must give the same text: on every case of the
// formatter's table and on every committed input of its fuzz corpus.
#include <tovri/core/message.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/format.hpp>

#include "format_properties.hpp"
#include "runtime/format_cases.hpp"

namespace {

namespace fs = std::filesystem;

std::string Formatted(boost::string_view fmt, const std::vector<std::string>& args) {
  std::vector<Tovri::Detail::format_arg> list;
  for (const std::string& arg : args) list.push_back(Tovri::Detail::MakeFormatArg(arg));
  std::error_code ec;
  return Tovri::Detail::Format(fmt, list.data(), list.size(), ec);
}

std::string Rendered(boost::string_view fmt, const std::vector<std::string>& args) {
  return Tovri::L10n::RenderTemplate(fmt, std::list<std::string>(args.begin(), args.end()));
}

TEST(TemplateAgreement, EveryCaseOfTheFormatterTable) {
  for (const std::vector<FormatCases::Case>& table : {FormatCases::Positions(), FormatCases::Options()}) {
    for (const FormatCases::Case& c : table) {
      EXPECT_EQ(Rendered(c.fmt, c.args), Formatted(c.fmt, c.args)) << "template: " << c.fmt;
    }
  }
}

// The arguments a fuzz input holds, as text: what a message records of them.
std::vector<std::string> TextArguments(const DralFuzz::FormatFuzz::Input& input) {
  std::vector<std::string> args;
  for (std::size_t i = 0; i < input.count; ++i) {
    const DralFuzz::FormatFuzz::Arg& arg = input.args[i];
    switch (arg.kind) {
      case DralFuzz::FormatFuzz::ArgKind::kString:
        args.push_back(arg.bytes);
        break;
      case DralFuzz::FormatFuzz::ArgKind::kPointer:
        args.push_back(arg.bytes.c_str());
        break;
      case DralFuzz::FormatFuzz::ArgKind::kArray:
        args.push_back(arg.array);
        break;
    }
  }
  return args;
}

TEST(TemplateAgreement, EveryInputOfTheFormatterCorpus) {
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(DRAL_FORMAT_CORPUS_DIR)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty()) << "no corpus in " << DRAL_FORMAT_CORPUS_DIR;
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const DralFuzz::FormatFuzz::Input parsed =
        DralFuzz::FormatFuzz::Parse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const std::vector<std::string> args = TextArguments(parsed);
    const boost::string_view fmt(parsed.fmt.data(), parsed.fmt.size());
    EXPECT_EQ(Rendered(fmt, args), Formatted(fmt, args)) << input.filename();
  }
}

}  // namespace
