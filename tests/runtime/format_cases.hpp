// The formatter's table of cases: what a template gives with std::string
// arguments, and whether an argument was missing. The formatter's tests check
// it; the agreement test holds L10n::RenderTemplate to it as well.
#pragma once

#include <string>
#include <vector>

namespace FormatCases {

struct Case {
  std::string fmt;
  std::vector<std::string> args;
  std::string expected;
  bool missing;  // an argument was missing: the text stops there
};

inline const std::vector<std::string> kXY = {"x", "y"};

inline std::vector<Case> Positions() {
  return {
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
  };
}

inline std::vector<Case> Options() {
  const std::string withNul("a\0b", 3);
  std::vector<Case> cases = {
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
  };
  // Unsafe or unusual options write the plain text.
  for (const char* option : {"%n", "n", "*", "*d", "d", "10n", "ls", "5s", "1.2.3", "x", "%", "%s", "hh",
                             "00000000000005", "99999999", "1.99999999999"}) {
    cases.push_back({std::string("[{1:") + option + "}]", {"ab"}, "[ab]", false});
  }
  return cases;
}

}  // namespace FormatCases
