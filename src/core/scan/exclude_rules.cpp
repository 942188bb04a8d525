#include "core/scan/exclude_rules.h"

#include "core/platform/utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/platform/settings.h"

namespace kestrum {

namespace {

constexpr std::string_view kGroup = "Exclude";
constexpr std::string_view kSignature = "Signature: 8a477f597d28d172789f06886806bc55";

bool HasWildcard(std::string_view s) { return s.find_first_of("*?[") != std::string_view::npos; }

}  // namespace

std::string ExcludeRule::Line() const {
  if (What == Kind::Caches) return "caches";
  std::string line = What == Kind::Wildcard ? "wildcard" : "regex";
  line += FullPath ? ",path" : ",name";
  if (!CaseSensitive) line += ",nocase";
  line += ':';
  line += Pattern;
  return line;
}

std::optional<ExcludeRule> ExcludeRule::Parse(std::string_view line, std::string& error) {
  ExcludeRule r;
  const std::size_t colon = line.find(':');
  std::string_view head = line.substr(0, colon);
  if (colon != std::string_view::npos) r.Pattern = std::string(line.substr(colon + 1));
  std::vector<std::string_view> words;
  while (!head.empty()) {
    const std::size_t comma = head.find(',');
    words.push_back(head.substr(0, comma));
    head = comma == std::string_view::npos ? std::string_view() : head.substr(comma + 1);
  }
  if (words.empty()) {
    error = "an empty rule";
    return std::nullopt;
  }
  if (words[0] == "caches") {
    if (words.size() != 1 || colon != std::string_view::npos) {
      error = "the caches rule takes no pattern";
      return std::nullopt;
    }
    r.What = Kind::Caches;
    return r;
  }
  if (words[0] == "wildcard") {
    r.What = Kind::Wildcard;
  } else if (words[0] == "regex") {
    r.What = Kind::Regex;
  } else {
    error = "unknown rule kind \"" + std::string(words[0]) + "\"";
    return std::nullopt;
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "name") {
      r.FullPath = false;
    } else if (words[i] == "path") {
      r.FullPath = true;
    } else if (words[i] == "nocase") {
      r.CaseSensitive = false;
    } else {
      error = "unknown rule word \"" + std::string(words[i]) + "\"";
      return std::nullopt;
    }
  }
  if (colon == std::string_view::npos || r.Pattern.empty()) {
    error = "a rule without a pattern";
    return std::nullopt;
  }
  return r;
}

std::shared_ptr<const ExcludeRules> ExcludeRules::Make(std::vector<ExcludeRule> rules,
                                                       std::string& error) {
  std::shared_ptr<ExcludeRules> out(new ExcludeRules());
  std::string joinedName, joinedPath;
  std::vector<int> joinedNameMembers, joinedPathMembers;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    const ExcludeRule& r = rules[i];
    const int place = static_cast<int>(i);
    std::string why;
    const NameMatcher::Mode mode =
        r.What == ExcludeRule::Kind::Regex ? NameMatcher::Mode::Regex : NameMatcher::Mode::Wildcard;
    // A Caches rule gets a matcher that is never asked, so places stay aligned.
    const std::string text = r.What == ExcludeRule::Kind::Caches ? std::string("x") : r.Pattern;
    std::optional<NameMatcher> m = NameMatcher::Make(text, mode, r.CaseSensitive, why);
    if (!m) {
      error = "rule " + std::to_string(i + 1) + ": " + why;
      return nullptr;
    }
    out->matchers_.push_back(std::move(*m));
    if (r.What == ExcludeRule::Kind::Caches) {
      if (out->caches_ < 0) out->caches_ = place;
      continue;
    }
    Group& g = r.FullPath ? out->paths_ : out->names_;
    g.Members.push_back(place);
    out->matches_ = true;
    if (r.What == ExcludeRule::Kind::Regex) {
      g.Others.push_back(place);
      continue;
    }
    const std::string_view p = r.Pattern;
    if (r.CaseSensitive && !HasWildcard(p)) {
      g.Literals.emplace(p);
    } else if (r.CaseSensitive && p.size() > 1 && p[0] == '*' && !HasWildcard(p.substr(1))) {
      g.Endings.Add(p.substr(1));
    } else if (IsValidUtf8(p)) {
      std::string& joined = r.FullPath ? joinedPath : joinedName;
      (r.FullPath ? joinedPathMembers : joinedNameMembers).push_back(place);
      WildcardClue clue = r.CaseSensitive ? ClueOfWildcard(p) : WildcardClue{};
      if (clue.Text.empty())
        g.Gated = false;
      else if (clue.Ending)
        g.ClueEndings.Add(clue.Text);
      else
        g.ClueTexts.push_back(std::move(clue.Text));
      if (!joined.empty()) joined += '|';
      joined += r.CaseSensitive ? "(?:" : "(?i:";
      joined += WildcardToRegex(p);
      joined += ')';
    } else {
      g.Others.push_back(place);
    }
  }
  const auto join = [&error](Group& g, const std::string& joined, std::vector<int>& members) {
    if (joined.empty()) return true;
    std::string why;
    g.Joined = NameMatcher::Make("(?s)\\A(?:" + joined + ")\\z", NameMatcher::Mode::Regex, true, why);
    if (!g.Joined) {
      error = "the joined wildcards: " + why;
      return false;
    }
    g.JoinedMembers = std::move(members);
    return true;
  };
  if (!join(out->names_, joinedName, joinedNameMembers) ||
      !join(out->paths_, joinedPath, joinedPathMembers))
    return nullptr;
  out->rules_ = std::move(rules);
  return out;
}

void ExcludeRules::Group::EndingSet::Add(std::string_view ending) {
  Texts.emplace(ending);
  if (std::find(Sizes.begin(), Sizes.end(), ending.size()) == Sizes.end())
    Sizes.push_back(ending.size());
}

bool ExcludeRules::Group::EndingSet::EndsOne(std::string_view subject) const {
  for (const std::size_t n : Sizes)
    if (subject.size() >= n && Texts.find(subject.substr(subject.size() - n)) != Texts.end())
      return true;
  return false;
}

bool ExcludeRules::Group::MayMatch(std::string_view subject,
                                   const std::vector<NameMatcher>& matchers,
                                   NameMatcher::Scratch& scratch) const {
  if (!Literals.empty() && Literals.find(subject) != Literals.end()) return true;
  if (Endings.EndsOne(subject)) return true;
  const auto clued = [this, subject] {
    if (ClueEndings.EndsOne(subject)) return true;
    for (const std::string& t : ClueTexts)
      if (::memmem(subject.data(), subject.size(), t.data(), t.size()) != nullptr) return true;
    return false;
  };
  if (Joined && (!Gated || clued())) {
    // The joined pattern reads UTF-8; a name that is not is matched rule by rule, as each
    // wildcard's own matcher takes such names byte by byte. So is a name on which the joined
    // pattern gave up backtracking, which a rule on its own may not.
    const std::optional<bool> joined =
        IsValidUtf8(subject) ? Joined->TryMatch(subject, scratch) : std::nullopt;
    if (joined) {
      if (*joined) return true;
    } else {
      for (const int m : JoinedMembers)
        if (matchers[static_cast<std::size_t>(m)].Matches(subject, scratch)) return true;
    }
  }
  for (const int m : Others)
    if (matchers[static_cast<std::size_t>(m)].Matches(subject, scratch)) return true;
  return false;
}

int ExcludeRules::First(const Group& g, std::string_view subject,
                        NameMatcher::Scratch& scratch) const {
  for (const int m : g.Members)
    if (matchers_[static_cast<std::size_t>(m)].Matches(subject, scratch)) return m;
  return -1;
}

int ExcludeRules::Match(std::string_view name, std::string_view folderPath,
                        Scratch& scratch) const {
  int best = -1;
  if (!names_.Empty() && names_.MayMatch(name, matchers_, scratch.Match))
    best = First(names_, name, scratch.Match);
  if (!paths_.Empty()) {
    scratch.Path.assign(folderPath).append(name);
    if (paths_.MayMatch(scratch.Path, matchers_, scratch.Match)) {
      const int p = First(paths_, scratch.Path, scratch.Match);
      if (p >= 0 && (best < 0 || p < best)) best = p;
    }
  }
  return best;
}

std::vector<std::string> ExcludeRules::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(rules_.size());
  for (const ExcludeRule& r : rules_) lines.push_back(r.Line());
  return lines;
}

std::shared_ptr<const ExcludeRules> ExcludeRulesOfLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return nullptr;
  std::vector<ExcludeRule> rules;
  std::string error;
  for (const std::string& line : lines) {
    std::optional<ExcludeRule> r = ExcludeRule::Parse(line, error);
    if (!r) return nullptr;
    rules.push_back(std::move(*r));
  }
  return ExcludeRules::Make(std::move(rules), error);
}

bool HoldsCacheTag(int dirFd, const char* name) {
  std::string path(name);
  path += "/CACHEDIR.TAG";
  const int fd = ::openat(dirFd, path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  char head[kSignature.size()];
  std::size_t got = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    while (got < sizeof head) {
      const ssize_t n = ::read(fd, head + got, sizeof head - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return got == sizeof head && std::string_view(head, got) == kSignature;
}

std::vector<ExcludeRule> LoadExcludeRules(const IniFile& settings,
                                          std::vector<std::string>* errors) {
  std::vector<ExcludeRule> rules;
  const std::string group(kGroup);
  for (int i = 1;; ++i) {
    const std::string key = "Rule" + std::to_string(i);
    const std::optional<std::string> line = settings.GetText(group, key);
    if (!line) {
      if (!settings.Get(group, key)) break;
      if (errors) errors->push_back(key + ": not UTF-8");
      continue;
    }
    std::string error;
    if (std::optional<ExcludeRule> r = ExcludeRule::Parse(*line, error))
      rules.push_back(std::move(*r));
    else if (errors)
      errors->push_back(key + ": " + error);
  }
  return rules;
}

void SaveExcludeRules(IniFile& settings, const std::vector<ExcludeRule>& rules) {
  const std::string group(kGroup);
  settings.RemoveGroup(group);
  for (std::size_t i = 0; i < rules.size(); ++i)
    settings.SetText(group, "Rule" + std::to_string(i + 1), rules[i].Line());
}

}  // namespace kestrum
