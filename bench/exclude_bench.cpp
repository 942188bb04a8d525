// Times warm scans of a tree with no exclude rules against the same scans with sets of rules
// that leave nothing out (the cost of asking), alternated, in one process.
//   exclude_bench ROOT [RUNS]   (RUNS of each, default 7; the median is printed)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"

namespace {

using namespace kestrum;
using Clock = std::chrono::steady_clock;

ExcludeRule Rule(ExcludeRule::Kind k, const char* pattern, bool path) {
  ExcludeRule r;
  r.What = k;
  r.Pattern = pattern;
  r.FullPath = path;
  return r;
}

double ScanSeconds(const std::string& root, const std::shared_ptr<const ExcludeRules>& rules) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.SetPath(root);
  drive.DriveForChange().RootFolder = root + "/";
  drive.DriveForChange().AllocationUnit = 4096;
  ScanOptions o;
  o.Excludes = rules;
  std::int32_t keys = 0;
  Scanning = true;
  const auto start = Clock::now();
  ScanDrive(drive, keys, o);
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  Scanning = false;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: exclude_bench ROOT [RUNS]\n");
    return 2;
  }
  const std::string root = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  using K = ExcludeRule::Kind;
  // Names no tree of sources holds, in the forms users write: literal names, endings, and
  // wildcards with more than a leading star.
  const std::vector<ExcludeRule> names = {
      Rule(K::Wildcard, "node_modules.none", false), Rule(K::Wildcard, ".snapshots.none", false),
      Rule(K::Wildcard, "__pycache__.none", false),  Rule(K::Wildcard, "*.nonea", false),
      Rule(K::Wildcard, "*.noneb", false),           Rule(K::Wildcard, "*.nonec~", false),
      Rule(K::Wildcard, "*.none.d", false),          Rule(K::Wildcard, "tmp?none*", false),
      Rule(K::Wildcard, "[#]none*#", false),         Rule(K::Wildcard, "*none[0-9].log", false)};
  std::vector<ExcludeRule> paths;
  for (ExcludeRule r : names) {
    r.FullPath = true;
    r.Pattern = "*/" + r.Pattern;
    paths.push_back(r);
  }
  const std::vector<ExcludeRule> regexes = {
      Rule(K::Regex, "^node_modules\\.none$", false), Rule(K::Regex, "\\.nonea$", false),
      Rule(K::Regex, "^tmp.none", false), Rule(K::Regex, "none[0-9]\\.log$", false)};
  struct Set {
    const char* name;
    std::shared_ptr<const ExcludeRules> rules;
  };
  std::string error;
  std::vector<Set> sets = {{"no rules", nullptr},
                           {"10 wildcards on names", ExcludeRules::Make(names, error)},
                           {"10 wildcards on paths", ExcludeRules::Make(paths, error)},
                           {"4 regular expressions on names", ExcludeRules::Make(regexes, error)}};
  std::vector<std::vector<double>> times(sets.size());
  ScanSeconds(root, nullptr);  // warms the caches
  for (int i = 0; i < runs; ++i)
    for (std::size_t s = 0; s < sets.size(); ++s) times[s].push_back(ScanSeconds(root, sets[s].rules));
  double base = 0;
  for (std::size_t s = 0; s < sets.size(); ++s) {
    std::sort(times[s].begin(), times[s].end());
    const double median = times[s][times[s].size() / 2];
    if (s == 0) base = median;
    std::printf("%-32s %8.3f s  %.3fx\n", sets[s].name, median, median / base);
  }
  return 0;
}
