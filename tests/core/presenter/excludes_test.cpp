// What a scan's exclude rules look like in the window: the rows of what was left out, what
// delete does with them and says of them, the rules' dialog and the crossing switch, kept in
// the settings file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/commands/targets.h"
#include "core/commands/zip_command.h"
#include "core/platform/settings.h"
#include "core/presenter/exclude_form.h"
#include "core/rows/drive_stats.h"
#include "core/rows/list_cells.h"
#include "core/scan/exclude_rules.h"
#include "listing_fixture.h"

namespace kestrum::test {
namespace {

ExcludeRule Wild(std::string pattern, bool path = false) {
  ExcludeRule r;
  r.Pattern = std::move(pattern);
  r.FullPath = path;
  return r;
}

std::shared_ptr<const ExcludeRules> Rules(std::vector<ExcludeRule> rules) {
  std::string error;
  auto made = ExcludeRules::Make(std::move(rules), error);
  EXPECT_TRUE(made) << error;
  return made;
}

// drive/ a.txt (100 bytes), b.o (7000), node_modules/ (m.js, 5000), src/ (x.o, 3000; y.c, 10)
struct ExcludeWorld {
  ListingWorld w;
  ExcludeWorld()
      : w(
            [](const TempDir& d, const std::string&) {
              d.Write("drive/a.txt", std::string(100, 'a'));
              d.Write("drive/b.o", std::string(7000, 'b'));
              d.Mkdir("drive/node_modules");
              d.Write("drive/node_modules/m.js", std::string(5000, 'm'));
              d.Mkdir("drive/src");
              d.Write("drive/src/x.o", std::string(3000, 'x'));
              d.Write("drive/src/y.c", std::string(10, 'y'));
            },
            Rules({Wild("*.o"), Wild("node_modules")})) {}
  // Selects the rows whose texts begin with one of names (a sort letter may follow).
  void Select(const std::vector<std::string>& names) {
    for (std::size_t i = 1; i <= w.List().Count(); ++i) {
      const std::string& text = w.List().Rows()[i - 1].Text;
      w.p->List().SetSelected(i, std::any_of(names.begin(), names.end(), [&](const std::string& n) {
                                return text.rfind(n, 0) == 0;
                              }));
    }
  }
};

TEST(ExcludedRows, ListedWithTheirRuleAndNotCounted) {
  ExcludeWorld x;
  ListingWorld& w = x.w;
  EXPECT_EQ(w.Object(w.RootFolderNode())->UsedSpace, 100 + 10);
  // Folders alone: the folder a rule left out is listed beside the scanned one.
  const NodeId root = w.RootFolderNode();
  w.TreeClick(root);
  // (src, the largest files and node_modules; b.o is a file, not shown.)
  ASSERT_EQ(w.List().Count(), 3u);
  std::vector<std::string> excluded;
  for (const ListRow& r : w.List().Rows())
    if (r.Excluded) excluded.push_back(r.Cell(1));
  EXPECT_EQ(excluded, std::vector<std::string>{"excluded: node_modules"});
  // And with the files: each excluded entry says so, with its rule, and has no share.
  w.p->MenuClick("mnuViewShowFiles");
  w.TreeClick(root);
  const struct {
    std::string name;
    std::string size;
    bool excluded, folder;
  } cases[] = {
      {"a.txt", SizeText(100), false, false},
      {"b.o", "excluded: *.o", true, false},
      {"node_modules", "excluded: node_modules", true, true},
  };
  for (const auto& c : cases) {
    std::size_t at = 0;
    for (std::size_t i = 1; i <= w.List().Count(); ++i)
      if (w.List().Rows()[i - 1].Text.rfind(c.name, 0) == 0) at = i;
    ASSERT_NE(at, 0u) << c.name;
    const ListRow& r = w.List().Rows()[at - 1];
    EXPECT_EQ(r.Cell(1), c.size) << c.name;
    EXPECT_EQ(r.Excluded, c.excluded) << c.name;
    EXPECT_EQ(r.ExcludedFolder, c.folder) << c.name;
    if (c.excluded) {
      EXPECT_EQ(r.Cell(2), "") << c.name;
    }
  }
  // The status line counts what the scan counted: src and a.txt.
  EXPECT_EQ(w.view.status.back(), "1 folders, 1 files for " + SizeText(100));
}

TEST(ExcludedRows, DeleteActsOnThemAndSaysTheirSizeWasNotCounted) {
  ExcludeWorld x;
  ListingWorld& w = x.w;
  w.p->MenuClick("mnuViewShowFiles");
  const NodeId root = w.RootFolderNode();
  w.TreeClick(root);
  const std::vector<std::string> chosen = {"node_modules", "a.txt"};
  x.Select(chosen);
  // Answered no first: nothing happens, but the question said it.
  w.Run([&] { w.p->MenuClick("mnuFileDelete"); });
  ASSERT_EQ(w.view.details.size(), 1u);
  EXPECT_NE(w.view.details[0].find("drive/node_modules/\n"), std::string::npos)
      << w.view.details[0];
  EXPECT_NE(w.view.details[0].find("1 of them was left out of the scan by an exclude rule: its "
                                   "size was not counted."),
            std::string::npos)
      << w.view.details[0];
  // Zip is told so too.
  const TargetSelection chosenRows = SelectFileTargets(w.List(), w.Ex(), w.p->SelectedNode(), true);
  ASSERT_EQ(chosenRows.Targets.size(), 2u);
  EXPECT_EQ(BuildZipRequest(chosenRows, w.drivePath, "/").Excluded, 1u);
  const std::string folder = w.drivePath + "/node_modules";
  EXPECT_EQ(::access(folder.c_str(), F_OK), 0);
  w.view.confirmYes = true;
  x.Select(chosen);
  w.Run([&] { w.p->MenuClick("mnuFileDelete"); });
  EXPECT_NE(::access(folder.c_str(), F_OK), 0);
  w.Run([&] { w.TreeClick(root); });
  for (const ListRow& r : w.List().Rows()) {
    EXPECT_NE(r.Text.rfind("node_modules", 0), 0u);
    EXPECT_NE(r.Text.rfind("a.txt", 0), 0u);
  }
  // A confirmation of rows that were all counted says nothing of rules.
  w.view.confirmYes = false;
  x.Select({"src"});
  w.Run([&] { w.p->MenuClick("mnuFileDelete"); });
  ASSERT_EQ(w.view.details.size(), 3u);
  EXPECT_NE(w.view.details[2].find("drive/src/\n"), std::string::npos) << w.view.details[2];
  EXPECT_EQ(w.view.details[2].find("exclude rule"), std::string::npos);
  // An excluded file goes to the trash (the test program's own) as any other, and says so.
  w.view.confirmYes = true;
  x.Select({"b.o"});
  w.Run([&] { w.p->MenuClick("mnuFileRecycle"); });
  ASSERT_EQ(w.view.details.size(), 4u);
  EXPECT_NE(w.view.details[3].find("exclude rule"), std::string::npos) << w.view.details[3];
  EXPECT_NE(::access((w.drivePath + "/b.o").c_str(), F_OK), 0);
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(::access((std::string(data) + "/Trash/files/b.o").c_str(), F_OK), 0);
}

TEST(ExcludeSettings, DialogCrossingAndHistoryAreKeptInTheSettingsFile) {
  ListingWorld w([](const TempDir&, const std::string&) {});
  const std::string file = w.dir.Write("kestrum.conf",
                                       "[Exclude]\nRule1=wildcard,name:*.o\n"
                                       "Rule2=bogus\nRule3=caches\n");
  w.p->SetSettingsFile(file);
  // The dialog is shown the rules the file holds, the line it does not understand named.
  w.p->MenuClick("mnuToolsExcludes");
  ASSERT_TRUE(w.view.excludeShown);
  ExcludeForm expected;
  expected.Rules = {Wild("*.o")};
  expected.Caches = true;
  EXPECT_EQ(*w.view.excludeShown, expected);
  ASSERT_EQ(w.view.messages.size(), 1u);
  EXPECT_NE(w.view.messages[0].find("Rule2"), std::string::npos);
  // A bad pattern is named, and nothing is kept.
  const struct {
    ExcludeRule rule;
    std::string fault;
  } bad[] = {
      {[] {
         ExcludeRule r = Wild("(");
         r.What = ExcludeRule::Kind::Regex;
         return r;
       }(),
       "Rule 2 (\"(\"):"},
      {Wild(""), "Rule 2 has no pattern."},
  };
  for (const auto& b : bad) {
    ExcludeForm answer;
    answer.Rules = {Wild("*.tmp"), b.rule};
    w.view.excludeAnswer = answer;
    w.p->MenuClick("mnuToolsExcludes");
    EXPECT_EQ(w.view.checked.rfind(b.fault, 0), 0u) << w.view.checked;
  }
  // Good rules are kept, in order, the caches rule after them; the switch too.
  ExcludeForm good;
  good.Rules = {Wild("/home/*/.cache", true), Wild("a\"b\nc")};
  good.Caches = false;
  w.view.excludeAnswer = good;
  w.p->MenuClick("mnuToolsExcludes");
  EXPECT_EQ(w.view.checked, "");
  w.p->MenuClick("mnuViewCrossFs");
  EXPECT_TRUE(w.p->Toggles().CrossFileSystems);
  // And the history's switch.
  ASSERT_TRUE(w.p->KeepHistory);
  w.p->MenuClick("mnuViewKeepHistory");
  EXPECT_FALSE(w.p->KeepHistory);
  IniFile kept;
  ASSERT_EQ(kept.Load(file), IniFile::LoadResult::Loaded);
  EXPECT_EQ(LoadExcludeRules(kept, nullptr), good.AllRules());
  ListingWorld again([](const TempDir&, const std::string&) {});
  again.p->ReadKeptSettings(kept);
  EXPECT_TRUE(again.p->Toggles().CrossFileSystems);
  EXPECT_FALSE(again.p->KeepHistory);
  again.p->SetSettingsFile(file);
  again.p->MenuClick("mnuToolsExcludes");
  ASSERT_TRUE(again.view.excludeShown);
  EXPECT_EQ(*again.view.excludeShown, good);
}

// A scan that crossed into another file system: the overhead counts the drive's own only.
TEST(DriveStats, OverheadCountsOnlyTheDrivesOwnFileSystem) {
  ListingWorld w([](const TempDir& d, const std::string&) {
    d.Mkdir("drive/mnt");
    d.Mkdir("drive/mnt/big");
    d.Write("drive/mnt/big/f", std::string(50000, 'f'));
    d.Mkdir("drive/mnt/big/inner");
    d.Write("drive/mnt/big/inner/g", std::string(9000, 'g'));
    d.Write("drive/own", std::string(20000, 'o'));
  });
  const DiskObject& root = *w.Object(w.RootFolderNode());
  const std::string top = w.drivePath + "/";
  const std::vector<MountEntry> table = {
      {"/dev/sdz1", w.drivePath, "ext4", "/", 1},
      {"/dev/sdy1", top + "mnt/big", "ext4", "/", 2},
      {"tmpfs", top + "mnt/big/inner", "tmpfs", "/", 3},  // below the other: counted once
      {"/dev/sdx1", top + "elsewhere", "ext4", "/", 4},   // no folder of the scan
  };
  const DiskObject* big = w.drive->DiskObjects().Find(top + "mnt/big/");
  ASSERT_NE(big, nullptr);
  const CrossedSpace other = OtherFileSystemsSpace(root, table);
  EXPECT_EQ(other.Used, 59000);
  EXPECT_EQ(other.Allocated, big->AllocatedSpace);
  const auto overhead = [&](const std::vector<MountEntry>& t) {
    for (const ListRow& r : DriveStats(root, t))
      if (r.Text == "Drive Overhead") return r.Cell(1);
    return std::string();
  };
  const double device = w.drive->Drive().DeviceSize, free = w.drive->Drive().FreeSpace;
  EXPECT_EQ(overhead({}), SizeText(device - w.drive->AllocatedSpace - free));
  EXPECT_EQ(overhead(table),
            SizeText(device - (w.drive->AllocatedSpace - big->AllocatedSpace) - free));
  // So are the pie chart's slices, which still add up to the device.
  const PieChartData pie = PieChartOf(root, other);
  ASSERT_EQ(pie.Slices.size(), 4u);
  EXPECT_EQ(pie.Slices[1].Value, root.UsedSpace - 59000);
  double sum = 0;
  for (const PieSlice& s : pie.Slices) sum += s.Value;
  EXPECT_DOUBLE_EQ(sum, device);
  // The folders at mount points are marked with their file system.
  EXPECT_EQ(MountedFileSystem(table, top + "mnt/big/"), "ext4");
  EXPECT_EQ(MountedFileSystem(table, top + "mnt/big/inner"), "tmpfs");
  EXPECT_EQ(MountedFileSystem(table, top + "mnt/"), "");
}

// The same on real mounts (root only, in a mount namespace of the test's own): a tmpfs, an
// ext4 loop-mounted inside it, and proc, which is never entered.
TEST(DriveStats, RealMountsAreMarkedAndLeftOutOfTheDrivesOwnSpace) {
  MountSandbox mounts;
  if (!mounts.Why().empty()) GTEST_SKIP() << mounts.Why();
  bool loop = false;
  std::optional<ListingWorld> made;
  made.emplace(
      [&](const TempDir& d, const std::string& drive) {
        d.Write("drive/own/a", std::string(1000, 'a'));
        d.Mkdir("drive/proc");
        ASSERT_TRUE(mounts.Mount("tmpfs", d.Mkdir("drive/t"))) << mounts.Error();
        d.Write("drive/t/x", std::string(3000, 'x'));
        loop = mounts.LoopExt4(d.Path() + "/disk.img", d.Mkdir("drive/t/disk"), 8);
        if (loop) d.Write("drive/t/disk/y", std::string(6000, 'y'));
        ASSERT_TRUE(mounts.Mount("proc", drive + "/proc")) << mounts.Error();
      },
      nullptr, true);
  // Taken down before the world's folder is removed.
  struct Down {
    MountSandbox& m;
    ~Down() { m.Unmount(); }
  } down{mounts};
  ListingWorld& w = *made;
  const auto marks = [&w] {
    std::vector<std::string> out;
    for (const ListRow& r : w.List().Rows())
      if (const auto n = TagNode(r.Tag); n && w.Object(*n)->Class == ObjectClass::Folder)
        out.push_back(w.Object(*n)->Name + "=" + r.FileSystem);
    std::sort(out.begin(), out.end());
    return out;
  };
  const NodeId root = w.RootFolderNode();
  w.TreeClick(root);
  EXPECT_EQ(marks(), (std::vector<std::string>{"own=", "t=tmpfs"}));
  if (loop) {
    w.TreeClick(w.Child(root, "t"));
    EXPECT_EQ(marks(), (std::vector<std::string>{"disk=ext4"}));
  }
  const DiskObject& r = *w.Object(root);
  const DiskObject* t = w.drive->DiskObjects().Find(w.drivePath + "/t/");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->UsedSpace, loop ? 9000 : 3000);
  DisplayPieChart(*w.p, r);
  ASSERT_EQ(w.view.charts.back().Slices.size(), 4u);
  EXPECT_EQ(w.view.charts.back().Slices[1].Value, r.UsedSpace - t->UsedSpace);
  DisplayPieChart(*w.p, *w.drive);
  EXPECT_EQ(w.view.charts.back().Slices[1].Value, w.drive->AllocatedSpace - t->AllocatedSpace);
}

}  // namespace
}  // namespace kestrum::test
