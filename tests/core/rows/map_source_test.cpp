// The map down to every file, from a copy of a scanned tree: the copy's subtrees and what it
// leaves out, each file a rectangle of its own by its size and type, what a file gone or
// counted at another name does, and a layout stopped part way.
#include "core/rows/map_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

struct MapSourceTest : ::testing::Test {
  TempDir dir;
  DiskObject drive;
  MapSourceTest() {
    dir.Write("t/big.mkv", std::string(400000, 'v'));
    dir.Write("t/run", std::string(50000, 'x'));
    ::chmod((dir.Path() + "/t/run").c_str(), 0755);
    dir.Write("t/a/photo.JPG", std::string(200000, 'p'));
    dir.Write("t/a/b/deep.txt", std::string(100000, 't'));
    dir.Write("t/a/b/c/tiny.txt", "x");  // a subtree too small to be seen at 160 x 50
    dir.Write("t/d/notes.pdf", std::string(150000, 'd'));
    drive.Class = ObjectClass::Drive;
    drive.SetPath(dir.Path() + "/t");
    drive.DriveForChange().RootFolder = dir.Path() + "/t/";
    std::int32_t keys = 0;
    ScanOptions options;
    options.KeepFiles = true;
    options.Threads = 1;
    Scanning = true;
    ScanDrive(drive, keys, options);
    Scanning = false;
    SummarizeSizes(drive);
  }
  ~MapSourceTest() override { Scanning = false; }

  // The shown folder's subfolders and files on top, as the pane shows a drive's root.
  MapSource Root(float w, float h, double smallest) {
    MapSource s;
    s.Width = w;
    s.Height = h;
    const std::uint32_t at = s.AddSubtree(drive, 1, true, smallest);
    for (std::uint32_t k = at + 1; k < s.Folders[at].End; k = s.Folders[k].End)
      s.Top.push_back({s.Folders[k].Size, MapKind::Folder, k});
    s.OwnFilesOf = at;
    s.Total = s.Folders[at].Size;
    return s;
  }

  static std::map<std::string, FileCategory> Files(const Treemap& map) {
    std::map<std::string, FileCategory> out;
    for (const MapRect& r : map.Rects) {
      if (r.Kind != MapKind::File) continue;
      EXPECT_EQ(r.End, &r - map.Rects.data() + 1u) << "a file has no children";
      out[map.Files[r.Ref].Name] = map.Files[r.Ref].Category;
    }
    return out;
  }
};

TEST_F(MapSourceTest, CopiesSubtreesAndLeavesOutWhatNoMapCouldShow) {
  // Whole: the root, a, a/b, a/b/c, d in depth-first order, each with its subtree's end.
  const MapSource all = Root(1600, 500, 0);
  ASSERT_EQ(all.Folders.size(), 5u);
  std::vector<std::uint32_t> ends;
  for (const MapSourceFolder& f : all.Folders) ends.push_back(f.End);
  EXPECT_EQ(ends, (std::vector<std::uint32_t>{5, 4, 4, 4, 5}));
  EXPECT_EQ(all.Stores.size(), 1u);
  // Too small for the pane: a/b/c is left out, the ends follow.
  const MapSource seen = Root(160, 50, MapSmallestShown(all.Total, 160, 50));
  ASSERT_EQ(seen.Folders.size(), 4u);
  EXPECT_EQ(seen.Folders[1].End, 3u);
  EXPECT_EQ(seen.Folders[2].End, 3u);
  // The folder alone.
  MapSource one;
  EXPECT_EQ(one.AddSubtree(drive, 1, false), 0u);
  EXPECT_EQ(one.Folders.size(), 1u);
  EXPECT_EQ(one.AddSubtree(drive, 99), kNoRect);
}

TEST_F(MapSourceTest, EveryFileIsARectangleByItsSizeAndType) {
  FileTypes types;
  const MapSource s = Root(1600, 500, 0);
  const Treemap map = LayoutSource(s, types);
  using C = FileCategory;
  // Every file but the one of a byte, which no pane of this size could show.
  EXPECT_EQ(Files(map), (std::map<std::string, C>{{"big.mkv", C::Video},
                                                   {"run", C::Programs},
                                                   {"photo.JPG", C::Images},
                                                   {"deep.txt", C::SourceText},
                                                   {"notes.pdf", C::Documents}}));
  // Areas in proportion to sizes at the top (no frame between).
  double bigArea = 0, runArea = 0;
  for (const MapRect& r : map.Rects) {
    if (r.Kind != MapKind::File) continue;
    if (map.Files[r.Ref].Name == "big.mkv") bigArea = r.W * r.H;
    if (map.Files[r.Ref].Name == "run") runArea = r.W * r.H;
  }
  EXPECT_NEAR(bigArea / runArea, 8.0, 0.1);
  EXPECT_EQ(map.CategoryBytes[static_cast<std::size_t>(C::Video)], 400000);
  // Each file names its folder and its record; the keys and MIME types come along.
  for (const MapFile& f : map.Files) {
    EXPECT_LT(f.Folder, map.Folders.size()) << f.Name;
    EXPECT_EQ(drive.Drive().Files->NameAt(f.Position), f.Name);
    EXPECT_LT(f.Type, map.Keys.size());
  }
  // A file gone leaves the map; the folder keeps its total.
  const MapFile photo = *std::find_if(map.Files.begin(), map.Files.end(),
                                      [](const MapFile& f) { return f.Name == "photo.JPG"; });
  drive.Drive().Files->SetGone(photo.Position);
  drive.Drive().Files->SetCountedElsewhere(
      std::find_if(map.Files.begin(), map.Files.end(),
                   [](const MapFile& f) { return f.Name == "run"; })->Position,
      true);
  const Treemap after = LayoutSource(Root(1600, 500, 0), types);
  EXPECT_EQ(Files(after).count("photo.JPG"), 0u);
  EXPECT_EQ(Files(after).count("run"), 0u);  // counted at another name: no area
  EXPECT_EQ(after.Total, map.Total);
}

TEST_F(MapSourceTest, ASmallPaneShowsOnlyWhatFitsAndAStoppedLayoutEndsEarly) {
  FileTypes types;
  const Treemap small = LayoutSource(Root(40, 12, 0), types);
  for (const MapRect& r : small.Rects) {
    EXPECT_GE(r.W, kMapMinSide);
    EXPECT_GE(r.H, kMapMinSide);
  }
  EXPECT_EQ(Files(small).count("tiny.txt"), 0u);
  // Stopped before it began nesting: the top level only.
  std::atomic<std::uint64_t> current{2};
  const Treemap stopped = LayoutSource(Root(1600, 500, 0), types, &current, 1);
  for (const MapRect& r : stopped.Rects) EXPECT_EQ(r.Parent, kNoRect);
}

}  // namespace
}  // namespace kestrum
