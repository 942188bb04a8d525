#include <gtest/gtest.h>

#include "core/fileops/zip_request.h"
#include "core/views/row_tags.h"
#include "listed_drive.h"

namespace kestrum {
namespace {

// A drive "/v" whose root folder holds "Data" with the subfolder "Old", and the drive's
// largest-files folder.
struct ZipFixture : test::ListedDrive {
  ZipFixture() : ListedDrive("Data", "Old") {}
};

TEST(StartZipCommand, TwoFilesAndAFolderOfAFolderListing) {
  ZipFixture f;
  f.Row("a.txt", FileTag(5));
  f.Row("skipped.txt", FileTag(5), false);
  f.Row("b \"q\".txt", FileTag(5));
  f.Row("Old", NodeTag(f.nDeep));
  const ZipCommandStart s = StartZipCommand(f.list, f.ex, f.nSub, false, "/home/u/");
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
  EXPECT_EQ(StartZipCommand(f.list, f.ex, f.nSub, false, "/h/").What, ZipCommandStart::Nothing);
  // Busy refuses only when there is something to refuse.
  EXPECT_EQ(StartZipCommand(f.list, f.ex, f.nSub, true, "/h/").What, ZipCommandStart::Nothing);
  f.list.SetSelected(1, true);
  const ZipCommandStart busy = StartZipCommand(f.list, f.ex, f.nSub, true, "/h/");
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
