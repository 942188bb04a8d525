#include "core/query/name_match.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kestrum {
namespace {

using Mode = NameMatcher::Mode;
constexpr Mode P = Mode::Plain, W = Mode::Wildcard, X = Mode::Regex;

struct Case {
  Mode As;
  std::string Text;
  bool CaseSensitive;
  std::string Name;
  bool Matches;
};

const std::string kLatin1 = "caf\xE9.TXT";        // not UTF-8
const std::string kBroken = "a\xFF\xFE" "bc.log";  // not UTF-8 either

const Case kCases[] = {
    // Plain: anywhere in the name, in any case unless asked.
    {P, "port", false, "Report.pdf", true},
    {P, "PORT", false, "report.pdf", true},
    {P, "PORT", true, "report.pdf", false},
    {P, "", false, "anything", true},
    {P, "report.pdfx", false, "report.pdf", false},
    {P, "*?[]().+", false, "a*?[]().+b", true},
    {P, "a.c", false, "abc", false},
    {P, "\xC3\x89T\xC3\x89", false, "\xC3\xA9t\xC3\xA9.doc", true},  // ÉTÉ in été
    {P, "\xC3\x89", true, "\xC3\xA9", false},
    {P, "kelvin", false, "\xE2\x84\xAA" "ELVIN", true},  // KELVIN SIGN folds onto k
    {P, "ss", false, "a\xC5\xBF" "S", true},              // so does LONG S onto s
    {P, "\xE9.txt", false, kLatin1, true},                 // a byte text: ASCII folding
    {P, "\xE9", false, "\xC9", false},
    {P, "bc.LOG", false, kBroken, true},
    {P, "ks", false, kBroken, false},
    // Wildcard: the whole name.
    {W, "*.txt", false, "notes.TXT", true},
    {W, "*.txt", true, "notes.TXT", false},
    {W, "*.txt", false, "notes.txt.bak", false},
    {W, "?.c", false, "a.c", true},
    {W, "?.c", false, "ab.c", false},
    {W, "?.c", false, "\xC3\xA9.c", true},  // one character, two bytes
    {W, "[ab]*", false, "beta", true},
    {W, "[!ab]*", false, "beta", false},
    {W, "[^ab]*", false, "zeta", true},
    {W, "[a-c]x", false, "bx", true},
    {W, "[a-c]x", false, "dx", false},
    {W, "[]]", false, "]", true},
    {W, "[!]]", false, "]", false},
    {W, "[-a]", false, "-", true},
    {W, "[\\]", false, "\\", true},
    {W, "[", false, "[", true},  // no "]": a "[" of its own
    {W, "a[b", false, "a[b", true},
    {W, "(1)+.{2}^$|\\", false, "(1)+.{2}^$|\\", true},
    {W, "(1)+.{2}^$|\\", false, "11.xx^$|\\", false},
    {W, "*", false, "line\nbreak", true},
    {W, "*.TXT", false, kLatin1, true},
    {W, "caf?.txt", false, kLatin1, true},  // matched as bytes: "?" is one byte
    {W, "*bc.log", false, kBroken, true},
    // Regex: found anywhere.
    {X, "^re.*t\\.pdf$", false, "REPORT.PDF", true},
    {X, "^re.*t\\.pdf$", true, "REPORT.PDF", false},
    {X, "\\d{4}", false, "img_2024.jpg", true},
    {X, "\\d{4}", false, "img_24.jpg", false},
    {X, "\\p{Lu}", true, "\xC3\x89t\xC3\xA9", true},
    {X, "bc\\.log$", false, kBroken, true},
    {X, "^a.bc", false, kBroken, false},  // "." matches no invalid byte...
    {X, "\\.TXT$", false, kLatin1, true},  // ...and the valid pieces still match
};

TEST(NameMatcher, ModesCaseAndNamesThatAreNotUtf8) {
  for (const Case& c : kCases) {
    std::string error;
    const auto m = NameMatcher::Make(c.Text, c.As, c.CaseSensitive, error);
    ASSERT_TRUE(m) << c.Text << ": " << error;
    EXPECT_EQ(m->Matches(c.Name), c.Matches)
        << static_cast<int>(c.As) << " " << c.Text << (c.CaseSensitive ? " (case)" : "") << " on "
        << c.Name;
  }
}

TEST(NameMatcher, ABadPatternIsAnErrorWithItsOffset) {
  const struct {
    Mode As;
    const char* Text;
    const char* Error;
  } bad[] = {
      {X, "(", "missing closing parenthesis at offset 1"},
      {X, "a[b", "missing terminating ] for character class at offset 3"},
      {X, "*x", "quantifier does not follow a repeatable item at offset 0"},
      {X, "\\", "\\ at end of pattern at offset 1"},
      {X, "(?<n>a)(?<n>b)",
       "two named subpatterns have the same name (PCRE2_DUPNAMES not set) at offset 12"},
      {W, "[z-a]", "range out of order in character class at offset 3"},
  };
  for (const auto& b : bad) {
    std::string error;
    EXPECT_FALSE(NameMatcher::Make(b.Text, b.As, false, error)) << b.Text;
    EXPECT_EQ(error, b.Error) << b.Text;
  }
  // Plain texts always make a matcher, and wildcards without a reversed range.
  for (const char* text : {"(", "[", "\\", "*?[]().+", "\xFF(", "[a-z"}) {
    std::string error;
    EXPECT_TRUE(NameMatcher::Make(text, P, false, error)) << text << error;
    EXPECT_TRUE(NameMatcher::Make(text, W, true, error)) << text << error;
  }
}

TEST(NameMatcher, WildcardsBecomeAnchoredFreePatterns) {
  EXPECT_EQ(WildcardToRegex("*.t?t"), ".*\\.t.t");
  EXPECT_EQ(WildcardToRegex("[!a-c]"), "[^a-c]");
  EXPECT_EQ(WildcardToRegex("[x"), "\\[x");
}

// One matcher, several threads, each with its own scratch.
TEST(NameMatcher, ThreadsShareOneMatcher) {
  std::string error;
  const auto m = NameMatcher::Make("^f\\d+$", X, false, error);
  ASSERT_TRUE(m);
  std::vector<int> counts(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      NameMatcher::Scratch scratch;
      for (int i = 0; i < 2000; ++i)
        counts[t] += m->Matches((i % 2 ? "F" : "g") + std::to_string(i), scratch);
    });
  for (auto& th : threads) th.join();
  for (const int c : counts) EXPECT_EQ(c, 1000);
}

}  // namespace
}  // namespace kestrum
