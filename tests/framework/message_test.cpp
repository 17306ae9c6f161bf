#include <tovri/core/message.hpp>

#include <list>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/message_ids.hpp>
#include <tovri/core/message_template.hpp>

namespace {

using namespace Tovri;
using L10n::RenderTemplate;

using Catalogue = MessageCatalogue<CoreTag>;

// Ids come from the named constants only: neither text nor a default makes
// one, so a misspelt id cannot be raised.
static_assert(!std::is_constructible<MessageId, const char*>::value &&
                  !std::is_constructible<MessageId, std::string>::value &&
                  !std::is_default_constructible<MessageId>::value,
              "an id is always a named one");

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
      {MessageIds::kFieldExtra, 2},         {MessageIds::kInvalidInput, 1},
      {MessageIds::kUnionCaseSetShort, 2},  {MessageIds::kUnionCaseNotSetShort, 2},
      {MessageIds::kUnionMissingTag, 1},    {MessageIds::kUnsetNonOptional, 1},
      {MessageIds::kBadCast1, 1},           {MessageIds::kInvalidType, 0},
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
  // The framework's own ids need a template too; their texts are held by the
  // tests of the code that raises them.
  for (const MessageId id :
       {MessageIds::kKindMismatch, MessageIds::kParseFailed, MessageIds::kOutOfRange,
        MessageIds::kFieldMissing, MessageIds::kCheckKind, MessageIds::kCheckMissingValue,
        MessageIds::kCheckStructName, MessageIds::kCheckFieldMissing, MessageIds::kCheckUnionNotSelected,
        MessageIds::kCheckUnionNoTag, MessageIds::kInvalidOutput, MessageIds::kErrorMissing,
        MessageIds::kErrorUndeclared, MessageIds::kErrorInvalid, MessageIds::kMethodMissing,
        MessageIds::kInputMissing, MessageIds::kProviderMissing, MessageIds::kServiceNotFound,
        MessageIds::kMethodNotFound}) {
    EXPECT_TRUE(Catalogue::Contains(id)) << id;
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
