#include "core/commands/zip_command.h"

#include <gtest/gtest.h>

#include "core/adapter/row_tags.h"
#include "core/commands/command_recorder.h"
#include "core/commands/listed_drive.h"
#include "support/test_support.h"

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
  const ZipCommandStart s = StartZipCommand(f.list, f.ex, f.nSub, "/home/u/");
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
  const ZipCommandStart s = StartZipCommand(f.list, f.ex, f.n100, "/home/u");
  ASSERT_EQ(s.What, ZipCommandStart::OpenWindow);
  EXPECT_EQ(s.Request.ZipFileList, " \"/v/Data/big.iso\" \"/v/Other/big.iso\"");
  EXPECT_EQ(s.Request.ZipPath, "");
  EXPECT_EQ(s.Request.BaseFolder, "/home/u/");
  EXPECT_EQ(s.Request.Items[0].EntryName, "Data/big.iso");
  EXPECT_EQ(s.Request.Items[1].EntryName, "Other/big.iso");
}

TEST(ZipRequest, ListTextEntryNamesAndTargets) {
  RowTarget file;
  file.FullPath = "/d/a \"q\".txt";
  file.Folder = "/d/";
  file.Name = "a \"q\".txt";
  file.VolumeRoot = "/";
  RowTarget folder = file;
  folder.FullPath = "/d/Old";
  folder.Name = "Old";
  folder.IsFolder = true;
  TargetSelection sel;
  sel.Targets = {file, folder};
  sel.LeftOut = 2;
  ZipRequest r = BuildZipRequest(sel, "/d/", "/home/u/");
  EXPECT_EQ(r.ZipFileList, " \"/d/a \"q\".txt\" \"/d/Old/*.*\"");
  EXPECT_EQ(r.ZipPath, "/d/");
  EXPECT_EQ(r.BaseFolder, "/d/");
  EXPECT_EQ(r.LeftOut, 2u);
  ASSERT_EQ(r.Items.size(), 2u);
  EXPECT_EQ(r.Items[0].EntryName, "a \"q\".txt");
  EXPECT_EQ(r.Items[1].EntryName, "Old");
  EXPECT_TRUE(r.Items[1].IsFolder);

  // Largest files: full paths in the text, names below the volume's root in the archive.
  RowTarget big;
  big.FullPath = "/mnt/v/x/big.bin";
  big.Folder = "/mnt/v/x/";
  big.Name = "big.bin";
  big.VolumeRoot = "/mnt/v/";
  big.LargestKey = "k1";
  RowTarget big2 = big;
  big2.FullPath = "/mnt/v/y/big.bin";
  big2.Folder = "/mnt/v/y/";
  sel.Targets = {big, big2};
  r = BuildZipRequest(sel, "", "/home/u");
  EXPECT_EQ(r.ZipFileList, " \"/mnt/v/x/big.bin\" \"/mnt/v/y/big.bin\"");
  EXPECT_EQ(r.ZipPath, "");
  EXPECT_EQ(r.BaseFolder, "/home/u/");
  EXPECT_EQ(r.Items[0].EntryName, "x/big.bin");
  EXPECT_EQ(r.Items[1].EntryName, "y/big.bin");
  EXPECT_EQ(r.Items[1].Root, "/mnt/v/");

  test::TempDir dir;
  dir.Mkdir("sub");
  EXPECT_EQ(ResolveZipTarget("", dir.Path()), std::nullopt);
  EXPECT_EQ(ResolveZipTarget(dir.Path() + "/", dir.Path()), std::nullopt);
  EXPECT_EQ(ResolveZipTarget("x/", dir.Path()), std::nullopt);
  EXPECT_EQ(ResolveZipTarget("sub", dir.Path()), std::nullopt);
  EXPECT_EQ(ResolveZipTarget(dir.Path() + "/sub", "/"), std::nullopt);
  EXPECT_EQ(ResolveZipTarget("a.zip", dir.Path()), dir.Path() + "/a.zip");
  EXPECT_EQ(ResolveZipTarget("sub/a.zip", dir.Path() + "/"), dir.Path() + "/sub/a.zip");
  EXPECT_EQ(ResolveZipTarget("/t/b.zip", dir.Path()), "/t/b.zip");
}

TEST(ZipFiles, NothingSelectedNothingRealOrTheSlotTaken) {
  ZipFixture f;
  test::CommandRecorder window;
  CommandSlot slot(window.queue);
  f.Row("a.txt", FileTag(5), false);
  EXPECT_TRUE(ZipFiles(window, slot, f.list, f.ex, f.nSub));
  EXPECT_TRUE(window.calls.empty());  // nothing selected: nothing happens
  f.list.SetSelected(1, true);
  ASSERT_TRUE(slot.Acquire());  // a scan or a delete holds the slot
  EXPECT_FALSE(ZipFiles(window, slot, f.list, f.ex, f.nSub));
  EXPECT_TRUE(window.calls.empty());
  slot.Release();

  // The zip window holds the slot while it is open; the list is rebuilt when it zipped.
  window.Zipped = true;
  bool heldWhileOpen = false;
  window.DuringZip = [&] { heldWhileOpen = slot.Busy(); };
  EXPECT_TRUE(ZipFiles(window, slot, f.list, f.ex, f.nSub));
  EXPECT_TRUE(heldWhileOpen);
  EXPECT_FALSE(slot.Busy());
  EXPECT_EQ(window.calls, (std::vector<std::string>{"zip", "relist"}));
  ASSERT_EQ(window.zips.size(), 1u);
  EXPECT_EQ(window.zips[0].ZipPath, "/v/Data/");

  // A drive listing: its root folder row is not something to zip.
  ZipFixture g;
  g.Row("/v/", NodeTag(g.nRoot));
  window.calls.clear();
  EXPECT_TRUE(ZipFiles(window, slot, g.list, g.ex, g.nDrive));
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.calls.size(), 1u);  // the message, no window
  EXPECT_FALSE(slot.Busy());
}

}  // namespace
}  // namespace kestrum
