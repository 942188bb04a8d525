#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/query/name_match.h"

namespace kestrum {

class IniFile;

// One rule that leaves entries out of a scan.
//   Wildcard  "*", "?" and "[...]" against the whole name, or the whole path
//   Regex     a PCRE2 pattern found anywhere in the name, or the path
//   Caches    a folder holding a CACHEDIR.TAG that begins with the standard signature
// A rule's line, as the settings keep it: "wildcard,name:PATTERN", "regex,path,nocase:PATTERN",
// "caches". The pattern is everything after the first ":", so it may hold any character.
struct ExcludeRule {
  enum class Kind : std::uint8_t { Wildcard, Regex, Caches };
  Kind What = Kind::Wildcard;
  bool FullPath = false;       // matched against the entry's full path, not its name
  bool CaseSensitive = true;
  std::string Pattern;

  std::string Line() const;
  // The rule of a line, or nullopt with error set ("unknown rule kind \"x\"").
  static std::optional<ExcludeRule> Parse(std::string_view line, std::string& error);
  bool operator==(const ExcludeRule&) const = default;
};

// A set of rules compiled once for a walk and then const: every reader thread matches with
// the same rules, each with its own Scratch. Literal names and "*.ending" wildcards (case
// sensitive) are looked up in sets; the other wildcards are joined into one matcher; regular
// expressions are matched one by one. Whatever the route, the rule an entry is excluded by is
// the first of the list that matches it.
class ExcludeRules {
 public:
  struct Scratch {
    NameMatcher::Scratch Match;
    std::string Path;
  };

  // The compiled rules, or null with error naming the first faulty rule ("rule 2: missing
  // closing parenthesis at offset 3").
  static std::shared_ptr<const ExcludeRules> Make(std::vector<ExcludeRule> rules,
                                                  std::string& error);

  // The place in Rules() of the first rule other than Caches that matches the entry name in
  // the folder whose path (ending in "/") is folderPath, or -1.
  int Match(std::string_view name, std::string_view folderPath, Scratch& scratch) const;
  // Whether Match can ever give a rule; when false the walk skips it.
  bool MatchesNames() const { return matches_; }
  // Whether Match reads folderPath (some rule matches full paths).
  bool MatchesPaths() const { return !paths_.Empty(); }
  // The place of the Caches rule, or -1.
  int CachesRule() const { return caches_; }
  const std::vector<ExcludeRule>& Rules() const { return rules_; }
  std::vector<std::string> Lines() const;

 private:
  ExcludeRules() = default;
  // The rules that match one thing (names or paths), compiled for the quick "no" the walk
  // asks for nearly every entry.
  struct Group {
    std::vector<int> Members;  // places in rules_, in order
    // Looked up by string_view, without making a string.
    struct Hash {
      using is_transparent = void;
      std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using Set = std::unordered_set<std::string, Hash, std::equal_to<>>;
    // Endings looked up once per distinct length.
    struct EndingSet {
      Set Texts;
      std::vector<std::size_t> Sizes;
      void Add(std::string_view ending);
      bool EndsOne(std::string_view subject) const;
    };
    Set Literals;
    EndingSet Endings;
    std::optional<NameMatcher> Joined;    // the other wildcards, as one pattern
    std::vector<int> JoinedMembers;        // and the rules it holds
    // The text each joined wildcard needs (ClueOfWildcard): a subject that holds none of it
    // is not given to Joined, whose leading "*" would otherwise run over every path. Off when
    // some joined wildcard gives no clue (one of wildcards only, or one that ignores case).
    bool Gated = true;
    EndingSet ClueEndings;
    std::vector<std::string> ClueTexts;
    std::vector<int> Others;               // rules matched one by one (regular expressions...)
    bool Empty() const { return Members.empty(); }
    bool MayMatch(std::string_view subject, const std::vector<NameMatcher>& matchers,
                  NameMatcher::Scratch& scratch) const;
  };
  int First(const Group& g, std::string_view subject, NameMatcher::Scratch& scratch) const;

  std::vector<ExcludeRule> rules_;
  std::vector<NameMatcher> matchers_;  // one per rule; a Caches rule's matches nothing
  Group names_, paths_;
  int caches_ = -1;
  bool matches_ = false;
};

// The rules of lines a drive recorded (DriveFields::ExcludeLines); null when there are none,
// and for lines that no longer make rules (never from a scan's own lines).
std::shared_ptr<const ExcludeRules> ExcludeRulesOfLines(const std::vector<std::string>& lines);

// Whether the folder name in the folder open as dirFd holds a regular file CACHEDIR.TAG whose
// first bytes are the standard signature. Never follows a symbolic link.
bool HoldsCacheTag(int dirFd, const char* name);

// The rules the settings file keeps (group "Exclude", keys Rule1, Rule2, ...), in order. A
// line that is not a rule is left out and named in errors.
std::vector<ExcludeRule> LoadExcludeRules(const IniFile& settings, std::vector<std::string>* errors);
void SaveExcludeRules(IniFile& settings, const std::vector<ExcludeRule>& rules);

}  // namespace kestrum
