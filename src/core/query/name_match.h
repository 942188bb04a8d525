#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum {

// Tells whether a file's name matches what the user typed. Built once, then const: several
// threads may match with one matcher, each with its own Scratch.
//   Plain     the text anywhere in the name (a byte search; case-insensitive through PCRE2's
//             Unicode folding when the text has a letter outside ASCII or one Unicode folds
//             onto ASCII, k and s, else ASCII folding).
//   Wildcard  the whole name against "*" (any run), "?" (one character) and "[...]" (one of,
//             "[!...]" or "[^...]" none of), translated into a PCRE2 pattern; a "[" without its
//             "]" stands for itself.
//   Regex     a PCRE2 pattern, found anywhere in the name.
// Patterns are compiled for UTF-8 with invalid sequences allowed in the subject, so a name
// that is not UTF-8 is matched by its valid pieces and never fails; a pattern that is not
// UTF-8 itself is compiled for bytes (ASCII folding). A wildcard matches a name that is not
// UTF-8 byte by byte ("?" one byte, ASCII folding). JIT-compiled where available.
class NameMatcher {
 public:
  enum class Mode : std::uint8_t { Plain, Wildcard, Regex };

  // What one thread needs to match: PCRE2's match data. Make one per thread.
  class Scratch {
   public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

   private:
    friend class NameMatcher;
    void* data_ = nullptr;  // pcre2_match_data_8*
  };

  // The matcher, or nullopt with error set to a message naming the fault and its offset
  // ("missing closing parenthesis at offset 3"). Never throws.
  static std::optional<NameMatcher> Make(std::string_view text, Mode mode, bool caseSensitive,
                                         std::string& error);

  bool Matches(std::string_view name, Scratch& scratch) const;
  // As Matches, but nullopt where PCRE2 gave up (its match or depth limit, on a pattern that
  // backtracks without end): neither a match nor a proven miss. Matches counts it a miss.
  std::optional<bool> TryMatch(std::string_view name, Scratch& scratch) const;
  // With scratch made for the one call: for a few names, not for a walk.
  bool Matches(std::string_view name) const;

  Mode GetMode() const { return mode_; }
  const std::string& Text() const { return text_; }
  bool CaseSensitive() const { return caseSensitive_; }

 private:
  NameMatcher() = default;
  std::string text_;
  std::string folded_;  // Plain with ASCII folding: the text in lower case
  Mode mode_ = Mode::Plain;
  bool caseSensitive_ = false;
  std::shared_ptr<const void> code_;  // pcre2_code_8, when the match goes through PCRE2
  std::shared_ptr<const void> bytes_;  // Wildcard: the pattern for names that are not UTF-8
};

// Where the "[" at place at of a wildcard opens a class, the place of the "]" that closes it;
// npos where that "[" stands for itself.
std::size_t WildcardClassEnd(std::string_view wildcard, std::size_t at);

// Text every subject a wildcard matches (case sensitively) must hold: its literal ending when
// it ends in one (Ending), else its longest literal run; empty when it has none ("*", "?*").
struct WildcardClue {
  std::string Text;
  bool Ending = false;
};
WildcardClue ClueOfWildcard(std::string_view wildcard);

// The PCRE2 pattern a wildcard text stands for (without anchors: the matcher anchors it at
// both ends).
std::string WildcardToRegex(std::string_view wildcard);

}  // namespace kestrum
