// Feeds arbitrary bytes to what the settings file's exclude rules go through: each line read
// as a rule, the rules that parse compiled together, then asked about the input's own lines as
// names and paths. A refused line or rule set always says why; the fast routes (sets, joined
// wildcards) must name the same rule as asking each rule in turn. Built as json_import_fuzz is
// (-DKESTRUM_FUZZ=ON).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scan/exclude_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrum;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::vector<ExcludeRule> rules;
  for (const std::string_view line : lines) {
    std::string error;
    if (auto r = ExcludeRule::Parse(line, error)) {
      std::string again;
      if (!ExcludeRule::Parse(r->Line(), again) || *ExcludeRule::Parse(r->Line(), again) != *r)
        __builtin_trap();  // a rule's line reads back as the rule
      rules.push_back(std::move(*r));
    } else if (error.empty()) {
      __builtin_trap();
    }
  }
  std::string error;
  const auto compiled = ExcludeRules::Make(rules, error);
  if (!compiled) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  // Each rule's own matcher, none of the fast routes in between.
  std::vector<std::optional<NameMatcher>> plain;
  for (const ExcludeRule& r : rules) {
    std::string e;
    plain.push_back(r.What == ExcludeRule::Kind::Caches
                        ? std::nullopt
                        : NameMatcher::Make(r.Pattern,
                                            r.What == ExcludeRule::Kind::Regex
                                                ? NameMatcher::Mode::Regex
                                                : NameMatcher::Mode::Wildcard,
                                            r.CaseSensitive, e));
  }
  ExcludeRules::Scratch scratch;
  NameMatcher::Scratch one;
  // Every line as a name, below a fixed folder and below the line before it.
  std::string_view folder = "/f/";
  for (const std::string_view name : lines) {
    const int rule = compiled->Match(name, folder, scratch);
    const std::string path = std::string(folder) + std::string(name);
    int first = -1;
    for (std::size_t i = 0; i < rules.size() && first < 0; ++i)
      if (plain[i] && plain[i]->Matches(rules[i].FullPath ? std::string_view(path) : name, one))
        first = static_cast<int>(i);
    if (rule != first) __builtin_trap();
    folder = name;
  }
  return 0;
}
