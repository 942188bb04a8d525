#pragma once
#include <string>
#include <vector>

#include "core/scan/exclude_rules.h"

namespace kestrum {

class IniFile;

// What the exclude rules dialog edits: the rules on patterns, in order, and the switch of the
// rule that leaves out folders holding a CACHEDIR.TAG, kept after them.
struct ExcludeForm {
  std::vector<ExcludeRule> Rules;  // none of Kind::Caches
  bool Caches = false;

  // The rules as the settings file keeps them.
  std::vector<ExcludeRule> AllRules() const;
  bool operator==(const ExcludeForm&) const = default;
};

// The form of the rules the settings file keeps; lines that are not rules are left out and
// named in errors.
ExcludeForm ReadExcludeForm(const IniFile& settings, std::vector<std::string>* errors);

// Why the form's rules cannot be kept ("Rule 2 (\"[a\"): missing terminating ] ..."), or ""
// when they can: every rule has a pattern, and every pattern compiles.
std::string CheckExcludeForm(const ExcludeForm& form);

// The text of a rule in the dialog's list and on a listed row: "*.o", "regex: ^tmp",
// "path: /home/*/cache", "caches" ...
std::string ExcludeRuleText(const ExcludeRule& rule);

}  // namespace kestrum
