#include "output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>

namespace Trustctl {
namespace {

// The width a person sees: colour escapes take none.
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\033') {
      while (i < text.size() && text[i] != 'm') ++i;
      continue;
    }
    // UTF-8 continuation bytes add nothing.
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) ++width;
  }
  return width;
}

void Pad(std::ostream& out, const std::string& text, std::size_t width) {
  out << text;
  for (std::size_t w = Width(text); w < width; ++w) out << ' ';
}

}  // namespace

bool WantColour() {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour && *noColour) return false;
  return ::isatty(STDOUT_FILENO) == 1;
}

std::string Output::Hex(const std::vector<unsigned char>& bytes) const {
  static const char* const kDigits = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  if (options_.fullHex || text.size() <= 16) return text;
  return text.substr(0, 8) + "..." + text.substr(text.size() - 4);
}

std::string Output::Bold(const std::string& text) const {
  return options_.colour ? "\033[1m" + text + "\033[0m" : text;
}

std::string Output::Verdict(const std::string& text, bool good) const {
  if (!options_.colour) return text;
  return std::string(good ? "\033[32m" : "\033[31m") + text + "\033[0m";
}

void Output::Heading(const std::string& text) { out_ << Bold(text) << "\n"; }

void Table::Print(Output& out) const {
  std::vector<std::size_t> widths(headers_.size(), 0);
  for (std::size_t c = 0; c < headers_.size(); ++c) widths[c] = Width(headers_[c]);
  for (const auto& row : rows_) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], Width(row[c]));
  }
  std::ostream& stream = out.Stream();
  const auto line = [&](const std::vector<std::string>& cells, bool header) {
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
      const bool last = c + 1 == cells.size();
      const std::string cell = header ? out.Bold(cells[c]) : cells[c];
      if (last) {
        stream << cell;
      } else {
        Pad(stream, cell, widths[c]);
        stream << "  ";
      }
    }
    stream << "\n";
  };
  line(headers_, true);
  for (const auto& row : rows_) line(row, false);
}

void Block::Print(Output& out) const {
  std::size_t width = 0;
  for (const auto& row : rows_) width = std::max(width, Width(row.first) + 1);
  for (const auto& row : rows_) {
    Pad(out.Stream(), row.first + ":", width);
    out.Stream() << "  " << row.second << "\n";
  }
}

}  // namespace Trustctl
