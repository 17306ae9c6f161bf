#include <dral/runtime/format.hpp>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/message.hpp>

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

std::string Ok(boost::string_view fmt, const std::vector<std::string>& args) {
  const Result r = Formatted(fmt, args);
  EXPECT_FALSE(r.ec) << "template: " << fmt;
  return r.text;
}

bool IsMissingArgument(const std::error_code& ec) {
  return ec.value() == 3 && &ec.category() == &Tovri::GetFormatCategory();
}

const std::vector<std::string> kXY = {"x", "y"};

TEST(FormatPositional, DoubledBracesWriteOneBrace) {
  EXPECT_EQ(Ok("a{{b}}c", kXY), "a{b}c");
  EXPECT_EQ(Ok("a{{b}}c", {}), "a{b}c");
  EXPECT_EQ(Ok("{{{1}}}", kXY), "{x}");
}

TEST(FormatPositional, ExplicitEmptyAndZeroIndexes) {
  EXPECT_EQ(Ok("{1} and {2}", kXY), "x and y");
  EXPECT_EQ(Ok("{} and {}", kXY), "x and y");
  EXPECT_EQ(Ok("{0} and {0}", kXY), "x and y");
  EXPECT_EQ(Ok("{2}{1}", kXY), "yx");
}

TEST(FormatPositional, CounterCountsExplicitFields) {
  EXPECT_EQ(Ok("{2} {}", kXY), "y y");
  EXPECT_EQ(Ok("{1}{}", kXY), "xy");
  const Result r = Formatted("{1}{1}{}", kXY);
  EXPECT_EQ(r.text, "xx");
  EXPECT_TRUE(IsMissingArgument(r.ec));
}

TEST(FormatPositional, MissingArgumentStopsWithPartialText) {
  const Result r = Formatted("{1} {3} tail", kXY);
  EXPECT_EQ(r.text, "x ");
  EXPECT_TRUE(IsMissingArgument(r.ec));

  const Result automatic = Formatted("{}{}{}", kXY);
  EXPECT_EQ(automatic.text, "xy");
  EXPECT_TRUE(IsMissingArgument(automatic.ec));

  const Result none = Formatted("a{}", {});
  EXPECT_EQ(none.text, "a");
  EXPECT_TRUE(IsMissingArgument(none.ec));
}

TEST(FormatPositional, PlainAndEmptyTemplates) {
  EXPECT_EQ(Ok("no fields here", kXY), "no fields here");
  EXPECT_EQ(Ok("", kXY), "");
  EXPECT_EQ(Ok("", {}), "");
}

TEST(FormatPositional, UnterminatedFieldEndsTheTemplate) {
  EXPECT_EQ(Ok("a {1", kXY), "a x");
  EXPECT_EQ(Ok("{2} {", kXY), "y y");
  EXPECT_EQ(Ok("{", kXY), "x");
  EXPECT_EQ(Ok("{1} {:-3", kXY), "x y  ");
}

TEST(FormatPositional, StrayClosingBraceIsWritten) {
  EXPECT_EQ(Ok("a}b", {}), "a}b");
  EXPECT_EQ(Ok("}{1}}", kXY), "}x}");
}

TEST(FormatPositional, IndexFollowsStrtoullRules) {
  EXPECT_EQ(Ok("{ 2}", kXY), "y");
  EXPECT_EQ(Ok("{+2}", kXY), "y");
  EXPECT_EQ(Ok("{2abc}", kXY), "y");
  EXPECT_EQ(Ok("{abc}{abc}", kXY), "xy");
  EXPECT_EQ(Ok("{002}", kXY), "y");
  EXPECT_TRUE(IsMissingArgument(Formatted("{-1}", kXY).ec));
  EXPECT_TRUE(IsMissingArgument(Formatted("{99999999999999999999999}", kXY).ec));
  EXPECT_TRUE(IsMissingArgument(Formatted("{18446744073709551615}", kXY).ec));
}

TEST(FormatPositional, OnlyFirstTwentyIndexCharactersCount) {
  // Twenty zeros then "2": the parsed prefix is 0, so the field takes `next`.
  EXPECT_EQ(Ok("{000000000000000000002}", kXY), "x");
  EXPECT_EQ(Ok("{00000000000000000002}", kXY), "y");
}

TEST(FormatPositional, OptionsFollowFirstColon) {
  EXPECT_EQ(Ok("{1:}", kXY), "x");
  EXPECT_EQ(Ok("{:3}|{:-3}|", kXY), "  x|y  |");
  // "-3:z" is not a printf spec; the text is written plainly.
  EXPECT_EQ(Ok("{1:-3:z}", kXY), "x");
}

TEST(FormatPositional, ErrorIsNeverCleared) {
  std::error_code ec(5, std::generic_category());
  const std::string arg = "x";
  const format_arg list[] = {MakeFormatArg(arg)};
  EXPECT_EQ(Tovri::Detail::Format("{1}", list, 1, ec), "x");
  EXPECT_EQ(ec, std::error_code(5, std::generic_category()));
}

TEST(FormatPositional, FormatToAppendsToStream) {
  std::ostringstream out;
  out << "pre:";
  std::error_code ec;
  const format_arg list[] = {MakeFormatArg("x")};
  Tovri::Detail::FormatTo(out, "{1}{2}", list, 1, ec);
  EXPECT_EQ(out.str(), "pre:x");
  EXPECT_TRUE(IsMissingArgument(ec));
}

TEST(FormatPositional, FormatImplDropsErrors) {
  EXPECT_EQ(Tovri::FormatImpl<3>::call("{3}{2}{1}", "a", std::string("b"), "c"), "cba");
  EXPECT_EQ(Tovri::FormatImpl<1>::call("{1}-{2}-", "a"), "a-");
  EXPECT_EQ(Tovri::FormatImpl<0>::call("{{}}"), "{}");
}

TEST(FormatArgument, TextFieldOptions) {
  EXPECT_EQ(Ok("{1:s}", {"abc"}), "abc");
  EXPECT_EQ(Ok("[{1:5}]", {"ab"}), "[   ab]");
  EXPECT_EQ(Ok("[{1:-10}]", {"ab"}), "[ab        ]");
  EXPECT_EQ(Ok("[{1:.3}]", {"abcdef"}), "[abc]");
  EXPECT_EQ(Tovri::FormatImpl<1>::call("[{1:.3}]", "abcdef"), "[abc]");
  EXPECT_EQ(Ok("[{1:-6.2}]", {"abcdef"}), "[ab    ]");
  EXPECT_EQ(Ok("[{1:--3}]", {"a"}), "[a  ]");
  EXPECT_EQ(Ok("[{1:.}]", {"abc"}), "[]");
  // A width shorter than the text does not truncate it.
  EXPECT_EQ(Ok("{1:2}", {"abcdef"}), "abcdef");
}

TEST(FormatArgument, StdStringWrittenWholeWithNul) {
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(Ok("<{1}>", {withNul}), std::string("<a\0b>", 5));
  EXPECT_EQ(Ok("<{1:s}>", {withNul}), std::string("<a\0b>", 5));
  // Other specs see the text only up to its first NUL.
  EXPECT_EQ(Ok("<{1:-3}>", {withNul}), "<a  >");
}

TEST(FormatArgument, UnsafeOrUnusualSpecsWritePlainText) {
  for (const char* spec : {"%n", "n", "*", "*d", "d", "10n", "ls", "5s", "1.2.3", "x", "%", "%s", "hh",
                           "00000000000005", "99999999", "1.99999999999"}) {
    EXPECT_EQ(Ok(std::string("[{1:") + spec + "}]", {"ab"}), "[ab]") << spec;
  }
  // Thirteen characters still fit the conversion buffer.
  EXPECT_EQ(Ok("[{1:0000000000005}]", {"ab"}).size(), 7u);
}

TEST(FormatArgument, NullTextSetsBadBit) {
  std::ostringstream out;
  std::error_code ec;
  const format_arg list[] = {format_arg{nullptr, &Tovri::Detail::formatter<const char*, false>::call},
                             MakeFormatArg("y")};
  Tovri::Detail::FormatTo(out, "a{1}b{2}", list, 2, ec);
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(out.str(), "a");
  EXPECT_FALSE(ec);
}

TEST(FormatCategoryTest, NameAndMessages) {
  const Tovri::FormatCategory& category = Tovri::GetFormatCategory();
  EXPECT_STREQ(category.name(), "Tovri Format Error");
  EXPECT_EQ(category.message(1), "Named argument not found.");
  EXPECT_EQ(category.message(2), "Empty Named specifier found.");
  EXPECT_EQ(category.message(3), "More specifiers than expected.");
  EXPECT_EQ(category.message(0), "format error");
  EXPECT_EQ(category.message(4), "format error");
  EXPECT_EQ(category.message(-1), "format error");
  EXPECT_EQ(&category, &Tovri::GetFormatCategory());
  EXPECT_EQ(std::error_code(3, category).message(), "More specifiers than expected.");
}

TEST(MessageMaking, DefaultTextAndRenderedArguments) {
  const Tovri::BaseMessage m = Tovri::MakeMessage("an.id", "{2} before {1}", "x", std::string("y"));
  EXPECT_EQ(m.id, "an.id");
  EXPECT_EQ(m.defaultMessage, "y before x");
  EXPECT_EQ(m.args, (std::list<std::string>{"x", "y"}));
}

TEST(MessageMaking, ArgumentsAreNotReparsed) {
  const Tovri::BaseMessage m = Tovri::MakeMessage("id", "<{1}>", "{2}");
  EXPECT_EQ(m.defaultMessage, "<{2}>");
  EXPECT_EQ(m.args, std::list<std::string>{"{2}"});
}

TEST(MessageMaking, MissingArgumentKeepsPartialTextAndAllArgs) {
  const Tovri::BaseMessage m = Tovri::MakeMessage("id", "{1} {3}", "x", "y");
  EXPECT_EQ(m.defaultMessage, "x ");
  EXPECT_EQ(m.args, (std::list<std::string>{"x", "y"}));
}

TEST(MessageMaking, TemplateWithoutFieldsStillRecordsArgs) {
  const std::string withNul("a\0b", 3);
  const Tovri::BaseMessage m = Tovri::MakeMessage("id", "plain", withNul, "");
  EXPECT_EQ(m.defaultMessage, "plain");
  EXPECT_EQ(m.args, (std::list<std::string>{withNul, ""}));
}

TEST(MessageMaking, CoreCatalogueMessages) {
  using CoreMessage = Tovri::Message<Tovri::CoreTag>;
  const std::string id = "tovri.data.bad.cast1";
  const std::string text = CoreMessage::DefaultMessageForId(id);
  ASSERT_NE(text.find("{1}"), std::string::npos);

  const CoreMessage bare(id);
  EXPECT_EQ(bare.id, id);
  EXPECT_EQ(bare.defaultMessage, text);
  EXPECT_TRUE(bare.args.empty());

  const Tovri::BaseMessage one = CoreMessage(id, "payload");
  EXPECT_EQ(one, Tovri::MakeMessage(id, text, "payload"));
  EXPECT_NE(one.defaultMessage.find("payload"), std::string::npos);

  const std::string extra = "tovri.data.compound.field.extra";
  const Tovri::BaseMessage three =
      Tovri::MakeMessage(extra, CoreMessage::DefaultMessageForId(extra), "::A::B", std::string("bogus"), "");
  EXPECT_EQ(three.args, (std::list<std::string>{"::A::B", "bogus", ""}));
  EXPECT_EQ(three.defaultMessage,
            Tovri::FormatImpl<3>::call(CoreMessage::DefaultMessageForId(extra), "::A::B", "bogus", ""));
}

}  // namespace
