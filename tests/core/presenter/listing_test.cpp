// Listings of a real scanned drive through the presenter, as a click would ask for them:
// rows, cells, tags, layouts, order, status lines, path labels and the statistics rows.
#include "core/presenter/listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/adapter/row_tags.h"
#include "core/rows/file_rows.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

using test::ListingWorld;
using test::TempDir;
using Strings = std::vector<std::string>;

const std::string kNewline = "nl\nname";
const std::string kNotUtf8 = "\xff\xfe";

void MakeDrive(const TempDir& dir, const std::string&) {
  dir.Write("drive/a.txt", "x");
  dir.Write("drive/B.bin", std::string(5000, 'b'));
  dir.Write("drive/zero", "");
  dir.Write("drive/same", std::string(10, 's'));
  dir.Write("drive/Same/f", std::string(100, 'f'));
  dir.Write("drive/sub/x", std::string(8192, 'x'));
  dir.Write("drive/" + kNewline, std::string(7, 'n'));
  dir.Write("drive/" + kNotUtf8, "abc");
  // Entries the scan counts as no file: they get no row either.
  EXPECT_EQ(::symlink("a.txt", (dir.Path() + "/drive/link").c_str()), 0);
  EXPECT_EQ(::mkfifo((dir.Path() + "/drive/pipe").c_str(), 0600), 0);
}

struct Listing : ::testing::Test {
  ListingWorld w{MakeDrive};
};

TEST_F(Listing, MyComputerListsReadyDrivesAndSwitchesLayoutsByHeader) {
  w.TreeClick(w.Root());
  EXPECT_EQ(w.Headers(), (Strings{"Name", "Size", "Free", "% Free"}));
  ASSERT_EQ(w.List().Count(), 1u);
  EXPECT_EQ(w.List().Rows()[0].SubItems,
            (Strings{"953.67 mb", "381.46 mb", "40.0"}));  // 1e9 bytes, 4e8 free
  EXPECT_TRUE(w.List().Rows()[0].Selected);
  EXPECT_EQ(TagNode(w.List().Rows()[0].Tag), w.DriveNode());
  EXPECT_EQ(w.view.status.back(), "1 disk volume");
  EXPECT_EQ(w.view.paths.back(), "My Computer");

  LvListView_ColumnClick(*w.p, "Free");
  EXPECT_EQ(w.Headers(), (Strings{"Name", "Size", "Used", "% Used", "Last Accessed"}));
  EXPECT_EQ(w.List().Rows()[0].SubItems, (Strings{"953.67 mb", "13.0 kb", "0.0"}));
  w.p->MenuClick("mnuViewAllocated");  // the used column follows the toggle: 36864 bytes
  EXPECT_EQ(w.List().Rows()[0].SubItems, (Strings{"953.67 mb", "36.0 kb", "0.0"}));
  LvListView_ColumnClick(*w.p, "Used");
  EXPECT_EQ(w.Headers().size(), 4u);
  // The layout outlives a visit elsewhere.
  LvListView_ColumnClick(*w.p, "Free");
  w.TreeClick(w.RootFolderNode());
  w.TreeClick(w.Root());
  EXPECT_EQ(w.Headers().size(), 5u);
}

// "My Computer" counts its volumes (ready or not), folder entries and saved scans apart.
TEST(ComputerStatus, CountsEachKindApart) {
  const struct {
    int volumes, notReady, folders, saved;
    const char* want;
  } cases[] = {
      {0, 0, 0, 0, "0 disk volumes"},
      {1, 0, 0, 0, "1 disk volume"},
      {2, 1, 1, 2, "3 disk volumes, 1 folder, 2 saved scans"},
      {1, 0, 2, 1, "1 disk volume, 2 folders, 1 saved scan"},
      {0, 1, 0, 1, "1 disk volume, 1 saved scan"},
      {0, 0, 3, 0, "3 folders"},
  };
  for (const auto& c : cases) {
    DiskCollection disks;
    int made = 0;
    auto add = [&](ObjectClass cls, bool entry, bool ready) {
      auto d = std::make_unique<DiskObject>();
      d->Class = cls;
      d->DriveForChange().FolderEntry = entry;
      d->Children = ready;
      d->SetPath("/k" + std::to_string(++made));
      disks.Add(std::move(d));
    };
    add(ObjectClass::Root, false, true);
    for (int i = 0; i < c.volumes; ++i) add(ObjectClass::Drive, false, true);
    for (int i = 0; i < c.notReady; ++i) add(ObjectClass::Drive, false, false);
    for (int i = 0; i < c.folders; ++i) add(ObjectClass::Drive, true, true);
    for (int i = 0; i < c.saved; ++i) add(ObjectClass::Import, false, true);
    EXPECT_EQ(ComputerStatus(disks), c.want);
  }
}

TEST_F(Listing, ScannedDriveShowsItsRootFolderAndTheStatistics) {
  w.TreeClick(w.DriveNode());
  EXPECT_EQ(w.Headers(), (Strings{"Name", "Size", "% Parent", " "}));
  const DiskObject* root = w.Object(w.RootFolderNode());
  const std::string folders = std::to_string(root->FolderCount);
  const std::string files = std::to_string(root->FileCount);
  EXPECT_EQ(files, "8");
  ASSERT_EQ(w.List().Count(), 9u);
  const ListRow& r = w.List().Rows()[0];
  EXPECT_EQ(r.Text, w.Ex().Node(w.RootFolderNode())->Text);
  EXPECT_EQ(r.SubItems, (Strings{"13.0 kb", "0.0", ""}));  // 13313 of 1e9 bytes
  EXPECT_EQ(w.Texts(),
            (Strings{r.Text, "Device Size", "Free Space", "Folders", "Files", "Drive Overhead",
                     "Allocation Inefficiency", "Allocation Unit", "File System"}));
  auto cells = [&](std::size_t i) { return w.List().Rows()[i].SubItems; };
  EXPECT_EQ(cells(1), (Strings{"953.67 mb", " "}));
  EXPECT_EQ(cells(2), (Strings{"381.46 mb", "40.0", std::string(24, '|')}));
  EXPECT_EQ(cells(3), (Strings{folders, " "}));
  EXPECT_EQ(cells(4), (Strings{files, " "}));
  // 1e9 - 36864 allocated - 4e8 free
  EXPECT_EQ(cells(5), (Strings{"572.16 mb", "60.0", std::string(36, '|')}));
  EXPECT_EQ(cells(6), (Strings{"22.99 kb", "0.0", ""}));  // 36864 - 13313
  EXPECT_EQ(cells(7), (Strings{"4096"}));
  EXPECT_EQ(cells(8), (Strings{"ext4"}));
  for (std::size_t i = 1; i < 9; ++i) EXPECT_TRUE(IsEmpty(w.List().Rows()[i].Tag));
  EXPECT_EQ(w.view.status.back(), folders + " folders, " + files + " files for 13.0 kb");
  EXPECT_EQ(w.view.paths.back(), w.drivePath);

  // A click on a statistics row does nothing.
  const auto generation = w.p->Listing().Generation;
  w.RowClick(3);
  w.RowClick(3, kRightButton);
  EXPECT_EQ(w.p->Listing().Generation, generation);
  EXPECT_TRUE(w.view.charts.empty());
}

TEST_F(Listing, OverheadBelowZeroIsShownAsZeroAndAFullDriveHasNoFreeBar) {
  w.drive->DriveForChange().FreeSpace = 0;
  w.drive->DriveForChange().DeviceSize =
      10000;  // less than the 13313 used and 36864 allocated bytes
  w.TreeClick(w.DriveNode());
  EXPECT_EQ(w.List().Rows()[2].SubItems, (Strings{"0 b", "0", ""}));
  EXPECT_EQ(w.List().Rows()[5].SubItems, (Strings{"0 b", "0", ""}));
  // The root folder's bar stays within its column although it exceeds the drive.
  EXPECT_EQ(w.List().Rows()[0].SubItems[2], std::string(60, '|'));
}

TEST_F(Listing, FolderListsSubfoldersThenFilesWithFilesOnInNameOrder) {
  w.TreeClick(w.RootFolderNode());
  // "Files" is off and the folder has subfolders: only they are listed.
  EXPECT_EQ(w.Texts(), (Strings{"100 Largest Files", "Same", "sub"}));
  EXPECT_EQ(w.Headers(), (Strings{"Name", "Size", "% Parent", " ", "Last Accessed"}));
  EXPECT_EQ(w.view.status.back(), "2 folders, 6 files for 4.9 kb");  // own 5021 bytes
  EXPECT_EQ(w.view.paths.back(), w.drivePath + "/");

  w.p->tbToolBar_ButtonClick("Files");
  // A folder before a file of the same name; letters compared without case.
  EXPECT_EQ(w.Texts(), (Strings{"100 Largest Files", "a.txt", "B.bin", kNewline, "Same", "same",
                                "sub", "zero", kNotUtf8}));
  EXPECT_EQ(w.view.paths.back(), w.drivePath + "/");
  EXPECT_EQ(w.Row("100 Largest Files").SubItems,
            (Strings{"13.0 kb", "100.0", std::string(60, '|')}));
  EXPECT_EQ(w.Row("sub").SubItems, (Strings{"8.0 kb", "61.5", std::string(37, '|')}));
  const ListRow& b = w.Row("B.bin");
  ASSERT_EQ(b.SubItems.size(), 4u);
  EXPECT_EQ(Strings(b.SubItems.begin(), b.SubItems.end() - 1),
            (Strings{"4.88 kb", "37.6", std::string(23, '|')}));  // 5000 of 13313
  EXPECT_FALSE(b.SubItems[3].empty());                            // the date
  EXPECT_EQ(b.Tag, RowTag(std::string("File 5000")));
  EXPECT_EQ(w.Row("zero").SubItems[0], "0 b");
  EXPECT_EQ(w.Row("zero").SubItems[1], "0");
  EXPECT_EQ(w.Row("a.txt").SubItems[0], "1 b");
  EXPECT_TRUE(w.List().Rows()[0].Selected);

  // Size order: descending by bytes, folders and files mixed, texts formatted.
  LvListView_ColumnClick(*w.p, "Size");
  const Strings bySize = {
      "100 Largest Files", "sub", "B.bin", "Same", "same", kNewline, kNotUtf8, "a.txt", "zero"};
  EXPECT_EQ(w.Texts(), bySize);
  EXPECT_EQ(w.Column(1)[1], "8.0 kb");
  LvListView_ColumnClick(*w.p, "Size");
  EXPECT_EQ(w.Texts(), bySize);  // no reverse order
  LvListView_ColumnClick(*w.p, "% Parent");
  EXPECT_EQ(w.Texts(), bySize);  // not a sort column

  // Allocated sizes: rounded up to 4096-byte units, 0 stays 0; the tag carries the shown size.
  w.p->MenuClick("mnuViewAllocated");
  EXPECT_EQ(w.Row("a.txt").SubItems[0], "4.0 kb");
  EXPECT_EQ(w.Row("a.txt").Tag, RowTag(std::string("File 4096")));
  EXPECT_EQ(w.Row("zero").SubItems[0], "0 b");
  EXPECT_EQ(w.Row("B.bin").SubItems[0], "8.0 kb");
  EXPECT_EQ(w.view.status.back(), "2 folders, 6 files for 24.0 kb");
}

TEST_F(Listing, LargestFilesFolderListsFullPathsAndKeepsVanishedFiles) {
  const NodeId largest = w.Child(w.RootFolderNode(), "100 Largest Files");
  w.TreeClick(w.RootFolderNode());
  w.RowClick(w.RowOf("100 Largest Files"), kRightButton);  // goes in, as a left click would
  EXPECT_EQ(w.p->SelectedNode(), largest);
  ASSERT_EQ(w.List().Count(), 7u);  // every file above 0 bytes
  EXPECT_EQ(w.view.status.back(), "0 folders, 7 files for 13.0 kb");
  EXPECT_EQ(w.view.paths.back(), w.drivePath + "/100 Largest Files");
  std::set<std::string> keys;
  for (const ListRow& r : w.List().Rows()) {
    EXPECT_EQ(r.Text.rfind(w.drivePath + "/", 0), 0u) << r.Text;
    keys.insert(r.Key);
    EXPECT_TRUE(IsFileTag(r.Tag));
  }
  EXPECT_EQ(keys.size(), 7u);
  ASSERT_EQ(std::remove((w.drivePath + "/B.bin").c_str()), 0);
  LvListView_ColumnClick(*w.p, "Size");
  EXPECT_EQ(w.Texts()[1], w.drivePath + "/B.bin");  // still listed, from the scan
  EXPECT_EQ(w.List().Rows()[1].SubItems[3], "");    // with no date
  EXPECT_FALSE(w.List().Rows()[0].SubItems[3].empty());
}

TEST_F(Listing, VanishedOrReplacedFoldersListNoFiles) {
  w.p->tbToolBar_ButtonClick("Files");
  std::filesystem::remove_all(w.drivePath + "/sub");
  w.TreeClick(w.Child(w.RootFolderNode(), "sub"));
  EXPECT_EQ(w.List().Count(), 0u);
  EXPECT_EQ(w.view.status.back(), "0 folders, 1 files for 8.0 kb");
  // A folder replaced by a link to another folder since the scan: not followed.
  std::filesystem::remove_all(w.drivePath + "/Same");
  std::filesystem::create_directory(w.drivePath + "/other");
  w.dir.Write("drive/other/elsewhere", "1");
  ASSERT_EQ(::symlink("other", (w.drivePath + "/Same").c_str()), 0);
  w.TreeClick(w.Child(w.RootFolderNode(), "Same"));
  EXPECT_EQ(w.List().Count(), 0u);
}

TEST_F(Listing, ZeroSizedParentsGiveNoInfinityAndBarsStayWithinTheColumn) {
  w.p->tbToolBar_ButtonClick("Files");
  DiskObject* root = w.Object(w.RootFolderNode());
  root->UsedSpace = 0;
  w.TreeClick(w.RootFolderNode());
  for (const ListRow& r : w.List().Rows()) {
    EXPECT_EQ(r.SubItems[1], "0") << r.Text;
    EXPECT_EQ(r.SubItems[2], "") << r.Text;
  }
  root->UsedSpace = 2;  // files grew since the scan
  w.TreeClick(w.RootFolderNode());
  EXPECT_EQ(w.Row("B.bin").SubItems[2], std::string(60, '|'));
  EXPECT_EQ(w.Row("B.bin").SubItems[1], "250000.0");
}

// Files read by several threads come out exactly as read by one, in the folder's order.
TEST(FileRows, SeveralReadersGiveTheRowsOfOne) {
  TempDir dir;
  for (int i = 0; i < 257; ++i) dir.Write("f/n" + std::to_string(i), std::string(i % 7, 'x'));
  dir.Mkdir("f/folder");
  FileRowsRequest rq;
  rq.VolumeRoot = dir.Path() + "/";
  rq.FolderPath = dir.Path() + "/f/";
  rq.ParentSpace = 1000;
  rq.Readers = 1;
  const RowBatch one = ReadFileRows(rq);
  ASSERT_EQ(one.Count(), 257u);
  for (unsigned readers : {2u, 3u, 4u}) {
    rq.Readers = readers;
    const RowBatch many = ReadFileRows(rq);
    ASSERT_EQ(many.Count(), one.Count());
    for (std::size_t i = 0; i < one.Count(); ++i) {
      EXPECT_EQ(many.Rows[i].Text, one.Rows[i].Text);
      EXPECT_EQ(many.Rows[i].SubItems, one.Rows[i].SubItems);
      EXPECT_EQ(many.Sizes[i], one.Sizes[i]);
    }
  }
}

TEST(ListingPlaceholder, UnscannedDriveListsThePlaceholderUnsorted) {
  TempDir dir;
  const std::string drive = dir.Mkdir("d");
  test::ViewRecorder view;
  const std::string table = dir.Write("mountinfo", "1 0 8:1 / " + drive + " rw - ext4 /dev/x rw\n");
  MainPresenter p(view, [&] { return test::VolumesFromTable(table, dir.Path()); });
  p.LoadDisks();
  const NodeId d = p.Explorer().Node(p.Explorer().FirstNode())->Kids.front();
  p.Explorer().SetSelectedItem(d);
  p.tvTreeView_Click();
  ASSERT_EQ(p.List().Count(), 1u);
  EXPECT_EQ(p.List().Rows()[0].Text, "Drive not scanned...");
  EXPECT_TRUE(IsEmpty(p.List().Rows()[0].Tag));
  EXPECT_EQ(view.status.back(), "Click Scan button to scan the drive...");
  const auto generation = p.Listing().Generation;
  lvListView_MouseUp(p, kLeftButton, 0);
  lvListView_Click(p, 1);
  EXPECT_EQ(p.Listing().Generation, generation);
  // Gone into from a list in name-sort mode, the row keeps its whole text.
  p.Listing().SuffixSort = true;
  Relist(p);
  EXPECT_EQ(p.List().Rows()[0].Text, "Drive not scanned...");
}

TEST(ListingTrash, RecycleAndTrashFoldersOpenInTheFileManager) {
  const std::string uidTrash = ".Trash-" + std::to_string(::getuid());
  ListingWorld w([&](const TempDir& dir, const std::string&) {
    dir.Write("drive/RECYCLED/x", "1");
    dir.Write("drive/" + uidTrash + "/files/y", "1");
    dir.Write("drive/deep/.Trash/z", "1");
  });
  w.TreeClick(w.Child(w.RootFolderNode(), "RECYCLED"));
  EXPECT_EQ(w.view.opened, Strings{w.drivePath + "/RECYCLED/"});
  EXPECT_EQ(w.view.openedAsTrash, std::vector<bool>{false});
  EXPECT_EQ(w.List().Count(), 0u);
  w.TreeClick(w.Child(w.RootFolderNode(), uidTrash));
  EXPECT_EQ(w.view.opened.back(), w.drivePath + "/" + uidTrash + "/");
  EXPECT_TRUE(w.view.openedAsTrash.back());
  // ".Trash" below the top of a volume is an ordinary folder.
  w.TreeClick(w.Child(w.Child(w.RootFolderNode(), "deep"), ".Trash"));
  EXPECT_EQ(w.view.opened.size(), 2u);
  EXPECT_EQ(w.Texts(), Strings{"z"});
}

// Delete and trash are given by name from the menus and the toolbar, each name choosing its
// command; a name that no entry has gives nothing, and above all no delete.
TEST_F(Listing, DeleteAndTrashComeByNameAndAnUnknownNameGivesNothing) {
  const std::string del = "Are you sure you want to Delete the selected objects?";
  const std::string trash = "Are you sure you want to Recycle the selected objects?";
  struct Case {
    const char* name;
    bool button;
    std::string asks;  // "" when nothing is given
  };
  const Case cases[] = {
      {"Delete", true, del},
      {"mnuFileDelete", false, del},
      {"FileMenuDelete", false, del},
      {"Recycle", true, trash},
      {"mnuFileRecycle", false, trash},
      {"FileMenuRecycle", false, trash},
      {"recycle", true, ""},
      {"Trash", true, ""},
      {"mnuFileRecycle ", false, ""},
      {"", false, ""},
  };
  w.TreeClick(w.Child(w.RootFolderNode(), "sub"));
  ASSERT_EQ(w.Texts(), Strings{"x"});
  for (const Case& c : cases) {
    w.view.questions.clear();
    if (c.button) {
      w.p->tbToolBar_ButtonClick(c.name);
    } else {
      w.p->MenuClick(c.name);
    }
    EXPECT_EQ(w.view.questions, c.asks.empty() ? Strings{} : Strings{c.asks}) << c.name;
  }
  EXPECT_TRUE(std::filesystem::exists(w.dir.Path() + "/drive/sub/x"));
  EXPECT_EQ(w.Texts(), Strings{"x"});
}

// The listing read on a worker: the window thread sees no rows until all are read, commands
// on rows are refused meanwhile, and a newer listing wins, whether read on a worker or at once.
TEST_F(Listing, WorkerListingAppearsInOnePieceAndANewerOneSupersedesIt) {
  test::WindowTasks tasks;
  std::atomic<int> posted{0};
  w.p->Queue()->Connect([&](std::function<void()> t) {
    tasks.Post(std::move(t));
    ++posted;
  });
  const auto drain = [&] { tasks.RunWhile([&] { return w.p->ListingPending(); }); };
  // Gives the workers still reading time to post, then runs what they posted.
  const auto runLeft = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tasks.RunPending();
  };
  w.p->tbToolBar_ButtonClick("Files");  // the drives are listed: nothing to read
  EXPECT_FALSE(w.p->ListingPending());
  EXPECT_EQ(w.List().Count(), 1u);
  w.TreeClick(w.RootFolderNode());
  EXPECT_TRUE(w.p->ListingPending());
  EXPECT_EQ(w.List().Count(), 0u);
  w.p->MenuClick("FileMenuDelete");
  w.p->tbToolBar_ButtonClick("Delete");
  EXPECT_TRUE(w.view.questions.empty());
  EXPECT_EQ(w.view.status.back(), kListingPendingStatus);
  w.TreeClick(w.Child(w.RootFolderNode(), "sub"));
  drain();
  EXPECT_FALSE(w.p->ListingPending());
  EXPECT_EQ(w.Texts(), Strings{"x"});
  // Whatever the first listing still delivers is dropped.
  runLeft();
  EXPECT_EQ(w.Texts(), Strings{"x"});
  w.p->MenuClick("FileMenuDelete");
  EXPECT_EQ(w.view.questions.size(), 1u);  // asked, and the recorder said no

  // A folder's listing on a worker whose rows are already posted, then at once "My
  // Computer", listed on this thread: the posted rows, run later, do not replace the newer.
  const int before = posted.load();
  w.TreeClick(w.RootFolderNode());
  for (int i = 0; i < 5000 && posted.load() == before; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(posted.load(), before);
  w.TreeClick(w.Root());
  EXPECT_FALSE(w.p->ListingPending());
  const Strings drives = w.Texts();
  ASSERT_EQ(drives.size(), 1u);
  tasks.RunPending();
  EXPECT_EQ(w.Texts(), drives);
  EXPECT_FALSE(w.p->ListingPending());

  // A scan's start drops a listing still being read.
  w.TreeClick(w.RootFolderNode());
  EXPECT_TRUE(w.p->ListingPending());
  CancelListing(*w.p);
  EXPECT_FALSE(w.p->ListingPending());
  runLeft();
  EXPECT_EQ(w.List().Count(), 0u);
  w.p->Queue()->Disconnect();
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// Hard links through the window's rules: which file rows are counted elsewhere, F5 on each
// kind of tree selection, the row menu's refresh, and the switch for the next scan.
TEST(HardLinksAndRefresh, RowsF5AndTheSwitch) {
  ListingWorld w([](const TempDir& dir, const std::string& drive) {
    dir.Write("drive/a/one", std::string(6000, 'o'));
    ASSERT_EQ(::link((drive + "/a/one").c_str(), (drive + "/a/two").c_str()), 0);
    dir.Write("drive/b/own", std::string(2000, 'w'));
    ASSERT_EQ(::link((drive + "/a/one").c_str(), (drive + "/b/three").c_str()), 0);
  });
  EXPECT_EQ(w.drive->UsedSpace, 8000);
  w.p->tbToolBar_ButtonClick("Files");
  const NodeId rootFolder = w.RootFolderNode();
  const NodeId a = w.Child(rootFolder, "a"), b = w.Child(rootFolder, "b");
  const bool aCounts = w.Object(a)->fUsedSpace == 6000;
  // In the folder that counted the file its first name counts; every other name, here or in
  // the other folder, shows its size with the share of nothing.
  w.TreeClick(a);
  const int elsewhereInA =
      static_cast<int>(w.Row("one").CountedElsewhere) + w.Row("two").CountedElsewhere;
  EXPECT_EQ(elsewhereInA, aCounts ? 1 : 2);
  EXPECT_EQ(w.Row("two").SubItems[0], "5.85 kb");
  w.TreeClick(b);
  EXPECT_EQ(w.Row("three").CountedElsewhere, aCounts);
  if (aCounts) {
    EXPECT_EQ(w.Row("three").SubItems[1], "0");
  }
  EXPECT_FALSE(w.Row("own").CountedElsewhere);

  // F5 on a folder refreshes it; on "My Computer" nothing happens.
  w.p->Queue()->Connect([&w](std::function<void()> task) { w.tasks.Post(std::move(task)); });
  const auto pump = [&w] {
    w.tasks.RunWhile([&w] { return w.p->Slot().Busy() || w.p->ListingPending(); });
  };
  w.dir.Write("drive/b/new", std::string(500, 'n'));
  w.Ex().SetSelectedItem(b);
  w.p->MenuClick("mnuViewRefresh");
  pump();
  EXPECT_EQ(w.drive->UsedSpace, 8500);
  EXPECT_EQ(w.Ex().SelectedItem(), b);
  EXPECT_EQ(w.view.status.back(),
            aCounts ? "0 folders, 3 files for 2.44 kb" : "0 folders, 3 files for 8.3 kb");
  w.Ex().SetSelectedItem(w.Root());
  w.p->MenuClick("mnuViewRefresh");
  EXPECT_FALSE(w.p->Slot().Busy());

  // The row menu on a folder row refreshes that folder.
  w.dir.Write("drive/a/more", std::string(100, 'm'));
  w.TreeClick(rootFolder);
  pump();
  const std::size_t row = w.RowOf("a");
  ASSERT_GT(row, 0u);
  w.p->List().SetSelected(row, true);
  w.view.currentRow = row;
  w.p->MenuClick("FileMenuRefresh");
  pump();
  EXPECT_EQ(w.drive->UsedSpace, 8600);

  // Each name counts once the switch is off, from the next scan on.
  w.p->MenuClick("mnuViewHardLinks");
  EXPECT_FALSE(w.p->Toggles().HardLinksOnce);
  w.Ex().SetSelectedItem(w.DriveNode());
  w.p->MenuClick("mnuViewRefresh");
  pump();
  EXPECT_EQ(w.drive->UsedSpace, 8600 + 12000);
  w.p->Queue()->Disconnect();
}

}  // namespace
}  // namespace kestrum
