#include <dral/runtime/format.hpp>

#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/message.hpp>
#include <tovri/core/message_ids.hpp>

namespace {

using Tovri::Detail::format_arg;
using Tovri::Detail::MakeFormatArg;

struct Result {
  std::string text;
  std::error_code ec;
};

// Formats with std::string arguments, starting from a cleared error.
Result Formatted(boost::string_view fmt, const std::vector<std::string>& args) {
  std::vector<format_arg> list;
  for (const std::string& arg : args) list.push_back(MakeFormatArg(arg));
  Result r;
  r.ec = std::error_code(0, std::system_category());
  r.text = Tovri::Detail::Format(fmt, list.data(), list.size(), r.ec);
  return r;
}

bool IsMissingArgument(const std::error_code& ec) {
  return ec.value() == 3 && &ec.category() == &Tovri::GetFormatCategory();
}

struct Case {
  const char* fmt;
  std::vector<std::string> args;
  std::string expected;
  bool missing;  // an argument was missing: the text stops there
};

void ExpectFormats(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const Result r = Formatted(c.fmt, c.args);
    EXPECT_EQ(r.text, c.expected) << "template: " << c.fmt;
    EXPECT_EQ(static_cast<bool>(r.ec), c.missing) << "template: " << c.fmt;
    if (c.missing) {
      EXPECT_TRUE(IsMissingArgument(r.ec)) << "template: " << c.fmt;
    }
  }
}

const std::vector<std::string> kXY = {"x", "y"};

TEST(Format, Positions) {
  ExpectFormats({
      // Doubled braces write one brace; a stray closing brace is written.
      {"a{{b}}c", {}, "a{b}c", false},
      {"{{{1}}}", kXY, "{x}", false},
      {"a}b", {}, "a}b", false},
      {"}{1}}", kXY, "}x}", false},
      {"", {}, "", false},
      {"no fields here", kXY, "no fields here", false},
      // Explicit, empty and zero indexes; the counter counts explicit fields.
      {"{1} and {2}", kXY, "x and y", false},
      {"{} and {}", kXY, "x and y", false},
      {"{0} and {0}", kXY, "x and y", false},
      {"{2}{1}", kXY, "yx", false},
      {"{2} {}", kXY, "y y", false},
      {"{1}{}", kXY, "xy", false},
      {"{1}{1}{}", kXY, "xx", true},
      // A missing argument stops with the partial text.
      {"{1} {3} tail", kXY, "x ", true},
      {"{}{}{}", kXY, "xy", true},
      {"a{}", {}, "a", true},
      // An unterminated field ends the template.
      {"a {1", kXY, "a x", false},
      {"{2} {", kXY, "y y", false},
      {"{", kXY, "x", false},
      {"{1} {:-3", kXY, "x y  ", false},
      // The index follows strtoull, over the first twenty characters only.
      {"{ 2}", kXY, "y", false},
      {"{+2}", kXY, "y", false},
      {"{2abc}", kXY, "y", false},
      {"{abc}{abc}", kXY, "xy", false},
      {"{002}", kXY, "y", false},
      {"{-1}", kXY, "", true},
      {"{99999999999999999999999}", kXY, "", true},
      {"{18446744073709551615}", kXY, "", true},
      {"{000000000000000000002}", kXY, "x", false},
      {"{00000000000000000002}", kXY, "y", false},
  });
}

TEST(Format, Options) {
  const std::string withNul("a\0b", 3);
  ExpectFormats({
      // Options follow the first colon; "-3:z" is no printf conversion.
      {"{1:}", kXY, "x", false},
      {"{:3}|{:-3}|", kXY, "  x|y  |", false},
      {"{1:-3:z}", kXY, "x", false},
      {"{1:s}", {"abc"}, "abc", false},
      {"[{1:-10}]", {"ab"}, "[ab        ]", false},
      {"[{1:.3}]", {"abcdef"}, "[abc]", false},
      {"[{1:-6.2}]", {"abcdef"}, "[ab    ]", false},
      {"[{1:--3}]", {"a"}, "[a  ]", false},
      {"[{1:.}]", {"abc"}, "[]", false},
      {"{1:2}", {"abcdef"}, "abcdef", false},  // a width does not truncate
      // A std::string is written whole; other options see it up to its NUL.
      {"<{1}>", {withNul}, std::string("<a\0b>", 5), false},
      {"<{1:s}>", {withNul}, std::string("<a\0b>", 5), false},
      {"<{1:-3}>", {withNul}, "<a  >", false},
  });
  // Unsafe or unusual options write the plain text.
  for (const char* option : {"%n", "n", "*", "*d", "d", "10n", "ls", "5s", "1.2.3", "x", "%", "%s", "hh",
                             "00000000000005", "99999999", "1.99999999999"}) {
    ExpectFormats({{(std::string("[{1:") + option + "}]").c_str(), {"ab"}, "[ab]", false}});
  }
  // Thirteen characters still fit the conversion buffer.
  EXPECT_EQ(Formatted("[{1:0000000000005}]", {"ab"}).text.size(), 7u);
}

TEST(Format, ErrorsAndStreams) {
  std::error_code ec(5, std::generic_category());  // never cleared
  const std::string arg = "x";
  const format_arg one[] = {MakeFormatArg(arg)};
  EXPECT_EQ(Tovri::Detail::Format("{1}", one, 1, ec), "x");
  EXPECT_EQ(ec, std::error_code(5, std::generic_category()));

  std::ostringstream out;  // appended to
  out << "pre:";
  ec.clear();
  Tovri::Detail::FormatTo(out, "{1}{2}", one, 1, ec);
  EXPECT_EQ(out.str(), "pre:x");
  EXPECT_TRUE(IsMissingArgument(ec));
  EXPECT_EQ(ec.message(), "More specifiers than expected.");
  EXPECT_EQ(Tovri::GetFormatCategory().message(4), "format error");

  // A null text sets the stream's bad bit, not the error.
  std::ostringstream bad;
  ec.clear();
  const format_arg withNull[] = {format_arg{nullptr, &Tovri::Detail::formatter<const char*, false>::call},
                                 MakeFormatArg("y")};
  Tovri::Detail::FormatTo(bad, "a{1}b{2}", withNull, 2, ec);
  EXPECT_TRUE(bad.bad());
  EXPECT_EQ(bad.str(), "a");
  EXPECT_FALSE(ec);

  // FormatImpl drops errors.
  EXPECT_EQ(Tovri::FormatImpl<3>::call("{3}{2}{1}", "a", std::string("b"), "c"), "cba");
  EXPECT_EQ(Tovri::FormatImpl<1>::call("{1}-{2}-", "a"), "a-");
  EXPECT_EQ(Tovri::FormatImpl<1>::call("[{1:.3}]", "abcdef"), "[abc]");
}

TEST(MessageMaking, TextIsRenderedAndEveryArgumentKept) {
  const Tovri::BaseMessage m = Tovri::MakeMessage("an.id", "{2} before {1}", "x", std::string("y"));
  EXPECT_EQ(m.id, "an.id");
  EXPECT_EQ(m.defaultMessage, "y before x");
  EXPECT_EQ(m.args, (std::list<std::string>{"x", "y"}));
  // Arguments are not reparsed.
  EXPECT_EQ(Tovri::MakeMessage("id", "<{1}>", "{2}").defaultMessage, "<{2}>");
  // A missing argument keeps the partial text and all arguments.
  const Tovri::BaseMessage partial = Tovri::MakeMessage("id", "{1} {3}", "x", "y");
  EXPECT_EQ(partial.defaultMessage, "x ");
  EXPECT_EQ(partial.args, (std::list<std::string>{"x", "y"}));
  const std::string withNul("a\0b", 3);
  const Tovri::BaseMessage plain = Tovri::MakeMessage("id", "plain", withNul, "");
  EXPECT_EQ(plain.defaultMessage, "plain");
  EXPECT_EQ(plain.args, (std::list<std::string>{withNul, ""}));
}

// A catalogue message takes a named id: text, even a correct one, does not
// compile.
static_assert(!std::is_constructible<Tovri::Message<Tovri::CoreTag>, const char*>::value &&
                  !std::is_constructible<Tovri::Message<Tovri::CoreTag>, std::string, std::string>::value,
              "Message<CoreTag> takes a MessageId");

TEST(MessageMaking, CoreCatalogueMessages) {
  using CoreMessage = Tovri::Message<Tovri::CoreTag>;
  const Tovri::MessageId id = Tovri::MessageIds::kBadCast1;
  const std::string text = CoreMessage::DefaultMessageForId(id);
  ASSERT_NE(text.find("{1}"), std::string::npos);
  const CoreMessage bare(id);
  EXPECT_EQ(bare.defaultMessage, text);
  EXPECT_TRUE(bare.args.empty());
  const Tovri::BaseMessage one = CoreMessage(id, "payload");
  EXPECT_EQ(one, Tovri::MakeMessage(id, text, "payload"));
  EXPECT_NE(one.defaultMessage.find("payload"), std::string::npos);
}

}  // namespace
