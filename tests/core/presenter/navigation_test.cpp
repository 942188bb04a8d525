// Clicks on the tree, the list, its headers and the chart, and backing up, as the window
// forwards them.
#include <gtest/gtest.h>

#include "core/adapter/row_tags.h"
#include "core/presenter/listing.h"
#include "core/presenter/recycle_folders.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

using test::ListingWorld;
using test::TempDir;
using Strings = std::vector<std::string>;

void MakeDrive(const TempDir& dir, const std::string&) {
  dir.Write("drive/a/one", std::string(3000, '1'));
  dir.Write("drive/a/deeper/two", std::string(1000, '2'));
  dir.Write("drive/b/three", "3");
  dir.Write("drive/top", std::string(50, 't'));
}

struct Navigation : ::testing::Test {
  ListingWorld w{MakeDrive};
};

TEST_F(Navigation, RightClicksOpenChartsOrTheMenuAndModifiersDoNothing) {
  w.TreeClick(w.Root());
  w.RowClick(1, kRightButton);  // the drive row
  ASSERT_EQ(w.view.charts.size(), 1u);
  const PieChartData& drive = w.view.charts[0];
  ASSERT_EQ(drive.Slices.size(), 2u);
  EXPECT_EQ(drive.Slices[0].Legend, "40.0% Free");
  EXPECT_EQ(drive.Slices[1].Legend, "0.0% Used");
  EXPECT_EQ(drive.Slices[0].Label, "381.46 mb");
  EXPECT_EQ(drive.Slices[0].Color, 10);
  EXPECT_EQ(drive.Slices[1].Color, 12);
  EXPECT_EQ(w.view.paths.back(), w.drive->Label());
  EXPECT_FALSE(w.List().Visible);
  // The chart's click brings the list back as it was, path label included.
  const std::vector<ListRow> rows = w.List().Rows();
  Graph_Click(*w.p);
  EXPECT_TRUE(w.List().Visible);
  EXPECT_EQ(w.view.paths.back(), "My Computer");
  EXPECT_EQ(w.List().Count(), rows.size());
  EXPECT_EQ(w.view.chartHides, 1);

  w.RowClick(1);  // into the drive, unsorted as the root was
  EXPECT_EQ(w.p->SelectedNode(), w.DriveNode());
  EXPECT_FALSE(w.p->Listing().SuffixSort);
  w.RowClick(1, kRightButton);  // the root-folder row
  ASSERT_EQ(w.view.charts.size(), 2u);
  const PieChartData& root = w.view.charts[1];
  ASSERT_EQ(root.Slices.size(), 4u);
  double sum = 0;
  for (const PieSlice& s : root.Slices) sum += s.Value;
  EXPECT_EQ(sum, w.drive->Drive().DeviceSize);
  EXPECT_EQ(root.Slices[2].Legend.substr(root.Slices[2].Legend.size() - 10), "% Overhead");
  EXPECT_EQ(root.Slices[3].Legend.substr(root.Slices[3].Legend.size() - 8), "% Wasted");
  EXPECT_EQ((std::vector<int>{root.Slices[2].Color, root.Slices[3].Color}),
            (std::vector<int>{6, 14}));
  Graph_Click(*w.p);

  w.TreeClick(w.RootFolderNode());
  w.p->tbToolBar_ButtonClick("Files");
  const auto listed = w.p->Listing().Generation;
  w.RowClick(w.RowOf("a"), kRightButton);
  w.RowClick(w.RowOf("top"), kRightButton);
  EXPECT_EQ(w.view.popups, 2);
  w.RowClick(w.RowOf("top"));  // a left click on a file does nothing
  for (int shift : {1, 2, 4}) {
    w.RowClick(w.RowOf("a"), kLeftButton, shift);
    w.RowClick(w.RowOf("a"), kRightButton, shift);
  }
  EXPECT_EQ(w.view.popups, 2);
  EXPECT_EQ(w.p->Listing().Generation, listed);
  EXPECT_EQ(w.view.charts.size(), 2u);
}

TEST_F(Navigation, GoingInAndBackingUpKeepTheSortMode) {
  w.TreeClick(w.RootFolderNode());
  LvListView_ColumnClick(*w.p, "Size");
  w.RowClick(w.RowOf("a"));
  EXPECT_EQ(w.p->SelectedNode(), w.Child(w.RootFolderNode(), "a"));
  EXPECT_EQ(w.Ex().SelectedItem(), w.p->SelectedNode());
  EXPECT_TRUE(w.p->Listing().PaddedSizeSort);
  EXPECT_EQ(w.Texts(), Strings{"deeper"});
  w.p->MenuClick("mnuViewShowFiles");
  EXPECT_EQ(w.Texts(), (Strings{"one", "deeper"}));  // 3000 before 1000 bytes
  w.p->tbToolBar_ButtonClick("Back");
  EXPECT_EQ(w.p->SelectedNode(), w.RootFolderNode());
  EXPECT_TRUE(w.p->Listing().PaddedSizeSort);
  EXPECT_EQ(w.Texts().front(), "100 Largest Files");
  w.p->MenuClick("mnuViewBackUp");
  w.p->MenuClick("mnuViewBackUp");
  w.p->MenuClick("mnuViewBackUp");
  EXPECT_EQ(w.p->SelectedNode(), w.Root());
  const auto generation = w.p->Listing().Generation;
  w.p->MenuClick("mnuViewBackUp");  // nothing above the root
  EXPECT_EQ(w.p->Listing().Generation, generation);
  EXPECT_EQ(w.p->SelectedNode(), w.Root());
}

TEST_F(Navigation, GoingDownTheListMakesTheNodesOfWhatItListsAlone) {
  // The scan gave the tree the drive's root folder alone: My Computer, the drive, the root.
  EXPECT_EQ(w.Ex().ItemCount(), 3u);
  w.TreeClick(w.RootFolderNode());  // its rows: "100 Largest Files", a, b
  EXPECT_EQ(w.Ex().ItemCount(), 6u);
  w.RowClick(w.RowOf("a"));  // its row: deeper
  EXPECT_EQ(w.Ex().ItemCount(), 7u);
  w.RowClick(w.RowOf("deeper"));
  EXPECT_EQ(w.Ex().ItemCount(), 7u);
  EXPECT_EQ(w.Object(w.p->SelectedNode())->Path(), w.drivePath + "/a/deeper/");
  w.p->MenuClick("mnuViewBackUp");
  EXPECT_EQ(w.Texts(), Strings{"deeper"});
}

TEST_F(Navigation, EnterIsALeftClickWhateverTheLastMouseUpWas) {
  w.TreeClick(w.RootFolderNode());
  lvListView_MouseUp(*w.p, kRightButton, 2);
  lvListView_Enter(*w.p, w.RowOf("b"));
  EXPECT_EQ(w.p->SelectedNode(), w.Child(w.RootFolderNode(), "b"));
  EXPECT_EQ(w.view.popups, 0);
  EXPECT_EQ(w.Texts(), Strings{"three"});
  lvListView_Enter(*w.p, 0);  // no selected row
  EXPECT_EQ(w.Texts(), Strings{"three"});
}

TEST_F(Navigation, ScanGuardsAndNodesThatAnAttachRemoved) {
  w.TreeClick(w.RootFolderNode());
  const std::size_t a = w.RowOf("a");
  Scanning = true;
  const auto generation = w.p->Listing().Generation;
  w.RowClick(a);
  w.TreeClick(w.Root());
  BackUpTree(*w.p);
  EXPECT_EQ(w.p->Listing().Generation, generation);
  // A header click and the toggles still relist, from the tree as it stands.
  LvListView_ColumnClick(*w.p, "Size");
  EXPECT_GT(w.p->Listing().Generation, generation);
  w.p->tbToolBar_ButtonClick("Files");  // busy: the switch changes, the list does not
  EXPECT_TRUE(w.p->Toggles().ShowFiles);
  Scanning = false;
  // The row's folder goes (a new scan removed the subtree); its stale row does nothing.
  w.Ex().RemoveNode(w.Child(w.RootFolderNode(), "a"));
  const auto before = w.p->Listing().Generation;
  w.RowClick(a);
  EXPECT_EQ(w.p->Listing().Generation, before);
  // And the listed node itself going leaves a header click nothing to list.
  w.Ex().RemoveNode(w.RootFolderNode());
  LvListView_ColumnClick(*w.p, "Name");
  EXPECT_EQ(w.p->Listing().Generation, before);
}

TEST(RecycleFolders, NamesAndTrashFolders) {
  DiskObject root;
  root.Class = ObjectClass::Folder;
  root.RootDirectory = true;
  root.SetPath("/v/");
  auto folder = [&](const std::string& name, DiskObject* parent) {
    DiskObject f;
    f.Class = ObjectClass::Folder;
    f.Name = name;
    f.Parent = parent;
    return f;
  };
  DiskObject recycled = folder("RECYCLED", &root);
  auto r = RecycleFolderRequest("RECYCLED", recycled, 1000, "");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Path, "/v/RECYCLED/");
  EXPECT_FALSE(r->TrashView);
  EXPECT_TRUE(RecycleFolderRequest("Recycle.Bin", recycled, 1000, ""));
  EXPECT_FALSE(RecycleFolderRequest("recycl", recycled, 1000, ""));
  DiskObject own = folder(".Trash-1000", &root);
  EXPECT_TRUE(RecycleFolderRequest(".Trash-1000", own, 1000, "")->TrashView);
  EXPECT_FALSE(RecycleFolderRequest(".Trash-1000", own, 1001, ""));
  DiskObject shared = folder(".Trash", &root);
  EXPECT_TRUE(RecycleFolderRequest(".Trash", shared, 1000, ""));
  DiskObject deep = folder(".Trash", &shared);
  EXPECT_FALSE(RecycleFolderRequest(".Trash", deep, 1000, ""));
  DiskObject home = folder("Trash", &root);
  EXPECT_TRUE(RecycleFolderRequest("Trash", home, 1000, "/v/Trash/"));
}

}  // namespace
}  // namespace kestrum
