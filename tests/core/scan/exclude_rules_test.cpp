// Exclude rules: what they match, their lines in the settings, and a scan that honours them.
#include "core/scan/exclude_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "core/platform/settings.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

ExcludeRule Rule(ExcludeRule::Kind k, std::string pattern, bool path = false, bool cased = true) {
  ExcludeRule r;
  r.What = k;
  r.Pattern = std::move(pattern);
  r.FullPath = path;
  r.CaseSensitive = cased;
  return r;
}
constexpr auto W = ExcludeRule::Kind::Wildcard;
constexpr auto R = ExcludeRule::Kind::Regex;

TEST(ExcludeRules, FirstMatchingRuleWhateverItsRoute) {
  std::string error;
  // Literal, ending, joined wildcard, case-free wildcard, regex, and two path rules.
  const auto rules = ExcludeRules::Make(
      {Rule(W, "node_modules"), Rule(W, "*.o"), Rule(W, "tmp?[0-9]*"), Rule(W, "*.BAK", false, false),
       Rule(R, "^core\\.[0-9]+$"), Rule(W, "/home/*/.cache", true), Rule(R, "^/srv/", true),
       Rule(W, "*.o*")},
      error);
  ASSERT_TRUE(rules) << error;
  ExcludeRules::Scratch s;
  const struct {
    const char* folder;
    const char* name;
    int rule;
  } cases[] = {
      {"/a/", "node_modules", 0},  {"/a/", "node_modules2", -1}, {"/a/", "x.o", 1},
      {"/a/", "x.oo", 7},          {"/a/", "tmp71", 2},          {"/a/", "tmpx", -1},
      {"/a/", "OLD.bak", 3},       {"/a/", "core.12", 4},        {"/a/", "core.x", -1},
      {"/home/u/", ".cache", 5},   {"/home/", ".cache", -1},     {"/srv/", "anything", 6},
      {"/a/srv/", "x", -1},        {"/a/", "*.o", 1},            {"/a/", "t\xffmp\xff.o", 1},
      {"/a/", "tmp\xff" "5", 2},   {"/a/", "", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rules->Match(c.name, c.folder, s), c.rule) << c.folder << c.name;
  EXPECT_TRUE(rules->MatchesNames());
  EXPECT_TRUE(rules->MatchesPaths());
  EXPECT_EQ(rules->CachesRule(), -1);

  // Joined path wildcards are only run on paths holding their literal text: an ending, a run
  // inside, a run that spans folder and name; and all of them again once one rule gives none.
  const std::vector<ExcludeRule> clued = {Rule(W, "*/node_modules.x", true),
                                          Rule(W, "*/tmp?[0-9]none*", true),
                                          Rule(W, "/srv/*/log?", true)};
  std::vector<ExcludeRule> unclued = clued;
  unclued.push_back(Rule(W, "*/Q*", true, false));
  for (const auto& set : {clued, unclued}) {
    const auto gated = ExcludeRules::Make(set, error);
    ASSERT_TRUE(gated) << error;
    const struct {
      const char* folder;
      const char* name;
      int rule;
    } paths[] = {
        {"/a/", "node_modules.x", 0}, {"/a/", "node_modules.y", -1}, {"/a/tmp/", "x", -1},
        {"/a/", "tmpa1none", 1},      {"/tmpa1no", "ne/b", 1},       {"/a/", "tmpa1non", -1},
        {"/srv/w/", "log1", 2},       {"/srv/", "log1", -1},         {"/a/", "q", set.size() > 3 ? 3 : -1},
    };
    for (const auto& c : paths)
      EXPECT_EQ(gated->Match(c.name, c.folder, s), c.rule) << set.size() << c.folder << c.name;
  }
}

TEST(ExcludeRules, WildcardCluesAreTextEveryMatchHolds) {
  const struct {
    const char* wildcard;
    const char* text;
    bool ending;
  } cases[] = {
      {"*/node_modules", "/node_modules", true}, {"/tm/*none?", "none", false},
      {"ab*[xyz]", "ab", false},                 {"a[b", "a[b", true},
      {"[]]x*", "x", false},                     {"*", "", false},
      {"?[!a]*", "", false},
  };
  for (const auto& c : cases) {
    const WildcardClue clue = ClueOfWildcard(c.wildcard);
    EXPECT_EQ(clue.Text, c.text) << c.wildcard;
    EXPECT_EQ(clue.Ending, c.ending) << c.wildcard;
  }
}

TEST(ExcludeRules, LinesRoundTripAndFaultsAreNamed) {
  ExcludeRule caches;
  caches.What = ExcludeRule::Kind::Caches;
  for (const ExcludeRule& r : {Rule(W, "a:b,c"), Rule(R, "^x$", true, false), caches}) {
    std::string error;
    const auto back = ExcludeRule::Parse(r.Line(), error);
    ASSERT_TRUE(back) << r.Line() << error;
    EXPECT_EQ(*back, r) << r.Line();
  }
  for (const char* bad : {"", "glob,name:x", "wildcard,word:x", "wildcard,name", "wildcard:",
                          "caches:x"}) {
    std::string error;
    EXPECT_FALSE(ExcludeRule::Parse(bad, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  std::string error;
  EXPECT_FALSE(ExcludeRules::Make({Rule(W, "ok"), Rule(R, "(")}, error));
  EXPECT_EQ(error.rfind("rule 2: ", 0), 0u) << error;
}

TEST(ExcludeRules, SettingsKeepTheRulesInOrder) {
  TempDir t;
  const std::string path = t.Path() + "/k.conf";
  ExcludeRule caches;
  caches.What = ExcludeRule::Kind::Caches;
  const std::vector<ExcludeRule> rules{Rule(W, "*.tmp"), caches, Rule(R, "a\nb", true)};
  {
    IniFile f;
    SaveExcludeRules(f, {Rule(W, "old"), Rule(W, "older"), Rule(W, "oldest"), Rule(W, "x")});
    SaveExcludeRules(f, rules);
    f.SetText("Exclude", "Rule5", "bogus");  // after a gap: never read
    ASSERT_TRUE(f.Save(path));
  }
  IniFile f;
  ASSERT_EQ(f.Load(path), IniFile::LoadResult::Loaded);
  std::vector<std::string> errors;
  EXPECT_EQ(LoadExcludeRules(f, &errors), rules);
  EXPECT_TRUE(errors.empty());
  f.SetText("Exclude", "Rule2", "nonsense");
  EXPECT_EQ(LoadExcludeRules(f, &errors).size(), 2u);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Rule2: ", 0), 0u);
}

TEST(ExcludeRules, CacheTagNeedsTheSignatureInARegularFile) {
  TempDir t;
  t.Write("good/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55\n# a cache\n");
  t.Write("short/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc5");
  t.Write("wrong/CACHEDIR.TAG", "signature: 8a477f597d28d172789f06886806bc55");
  t.Mkdir("dir/CACHEDIR.TAG");
  t.Mkdir("link");
  ASSERT_EQ(::symlink((t.Path() + "/good/CACHEDIR.TAG").c_str(),
                      (t.Path() + "/link/CACHEDIR.TAG").c_str()), 0);
  t.Mkdir("none");
  const int fd = ::open(t.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::set<std::string> tagged;
  for (const char* n : {"good", "short", "wrong", "dir", "link", "none", "missing"})
    if (HoldsCacheTag(fd, n)) tagged.insert(n);
  ::close(fd);
  EXPECT_EQ(tagged, std::set<std::string>{"good"});
}

// The one-thread walk: an excluded folder is not read, an excluded file not counted, and both
// are kept with the rule that left them out.
TEST(ExcludeRules, ScanLeavesOutWhatRulesMatch) {
  TempDir t;
  t.Write("keep/a.txt", std::string(100, 'a'));
  t.Write("keep/big.iso", std::string(9000, 'b'));
  t.Write("node_modules/x/y.js", std::string(5000, 'c'));
  t.Write("cache/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55");
  t.Write("cache/blob", std::string(7000, 'd'));
  ExcludeRule caches;
  caches.What = ExcludeRule::Kind::Caches;
  std::string error;
  ScanOptions o;
  o.Excludes = ExcludeRules::Make({Rule(W, "node_modules"), Rule(W, "*.iso"), caches}, error);
  ASSERT_TRUE(o.Excludes) << error;
  for (const unsigned threads : {1u, 3u}) {
    o.Threads = threads;
    DiskObject d;
    d.Class = ObjectClass::Drive;
    d.SetPath(t.Path());
    d.DriveForChange().RootFolder = t.Path() + "/";
    d.DriveForChange().AllocationUnit = 4096;
    std::int32_t keys = 0;
    Scanning = true;
    ASSERT_TRUE(ScanDrive(d, keys, o));
    Scanning = false;
    SummarizeSizes(d);
    EXPECT_EQ(d.DiskObjects().Count(), 2u);  // the root and keep
    const DiskObject& root = *d.DiskObjects().Item(1);
    EXPECT_EQ(root.UsedSpace, 100);
    EXPECT_EQ(root.FileCount, 1);
    EXPECT_EQ(root.FolderCount, 1);
    ASSERT_EQ(d.LargestFiles().Count(), 1u);
    EXPECT_EQ(d.LargestFiles().Item(1)->Name, t.Path() + "/keep/a.txt");
    EXPECT_EQ(d.Drive().ExcludeLines,
              (std::vector<std::string>{"wildcard,name:node_modules", "wildcard,name:*.iso",
                                        "caches"}));
    std::set<std::string> excluded;
    for (const auto& f : d.DiskObjects())
      d.Drive().Files->ForEach(f->FilesAt, [&](const StoredEntry& e) {
        if (e.What == StoredEntry::Kind::Excluded)
          excluded.insert(std::string(e.Name) + "=" + std::to_string(e.Reason));
      });
    EXPECT_EQ(excluded, (std::set<std::string>{"node_modules=1", "big.iso=2", "cache=3"}));
  }
}

}  // namespace
}  // namespace kestrum
