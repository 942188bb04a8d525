// The report of a tree with real file systems mounted in it (tmpfs, an ext4 loop-mounted
// inside that, bind mounts of a whole file system, of a folder of the tree's own and of a
// folder of another, and proc), with and without crossing and rules, on
// one thread and several, against a plain walk of what the rules say. Runs as root only: the
// mounts are made in a mount namespace of the test's own.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "core/app/report_text.h"
#include "core/platform/mounts.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

struct Totals {
  long long Used = 0, Files = 0, Folders = 0;
  bool operator==(const Totals&) const = default;
};
using Tree = std::map<std::string, Totals>;  // folder path ("/" at the end) -> subtree

std::ostream& operator<<(std::ostream& o, const Totals& t) {
  return o << t.Used << " bytes, " << t.Files << " files, " << t.Folders << " folders";
}

// What the walk should do with each mount point below root, from the table as this process
// sees it: never into proc, nor into a mount of a subtree or of a file system met before;
// into the others when crossing.
std::set<std::string> MountsNotEntered(const std::string& root, bool cross) {
  struct stat rs {};
  ::stat(root.c_str(), &rs);
  std::set<dev_t> met{rs.st_dev};
  std::set<std::string> skipped;
  for (const MountEntry& m : ReadMountTable("/proc/self/mountinfo")) {
    if (m.Target.rfind(root + "/", 0) != 0) continue;
    struct stat ms {};
    ::stat(m.Target.c_str(), &ms);
    if (m.FsType == "proc" || m.Root != "/" || met.count(ms.st_dev) || !cross)
      skipped.insert(m.Target + "/");
    else
      met.insert(ms.st_dev);
  }
  return skipped;
}

bool HoldsTag(const std::string& folder) {
  const std::string tag = test::Slurp(folder + "CACHEDIR.TAG");
  return tag.rfind("Signature: 8a477f597d28d172789f06886806bc55", 0) == 0;
}

// The subtree of folder (ending in "/"), each folder it holds recorded in tree.
Totals Walk(const std::string& folder, const std::set<std::string>& skipped, bool rules,
            Tree& tree) {
  Totals t;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return t;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || (rules && name == "node_modules")) continue;
    const std::string path = folder + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      t.Used += st.st_size;
      ++t.Files;
    } else if (S_ISDIR(st.st_mode) && !skipped.count(path + "/") &&
               !(rules && HoldsTag(path + "/"))) {
      const Totals sub = Walk(path + "/", skipped, rules, tree);
      t.Used += sub.Used;
      t.Files += sub.Files;
      t.Folders += sub.Folders + 1;
    }
  }
  ::closedir(d);
  tree[folder] = t;
  return t;
}

Tree Reported(const std::string& out) {
  Tree tree;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    if (f.size() > 6 && f[0] == "folder")
      tree[f[1]] = {std::stoll(f[3]), std::stoll(f[5]), std::stoll(f[6])};
  }
  return tree;
}

TEST(RealMounts, ReportCountsWhatTheRulesSay) {
  // Made before the mounts, so that they are removed after the mounts are taken down.
  test::TempDir t, elsewhere;
  test::MountSandbox mounts;
  if (!mounts.Why().empty()) GTEST_SKIP() << mounts.Why();
  const std::string r = t.Path() + "/";
  t.Write("own/a", std::string(1000, 'a'));
  t.Write("own/we*ird?[x]/b", std::string(30, 'b'));
  t.Write("own/node_modules/m", std::string(400, 'm'));
  t.Write("own/cache/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55\n# made");
  t.Write("own/cache/c", std::string(5000, 'c'));
  t.Write("own/notcache/CACHEDIR.TAG", "Signature: 00000000000000000000000000000000\n");
  t.Write("own/notcache/c", std::string(3000, 'c'));
  t.Mkdir("tmp");
  t.Mkdir("again");
  t.Mkdir("part");
  t.Mkdir("proc");
  ASSERT_TRUE(mounts.Mount("tmpfs", r + "tmp")) << mounts.Error();
  t.Write("tmp/f", std::string(2000, 'f'));
  t.Write("tmp/sub/g", std::string(300, 'g'));
  t.Write("tmp/node_modules/n", std::string(70, 'n'));
  t.Mkdir("tmp/disk");
  // A loop device may be missing where the test runs in a container: the rest still counts.
  const bool loop = mounts.LoopExt4(r + "disk.img", r + "tmp/disk", 8);
  if (loop)
    t.Write("tmp/disk/h", std::string(4000, 'h'));
  else
    std::fprintf(stderr, "without the loop mount: %s\n", mounts.Error().c_str());
  ASSERT_TRUE(mounts.Bind(r + "tmp", r + "again")) << mounts.Error();
  ASSERT_TRUE(mounts.Bind(r + "own", r + "part")) << mounts.Error();
  ASSERT_TRUE(mounts.Mount("proc", r + "proc")) << mounts.Error();
  // A folder of a file system mounted outside the tree, bound into it: a subtree, never entered.
  t.Mkdir("outside");
  ASSERT_TRUE(mounts.Mount("tmpfs", elsewhere.Path())) << mounts.Error();
  elsewhere.Write("sub/o", std::string(90, 'o'));
  ASSERT_TRUE(mounts.Bind(elsewhere.Path() + "/sub", r + "outside")) << mounts.Error();

  FileSystemService fs;
  std::string error;
  ExcludeRule modules, caches;
  modules.Pattern = "node_modules";
  caches.What = ExcludeRule::Kind::Caches;
  const auto rules = ExcludeRules::Make({modules, caches}, error);
  ASSERT_TRUE(rules) << error;
  for (const bool cross : {false, true})
    for (const bool withRules : {false, true}) {
      Tree expected;
      Walk(r, MountsNotEntered(t.Path(), cross), withRules, expected);
      for (const unsigned threads : {1u, 3u}) {
        std::string out;
        ASSERT_TRUE(RunReport(fs, t.Path(), out, {}, threads, HardLinkRule::Once,
                              {withRules ? rules : nullptr, cross}));
        const Tree got = Reported(out);
        EXPECT_EQ(got, expected) << "cross " << cross << ", rules " << withRules << ", threads "
                                 << threads << "\n"
                                 << out;
      }
      // What is counted where: tmp only when crossing, the loop disk inside it too, the bind
      // mounts and proc never.
      EXPECT_EQ(expected.count(r + "tmp/"), cross ? 1u : 0u);
      EXPECT_EQ(expected.count(r + "tmp/disk/"), cross && loop ? 1u : 0u);
      EXPECT_EQ(expected.count(r + "again/") + expected.count(r + "part/") +
                    expected.count(r + "proc/") + expected.count(r + "outside/"),
                0u);
    }
}

}  // namespace
}  // namespace kestrum
