#include <dral/runtime/format.hpp>

#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/message.hpp>
#include <tovri/core/message_ids.hpp>

#include "runtime/format_cases.hpp"

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

void ExpectFormats(const std::vector<FormatCases::Case>& cases) {
  for (const FormatCases::Case& c : cases) {
    const Result r = Formatted(c.fmt, c.args);
    EXPECT_EQ(r.text, c.expected) << "template: " << c.fmt;
    EXPECT_EQ(static_cast<bool>(r.ec), c.missing) << "template: " << c.fmt;
    if (c.missing) {
      EXPECT_TRUE(IsMissingArgument(r.ec)) << "template: " << c.fmt;
    }
  }
}

TEST(Format, Positions) { ExpectFormats(FormatCases::Positions()); }

TEST(Format, Options) {
  ExpectFormats(FormatCases::Options());
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
