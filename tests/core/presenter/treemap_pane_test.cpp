// The treemap pane over a real scanned drive, driven as the window drives it: what it shows
// for each listing, where its clicks land, the keyboard, and its settings.
#include "core/presenter/treemap_pane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "core/adapter/row_tags.h"
#include "core/presenter/listing.h"
#include "listing_fixture.h"

namespace kestrum {
namespace {

using test::ListingWorld;
using test::TempDir;

void MakeDrive(const TempDir& dir, const std::string&) {
  dir.Write("drive/a.txt", std::string(1000, 'a'));
  dir.Write("drive/b.bin", std::string(3000, 'b'));
  dir.Write("drive/big/f", std::string(40000, 'f'));
  dir.Write("drive/big/inner/g", std::string(20000, 'g'));
  dir.Write("drive/mid/h", std::string(16000, 'h'));
  dir.Write("drive/empty/z", "");
}

struct TreemapPaneTest : ::testing::Test {
  ListingWorld w{MakeDrive};
  static constexpr float kW = 400, kH = 200;
  TreemapPaneTest() {
    SetTreemapSize(*w.p, kW, kH);
    SetTreemapShown(*w.p, true);
  }
  const Treemap* Map() { return w.p->MapPane().Map.get(); }
  std::vector<std::string> TopNames() {
    std::vector<std::string> out;
    const Treemap* m = Map();
    if (!m) return out;
    for (std::uint32_t i = 0; i < m->Rects.size(); i = m->Rects[i].End)
      out.push_back(DescribeMapRect(*w.p, i).Name);
    return out;
  }
  std::size_t SelectedRow() {
    for (std::size_t i = 0; i < w.List().Count(); ++i)
      if (w.List().Rows()[i].Selected) return i + 1;
    return 0;
  }
};

TEST_F(TreemapPaneTest, ShowsWhatTheListShowsAndNothingWhenHidden) {
  const std::string root = w.drivePath + "/";
  w.TreeClick(w.RootFolderNode());
  // Subfolders by size, then the folder's own files as one block; no area for the empty
  // folder or the largest-files folder.
  EXPECT_EQ(TopNames(), (std::vector<std::string>{root + "big/", root + "mid/", "Files"}));
  EXPECT_EQ(Map()->Total, 80000);
  EXPECT_EQ(DescribeMapRect(*w.p, 0).Line(), root + "big/, 58.59 kb, 75.0%");
  // With "Show Files", the file rows one by one.
  w.p->tbToolBar_ButtonClick("Files");
  EXPECT_EQ(TopNames(), (std::vector<std::string>{root + "big/", root + "mid/", root + "b.bin",
                                                  root + "a.txt"}));
  // A name counted elsewhere takes no area.
  ListRow* b = w.p->List().Item(w.RowOf("b.bin"));
  b->CountedElsewhere = true;
  UpdateTreemap(*w.p);
  EXPECT_EQ(TopNames().size(), 3u);
  b->CountedElsewhere = false;
  // Allocated sizes: whole blocks.
  w.p->tbToolBar_ButtonClick("Allocated");
  EXPECT_EQ(std::fmod(Map()->Total, 4096), 0);

  // A drive's listing, and the pie chart: the drive's root folder, held by its row.
  w.TreeClick(w.DriveNode());
  EXPECT_EQ(TopNames().front(), root + "big/");
  EXPECT_EQ(w.p->MapPane().ShownRow, 1u);
  w.RowClick(1, kRightButton);
  ASSERT_TRUE(w.p->Listing().ChartShown);
  EXPECT_EQ(TopNames().front(), root + "big/");
  Graph_Click(*w.p);
  // "My Computer": the scanned volume by its used space.
  w.TreeClick(w.Root());
  EXPECT_EQ(TopNames(), (std::vector<std::string>{w.drivePath}));
  // The nested folders inside the volume.
  EXPECT_GT(Map()->Rects.size(), 3u);

  // After a delete (the folder's node goes, the totals stay): gone from the map, its room
  // left empty.
  w.TreeClick(w.RootFolderNode());
  w.p->MenuClick("mnuViewAllocated");
  const double before = Map()->Total;
  w.Ex().RemoveNode(w.Child(w.RootFolderNode(), "big"));
  w.p->Relist();
  EXPECT_EQ(TopNames(), (std::vector<std::string>{root + "mid/", root + "b.bin", root + "a.txt"}));
  EXPECT_EQ(Map()->Total, before);

  w.p->MenuClick("mnuViewTreemap");
  EXPECT_FALSE(w.p->MapPane().Shown);
  EXPECT_EQ(Map(), nullptr);
  w.TreeClick(w.RootFolderNode());
  EXPECT_EQ(Map(), nullptr);
}

TEST_F(TreemapPaneTest, ClicksSelectTheRowThatOwnsThePointInProportionToSize) {
  w.p->tbToolBar_ButtonClick("Files");
  w.TreeClick(w.RootFolderNode());
  const auto generation = w.p->Listing().Generation;
  std::map<std::size_t, int> hits;
  int points = 0;
  for (float y = 0.5f; y < kH; y += 2) {
    for (float x = 0.5f; x < kW; x += 2) {
      ++points;
      TreemapClick(*w.p, x, y);
      const std::uint32_t hit = MapHit(*Map(), x, y);
      if (hit == kNoRect) continue;
      const std::size_t row = SelectedRow();
      ASSERT_EQ(row, MapRowOf(*w.p, hit));
      const MapRect& top = Map()->Rects[MapTopOf(*Map(), hit)];
      ASSERT_EQ(row, top.Ref + 1);
      ++hits[row];
    }
  }
  EXPECT_EQ(w.p->Listing().Generation, generation);  // the listing stays
  const double total = Map()->Total;
  for (const auto& [row, n] : hits) {
    const ListRow& r = w.List().Rows()[row - 1];
    const double size = IsFileTag(r.Tag) ? std::stod(std::get<std::string>(r.Tag).substr(5))
                                         : ObjectOf(w.Ex(), *TagNode(r.Tag))->UsedSpace;
    EXPECT_NEAR(double(n) / points, size / total, 0.02) << r.Text;
  }
}

TEST_F(TreemapPaneTest, DoubleAndRightClicksAndTheKeyboard) {
  w.TreeClick(w.RootFolderNode());
  const MapRect big = Map()->Rects[0];
  // The deepest folder under the point: big/inner (big's own files come first, larger).
  std::uint32_t inner = 1;
  while (inner < Map()->Rects[0].End && Map()->Rects[inner].Kind != MapKind::Folder) ++inner;
  ASSERT_LT(inner, Map()->Rects[0].End);
  EXPECT_EQ(Map()->Rects[1].Kind, MapKind::Files);
  const MapRect in = Map()->Rects[inner];
  TreemapDoubleClick(*w.p, in.X + 2 + kMapFrame, in.Y + 2 + kMapFrame);
  EXPECT_EQ(w.Object(w.p->SelectedNode())->Path(), w.drivePath + "/big/inner/");
  BackUpTree(*w.p);
  BackUpTree(*w.p);
  // A right click on a folder opens the row menu for its row.
  const int popups = w.view.popups;
  TreemapRightClick(*w.p, big.X + 1.5f, big.Y + 1.5f);
  EXPECT_EQ(w.view.popups, popups + 1);
  EXPECT_EQ(SelectedRow(), w.RowOf("big"));

  // Keys: the first rectangle, its sibling, in, out, and back up a level from the top.
  TreemapPane& pane = w.p->MapPane();
  pane.Highlight = kNoRect;
  TreemapKey(*w.p, MapKey::Right);
  EXPECT_EQ(pane.Highlight, 0u);
  TreemapKey(*w.p, MapKey::Right);
  EXPECT_EQ(DescribeMapRect(*w.p, pane.Highlight).Name, w.drivePath + "/mid/");
  EXPECT_EQ(SelectedRow(), w.RowOf("mid"));
  TreemapKey(*w.p, MapKey::Left);
  EXPECT_EQ(pane.Highlight, 0u);
  TreemapKey(*w.p, MapKey::Enter);
  EXPECT_EQ(Map()->Rects[pane.Highlight].Parent, 0u);
  TreemapKey(*w.p, MapKey::Back);
  EXPECT_EQ(pane.Highlight, 0u);
  TreemapKey(*w.p, MapKey::Back);
  EXPECT_EQ(w.p->SelectedNode(), w.DriveNode());
}

TEST(TreemapUnscanned, AVolumeNotScannedShowsNothingInTheListOrBehindItsChart) {
  TempDir dir;
  const std::string drive = dir.Mkdir("d");
  dir.Write("d/file", std::string(5000, 'x'));
  test::ViewRecorder view;
  const std::string table = dir.Write("mountinfo", "1 0 8:1 / " + drive + " rw - ext4 /dev/x rw\n");
  MainPresenter p(view, [&] { return test::VolumesFromTable(table, dir.Path()); });
  p.LoadDisks();
  SetTreemapSize(p, 300, 200);
  SetTreemapShown(p, true);
  ASSERT_TRUE(p.MapPane().Map);  // "My Computer": no scanned volume, no rectangle
  EXPECT_TRUE(p.MapPane().Map->Rects.empty());
  lvListView_MouseUp(p, kRightButton, 0);
  lvListView_Click(p, 1);  // the volume's pie chart
  ASSERT_TRUE(p.Listing().ChartShown);
  EXPECT_FALSE(p.MapPane().Map);
  const NodeId d = p.Explorer().Node(p.Explorer().FirstNode())->Kids.front();
  p.Explorer().SetSelectedItem(d);
  p.tvTreeView_Click();
  ASSERT_TRUE(p.MapPane().Map);
  EXPECT_TRUE(p.MapPane().Map->Rects.empty());
}

TEST(TreemapSettingsTest, MissingOrGarbledValuesFallBackToHidden) {
  const struct {
    const char* shown;
    const char* split;
    TreemapSettings want;
  } cases[] = {
      {nullptr, nullptr, {false, 0.4}}, {"1", "0.25", {true, 0.25}}, {"0", "0.95", {false, 0.9}},
      {"yes\n", "abc", {false, 0.4}},   {"", "nan", {false, 0.4}},   {"true", "0.5x", {true, 0.4}},
  };
  for (const auto& c : cases) {
    IniFile ini;
    if (c.shown) ini.Set("Settings", "Treemap", c.shown);
    if (c.split) ini.Set("Settings", "TreemapSplit", c.split);
    EXPECT_EQ(ReadTreemapSettings(ini), c.want) << (c.shown ? c.shown : "-");
  }
  IniFile ini;
  WriteTreemapSettings(ini, {true, 0.3});
  EXPECT_EQ(ReadTreemapSettings(ini), (TreemapSettings{true, 0.3}));
}

}  // namespace
}  // namespace kestrum
