#include <dral/runtime/format.hpp>

#include <cstring>
#include <sstream>

#include <tovri/core/message_template.hpp>

namespace Tovri {

FormatCategory::~FormatCategory() = default;

const char* FormatCategory::name() const noexcept { return "Tovri Format Error"; }

std::string FormatCategory::message(int code) const {
  switch (code) {
    case 1:
      return "Named argument not found.";
    case 2:
      return "Empty Named specifier found.";
    case 3:
      return "More specifiers than expected.";
    default:
      return "format error";
  }
}

const FormatCategory& GetFormatCategory() {
  static const FormatCategory instance;
  return instance;
}

namespace Detail {
namespace {

void WriteText(std::ostream& out, const char* text) {
  out.write(text, static_cast<std::streamsize>(std::strlen(text)));
}

// Field options go through the framework's reading of them, so that a
// localised rendering of the same template shows the same text.
void WriteWithOptions(std::ostream& out, boost::string_view text, boost::string_view options) {
  std::string shown;
  MessageTemplate::AppendField(shown, text, options);
  out.write(shown.data(), static_cast<std::streamsize>(shown.size()));
}

}  // namespace

void formatter<const char*, false>::call(std::ostream& out, boost::string_view spec, const void* value) {
  const char* text = static_cast<const char*>(value);
  if (text == nullptr) {
    out.setstate(std::ios_base::badbit);
    return;
  }
  if (spec.empty() || spec == "s") {
    WriteText(out, text);
    return;
  }
  WriteWithOptions(out, text, spec);
}

void formatter<std::string, false>::call(std::ostream& out, boost::string_view spec, const void* value) {
  const std::string& text = *static_cast<const std::string*>(value);
  if (spec.empty() || spec == "s") {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  WriteWithOptions(out, boost::string_view(text.data(), text.size()), spec);
}

// The template is read by the framework's MessageTemplate::Reader, the one
// reader of the grammar.
void FormatTo(std::ostream& out, boost::string_view fmt, const format_arg* args, std::size_t count,
              std::error_code& ec) {
  MessageTemplate::Reader reader(fmt, count);
  MessageTemplate::Piece piece;
  while (reader.Next(piece)) {
    switch (piece.kind) {
      case MessageTemplate::Piece::Kind::kText:
        out.write(piece.text.data(), static_cast<std::streamsize>(piece.text.size()));
        break;
      case MessageTemplate::Piece::Kind::kField: {
        const format_arg& arg = args[piece.argument];
        if (arg.format == nullptr) {
          out.setstate(std::ios_base::badbit);
        } else {
          arg.format(out, piece.options, arg.value);
        }
        break;
      }
      case MessageTemplate::Piece::Kind::kMissingArgument:
        ec = std::error_code(3, GetFormatCategory());
        return;
    }
  }
}

std::string Format(boost::string_view fmt, const format_arg* args, std::size_t count, std::error_code& ec) {
  std::ostringstream out;
  FormatTo(out, fmt, args, count, ec);
  return out.str();
}

}  // namespace Detail
}  // namespace Tovri
