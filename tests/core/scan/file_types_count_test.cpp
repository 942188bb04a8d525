// Counting a scanned tree by file type: every file once (a file with several names at one of
// them), totals equal to the folders', a name that is not UTF-8, a branch alone, a stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/query/file_types.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

TEST(CountTypes, AScannedTreeByCategoryAndKey) {
  test::TempDir t;
  t.Write("a.jpg", std::string(5000, 'j'));
  t.Write("sub/b.JPG", std::string(3000, 'j'));
  t.Write("sub/src.tar.gz", std::string(100, 'z'));
  t.Write("sub/bad\xff.iso", std::string(700, 'i'));
  t.Write("Makefile", "all:\n");
  t.Write("tool", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((t.Path() + "/tool").c_str(), 0755), 0);
  ASSERT_EQ(::link((t.Path() + "/a.jpg").c_str(), (t.Path() + "/sub/again.jpg").c_str()), 0);

  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.SetPath(t.Path());
  drive.DriveForChange().RootFolder = t.Path() + "/";
  std::int32_t keys = 0;
  Scanning = true;
  ASSERT_TRUE(ScanDrive(drive, keys));
  Scanning = false;
  SummarizeSizes(drive);

  FileTypes types;
  const TypeCounts all = CountTypes(drive, types);
  std::map<std::string, std::uint64_t> files, bytes;
  for (const CategoryTotals& c : all.Categories)
    for (const TypeTotals& k : c.Keys) {
      files[std::string(CategoryName(c.Category)) + "/" + k.Key] = k.Files;
      bytes[std::string(CategoryName(c.Category)) + "/" + k.Key] = k.Bytes;
    }
  const std::map<std::string, std::uint64_t> wantFiles{{"Images/jpg", 2},
                                                       {"Archives/tar.gz", 1},
                                                       {"Disk images/iso", 1},
                                                       {"Source and text/Makefile", 1},
                                                       {"Programs/", 1}};
  EXPECT_EQ(files, wantFiles);
  EXPECT_EQ(bytes["Images/jpg"], 8000u);  // the second name of a.jpg counts nothing
  const DiskObject& root = *drive.DiskObjects().Item(1);
  EXPECT_EQ(static_cast<double>(all.Bytes), root.UsedSpace);
  EXPECT_EQ(all.Files, 6u);
  ASSERT_FALSE(all.Categories.empty());
  EXPECT_EQ(all.Categories[0].Category, FileCategory::Images);  // the most bytes first
  EXPECT_EQ(all.Categories[0].LargestPath, t.Path() + "/a.jpg");

  // A branch alone, with the name that is not UTF-8 in its largest file's path.
  const DiskObject* sub = drive.DiskObjects().Find(t.Path() + "/sub/");
  ASSERT_NE(sub, nullptr);
  const TypeCounts branch = CountTypes(*sub, types);
  EXPECT_EQ(static_cast<double>(branch.Bytes), sub->UsedSpace);
  bool iso = false;
  for (const CategoryTotals& c : branch.Categories)
    if (c.Category == FileCategory::DiskImages) {
      iso = true;
      EXPECT_EQ(c.LargestPath, t.Path() + "/sub/bad\xff.iso");
    }
  EXPECT_TRUE(iso);

  const std::atomic<bool> stop{true};
  const TypeCounts stopped = CountTypes(drive, types, &stop);
  EXPECT_TRUE(stopped.Stopped);
  EXPECT_EQ(stopped.Files, 0u);
}

}  // namespace
}  // namespace kestrum
