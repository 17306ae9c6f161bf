#include "report.hpp"

#include <algorithm>

namespace host_trust::report {
namespace {

constexpr std::size_t kRule = 78;

void PrintRow(std::ostream& out, std::size_t indent, const std::vector<std::string>& cells,
              const std::vector<std::size_t>& widths) {
  std::string line(indent, ' ');
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const std::string cell = i < cells.size() ? cells[i] : std::string();
    line += cell;
    if (i + 1 < widths.size()) line += std::string(widths[i] - cell.size() + 2, ' ');
  }
  // The last column is not padded; neither is a row with blank last cells.
  line.erase(line.find_last_not_of(' ') + 1);
  out << line << '\n';
}

}  // namespace

void Heading(std::ostream& out, const std::string& title) {
  const std::string text = "== " + title + " ";
  out << '\n' << text << std::string(text.size() < kRule ? kRule - text.size() : 2, '=') << '\n';
}

void Operation(std::ostream& out, const std::string& text) { out << "\n  > " << text << '\n'; }

void Table::Print(std::ostream& out, std::size_t indent) const {
  std::vector<std::size_t> widths;
  for (const std::string& header : headers_) widths.push_back(header.size());
  for (const auto& row : rows_) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  }
  PrintRow(out, indent, headers_, widths);
  for (const auto& row : rows_) PrintRow(out, indent, row, widths);
  if (rows_.empty()) out << std::string(indent, ' ') << "(none)\n";
}

void Fields::Print(std::ostream& out, std::size_t indent) const {
  std::size_t width = 0;
  for (const Line& line : lines_) width = std::max(width, line.label.size());
  for (const Line& line : lines_) {
    out << std::string(indent, ' ') << line.label << std::string(width - line.label.size() + 2, ' ')
        << line.value << '\n';
  }
}

std::string Hex(const std::vector<unsigned char>& bytes, std::size_t head, std::size_t tail) {
  static const char digits[] = "0123456789abcdef";
  auto append = [&](std::string& out, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      out += digits[bytes[i] >> 4];
      out += digits[bytes[i] & 0xf];
    }
  };
  std::string out;
  if (bytes.size() <= head + tail) {
    append(out, 0, bytes.size());
  } else {
    append(out, 0, head);
    out += "..";
    append(out, bytes.size() - tail, bytes.size());
  }
  return out;
}

std::string Truncate(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text;
  return text.substr(0, width > 3 ? width - 3 : 0) + "...";
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string DescribePem(const std::string& pem, std::size_t preview) {
  const std::string begin = "-----BEGIN ";
  const std::size_t labelStart = pem.find(begin);
  const std::size_t labelEnd =
      labelStart == std::string::npos ? labelStart : pem.find("-----", labelStart + 11);
  const std::size_t bodyEnd = pem.find("-----END ");
  if (labelEnd == std::string::npos || bodyEnd == std::string::npos)
    return Truncate(pem, preview) + " (not PEM)";

  std::string base64;
  for (std::size_t i = labelEnd + 5; i < bodyEnd; ++i) {
    if (pem[i] != '\n' && pem[i] != '\r') base64 += pem[i];
  }
  const std::size_t padding = std::count(base64.begin(), base64.end(), '=');
  const std::size_t bytes = base64.size() / 4 * 3 - padding;
  return "PEM " + pem.substr(labelStart + begin.size(), labelEnd - labelStart - begin.size()) + ", " +
         std::to_string(bytes) + " bytes: " + Truncate(base64, preview);
}

std::string Text(const Tovri::BaseMessage& message, const boost::optional<std::string>& localized) {
  if (localized) return *localized;
  const Tovri::L10n::RequestLocalizer l10n =
      Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
  if (boost::optional<std::string> text = l10n.localizer->Localize(message, *l10n.localeSpec)) return *text;
  return message.defaultMessage;
}

std::vector<std::string> Texts(const Tovri::Data::ErrorValue& error) {
  std::vector<std::string> texts;
  for (const Tovri::Data::ErrorMessage& entry : error.GetMessages())
    texts.push_back(Text(entry.message, entry.localized));
  return texts;
}

std::string ShortId(const std::string& errorId) {
  const std::size_t dot = errorId.rfind('.');
  return dot == std::string::npos ? errorId : errorId.substr(dot + 1);
}

}  // namespace host_trust::report
