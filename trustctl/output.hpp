// How trustctl shows answers: aligned tables and key/value blocks for
// people, the transport's natural JSON for programs (--json), bare
// identifiers for scripts (--quiet). Colour only on a terminal and never
// with NO_COLOR set.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace Trustctl {

enum class Format { kHuman, kJson, kQuiet };

struct OutputOptions {
  Format format = Format::kHuman;
  bool fullHex = false;  // --full: wide hex values unshortened
  bool colour = false;   // decided once from the terminal and NO_COLOR
};

// Whether standard output gets colour: a terminal, and NO_COLOR unset or empty.
bool WantColour();

class Output {
 public:
  Output(std::ostream& out, OutputOptions options) : out_(out), options_(options) {}

  const OutputOptions& Options() const { return options_; }
  std::ostream& Stream() { return out_; }

  // Lowercase hex; longer than 16 digits shortened to "0123abcd...89ef"
  // unless --full.
  std::string Hex(const std::vector<unsigned char>& bytes) const;
  std::string Bold(const std::string& text) const;
  // Green for good, red for bad, when colour is on.
  std::string Verdict(const std::string& text, bool good) const;

  // A heading line for the next block.
  void Heading(const std::string& text);

 private:
  std::ostream& out_;
  OutputOptions options_;
};

// Columns padded to their widest cell (display width: escape sequences of
// colour do not count); a header row in bold.
class Table {
 public:
  explicit Table(std::vector<std::string> headers) : headers_(std::move(headers)) {}
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  bool Empty() const { return rows_.empty(); }
  void Print(Output& out) const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

// "Label:  value" lines, labels padded to the widest.
class Block {
 public:
  void Add(std::string label, std::string value) { rows_.emplace_back(std::move(label), std::move(value)); }
  void Print(Output& out) const;

 private:
  std::vector<std::pair<std::string, std::string>> rows_;
};

}  // namespace Trustctl
