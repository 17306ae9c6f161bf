// Plain-text report building blocks: headings, aligned tables, label/value
// blocks, and the short forms of long values (bytes, PEM, tokens, messages).
// ASCII only, so column widths are character counts.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <dral/tovri_bindings.hpp>

namespace host_trust::report {

// A section: a blank line and the title ruled to a fixed width.
void Heading(std::ostream& out, const std::string& title);

// One operation of the walk, as "> service operation arguments".
void Operation(std::ostream& out, const std::string& text);

// Columns aligned on the widest cell; rows are printed in the order added.
// A row may be shorter than the header (missing cells are blank).
class Table {
 public:
  explicit Table(std::vector<std::string> headers) : headers_(std::move(headers)) {}
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void Print(std::ostream& out, std::size_t indent = 4) const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

// Label/value lines with the values aligned.
class Fields {
 public:
  Fields& Add(std::string label, std::string value) {
    lines_.push_back({std::move(label), std::move(value)});
    return *this;
  }
  void Print(std::ostream& out, std::size_t indent = 4) const;

 private:
  struct Line {
    std::string label;
    std::string value;
  };
  std::vector<Line> lines_;
};

// Lower-case hex; beyond `head + tail` bytes, the first `head` and the last
// `tail` joined by "..".
std::string Hex(const std::vector<unsigned char>& bytes, std::size_t head = 8, std::size_t tail = 4);

// `text` cut to `width` characters, "..." marking the cut.
std::string Truncate(const std::string& text, std::size_t width);

std::string YesNo(bool value);

// "PEM CERTIFICATE, 1186 bytes: MIIEnjCCA4a..." for one PEM block.
std::string DescribePem(const std::string& pem, std::size_t preview = 24);

// The text of a message: its localised text when it has one, otherwise the
// text the framework's default localizer renders (it knows the framework's
// own messages), otherwise the English text it was sent with.
std::string Text(const Tovri::BaseMessage& message, const boost::optional<std::string>& localized);

// The texts of all messages an error carries, in order.
std::vector<std::string> Texts(const Tovri::Data::ErrorValue& error);

// The last part of an error id: "not_found" for
// "com.corvane.tovri.std.errors.not_found".
std::string ShortId(const std::string& errorId);

}  // namespace host_trust::report
