#include "core/tree/largest.h"

#include <gtest/gtest.h>

#include "core/tree/summary.h"

namespace kestrum {
namespace {

std::vector<std::string> Keys(DiskObject& d) {
  std::vector<std::string> k;
  for (const auto& e : d.LargestFiles()) k.push_back(e->key);
  return k;
}

TEST(AddLargest, FillsToHundredWithMarkerOnFirstSmallest) {
  DiskObject d;
  std::int32_t counter = 0;
  d.AddLargest("a", 50, 4096, counter);
  d.AddLargest("b", 20, 4096, counter);
  d.AddLargest("c", 20, 4096, counter);  // equal: marker stays on b
  d.AddLargest("e", 30, 4096, counter);
  EXPECT_EQ(d.Drive().Smallest, 20);
  EXPECT_EQ(d.Drive().SmallestIndex, 2);
  EXPECT_EQ(counter, 4);
  EXPECT_EQ(Keys(d), (std::vector<std::string>{"K1", "K2", "K3", "K4"}));
  EXPECT_EQ(d.LargestFiles().Item(1)->Name, "a");
}

TEST(AddLargest, TiesAtTheBound) {
  DiskObject d;
  std::int32_t counter = 10;  // keys go on from the command's counter
  // 97 files of 100..196, then three of size 5 at positions 98..100.
  for (int i = 0; i < 97; ++i) d.AddLargest("f" + std::to_string(i), 100 + i, 0, counter);
  d.AddLargest("s1", 5, 0, counter);
  d.AddLargest("s2", 5, 0, counter);
  d.AddLargest("s3", 5, 0, counter);
  ASSERT_EQ(d.LargestFiles().Count(), 100u);
  EXPECT_EQ(d.Drive().SmallestIndex, 98);

  // Equal to the smallest: does not enter, no key used.
  d.AddLargest("eq", 5, 0, counter);
  EXPECT_EQ(d.LargestFiles().Count(), 100u);
  EXPECT_EQ(counter, 110);
  EXPECT_EQ(d.LargestFiles().Find("K111"), nullptr);

  // Larger: replaces the first of the three, the marker moves to the next of them.
  d.AddLargest("big", 1000, 0, counter);
  ASSERT_EQ(d.LargestFiles().Count(), 100u);
  EXPECT_EQ(d.LargestFiles().Item(98)->Name, "s2");
  EXPECT_EQ(d.LargestFiles().Item(100)->Name, "big");
  EXPECT_EQ(d.LargestFiles().Item(100)->key, "K111");
  EXPECT_EQ(d.Drive().Smallest, 5);
  EXPECT_EQ(d.Drive().SmallestIndex, 98);

  d.AddLargest("b2", 6, 0, counter);  // replaces s2; s3 now at 98
  d.AddLargest("b3", 7, 0, counter);  // replaces s3; smallest is b2 (6)
  EXPECT_EQ(d.Drive().Smallest, 6);
  EXPECT_EQ(d.LargestFiles().Item(d.Drive().SmallestIndex)->Name, "b2");
  d.AddLargest("b4", 6.5, 0, counter);  // replaces b2
  EXPECT_EQ(d.Drive().Smallest, 6.5);
  EXPECT_EQ(d.LargestFiles().Item(d.Drive().SmallestIndex)->Name, "b4");
  EXPECT_EQ(d.LargestFiles().Count(), 100u);
}

TEST(Add100Folder, TotalsOfTheListAndLevel) {
  DiskObject drive, root;
  drive.DriveForChange().AllocationUnit = 512;
  std::int32_t counter = 0, level = 0;
  drive.AddLargest("/r/a", 10, 512, counter);
  drive.AddLargest("/r/b", 600, 1024, counter);
  DiskObject* f = Add100Folder("/r/", "", root, drive, level);
  ASSERT_EQ(f, drive.Drive().Folder100.get());
  EXPECT_EQ(f->Name, "100 Largest Files");
  EXPECT_EQ(f->Path(), "/r/100 Largest Files");
  EXPECT_EQ(f->Level, 1);
  EXPECT_EQ(level, 1);
  EXPECT_EQ(drive.Drive().DeepestLevel, 1);
  EXPECT_EQ(f->fFileCount, 2);
  EXPECT_EQ(f->UsedSpace, 610);
  EXPECT_EQ(f->fAllocatedSpace, 1536);
  EXPECT_EQ(f->ClosedIcon(), "ClosedFolder");
  EXPECT_FALSE(f->Children);
  EXPECT_EQ(f->Parent, &root);
}

TEST(SummarizeSizes, FolderCountsRollUp) {
  // root with two subfolders, one of which has three.
  DiskObject drive;
  auto add = [&](DiskObject* parent, const std::string& name, int level, int subs) {
    auto o = std::make_unique<DiskObject>();
    if (level == 1) o->SetPath("/");
    o->Name = name;
    o->Level = level;
    o->Parent = parent;
    o->FolderCount = o->fFolderCount = subs;
    o->FileCount = o->fFileCount = 1;
    o->UsedSpace = o->fUsedSpace = 10;
    return drive.DiskObjects().Add(std::move(o));
  };
  DiskObject* r = add(&drive, "", 1, 2);
  DiskObject* a = add(r, "a", 2, 3);
  for (int i = 0; i < 3; ++i) add(a, std::to_string(i), 3, 0);
  DiskObject* b = add(r, "b", 2, 0);
  drive.DriveForChange().DeepestLevel = 3;
  SummarizeSizes(drive);
  EXPECT_EQ(r->FolderCount, 5);
  EXPECT_EQ(a->FolderCount, 3);
  EXPECT_EQ(b->FolderCount, 0);
  EXPECT_EQ(r->fFolderCount, 2);
  EXPECT_EQ(a->fFolderCount, 3);
  EXPECT_EQ(r->FileCount, 6);
  EXPECT_EQ(r->fFileCount, 1);
  EXPECT_EQ(drive.UsedSpace, 60);
  EXPECT_EQ(drive.FolderCount, 0);  // the drive's counts are not the summary's
}

TEST(SummarizeSizes, OnlyRootTakesItsOwnTotals) {
  DiskObject drive;
  auto o = std::make_unique<DiskObject>();
  o->SetPath("/");
  o->Level = 1;
  o->Parent = &drive;
  o->UsedSpace = 7;
  o->AllocatedSpace = 4096;
  drive.DiskObjects().Add(std::move(o));
  drive.DriveForChange().DeepestLevel = 1;
  drive.UsedSpace = 99;
  SummarizeSizes(drive);
  EXPECT_EQ(drive.UsedSpace, 7);
  EXPECT_EQ(drive.AllocatedSpace, 4096);
}

}  // namespace
}  // namespace kestrum
