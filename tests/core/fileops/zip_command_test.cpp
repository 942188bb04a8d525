#include <gtest/gtest.h>

#include "core/fileops/zip_request.h"
#include "core/views/row_tags.h"

namespace kestrum {
namespace {

// A drive "/v" whose root folder holds "Data" with the subfolder "Old", and the drive's
// largest-files folder.
struct ZipFixture {
  CExplorer ex;
  ListData list;
  DiskObject computer, drive, root, data, old, folder100;
  NodeId nComputer, nDrive, nRoot, nData, nOld, n100;

  ZipFixture() {
    ex.Init(&list);
    computer.Class = "Root";
    computer.SetPath("My Computer");
    drive.Class = "Drive";
    drive.SetPath("/v");
    drive.RootFolder = "/v/";
    drive.Parent = &computer;
    root.Class = "Folder";
    root.RootDirectory = true;
    root.SetPath("/v/");
    root.Parent = &drive;
    data.Class = "Folder";
    data.Name = "Data";
    data.Parent = &root;
    old.Class = "Folder";
    old.Name = "Old";
    old.Parent = &data;
    folder100.Class = "Folder100";
    folder100.Name = "100 Largest Files";
    folder100.SetPath("/v/100 Largest Files/");
    folder100.Parent = &root;
    nComputer = ex.AddNode("My Computer", &computer, false);
    nDrive = ex.AddNode("(/v)", &drive, false, nComputer);
    nRoot = ex.AddNode("/v/", &root, false, nDrive);
    nData = ex.AddNode("Data", &data, false, nRoot);
    nOld = ex.AddNode("Old", &old, false, nData);
    n100 = ex.AddNode("100 Largest Files", &folder100, false, nRoot);
  }
  void Row(const std::string& text, ItemValue tag, bool selected = true, std::string key = {}) {
    ListRow r;
    r.Text = text;
    r.Tag = std::move(tag);
    r.Selected = selected;
    r.Key = std::move(key);
    list.Add(std::move(r));
  }
};

TEST(StartZipCommand, TwoFilesAndAFolderOfAFolderListing) {
  ZipFixture f;
  f.Row("a.txt", FileTag(5));
  f.Row("skipped.txt", FileTag(5), false);
  f.Row("b \"q\".txt", FileTag(5));
  f.Row("Old", NodeTag(f.nOld));
  const ZipCommandStart s = StartZipCommand(f.list, f.ex, f.nData, false, "/home/u/");
  ASSERT_EQ(s.What, ZipCommandStart::OpenWindow);
  EXPECT_EQ(s.Request.ZipFileList,
            " \"/v/Data/a.txt\" \"/v/Data/b \"q\".txt\" \"/v/Data/Old/*.*\"");
  EXPECT_EQ(s.Request.ZipPath, "/v/Data/");
  EXPECT_EQ(s.Request.BaseFolder, "/v/Data/");
  ASSERT_EQ(s.Request.Items.size(), 3u);
  EXPECT_EQ(s.Request.Items[1].Name, "b \"q\".txt");
  EXPECT_EQ(s.Request.Items[2].EntryName, "Old");
  EXPECT_TRUE(s.Request.Items[2].IsFolder);
  EXPECT_EQ(s.Request.Items[2].Root, "/v/");
}

TEST(StartZipCommand, LargestFilesKeepTheirFullPaths) {
  ZipFixture f;
  f.Row("/v/Data/big.iso", FileTag(9), true, "k1");
  f.Row("/v/Other/big.iso", FileTag(8), true, "k2");
  const ZipCommandStart s = StartZipCommand(f.list, f.ex, f.n100, false, "/home/u");
  ASSERT_EQ(s.What, ZipCommandStart::OpenWindow);
  EXPECT_EQ(s.Request.ZipFileList, " \"/v/Data/big.iso\" \"/v/Other/big.iso\"");
  EXPECT_EQ(s.Request.ZipPath, "");
  EXPECT_EQ(s.Request.BaseFolder, "/home/u/");
  EXPECT_EQ(s.Request.Items[0].EntryName, "Data/big.iso");
  EXPECT_EQ(s.Request.Items[1].EntryName, "Other/big.iso");
}

TEST(StartZipCommand, NothingSelectedBusyOrNothingReal) {
  ZipFixture f;
  f.Row("a.txt", FileTag(5), false);
  EXPECT_EQ(StartZipCommand(f.list, f.ex, f.nData, false, "/h/").What, ZipCommandStart::Nothing);
  // Busy refuses only when there is something to refuse.
  EXPECT_EQ(StartZipCommand(f.list, f.ex, f.nData, true, "/h/").What, ZipCommandStart::Nothing);
  f.list.SetSelected(1, true);
  const ZipCommandStart busy = StartZipCommand(f.list, f.ex, f.nData, true, "/h/");
  EXPECT_EQ(busy.What, ZipCommandStart::Refused);
  EXPECT_EQ(busy.Text, kZipRefusedBusy);

  // A drive listing: its root folder row is not something to zip.
  ZipFixture g;
  g.Row("/v/", NodeTag(g.nRoot));
  const ZipCommandStart none = StartZipCommand(g.list, g.ex, g.nDrive, false, "/h/");
  EXPECT_EQ(none.What, ZipCommandStart::NotAllowed);
  EXPECT_FALSE(none.Text.empty());
}

}  // namespace
}  // namespace kestrum
