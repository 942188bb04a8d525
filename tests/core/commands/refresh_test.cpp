// The refresh of one folder against a full rescan of its drive, on generated trees changed at
// random between the scan and the refresh.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "core/adapter/folder_nodes.h"
#include "core/commands/command_recorder.h"
#include "core/commands/disk_loader.h"
#include "core/commands/refresh_command.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/tree/kept_entries.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class FakeDrives : public DriveSource {
 public:
  bool ready = true;
  bool IsReady(const std::string&) const override { return ready; }
  std::int32_t AllocUnit(const std::string&) const override { return 4096; }
  void Space(const std::string&, double& total, double& free, const MessageSink&) const override {
    total = 1e9;
    free = 4e8;
  }
};

// Every folder of a drive's scan by path: totals, counts and whether it shows an expander.
struct FolderFacts {
  double used, allocated, ownUsed;
  std::int32_t files, folders, ownFiles, ownFolders, level;
  bool children;
  std::string kept;  // the entries the drive keeps for it: name, size, counted elsewhere
  bool operator==(const FolderFacts&) const = default;
};
std::ostream& operator<<(std::ostream& o, const FolderFacts& f) {
  return o << "used " << f.used << " allocated " << f.allocated << " own " << f.ownUsed << " files "
           << f.files << "/" << f.ownFiles << " folders " << f.folders << "/" << f.ownFolders
           << " level " << f.level << (f.children ? " children" : "") << " kept " << f.kept;
}
// The first folder where two scans differ, for a readable failure.
std::string FirstDifference(const std::map<std::string, FolderFacts>& a,
                            const std::map<std::string, FolderFacts>& b) {
  for (const auto& [path, facts] : a) {
    const auto it = b.find(path);
    std::ostringstream o;
    if (it == b.end()) return path + " only in the first";
    if (!(it->second == facts)) {
      o << path << ": " << facts << " against " << it->second;
      return o.str();
    }
  }
  for (const auto& [path, facts] : b)
    if (!a.count(path)) return path + " only in the second";
  return {};
}
// The drive's hard-link table: each counted file, by device and inode, with its size and the
// path of the folder that counted it.
std::map<std::pair<dev_t, ino_t>, std::string> Links(DiskObject& drive) {
  std::map<std::pair<dev_t, ino_t>, std::string> out;
  if (!drive.HardLinksIfAny()) return out;
  drive.HardLinks().ForEach([&](const FileId& id, const HardLinkTable::Entry& e) {
    out[{id.Dev, id.Ino}] = e.Folder->Path() + " " + std::to_string(e.Size);
  });
  return out;
}
std::map<std::string, FolderFacts> Facts(const DiskObject& drive) {
  std::map<std::string, FolderFacts> out;
  for (const auto& f : *drive.DiskObjectsIfAny()) {
    std::string kept;
    if (drive.Drive().Files)
      drive.Drive().Files->ForEach(f->FilesAt, [&kept](const StoredEntry& e) {
        kept += std::string(e.Name) + ":" + std::to_string(e.Size) +
                (e.CountedElsewhere ? "e " : " ");
      });
    out[f->Path()] = {f->UsedSpace,   f->AllocatedSpace, f->fUsedSpace, f->FileCount,
                      f->FolderCount, f->fFileCount,     f->fFolderCount, f->Level,
                      f->Children,    kept};
  }
  return out;
}

struct World {
  TempDir t;
  std::string top;
  DiskCollection disks;
  CExplorer explorer;
  test::CommandRecorder window;
  CommandSlot slot{window.queue};
  FakeDrives drives;
  DiskLoader loader{window, explorer, drives, slot};
  RefreshCommand refresher{window, explorer, drives, slot};
  DiskObject* drive = nullptr;

  World() {
    top = t.Mkdir("v");
    window.explorer = &explorer;
    auto r = std::make_unique<DiskObject>();
    r->Class = ObjectClass::Root;
    r->SetPath("My Computer");
    DiskObject* root = disks.Add(std::move(r));
    root->Node = explorer.AddNode(root->Label(), ItemValue(root), true);
    auto d = std::make_unique<DiskObject>();
    d->Class = ObjectClass::Drive;
    d->SetPath(top);
    d->DriveForChange().RootFolder = top + "/";
    d->Parent = root;
    drive = disks.Add(std::move(d));
    drive->Node = explorer.AddNode(drive->Label(), ItemValue(drive), true, root->Node);
  }
  void Scan() {
    ASSERT_TRUE(loader.LoadDisk(drive, disks, false));
    window.Pump(slot);
  }
  DiskObject* Folder(const std::string& relative) const {
    return drive->DiskObjects().Find(top + "/" + relative + "/");
  }
  void Refresh(DiskObject* folder) {
    ASSERT_TRUE(refresher.Refresh(folder));
    window.Pump(slot);
  }
  // A full scan of the drive as it is now, apart from the model.
  std::unique_ptr<DiskObject> Rescan(std::shared_ptr<const ExcludeRules> rules = nullptr) const {
    auto d = std::make_unique<DiskObject>();
    d->Class = ObjectClass::Drive;
    d->SetPath(top);
    d->DriveForChange().RootFolder = top + "/";
    d->DriveForChange().AllocationUnit = 4096;
    std::int32_t keys = 0;
    Scanning = true;
    ScanOptions o;
    o.Excludes = std::move(rules);
    ScanDrive(*d, keys, o);
    Scanning = false;
    SummarizeSizes(*d);
    return d;
  }
  // The node of the folder at relative, made as going there makes it.
  NodeId Node(const std::string& relative) { return MakeNode(explorer, *Folder(relative)); }
  // Once every node's children are fetched, as a view showing them all fetches them, every
  // folder has one node, under its parent's, carrying it.
  void ExpectNodesFollowFolders() {
    for (std::vector<NodeId> todo{drive->Node}; !todo.empty();) {
      const NodeId n = todo.back();
      todo.pop_back();
      explorer.FetchChildren(n);
      for (NodeId k : explorer.Node(n)->Kids) todo.push_back(k);
    }
    for (const auto& f : drive->DiskObjects()) {
      ASSERT_TRUE(explorer.Exists(f->Node)) << f->Path();
      EXPECT_EQ(ObjectOf(explorer, f->Node), f.get()) << f->Path();
      if (f->Level > 1) {
        EXPECT_EQ(explorer.Node(f->Node)->Parent, f->Parent->Node) << f->Path();
      }
    }
  }
};

void WriteSized(const std::string& path, off_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
}

std::vector<std::string> FoldersBelow(const std::string& dir) {
  std::vector<std::string> out{dir};
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_directory() && !e.is_symlink()) out.push_back(e.path().string());
  return out;
}

// A random tree under dir; files of a handful of sizes, some linked within the tree.
void Grow(const std::string& dir, std::mt19937& rng, int folders, int files) {
  std::vector<std::string> all = FoldersBelow(dir);
  for (int i = 0; i < folders; ++i) {
    const std::string p = all[rng() % all.size()] + "/d" + std::to_string(rng() % 100000);
    if (::mkdir(p.c_str(), 0755) == 0) all.push_back(p);
  }
  static const off_t kSizes[] = {0, 1, 4096, 5000, 70000, 123457};
  std::vector<std::string> made;
  for (int i = 0; i < files; ++i) {
    const std::string p = all[rng() % all.size()] + "/f" + std::to_string(rng() % 1000000);
    WriteSized(p, kSizes[rng() % 6] + static_cast<off_t>(rng() % 3));
    made.push_back(p);
    if (rng() % 5 == 0 && !made.empty()) {
      const std::string l = all[rng() % all.size()] + "/l" + std::to_string(rng() % 1000000);
      static_cast<void>(::link(made[rng() % made.size()].c_str(), l.c_str()));
    }
  }
}

// Random changes confined to dir: files added, grown, cut, removed and linked (within dir),
// folders added and removed. Files with names outside are left alone: changing them changes
// folders outside, and links across the edge have a rule of their own (tested below).
void Change(const std::string& dir, std::mt19937& rng) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.hard_link_count() == 1) files.push_back(e.path().string());
  for (const std::string& f : files) {
    switch (rng() % 8) {
      case 0:
        ::unlink(f.c_str());
        break;
      case 1:
        WriteSized(f, static_cast<off_t>(rng() % 200000));
        break;
      default:
        break;
    }
  }
  // Linked files with every name inside: all names go, or some.
  std::map<ino_t, std::vector<std::string>> linked;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    struct stat st {};
    if (e.is_regular_file() && ::lstat(e.path().c_str(), &st) == 0 && st.st_nlink > 1)
      linked[st.st_ino].push_back(e.path().string());
  }
  for (const auto& [ino, names] : linked) {
    struct stat st {};
    if (::lstat(names[0].c_str(), &st) != 0 || st.st_nlink != names.size()) continue;
    const std::size_t cut = rng() % 3 == 0 ? names.size() : rng() % 2;
    for (std::size_t i = 0; i < cut; ++i) ::unlink(names[i].c_str());
  }
  std::vector<std::string> below = FoldersBelow(dir);
  if (below.size() > 1 && rng() % 2) {
    const std::string gone = below[1 + rng() % (below.size() - 1)];
    bool linked = false;
    for (const auto& e : fs::recursive_directory_iterator(gone))
      linked = linked || (e.is_regular_file() && e.hard_link_count() > 1);
    if (!linked) fs::remove_all(gone);
  }
  Grow(dir, rng, 3, 20);
}

TEST(Refresh, EqualsAFullRescanAfterChangesInsideTheFolder) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    World w;
    std::mt19937 rng(seed);
    Grow(w.top, rng, 40, 300);
    w.Scan();
    std::vector<DiskObject*> candidates;
    for (const auto& f : w.drive->DiskObjects())
      if (f->Level >= 2) candidates.push_back(f.get());
    ASSERT_FALSE(candidates.empty());
    DiskObject* folder = candidates[rng() % candidates.size()];
    const std::string path = folder->Path();

    // Nothing changed: nothing changes, the largest list with its keys included.
    const auto facts = Facts(*w.drive);
    std::vector<std::string> largest;
    for (const auto& e : w.drive->LargestFiles()) largest.push_back(e->key + e->Name);
    const double used = w.drive->UsedSpace;
    w.Refresh(folder);
    EXPECT_EQ(FirstDifference(Facts(*w.drive), facts), "");
    EXPECT_EQ(w.drive->UsedSpace, used);
    std::vector<std::string> again;
    for (const auto& e : w.drive->LargestFiles()) again.push_back(e->key + e->Name);
    EXPECT_EQ(again, largest);
    w.ExpectNodesFollowFolders();

    // Changed inside, including links made inside: every folder as a full rescan finds it.
    Change(path, rng);
    w.Refresh(w.drive->DiskObjects().Find(path));
    const auto full = w.Rescan();
    EXPECT_EQ(FirstDifference(Facts(*w.drive), Facts(*full)), "");
    EXPECT_EQ(w.drive->UsedSpace, full->UsedSpace);
    EXPECT_EQ(w.drive->AllocatedSpace, full->AllocatedSpace);
    EXPECT_EQ(w.drive->Drive().DeepestLevel, full->Drive().DeepestLevel);
    EXPECT_EQ(Links(*w.drive), Links(*full));
    // Written again without what the refresh replaced, the store keeps the same entries.
    const std::size_t storeBytes = w.drive->Drive().Files->UsedBytes();
    CompactFiles(*w.drive);
    EXPECT_LT(w.drive->Drive().Files->UsedBytes(), storeBytes);
    EXPECT_EQ(FirstDifference(Facts(*w.drive), Facts(*full)), "");
    w.ExpectNodesFollowFolders();
    std::set<std::string> names;
    for (const auto& e : w.drive->LargestFiles()) {
      EXPECT_TRUE(names.insert(e->Name).second) << e->Name;
      EXPECT_TRUE(fs::exists(e->Name) || e->Name.rfind(path, 0) != 0) << e->Name;
    }
  }
}

// A refresh leaves out what the drive's scan left out: the rules go with the drive, whatever
// the loader is told since.
TEST(Refresh, AppliesTheRulesOfTheDrivesScan) {
  World w;
  w.t.Write("v/a/keep", std::string(3000, 'k'));
  w.t.Write("v/a/b.tmp", std::string(5000, 't'));
  w.t.Write("v/a/node_modules/m", std::string(7000, 'm'));
  ExcludeRule tmp, modules;
  tmp.Pattern = "*.tmp";
  modules.Pattern = "node_modules";
  std::string error;
  const auto rules = ExcludeRules::Make({tmp, modules}, error);
  w.loader.Excludes = rules;
  w.Scan();
  w.loader.Excludes = nullptr;
  w.t.Write("v/a/c.tmp", std::string(9000, 'c'));
  w.t.Write("v/a/node_modules/n", std::string(9000, 'n'));
  w.Refresh(w.Folder("a"));
  const auto full = w.Rescan(rules);
  EXPECT_EQ(FirstDifference(Facts(*w.drive), Facts(*full)), "");
  EXPECT_EQ(w.drive->UsedSpace, 3000);
  EXPECT_EQ(w.drive->UsedSpace, full->UsedSpace);
  EXPECT_EQ(w.drive->Drive().ExcludeLines, full->Drive().ExcludeLines);
}

TEST(Refresh, GoneUnreadableStoppedAndNotReady) {
  World w;
  w.t.Write("v/a/b/c/f", std::string(10000, 'x'));
  w.t.Write("v/a/g", "123");
  w.t.Write("v/h", "12");
  w.Scan();
  const auto before = Facts(*w.drive);
  const std::size_t nodes = w.explorer.NodeCount();

  // A stop, or a drive that is not ready: nothing changes, the list's status line comes back.
  w.t.Write("v/a/b/new", std::string(777, 'y'));
  w.refresher.AfterFolder = [](const DiskObject&) { Scanning = false; };
  w.window.calls.clear();
  w.Refresh(w.Folder("a"));
  EXPECT_EQ(Facts(*w.drive), before);
  EXPECT_EQ(w.explorer.NodeCount(), nodes);
  EXPECT_TRUE(w.window.Has("liststatus"));
  EXPECT_FALSE(w.window.Has("clearlist"));
  w.refresher.AfterFolder = nullptr;
  w.drives.ready = false;
  w.Refresh(w.Folder("a"));
  EXPECT_EQ(Facts(*w.drive), before);
  EXPECT_EQ(w.window.Statuses().back(), "Drive not ready...");
  w.drives.ready = true;

  // Refused while the slot is taken.
  ASSERT_TRUE(w.slot.Acquire());
  EXPECT_FALSE(w.refresher.Refresh(w.Folder("a")));
  w.slot.Release();

  // The selection inside a folder that goes moves to the nearest folder still there; an
  // expanded folder that stays is expanded again.
  // The nodes made again are those that were there, less the folder that went.
  w.explorer.TV_Expand(w.Node("a/b"));
  w.explorer.SetSelectedItem(w.Node("a/b/c"));
  const std::size_t made = w.explorer.ItemCount();
  fs::remove_all(w.top + "/a/b/c");
  w.Refresh(w.Folder("a"));
  EXPECT_EQ(w.explorer.ItemCount(), made - 1);
  EXPECT_EQ(w.explorer.SelectedItem(), w.Folder("a/b")->Node);
  EXPECT_EQ(w.window.expanded, std::vector<NodeId>{w.Folder("a/b")->Node});
  EXPECT_EQ(w.Folder("a")->UsedSpace, 3 + 777);
  EXPECT_EQ(w.drive->UsedSpace, 3 + 777 + 2);

  // Replaced by a link, or unreadable: as a scan shows it.
  ASSERT_EQ(::rename((w.top + "/a/b").c_str(), (w.top + "/moved").c_str()), 0);
  ASSERT_EQ(::symlink("../moved", (w.top + "/a/b").c_str()), 0);
  w.explorer.SetSelectedItem(w.Node("a/b"));
  w.Refresh(w.Folder("a/b"));
  EXPECT_EQ(w.Folder("a/b"), nullptr);
  EXPECT_EQ(w.explorer.SelectedItem(), w.Folder("a")->Node);
  EXPECT_EQ(w.Folder("a")->FolderCount, 0);
  EXPECT_FALSE(w.Folder("a")->Children);
  EXPECT_EQ(w.drive->DiskObjects().Item(1)->FolderCount, 1);
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod((w.top + "/a").c_str(), 0), 0);
    w.Refresh(w.Folder("a"));
    ASSERT_NE(w.Folder("a"), nullptr);
    EXPECT_TRUE(w.Folder("a")->Children);
    EXPECT_EQ(w.Folder("a")->UsedSpace, 0);
    ::chmod((w.top + "/a").c_str(), 0755);
  }
  w.ExpectNodesFollowFolders();
}

// Reads through the refresh's reader are all inside the folder.
class WatchingReader : public DirectoryReader {
 public:
  std::string inside;
  std::vector<std::string> outside;
  void Check(int fd) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf);
    const std::string at = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) + "/" : "?";
    if (at.rfind(inside, 0) != 0) outside.push_back(at);
  }
  int OpenAt(int fd, const char* name) override {
    Check(fd);
    return DirectoryReader::OpenAt(fd, name);
  }
  long ReadEntries(int fd, char* buffer, std::size_t size) override {
    Check(fd);
    return DirectoryReader::ReadEntries(fd, buffer, size);
  }
  int StatAt(int fd, const char* name, struct stat& out) override {
    Check(fd);
    return DirectoryReader::StatAt(fd, name, out);
  }
};

// Links across the folder's edge follow the rule the help states: a file counted outside
// counts nothing inside, and bytes a deleted inside name counted are missing until a scan.
TEST(Refresh, ReadsOnlyInsideAndLinksAcrossTheEdge) {
  World w;
  // The folder refreshed is the one the walk meets first, so that it counts the shared file.
  w.t.Mkdir("v/p");
  w.t.Mkdir("v/q");
  const std::string first = fs::directory_iterator(w.top)->path().filename().string();
  const std::string in = first, out = first == "p" ? "q" : "p";
  w.t.Write("v/" + in + "/own", std::string(1000, 'a'));
  w.t.Write("v/" + out + "/x", std::string(3000, 'b'));
  w.t.Write("v/" + in + "/shared", std::string(50000, 'c'));
  ASSERT_EQ(::link((w.top + "/" + in + "/shared").c_str(), (w.top + "/" + out + "/shared").c_str()),
            0);
  // y has two names outside when scanned, so the scan's table knows who counted it.
  w.t.Write("v/" + out + "/y", std::string(7000, 'd'));
  ASSERT_EQ(::link((w.top + "/" + out + "/y").c_str(), (w.top + "/" + out + "/y2").c_str()), 0);
  w.Scan();
  const double all = 1000 + 3000 + 50000 + 7000;
  EXPECT_EQ(w.drive->UsedSpace, all);
  EXPECT_EQ(w.Folder(in)->UsedSpace, 51000);

  WatchingReader watch;
  watch.inside = fs::canonical(w.top + "/" + in).string() + "/";
  w.refresher.Reader = &watch;
  // Files outside newly linked inside. y was counted outside: nothing inside. x had one name
  // when scanned, so no folder is known to have counted it: it counts inside too, until the
  // next full scan.
  ASSERT_EQ(::link((w.top + "/" + out + "/y").c_str(), (w.top + "/" + in + "/y3").c_str()), 0);
  ASSERT_EQ(::link((w.top + "/" + out + "/x").c_str(), (w.top + "/" + in + "/x2").c_str()), 0);
  w.Refresh(w.Folder(in));
  EXPECT_TRUE(watch.outside.empty()) << watch.outside.front();
  EXPECT_EQ(w.Folder(in)->UsedSpace, 51000 + 3000);
  EXPECT_EQ(w.Folder(in)->FileCount, 4);
  EXPECT_EQ(w.drive->UsedSpace, all + 3000);

  // The counting name inside deleted, another outside remains: its bytes are gone from the
  // totals until the next full scan, which counts them outside.
  ASSERT_EQ(::unlink((w.top + "/" + in + "/shared").c_str()), 0);
  w.Refresh(w.Folder(in));
  EXPECT_EQ(w.drive->UsedSpace, all + 3000 - 50000);
  w.refresher.Reader = nullptr;
  w.Scan();
  EXPECT_EQ(w.drive->UsedSpace, all);
  EXPECT_EQ(w.Folder(in)->UsedSpace, 1000 + 3000 + 7000);
  EXPECT_EQ(w.Folder(out)->UsedSpace, 50000);
}

}  // namespace
}  // namespace kestrum
