// The treemap pane over a real scanned drive, driven as the window drives it: what it shows
// for each listing, where its clicks land, the keyboard, and its settings.
#include "core/presenter/treemap_pane.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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
  // Subfolders and the folder's own files, each file its own rectangle, by size; no area for
  // the empty folder or the largest-files folder. Listed or not, the files come from the
  // drive's store.
  const std::vector<std::string> all{root + "big/", root + "mid/", root + "b.bin", root + "a.txt"};
  EXPECT_EQ(TopNames(), all);
  EXPECT_EQ(Map()->Total, 80000);
  EXPECT_EQ(DescribeMapRect(*w.p, 0).Line(), root + "big/, 58.59 kb, 75.0%");
  w.p->tbToolBar_ButtonClick("Files");
  EXPECT_EQ(TopNames(), all);
  // A file trashed or deleted leaves the map at once; the folder's total stays the scan's.
  std::uint32_t bin = 0;
  while (bin < Map()->Rects.size() && DescribeMapRect(*w.p, bin).Name != root + "b.bin") ++bin;
  ASSERT_EQ(Map()->Rects.at(bin).Kind, MapKind::File);
  w.drive->Drive().Files->SetGone(Map()->Files[Map()->Rects[bin].Ref].Position);
  UpdateTreemap(*w.p);
  EXPECT_EQ(TopNames(), (std::vector<std::string>{root + "big/", root + "mid/", root + "a.txt"}));
  EXPECT_EQ(Map()->Total, 80000);
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
  EXPECT_EQ(TopNames(), (std::vector<std::string>{root + "mid/", root + "a.txt"}));
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
      // A file's rectangle selects its row, found by its name.
      if (top.Kind == MapKind::File)
        ASSERT_EQ(w.List().Rows()[row - 1].Text, Map()->Files[top.Ref].Name);
      else
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
  EXPECT_EQ(Map()->Rects[1].Kind, MapKind::File);
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
  ASSERT_NE(pane.Highlight, 0u);
  EXPECT_EQ(Map()->Rects[pane.Highlight].Parent, kNoRect);
  EXPECT_EQ(SelectedRow(), MapRowOf(*w.p, pane.Highlight));
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
  // The colouring by its word; anything else is by branch.
  for (const auto& [word, want] :
       {std::pair{"type", MapColouring::FileType}, {"change", MapColouring::Change},
        {"branch", MapColouring::Branch}, {"Type", MapColouring::Branch}}) {
    IniFile ini;
    ini.Set("Settings", "TreemapColour", word);
    EXPECT_EQ(ReadTreemapSettings(ini).Colouring, want) << word;
    WriteTreemapSettings(ini, {false, 0.4, want});
    EXPECT_EQ(ReadTreemapSettings(ini).Colouring, want) << word;
  }
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

// A tree whose files have types known from their endings, and an executable without one.
void MakeTypedDrive(const TempDir& dir, const std::string&) {
  dir.Write("drive/clip.mp4", std::string(30000, 'v'));
  dir.Write("drive/song.ogg", std::string(12000, 'a'));
  dir.Write("drive/pics/a.png", std::string(20000, 'p'));
  dir.Write("drive/pics/b.PNG", std::string(10000, 'p'));
  dir.Write("drive/pics/deep/c.jpeg", std::string(8000, 'p'));
  dir.Write("drive/notes.txt", std::string(6000, 't'));
  dir.Write("drive/tool", std::string(4000, 'x'));
  ::chmod((dir.Path() + "/drive/tool").c_str(), 0755);
}

struct TreemapTypesTest : ::testing::Test {
  ListingWorld w{MakeTypedDrive};
  TreemapTypesTest() {
    SetTreemapSize(*w.p, 600, 300);
    SetTreemapShown(*w.p, true);
    w.TreeClick(w.RootFolderNode());
  }
  const Treemap& Map() { return *w.p->MapPane().Map; }
  // The names of the files the map shows, each with its category, in order of rectangles.
  std::map<std::string, FileCategory> Files() {
    std::map<std::string, FileCategory> out;
    for (const MapRect& r : Map().Rects)
      if (r.Kind == MapKind::File) out[Map().Files[r.Ref].Name] = Map().Files[r.Ref].Category;
    return out;
  }
};

TEST_F(TreemapTypesTest, EveryFileIsARectangleOfItsCategoryWithItsTypeSaid) {
  using C = FileCategory;
  const std::map<std::string, FileCategory> want{
      {"clip.mp4", C::Video},   {"song.ogg", C::Audio},  {"a.png", C::Images}, {"b.PNG", C::Images},
      {"c.jpeg", C::Images},    {"notes.txt", C::SourceText}, {"tool", C::Programs}};
  EXPECT_EQ(Files(), want);
  // The legend's bytes: what is shown of each category.
  EXPECT_EQ(Map().CategoryBytes[static_cast<std::size_t>(C::Images)], 38000);
  EXPECT_EQ(Map().CategoryBytes[static_cast<std::size_t>(C::Video)], 30000);
  // A file's description: path, size, share, category and MIME type.
  for (std::uint32_t i = 0; i < Map().Rects.size(); ++i) {
    if (Map().Rects[i].Kind != MapKind::File || Map().Files[Map().Rects[i].Ref].Name != "clip.mp4")
      continue;
    const MapDescription d = DescribeMapRect(*w.p, i);
    EXPECT_EQ(d.Path, w.drivePath + "/clip.mp4");
    EXPECT_EQ(d.Size, 30000);
    EXPECT_EQ(d.Type, "Video (video/mp4)");
    EXPECT_NE(d.Line().find("Video (video/mp4)"), std::string::npos);
  }
}

TEST_F(TreemapTypesTest, AMarkOfACategoryOrAnEndingTakesInItsFilesOnly) {
  using By = MapTypeMark::By;
  struct Case {
    MapTypeMark mark;
    std::vector<std::string> marked;
  };
  // Made one by one: GCC's -O3 takes a nested brace list of these for uninitialized.
  const auto mark = [](By by, FileCategory category, const char* key) {
    MapTypeMark m;
    m.What = by;
    m.Category = category;
    m.Key = key;
    return m;
  };
  std::vector<Case> cases;
  cases.push_back({MapTypeMark(), {"a.png", "b.PNG", "c.jpeg", "clip.mp4", "notes.txt", "song.ogg", "tool"}});
  cases.push_back({mark(By::Category, FileCategory::Images, ""), {"a.png", "b.PNG", "c.jpeg"}});
  cases.push_back({mark(By::Key, FileCategory::Other, "png"), {"a.png", "b.PNG"}});  // lowercased
  cases.push_back({mark(By::Key, FileCategory::Other, "jpeg"), {"c.jpeg"}});
  cases.push_back({mark(By::Category, FileCategory::Archives, ""), {}});
  for (const auto& c : cases) {
    SetMapHighlightType(*w.p, c.mark);
    EXPECT_EQ(w.p->MapPane().Mark, c.mark);
    std::vector<std::string> marked;
    for (const auto& [name, category] : Files()) {
      for (const MapFile& f : Map().Files)
        if (f.Name == name && MapFileMarked(Map(), f, w.p->MapPane().Mark)) marked.push_back(name);
    }
    EXPECT_EQ(marked, c.marked) << c.mark.Key;
  }
  // The mark outlives a new layout; colouring repaints and keeps the map.
  const Treemap* before = &Map();
  SetMapColouring(*w.p, MapColouring::FileType);
  EXPECT_EQ(&Map(), before);
  UpdateTreemap(*w.p);
  EXPECT_EQ(w.p->MapPane().Mark.What, By::Category);
}

TEST_F(TreemapTypesTest, OffTheWindowThreadOnlyTheNewestMapIsShown) {
  TreemapPane& pane = w.p->MapPane();
  w.p->Queue()->Connect([this](std::function<void()> task) { w.tasks.Post(std::move(task)); });
  UpdateTreemap(*w.p);
  EXPECT_TRUE(pane.Pending);
  EXPECT_EQ(pane.Map, nullptr);
  // Asked again before the first came back: the first is dropped, the second shown. The
  // model may change meanwhile: the worker reads copies and the store.
  SetTreemapSize(*w.p, 500, 250);
  w.Ex().RemoveNode(w.Child(w.RootFolderNode(), "pics"));
  w.tasks.RunWhile([&] { return pane.Pending; });
  ASSERT_NE(pane.Map, nullptr);
  EXPECT_EQ(pane.Map->Width, 500);
  EXPECT_EQ(Files().count("clip.mp4"), 1u);
  // A listing cleared stops the map under way; none comes.
  UpdateTreemap(*w.p);
  ClearTreemap(*w.p);
  EXPECT_FALSE(pane.Pending);
  w.tasks.RunPending();
  EXPECT_EQ(pane.Map, nullptr);
  w.p->Queue()->Disconnect();
}

}  // namespace
}  // namespace kestrum
