#include "core/presenter/exclude_form.h"

#include <exception>
#include <string_view>
#include <utility>

#include "core/platform/settings.h"

namespace kestrum {

std::vector<ExcludeRule> ExcludeForm::AllRules() const {
  std::vector<ExcludeRule> all = Rules;
  if (Caches) {
    ExcludeRule caches;
    caches.What = ExcludeRule::Kind::Caches;
    all.push_back(std::move(caches));
  }
  return all;
}

ExcludeForm ReadExcludeForm(const IniFile& settings, std::vector<std::string>* errors) {
  ExcludeForm form;
  for (ExcludeRule& r : LoadExcludeRules(settings, errors)) {
    if (r.What == ExcludeRule::Kind::Caches)
      form.Caches = true;
    else
      form.Rules.push_back(std::move(r));
  }
  return form;
}

std::string CheckExcludeForm(const ExcludeForm& form) {
  for (std::size_t i = 0; i < form.Rules.size(); ++i)
    if (form.Rules[i].Pattern.empty()) return "Rule " + std::to_string(i + 1) + " has no pattern.";
  std::string error;
  if (ExcludeRules::Make(form.AllRules(), error)) return {};
  // "rule N: why": named with its pattern, as the user typed it.
  constexpr std::string_view kRule = "rule ";
  if (error.starts_with(kRule)) {
    const std::size_t colon = error.find(':');
    std::size_t n = 0;
    try {
      n = std::stoul(error.substr(kRule.size(), colon - kRule.size()));
    } catch (const std::exception&) {
      n = 0;
    }
    if (n >= 1 && n <= form.Rules.size() && colon != std::string::npos)
      return "Rule " + std::to_string(n) + " (\"" + form.Rules[n - 1].Pattern +
             "\"):" + error.substr(colon + 1);
  }
  return error;
}

std::string ExcludeRuleText(const ExcludeRule& rule) {
  if (rule.What == ExcludeRule::Kind::Caches) return "caches (CACHEDIR.TAG)";
  std::string text;
  if (rule.What == ExcludeRule::Kind::Regex) text += "regex ";
  if (rule.FullPath) text += "path ";
  if (!rule.CaseSensitive) text += "any case ";
  if (!text.empty()) {
    text.back() = ':';
    text += ' ';
  }
  return text + rule.Pattern;
}

}  // namespace kestrum
