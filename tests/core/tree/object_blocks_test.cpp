#include "core/tree/object_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/tree/disk_model.h"
#include "core/tree/drive_build.h"

namespace kestrum {
namespace {

TEST(ObjectBlocks, RoomIsAlignedApartAndLastsUntilReleased) {
  ObjectBlocks blocks;
  // Past the small first block and across several huge ones, with odd sizes.
  std::vector<std::pair<char*, std::size_t>> taken;
  std::size_t total = 0;
  for (std::size_t i = 0; total < 7u * 1024 * 1024; ++i) {
    const std::size_t bytes = 1 + (i * 37) % 700;
    auto* p = static_cast<char*>(blocks.Take(bytes));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
    std::memset(p, static_cast<int>(i & 0xFF), bytes);
    taken.emplace_back(p, bytes);
    total += bytes;
  }
  // Nothing handed out twice: every piece still holds its own pattern.
  for (std::size_t i = 0; i < taken.size(); ++i)
    for (std::size_t k = 0; k < taken[i].second; ++k)
      ASSERT_EQ(static_cast<unsigned char>(taken[i].first[k]), i & 0xFF) << i;
  // Pieces larger than any block fit, whole, and the pieces before them stay intact.
  constexpr std::size_t kBig = 3u * 1024 * 1024;
  auto* big = static_cast<char*>(blocks.Take(kBig));
  std::memset(big, 1, kBig);
  std::memset(blocks.Take(100), 3, 100);
  for (std::size_t i = 0; i < taken.size(); i += 101)
    ASSERT_EQ(static_cast<unsigned char>(taken[i].first[0]), i & 0xFF) << i;
  blocks.Release();
  std::memset(blocks.Take(100), 2, 100);  // usable again after a release
}

TEST(FolderList, ObjectsInBlocksStayPutAndEndOnRemovalAndClear) {
  DiskObject drive;
  FolderList& list = drive.DiskObjects();
  // Enough folders for several blocks; names too long for a short string, so that a leak or
  // a double end shows under the sanitizers.
  std::vector<DiskObject*> made;
  for (int i = 0; i < 20000; ++i) {
    DiskObject* f = list.AddNew();
    f->Name = "folder-with-a-long-name-" + std::to_string(i);
    f->Parent = i == 0 ? &drive : made[static_cast<std::size_t>(i - 1) / 3];
    if (i == 0) f->SetPath("/r/");
    made.push_back(f);
  }
  ASSERT_EQ(list.Count(), made.size());
  for (std::size_t i = 0; i < made.size(); i += 997) EXPECT_EQ(list.Item(i + 1), made[i]);
  EXPECT_EQ(list.Find("/r/folder-with-a-long-name-1/folder-with-a-long-name-5/"), made[5]);

  // Add moves a whole object's contents into the list's own storage.
  auto loose = std::make_unique<DiskObject>();
  loose->Name = "moved-in-with-a-long-enough-name";
  loose->Parent = made[0];
  loose->UsedSpace = 42;
  DiskObject* in = list.Add(std::move(loose));
  EXPECT_EQ(in->Name, "moved-in-with-a-long-enough-name");
  EXPECT_EQ(in->UsedSpace, 42);
  EXPECT_EQ(list.Find("/r/moved-in-with-a-long-enough-name/"), in);

  // A branch goes with everything below it; the rest keeps its objects where they were.
  const std::size_t gone = list.RemoveBranch(made[1]);
  EXPECT_GT(gone, 1u);
  EXPECT_EQ(list.Count(), made.size() + 1 - gone);
  EXPECT_EQ(list.Item(1), made[0]);
  EXPECT_EQ(list.Find("/r/folder-with-a-long-name-2/"), made[2]);
  EXPECT_EQ(list.Find("/r/folder-with-a-long-name-1/"), nullptr);

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  DiskObject* again = list.AddNew();
  again->SetPath("/s/");
  EXPECT_EQ(list.Find("/s/"), again);
}

TEST(RemoveBranch, TakesAFolderWithEverythingBelowAndKeepsTheRestFindable) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  FolderList& l = drive.DiskObjects();
  auto add = [&l](const std::string& name, DiskObject* parent) {
    auto f = std::make_unique<DiskObject>();
    f->Class = ObjectClass::Folder;
    f->Name = name;
    f->Parent = parent;
    return l.Add(std::move(f));
  };
  DiskObject* root = add("", nullptr);
  root->SetPath("/v/");
  DiskObject* a = add("a", root);
  DiskObject* b = add("b", a);
  add("c", b);
  DiskObject* ab = add("ab", root);
  add("d", ab);
  ASSERT_EQ(l.Find("/v/a/b/c/")->Name, "c");  // the index is built
  EXPECT_EQ(l.RemoveBranch(a), 3u);
  EXPECT_EQ(l.Count(), 3u);
  EXPECT_EQ(l.Find("/v/a/"), nullptr);
  EXPECT_EQ(l.Find("/v/a/b/c/"), nullptr);
  EXPECT_EQ(l.Find("/v/ab/d/")->Name, "d");
  EXPECT_EQ(l.RemoveBranch(a), 0u);
}

// Enough folders for long probe runs and a grown index, many of one name under different
// parents: removing every third branch leaves each other path findable at its new position.
// A scan's plain folders make no fields of their own; only the root folder holds its path.
TEST(RemoveBranch, ManyFoldersStayFindableAndPlainFoldersStayPlain) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  DiskObject* root = AddScannedFolder(drive, "", &drive, true, 1, "/v/");
  std::vector<DiskObject*> tops, leaves;
  for (int i = 0; i < 300; ++i) {
    tops.push_back(AddScannedFolder(drive, "n" + std::to_string(i), root, false, 2, ""));
    leaves.push_back(AddScannedFolder(drive, "same", tops.back(), false, 3, ""));
  }
  FolderList& l = drive.DiskObjects();
  for (const auto& f : l) EXPECT_EQ(f->HasDriveFields(), f.get() == root) << f->Path();
  ASSERT_EQ(l.Find("/v/n299/same/"), leaves[299]);  // the index is built
  for (int i = 0; i < 300; i += 3) EXPECT_EQ(l.RemoveBranch(tops[i]), 2u);
  for (int i = 0; i < 300; ++i) {
    const std::string top = "/v/n" + std::to_string(i) + "/";
    EXPECT_EQ(l.Find(top), i % 3 ? tops[i] : nullptr) << top;
    EXPECT_EQ(l.Find(top + "same/"), i % 3 ? leaves[i] : nullptr) << top;
  }
  EXPECT_EQ(l.Count(), 1u + 200u * 2u);
}

// A branch replaced in place by one of fewer, as many or more folders: the folders after it
// keep their order, and the path index follows whatever part of the list it covered (none of
// it, all of it, a front ending inside the branch, or one ending after it).
TEST(ReplaceBranch, KeepsOrderAndEveryPathFindable) {
  enum class Index { None, Whole, EndsInside, EndsAfter };
  for (Index state : {Index::None, Index::Whole, Index::EndsInside, Index::EndsAfter}) {
    for (int size : {0, 3, 5}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(state)) + " " + std::to_string(size));
      DiskObject drive;
      FolderList& l = drive.DiskObjects();
      auto add = [](FolderList& list, const std::string& name, DiskObject* parent, int level) {
        DiskObject* f = list.AddNew();
        f->Class = ObjectClass::Folder;
        f->Name = name;
        f->Parent = parent;
        f->Level = level;
        return f;
      };
      DiskObject* root = add(l, "", nullptr, 1);
      root->SetPath("/v/");
      DiskObject* a = add(l, "a", root, 2);
      DiskObject* b = add(l, "b", a, 3);
      DiskObject* x = add(l, "x", b, 4);
      add(l, "y", x, 5);
      // The index covers the list as it stood at the last Find: up to y (inside b's branch
      // of x, y, z), up to c (after it), or all.
      if (state == Index::EndsInside) {
        EXPECT_TRUE(l.Find("/v/a/b/x/y/"));
      }
      add(l, "z", b, 4);
      add(l, "c", a, 3);
      if (state == Index::EndsAfter) {
        EXPECT_TRUE(l.Find("/v/a/c/"));
      }
      add(l, "d", root, 2);
      if (state == Index::Whole) {
        EXPECT_TRUE(l.Find("/v/d/"));
      }

      DiskObject rescan;
      FolderList& r = rescan.DiskObjects();
      DiskObject* top = add(r, "b", nullptr, 1);
      top->SetPath("/v/a/b/");
      if (size >= 3) {
        DiskObject* nx = add(r, "x", top, 2);
        add(r, "w", nx, 3);
        DiskObject* q = add(r, "q", top, 2);
        if (size == 5) {
          add(r, "r", q, 3);
          add(r, "s", top, 2);
        }
      }
      std::unordered_set<const DiskObject*> removed;
      l.ReplaceBranch(b, r, &removed);
      EXPECT_EQ(removed.size(), 3u);
      ASSERT_EQ(l.Count(), 5u + static_cast<std::size_t>(size));
      std::string order;
      for (const auto& f : l) {
        EXPECT_EQ(l.Find(f->Path()), f.get()) << f->Path();
        EXPECT_EQ(l.Item(l.PositionOf(f.get())), f.get()) << f->Path();
        order += f->Name + " ";
      }
      const char* expected[] = {" a b c d ", "", "", " a b x w q c d ", "", " a b x w q r s c d "};
      EXPECT_EQ(order, expected[size]);
      EXPECT_EQ(l.Find("/v/a/b/x/y/"), nullptr);
      EXPECT_EQ(l.Find("/v/a/b/z/"), nullptr);
      EXPECT_EQ(l.Find("/v/a/c/")->Level, 3);
    }
  }
}

}  // namespace
}  // namespace kestrum
