// Two scans of one tree, changed in between from outside, compared against what the test
// itself did to the tree.
#include "core/query/scan_compare.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::unique_ptr<DiskObject> Scan(const std::string& root, HardLinkRule links) {
  auto drive = std::make_unique<DiskObject>();
  drive->Class = ObjectClass::Drive;
  drive->SetPath(root);
  drive->DriveForChange().RootFolder = root + "/";
  drive->DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  ScanOptions options;
  options.Threads = 2;
  options.KeepFiles = true;
  options.Links = links;
  Scanning = true;
  EXPECT_TRUE(ScanDrive(*drive, keys, options));
  Scanning = false;
  SummarizeSizes(*drive);
  return drive;
}

void WriteSized(const std::string& path, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  if (size > 0) {
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  }
  ::close(fd);
}

// "kind old new relative-path" for each change, sorted.
std::vector<std::string> Lines(const ScanComparison& c) {
  std::vector<std::string> lines;
  for (const TreeChange& t : c.Changes)
    lines.push_back(std::string(ChangeKindName(t.Kind)) + " " + std::to_string(t.Old) + " " +
                    std::to_string(t.New) + " " + RelativeChangePath(c, t));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The tree as the test made it: folders ("" the root, else "a/b/") and files with sizes.
struct Model {
  std::set<std::string> Folders{""};
  std::map<std::string, std::uint64_t> Files;
  // The bytes each name adds to its folders' totals, where hard links make that differ from
  // its size; empty: every name adds its size.
  std::map<std::string, std::uint64_t> Counted;

  std::uint64_t Total(const std::string& folder) const {
    std::uint64_t sum = 0;
    for (const auto& [path, size] : Counted.empty() ? Files : Counted)
      if (path.compare(0, folder.size(), folder) == 0) sum += size;
    return sum;
  }
  static std::string FolderOf(const std::string& file) {
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? "" : file.substr(0, slash + 1);
  }
};

// The tree under root as a scan under rule counts it, found by a walk of its own: a folder's
// files in the order the folder lists them, then its subfolders in that order, depth first.
// Under once, the first name of a file with several names met in that order adds its bytes
// and the others nothing; every name shows its size.
Model Walked(const std::string& root, HardLinkRule rule) {
  Model m;
  std::set<std::pair<dev_t, ino_t>> met;
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    DIR* d = ::opendir((root + folder).c_str());
    ASSERT_NE(d, nullptr) << folder;
    std::vector<std::string> subfolders;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name, path = folder + name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      ASSERT_EQ(::lstat((root + path).c_str(), &st), 0) << path;
      if (S_ISDIR(st.st_mode)) subfolders.push_back(path + "/");
      if (!S_ISREG(st.st_mode)) continue;
      const auto size = static_cast<std::uint64_t>(st.st_size);
      const bool counts = rule == HardLinkRule::Each || st.st_nlink < 2 ||
                          met.insert({st.st_dev, st.st_ino}).second;
      m.Files[path] = size;
      m.Counted[path] = counts ? size : 0;
    }
    ::closedir(d);
    for (const std::string& f : subfolders) {
      m.Folders.insert(f);
      walk(f);
    }
  };
  walk("");
  return m;
}

// What a comparison of then with now must say, in Lines' form.
std::vector<std::string> Expected(const Model& then, const Model& now) {
  std::vector<std::string> lines;
  const auto add = [&](const char* kind, std::uint64_t a, std::uint64_t b, const std::string& p) {
    lines.push_back(std::string(kind) + " " + std::to_string(a) + " " + std::to_string(b) + " " + p);
  };
  std::set<std::string> folders = then.Folders;
  folders.insert(now.Folders.begin(), now.Folders.end());
  for (const std::string& f : folders) {
    const bool was = then.Folders.count(f) > 0, is = now.Folders.count(f) > 0;
    const std::uint64_t a = was ? then.Total(f) : 0, b = is ? now.Total(f) : 0;
    if (!was) add("new", 0, b, f);
    else if (!is) add("removed", a, 0, f);
    else if (a != b) add("changed", a, b, f);
  }
  for (const auto& [p, size] : then.Files) {
    const auto it = now.Files.find(p);
    if (it == now.Files.end()) add("removed", size, 0, p);
    else if (it->second != size) add("changed", size, it->second, p);
  }
  for (const auto& [p, size] : now.Files)
    if (!then.Files.count(p)) add("new", 0, size, p);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(ScanCompare, RandomTreeChangedAtRandomShowsExactlyThoseChanges) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    const std::string root = dir.Path() + "/";
    std::mt19937 rng(seed);
    const std::uint64_t sizes[] = {0, 1, 4096, 5000, 5000, 70000};
    Model m;
    std::vector<std::string> folders{""};
    for (int i = 1; i < 60; ++i) {
      const std::string f = folders[rng() % folders.size()] + "d" + std::to_string(i) + "/";
      ASSERT_EQ(::mkdir((root + f).c_str(), 0755), 0);
      folders.push_back(f);
      m.Folders.insert(f);
    }
    for (int i = 0; i < 400; ++i) {
      const std::string f = folders[rng() % folders.size()] + "f" + std::to_string(i);
      m.Files[f] = sizes[rng() % 6];
      WriteSized(root + f, m.Files[f]);
    }
    // Entries that count nothing are never changes, even when they come or go.
    ASSERT_EQ(::symlink("f0", (root + "link").c_str()), 0);
    const auto before = Scan(dir.Path(), HardLinkRule::Each);
    // Compared with itself, and with a second scan of the same tree: nothing changed.
    const auto again = Scan(dir.Path(), HardLinkRule::Each);
    for (const DiskObject* other : {before.get(), again.get()}) {
      const ScanComparison same = CompareScans(*before, *other);
      ASSERT_TRUE(same.Ok) << same.Refused;
      EXPECT_EQ(Lines(same), std::vector<std::string>());
    }

    const Model then = m;
    std::vector<std::string> names;
    for (const auto& [p, size] : m.Files) names.push_back(p);
    for (const std::string& p : names) {
      switch (rng() % 8) {
        case 0:  // grown or shrunk
          m.Files[p] = sizes[rng() % 6] + 3;
          WriteSized(root + p, m.Files[p]);
          break;
        case 1:  // removed
          m.Files.erase(p);
          ASSERT_EQ(::unlink((root + p).c_str()), 0);
          break;
        case 2: {  // a file beside it
          const std::string q = Model::FolderOf(p) + "n" + std::to_string(rng() % 1000);
          if (m.Files.count(q)) break;
          m.Files[q] = sizes[rng() % 6];
          WriteSized(root + q, m.Files[q]);
          break;
        }
        default:
          break;
      }
    }
    // A new folder with a file, a folder renamed and one removed, each with what is below it.
    ASSERT_EQ(::mkdir((root + "fresh").c_str(), 0755), 0);
    m.Folders.insert("fresh/");
    m.Files["fresh/x"] = 12345;
    WriteSized(root + "fresh/x", 12345);
    const auto move = [&](const std::string& from, const std::string* to) {
      const auto moved = [&](const std::string& p) {
        return to ? *to + p.substr(from.size()) : std::string();
      };
      std::set<std::string> folderSet;
      for (const std::string& f : m.Folders)
        if (f.compare(0, from.size(), from) != 0) folderSet.insert(f);
        else if (to) folderSet.insert(moved(f));
      std::map<std::string, std::uint64_t> files;
      for (const auto& [p, size] : m.Files)
        if (p.compare(0, from.size(), from) != 0) files[p] = size;
        else if (to) files[moved(p)] = size;
      m.Folders = folderSet;
      m.Files = files;
    };
    const std::string renamed = folders[1 + rng() % 20], to = "renamed/";
    fs::rename(root + renamed, root + to);
    move(renamed, &to);
    const std::string gone = *std::next(m.Folders.begin(), 1 + rng() % (m.Folders.size() - 1));
    fs::remove_all(root + gone);
    move(gone, nullptr);
    ASSERT_EQ(::unlink((root + "link").c_str()), 0);

    const auto after = Scan(dir.Path(), HardLinkRule::Each);
    const ScanComparison c = CompareScans(*before, *after);
    ASSERT_TRUE(c.Ok) << c.Refused;
    EXPECT_EQ(Lines(c), Expected(then, m));
  }
}

// Known changes under each rule and size; lines are "kind old new path".
TEST(ScanCompare, KnownChanges) {
  struct Case {
    const char* What;
    HardLinkRule Links;
    bool Allocated;
    std::function<void(const std::string&)> Change;
    std::vector<std::string> Lines;
  };
  const std::vector<Case> cases = {
      {"a hard link beside its file counts nothing more under once, the name is new",
       HardLinkRule::Once, false,
       [](const std::string& r) { ASSERT_EQ(::link((r + "a/f").c_str(), (r + "a/g").c_str()), 0); },
       {"new 0 100 a/g"}},
      {"... and its bytes again at each name", HardLinkRule::Each, false,
       [](const std::string& r) { ASSERT_EQ(::link((r + "a/f").c_str(), (r + "a/g").c_str()), 0); },
       {"changed 300 400 ", "changed 300 400 a/", "new 0 100 a/g"}},
      {"a renamed folder is one removed and one new", HardLinkRule::Once, false,
       [](const std::string& r) { fs::rename(r + "a", r + "b"); },
       {"new 0 100 b/f", "new 0 200 b/c/e", "new 0 200 b/c/", "new 0 300 b/",
        "removed 100 0 a/f", "removed 200 0 a/c/e", "removed 200 0 a/c/",
        "removed 300 0 a/"}},
      {"a grown file changes its folders up to the root, in allocated bytes", HardLinkRule::Once,
       true,
       [](const std::string& r) {
         std::ofstream(r + "a/c/e", std::ios::binary | std::ios::trunc) << std::string(5000, 'y');
       },
       {"changed 8192 12288 ", "changed 8192 12288 a/", "changed 4096 8192 a/c/",
        "changed 4096 8192 a/c/e"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.What);
    TempDir dir;
    const std::string root = dir.Path() + "/";
    // a/f 100 bytes, a/c/e 200 bytes; written, so each takes a block.
    dir.Write("a/f", std::string(100, 'x'));
    dir.Write("a/c/e", std::string(200, 'x'));
    const auto before = Scan(dir.Path(), k.Links);
    k.Change(root);
    const auto after = Scan(dir.Path(), k.Links);
    CompareOptions options;
    options.Allocated = k.Allocated;
    const ScanComparison c = CompareScans(*before, *after, options);
    ASSERT_TRUE(c.Ok) << c.Refused;
    std::vector<std::string> want = k.Lines;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Lines(c), want);
  }
}

// Names added to files in other folders (met before and after the file's first name, and
// beside it) and one name taken away change exactly what each hard-link rule counts, as a
// walk of the test's own counts it: under once a file's bytes stay with the first name met,
// which may now be a new one; at each name every name adds them.
TEST(ScanCompare, HardLinksAddedAndRemovedChangeWhatTheRuleCounts) {
  const struct {
    HardLinkRule Links;
    std::int64_t RootChange;  // what the root's total must change by
  } cases[] = {{HardLinkRule::Once, 0}, {HardLinkRule::Each, 1000 + 3000 + 500 + 500 + 70 - 1000}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Links == HardLinkRule::Once ? "once" : "at each name");
    TempDir dir;
    const std::string root = dir.Path() + "/";
    dir.Write("top", std::string(70, 't'));
    dir.Write("a/f", std::string(1000, 'f'));
    dir.Write("b/g", std::string(3000, 'g'));
    dir.Write("b/d/h", std::string(500, 'h'));
    dir.Mkdir("c");
    const auto link = [&root](const char* from, const char* to) {
      ASSERT_EQ(::link((root + from).c_str(), (root + to).c_str()), 0) << to;
    };
    link("a/f", "c/f2");
    link("top", "b/d/top2");
    const auto before = Scan(dir.Path(), k.Links);
    const Model then = Walked(root, k.Links);
    link("a/f", "b/d/f3");
    link("b/g", "a/g2");
    link("b/d/h", "c/h2");
    link("b/d/h", "b/d/h3");
    link("top", "c/top3");
    ASSERT_EQ(::unlink((root + "c/f2").c_str()), 0);
    const auto after = Scan(dir.Path(), k.Links);
    const Model now = Walked(root, k.Links);
    EXPECT_EQ(static_cast<std::int64_t>(now.Total("")) - static_cast<std::int64_t>(then.Total("")),
              k.RootChange);
    const ScanComparison c = CompareScans(*before, *after);
    ASSERT_TRUE(c.Ok) << c.Refused;
    const std::vector<std::string> want = Expected(then, now);
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(Lines(c), want);
  }
}

// A comparison whose stop flag reads StopWhen ends, says so, and keeps no change: asked before
// it starts (on a tree of three folders, fewer than a check's steps) and on a tree of many
// folders, by either value of the flag.
TEST(ScanCompare, AStoppedComparisonSaysSoAndKeepsNothing) {
  TempDir dir;
  dir.Write("a/f", std::string(100, 'x'));
  dir.Write("b/g", std::string(10, 'x'));
  const auto small = Scan(dir.Path(), HardLinkRule::Once);
  for (int i = 0; i < 300; ++i) dir.Write("many/d" + std::to_string(i) + "/f", "x");
  const auto large = Scan(dir.Path(), HardLinkRule::Once);
  for (const bool stopWhen : {true, false}) {
    const std::atomic<bool> flag{stopWhen};
    for (const DiskObject* newer : {small.get(), large.get()}) {
      CompareOptions options;
      options.Stop = &flag;
      options.StopWhen = stopWhen;
      const ScanComparison c = CompareScans(*small, *newer, options);
      EXPECT_TRUE(c.Stopped);
      EXPECT_FALSE(c.Ok);
      EXPECT_TRUE(c.Changes.empty());
      EXPECT_EQ(c.Refused, "");
    }
    // The flag at the other value lets it run to the end.
    const std::atomic<bool> running{!stopWhen};
    CompareOptions options;
    options.Stop = &running;
    options.StopWhen = stopWhen;
    const ScanComparison c = CompareScans(*small, *large, options);
    EXPECT_TRUE(c.Ok);
    EXPECT_FALSE(c.Stopped);
    EXPECT_EQ(c.Changes.size(), 2u + 2u * 300u);  // root, many/, each d/ and its f
  }
}

// What a list of the later scan looks up: its folders' and files' changes, and the rows that
// went from each folder still there (not what lay below a folder that went).
TEST(ScanCompare, TheIndexAnswersAsTheListAsks) {
  TempDir dir;
  dir.Write("a/f", std::string(100, 'x'));
  dir.Write("a/g", std::string(5, 'x'));
  dir.Write("a/c/e", std::string(200, 'x'));
  const auto before = Scan(dir.Path(), HardLinkRule::Once);
  fs::rename(dir.Path() + "/a/c", dir.Path() + "/a/d");
  ::unlink((dir.Path() + "/a/f").c_str());
  dir.Write("a/g", std::string(50, 'x'));
  const auto after = Scan(dir.Path(), HardLinkRule::Once);
  const ScanComparison c = CompareScans(*before, *after);
  ASSERT_TRUE(c.Ok);
  const ChangeIndex index(c);
  const FolderList& now = after->DiskObjects();
  const DiskObject* a = now.Find(dir.Path() + "/a/");
  const DiskObject* d = now.Find(dir.Path() + "/a/d/");
  ASSERT_TRUE(a && d);
  ASSERT_NE(index.OfFolder(a), nullptr);
  EXPECT_EQ(index.OfFolder(a)->Change(), -55);
  EXPECT_EQ(index.OfFolder(d)->Kind, ChangeKind::New);
  EXPECT_EQ(index.OfFile(d, "e")->Kind, ChangeKind::New);
  EXPECT_EQ(index.OfFile(a, "g")->Change(), 45);
  EXPECT_EQ(index.OfFile(a, "f"), nullptr);  // it went: a removed row, not a row's change
  std::vector<std::string> removed;
  for (const TreeChange* t : index.RemovedFrom(a))
    removed.push_back(RelativeChangePath(c, *t) + " " + std::to_string(t->Old));
  EXPECT_EQ(removed, (std::vector<std::string>{"a/f 100", "a/c/ 200"}));
  EXPECT_TRUE(index.RemovedFrom(d).empty());
  EXPECT_TRUE(index.RemovedFrom(now.Item(1)).empty());
}

TEST(ScanCompare, ScansOfOtherRulesAreRefusedAndLinesComeLargestFirst) {
  TempDir dir;
  dir.Write("a/f", std::string(100, 'x'));
  dir.Write("b", std::string(10, 'x'));
  const auto once = Scan(dir.Path(), HardLinkRule::Once);
  const auto each = Scan(dir.Path(), HardLinkRule::Each);
  const ScanComparison refused = CompareScans(*once, *each);
  EXPECT_FALSE(refused.Ok);
  EXPECT_EQ(refused.Refused, "the earlier scan counted hard links once, this one at each name");
  EXPECT_FALSE(CompareScans(DiskObject(), *once).Ok);

  ::unlink((dir.Path() + "/b").c_str());
  WriteSized(dir.Path() + "/a/f", 150);
  const auto after = Scan(dir.Path(), HardLinkRule::Once);
  const ScanComparison c = CompareScans(*once, *after);
  std::vector<std::string> order;
  for (const ChangeLine& l : ChangesLargestFirst(c))
    order.push_back(std::to_string(l.Change.Change()) + " " + l.Path);
  const std::string r = dir.Path() + "/";
  EXPECT_EQ(order, (std::vector<std::string>{"50 " + r + "a/", "50 " + r + "a/f",
                                             "40 " + r, "-10 " + r + "b"}));
}

}  // namespace
}  // namespace kestrum
