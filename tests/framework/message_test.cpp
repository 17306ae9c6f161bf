#include <tovri/core/message.hpp>

#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/message_ids.hpp>
#include <tovri/core/message_template.hpp>

namespace {

using namespace Tovri;
using L10n::RenderTemplate;

using Catalogue = MessageCatalogue<CoreTag>;

TEST(FwRenderTemplate, FieldsIndexesAndOptions) {
  const std::list<std::string> xy{"x", "y"};
  for (const auto& [tmpl, expected] : std::initializer_list<std::pair<const char*, const char*>>{
           {"{1} and {2}", "x and y"},
           {"{} and {}", "x and y"},
           {"{0} and {0}", "x and y"},
           {"{2} {}", "y y"},  // the counter counts explicit fields too
           {"a{{b}}c}", "a{b}c}"},
           {"{1} {3}.", "x "},    // a missing argument ends the text
           {"{name} {}", "x y"},  // an index that is no number reads as 0
           {"{99999999999999999999999}", ""},
           {"[{1:-3}|{2:3}]", "[x  |  y]"},  // printf flags and width
           {"{1:>5}", "x"},                  // other options show the text as is
           {"end {2", "end y"},
           {"end {", "end x"}}) {
    EXPECT_EQ(RenderTemplate(tmpl, xy), expected) << tmpl;
  }
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(RenderTemplate("{1}", {withNul}), withNul);
  EXPECT_EQ(RenderTemplate("{1:-2}", {withNul}), "a ");  // options see the text up to its NUL
}

TEST(FwMessageTemplate, ReaderSplitsATemplateIntoPieces) {
  using Kind = MessageTemplate::Piece::Kind;
  const std::string tmpl = "a{{b{2:-3}}c{}{9}tail";
  MessageTemplate::Reader reader(tmpl, 2);
  std::vector<std::string> pieces;
  MessageTemplate::Piece piece;
  while (reader.Next(piece)) {
    switch (piece.kind) {
      case Kind::kText:
        pieces.push_back("text " + std::string(piece.text.data(), piece.text.size()));
        break;
      case Kind::kField:
        pieces.push_back("field " + std::to_string(piece.argument) + " " +
                         std::string(piece.options.data(), piece.options.size()));
        break;
      case Kind::kMissingArgument:
        pieces.push_back("missing");
        break;
    }
  }
  EXPECT_EQ(pieces, (std::vector<std::string>{"text a", "text {", "text b", "field 1 -3", "text }", "text c",
                                              "field 1 ", "missing"}));
}

TEST(FwCatalogue, EveryBindingsMessageHasATemplateUsingItsArguments) {
  // id -> number of arguments the bindings pass
  const std::vector<std::pair<std::string, int>> ids{
      {MessageIds::kFieldExtra, 2},
      {MessageIds::kInvalidInput, 1},
      {MessageIds::kUnionCaseSetShort, 2},
      {MessageIds::kUnionCaseNotSetShort, 2},
      {MessageIds::kUnionMissingTag, 1},
      {MessageIds::kUnsetNonOptional, 1},
      {MessageIds::kBadCast1, 1},
      {MessageIds::kInvalidType, 0},
      {MessageIds::kSignalNotConnected, 0},
  };
  for (const auto& [id, count] : ids) {
    ASSERT_TRUE(Catalogue::Contains(id)) << id;
    const std::string tmpl = Catalogue::DefaultMessageForId(id);
    for (int i = 1; i <= count; ++i) {
      EXPECT_NE(tmpl.find("{" + std::to_string(i) + "}"), std::string::npos) << id << " lacks {" << i << "}";
    }
    EXPECT_EQ(tmpl.find("{" + std::to_string(count + 1) + "}"), std::string::npos) << id;
  }
  // An unknown id gets a template naming it.
  EXPECT_FALSE(Catalogue::Contains("com.example.{odd}"));
  EXPECT_EQ(RenderTemplate(Catalogue::DefaultMessageForId("com.example.{odd}"), {"a", "b"}),
            "Message com.example.{odd}: a b ");

  BaseMessage m = Core::MakeCoreMessage("tovri.data.compound.field.extra", {"::Ns::Shape", "color", ""});
  EXPECT_EQ(m.defaultMessage, "Field color is not declared by structure ::Ns::Shape.");
  EXPECT_EQ(m.args, (std::list<std::string>{"::Ns::Shape", "color", ""}));
}

}  // namespace
