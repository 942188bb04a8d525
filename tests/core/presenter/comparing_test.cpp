#include "core/presenter/comparing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "core/adapter/row_tags.h"
#include "core/commands/targets.h"
#include "core/saved/json_export.h"
#include "core/presenter/listing.h"
#include "core/presenter/treemap_pane.h"
#include "core/rows/list_cells.h"
#include "core/tree/largest.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

// A scanned drive, a saved scan of it, and what the window lists while comparing with it.
struct CompareWorld {
  test::ListingWorld w{[](const test::TempDir& d, const std::string&) {
    d.Write("drive/keep.txt", std::string(100, 'k'));
    d.Write("drive/grow.txt", std::string(100, 'g'));
    d.Write("drive/gone.txt", std::string(300, 'x'));
    d.Write("drive/old/inside", std::string(200, 'o'));
    d.Write("drive/stays/one", std::string(1000, 's'));
  }};
  std::string saved;

  CompareWorld() {
    std::string error;
    saved = w.dir.Path() + "/before.json";
    EXPECT_TRUE(ExportScanToFile(*w.drive, saved, error)) << error;
    w.p->Toggles().ShowFiles = true;
  }
  // Grows a file, adds one, removes one and renames a folder, then scans again.
  bool ChangeKnownWays() {
    w.dir.Write("drive/grow.txt", std::string(5000, 'g'));
    w.dir.Write("drive/added.txt", std::string(700, 'a'));
    if (::unlink((w.drivePath + "/gone.txt").c_str()) != 0 ||
        std::rename((w.drivePath + "/old").c_str(), (w.drivePath + "/renamed").c_str()) != 0)
      return false;
    Rescan();
    return true;
  }
  void Rescan() {
    w.Run([this] { w.p->Loader()->LoadDisk(w.drive, *w.p->DiskList(), false); });
  }
  void Compare(const std::string& label = "the scan before") {
    w.Run([&] { CompareWithFile(*w.p, *w.drive, saved, label); });
  }
  void ListRoot() {
    w.TreeClick(w.RootFolderNode());
  }
  std::size_t ChangeColumn() {
    const std::vector<std::string> h = w.Headers();
    for (std::size_t i = 0; i < h.size(); ++i)
      if (h[i] == "Change") return i;
    return 0;
  }
  std::string ChangeOf(const std::string& row) { return w.Row(row).Cell(ChangeColumn()); }
};

TEST(Comparing, AScanWithItselfShowsNoChange) {
  CompareWorld c;
  c.Compare();
  ASSERT_NE(c.w.p->Comparing, nullptr);
  c.ListRoot();
  ASSERT_NE(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.w.Headers().at(c.ChangeColumn() + 1), "  ");  // the change bar
  for (const ListRow& r : c.w.List().Rows()) {
    EXPECT_EQ(r.Cell(c.ChangeColumn()), "") << r.Text;
    EXPECT_FALSE(IsRemovedTag(r.Tag)) << r.Text;
  }
  EXPECT_NE(c.w.p->Listing().PathLabel.find("compared with the scan before"), std::string::npos);
  // Below the root too, and the label stays with the drive's listings.
  c.w.TreeClick(c.w.Child(c.w.RootFolderNode(), "stays"));
  ASSERT_NE(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.ChangeOf("one"), "");
}

TEST(Comparing, ShowsExactlyTheChangesMade) {
  CompareWorld c;
  ASSERT_TRUE(c.ChangeKnownWays());
  c.Compare();
  c.ListRoot();
  const struct {
    const char* Row;
    std::string Change;
    bool Removed;
  } expected[] = {
      {kLargestFolderName, "", false},
      {"keep.txt", "", false},
      {"stays", "", false},
      {"grow.txt", ChangeText(4900, ChangeKind::Changed), false},
      {"added.txt", ChangeText(700, ChangeKind::New), false},
      {"renamed", ChangeText(200, ChangeKind::New), false},
      {"old", ChangeText(-200, ChangeKind::Removed), true},
      {"gone.txt", ChangeText(-300, ChangeKind::Removed), true},
  };
  EXPECT_EQ(c.w.List().Count(), std::size(expected));
  for (const auto& e : expected) {
    ASSERT_NE(c.w.RowOf(e.Row), 0u) << e.Row;
    EXPECT_EQ(c.ChangeOf(e.Row), e.Change) << e.Row;
    EXPECT_EQ(IsRemovedTag(c.w.Row(e.Row).Tag), e.Removed) << e.Row;
  }
  EXPECT_EQ(c.w.Row("gone.txt").Cell(1), SizeText(300));  // its old size
  EXPECT_EQ(ChangeText(4900, ChangeKind::Changed).front(), '+');
  EXPECT_EQ(ChangeText(-300, ChangeKind::Removed).rfind("removed -", 0), 0u);

  // One click on its header: largest growth first, what went last.
  LvListView_ColumnClick(*c.w.p, "Change");
  const std::vector<std::string> order = c.w.Texts();
  ASSERT_EQ(order.size(), std::size(expected));
  EXPECT_EQ(order.front(), "grow.txt");
  EXPECT_EQ(order[1], "added.txt");
  EXPECT_EQ(order.back(), "gone.txt");
}

// "My Computer" and the largest files: the drive's row changed as its root folder did, and each
// largest file as the file at its path did; both sort by change with one click.
TEST(Comparing, TheDriveRowAndTheLargestFilesShowTheirChange) {
  CompareWorld c;
  ASSERT_TRUE(c.ChangeKnownWays());
  c.Compare();

  c.w.TreeClick(c.w.Root());
  const std::string driveRow = c.w.Ex().Node(c.w.DriveNode())->Text;
  ASSERT_NE(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.ChangeOf(driveRow), ChangeText(4900 + 700 - 300, ChangeKind::Changed));
  for (const ListRow& r : c.w.List().Rows()) {
    if (r.Text != driveRow) {
      EXPECT_EQ(r.Cell(c.ChangeColumn()), "") << r.Text;
    }
  }
  EXPECT_NE(c.w.p->Listing().PathLabel.find("compared with the scan before"), std::string::npos);
  const std::string columns = c.w.p->Listing().DriveColumns;
  LvListView_ColumnClick(*c.w.p, "Change");
  EXPECT_EQ(c.w.Texts().front(), driveRow);
  EXPECT_EQ(c.w.p->Listing().DriveColumns, columns);  // the Change header switches nothing else

  const std::string r = c.w.drivePath + "/";
  const struct {
    std::string Row;
    std::string Change;
  } largest[] = {
      {r + "grow.txt", ChangeText(4900, ChangeKind::Changed)},
      {r + "added.txt", ChangeText(700, ChangeKind::New)},
      {r + "renamed/inside", ChangeText(200, ChangeKind::New)},
      {r + "keep.txt", ""},
      {r + "stays/one", ""},
  };
  c.w.TreeClick(c.w.Child(c.w.RootFolderNode(), kLargestFolderName));
  ASSERT_NE(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.w.List().Count(), std::size(largest));  // nothing listed as removed
  for (const auto& e : largest) {
    ASSERT_NE(c.w.RowOf(e.Row), 0u) << e.Row;
    EXPECT_EQ(c.ChangeOf(e.Row), e.Change) << e.Row;
  }
  LvListView_ColumnClick(*c.w.p, "Name");
  LvListView_ColumnClick(*c.w.p, "Change");
  const std::vector<std::string> order = c.w.Texts();
  ASSERT_EQ(order.size(), std::size(largest));
  EXPECT_EQ(order[0], largest[0].Row);
  EXPECT_EQ(order[1], largest[1].Row);
  EXPECT_EQ(order[2], largest[2].Row);
}

// Stop, given while the earlier scan is read or compared, or before its result is taken,
// switches nothing on: no Change column, the status says so, and comparing works again.
TEST(Comparing, AStoppedComparisonSwitchesNothingOn) {
  CompareWorld c;
  c.w.dir.Write("drive/grow.txt", std::string(5000, 'g'));
  c.Rescan();
  c.w.Run([&c] {
    CompareWithFile(*c.w.p, *c.w.drive, c.saved, "the scan before");
    c.w.p->MenuClick("mnuScanStop");
  });
  EXPECT_EQ(c.w.p->Comparing, nullptr);
  ASSERT_FALSE(c.w.view.status.empty());
  EXPECT_EQ(c.w.view.status.back(), "Compare stopped: nothing was compared");
  EXPECT_TRUE(c.w.view.messages.empty());
  c.ListRoot();
  EXPECT_EQ(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.w.p->Listing().PathLabel.find("compared with"), std::string::npos);
  c.Compare();
  c.ListRoot();
  ASSERT_NE(c.ChangeColumn(), 0u);
  EXPECT_EQ(c.ChangeOf("grow.txt"), ChangeText(4900, ChangeKind::Changed));
}

TEST(Comparing, RemovedRowsTakeNoCommandButCopyPath) {
  CompareWorld c;
  ASSERT_EQ(::unlink((c.w.drivePath + "/gone.txt").c_str()), 0);
  c.Rescan();
  c.Compare();
  c.ListRoot();
  const NodeId listed = c.w.p->SelectedNode();
  const std::size_t gone = c.w.RowOf("gone.txt");
  ASSERT_NE(gone, 0u);
  const TargetSelection acted = SelectFileTargets(c.w.List(), c.w.Ex(), listed, false, gone);
  EXPECT_TRUE(acted.Targets.empty());
  EXPECT_EQ(acted.Removed, 1u);
  EXPECT_NE(NothingToActOn(acted).find("only Copy Path"), std::string::npos);
  const TargetSelection read = SelectFileTargets(c.w.List(), c.w.Ex(), listed, false, gone, true);
  ASSERT_EQ(read.Targets.size(), 1u);
  EXPECT_EQ(read.Targets[0].FullPath, c.w.drivePath + "/gone.txt");

  // Through the menus: Delete refuses with the message, Copy Path copies.
  for (std::size_t i = 1; i <= c.w.List().Count(); ++i) c.w.p->List().SetSelected(i, i == gone);
  c.w.p->MenuClick("mnuFileDelete");
  EXPECT_TRUE(c.w.view.questions.empty());
  ASSERT_FALSE(c.w.view.messages.empty());
  EXPECT_NE(c.w.view.messages.back().find("only Copy Path"), std::string::npos);
  c.w.p->MenuClick("mnuFileCopyPath");
  ASSERT_FALSE(c.w.view.clipboard.empty());
  EXPECT_NE(c.w.view.clipboard[0].find(c.w.drivePath + "/gone.txt"), std::string::npos);
}

TEST(Comparing, ScansUnderOtherRulesAreNotCompared) {
  CompareWorld c;
  c.w.p->Toggles().HardLinksOnce = false;  // the saved scan is read counting every name
  c.Compare();
  EXPECT_EQ(c.w.p->Comparing, nullptr);
  ASSERT_FALSE(c.w.view.messages.empty());
  EXPECT_NE(c.w.view.messages.back().find("hard links"), std::string::npos);
}

TEST(Comparing, ANewScanARefreshOrNoneEndsIt) {
  CompareWorld c;
  c.Compare();
  c.Rescan();
  c.ListRoot();
  EXPECT_EQ(c.ChangeColumn(), 0u);  // the store compared with is gone
  EXPECT_EQ(c.w.p->Comparing, nullptr);  // and let go
  c.Compare();
  c.ListRoot();
  EXPECT_NE(c.ChangeColumn(), 0u);
  c.w.Run([&c] { c.w.p->MenuClick("mnuViewRefresh"); });
  c.ListRoot();
  EXPECT_EQ(c.ChangeColumn(), 0u);  // its folders are new objects: compared no more
  c.Compare();
  c.ListRoot();
  ASSERT_NE(c.ChangeColumn(), 0u);
  StopComparing(*c.w.p);
  EXPECT_EQ(c.w.p->Comparing, nullptr);
  EXPECT_EQ(c.ChangeColumn(), 0u);
}

TEST(Comparing, TheMapColoursEachRectangleByItsChange) {
  CompareWorld c;
  c.w.dir.Write("drive/stays/two", std::string(4000, 't'));  // a folder that grew
  c.w.dir.Write("drive/fresh/f", std::string(3000, 'f'));    // a new one
  c.w.dir.Write("drive/grow.txt", std::string(10, 'g'));     // a file that shrank
  c.Rescan();
  c.Compare();
  SetTreemapSize(*c.w.p, 400, 200);
  SetTreemapShown(*c.w.p, true);
  c.ListRoot();
  const std::vector<MapChange> rows = RowChanges(c.w.List());
  ASSERT_EQ(rows.size(), c.w.List().Count());
  EXPECT_EQ(rows[c.w.RowOf("stays") - 1], MapChange::Grown);
  EXPECT_EQ(rows[c.w.RowOf("fresh") - 1], MapChange::New);
  EXPECT_EQ(rows[c.w.RowOf("grow.txt") - 1], MapChange::Shrunk);
  EXPECT_EQ(rows[c.w.RowOf("keep.txt") - 1], MapChange::Unchanged);
  const Treemap* map = c.w.p->MapPane().Map.get();
  ASSERT_NE(map, nullptr);
  const std::vector<MapChange> rects = MapChanges(
      *map, *c.w.p->Comparing, false, c.w.Object(c.w.p->SelectedNode()), rows);
  ASSERT_EQ(rects.size(), map->Rects.size());
  // Every file inside the new folder is new; "two" grew from nothing into a folder that stood.
  std::size_t news = 0, grown = 0;
  for (std::size_t i = 0; i < rects.size(); ++i) {
    const MapRect& r = map->Rects[i];
    if (r.Kind != MapKind::File || map->Files[r.Ref].Row != 0) continue;
    const std::string& name = map->Files[r.Ref].Name;
    if (name == "f") news += rects[i] == MapChange::New;
    if (name == "two") grown += rects[i] == MapChange::New;
    if (name == "one") {
      EXPECT_EQ(rects[i], MapChange::Unchanged);
    }
  }
  EXPECT_EQ(news, 1u);
  EXPECT_EQ(grown, 1u);
}

TEST(Comparing, Texts) {
  EXPECT_EQ(ChangeText(0, ChangeKind::Changed), "");
  EXPECT_EQ(ChangeText(-300, ChangeKind::Changed), "-" + SizeText(300));
  EXPECT_EQ(ChangeText(0, ChangeKind::New), "new 0 b");
  EXPECT_EQ(HistoryLabel(0).rfind("the scan of 19", 0), 0u);
  EXPECT_EQ(HistoryLabel(0).size(), std::string("the scan of 1970-01-01 00:00").size());
}

}  // namespace
}  // namespace kestrum
