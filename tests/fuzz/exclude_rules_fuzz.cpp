// Feeds arbitrary bytes to what the settings file's exclude rules go through: each line read
// as a rule, the rules that parse compiled together, then asked about the input's own lines as
// names and paths. A refused line or rule set always says why; the fast routes (sets, joined
// wildcards) must name the same rule as asking each rule in turn. Built as json_import_fuzz is
// (-DKESTRUM_FUZZ=ON).
#include <cstddef>
#include <cstdint>
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
  ExcludeRules::Scratch scratch;
  for (const std::string_view name : lines) {
    const int rule = compiled->Match(name, "/f/", scratch);
    // The first rule that matches on its own, for rules of one kind.
    int first = -1;
    for (std::size_t i = 0; i < rules.size() && first < 0; ++i) {
      if (rules[i].What == ExcludeRule::Kind::Caches) continue;
      std::string e;
      auto one = ExcludeRules::Make({rules[i]}, e);
      if (one && one->Match(name, "/f/", scratch) == 0) first = static_cast<int>(i);
    }
    if (rule != first) __builtin_trap();
  }
  return 0;
}
