// The history of scans: where it lives, what it keeps and drops, and that its files read back.
#include "core/saved/scan_history.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/saved/saved_support.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

struct CloseDir {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::unique_ptr<DiskObject> ScanKeeping(const std::string& root) {
  auto drive = std::make_unique<DiskObject>();
  drive->Class = ObjectClass::Drive;
  drive->SetPath(root);
  drive->DriveForChange().RootFolder = root + "/";
  drive->DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  ScanOptions options;
  options.Threads = 1;
  options.KeepFiles = true;
  Scanning = true;
  EXPECT_TRUE(ScanDrive(*drive, keys, options));
  Scanning = false;
  SummarizeSizes(*drive);
  return drive;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(ScanHistory, TheFolderFollowsXdgDataHome) {
  EXPECT_EQ(HistoryFolder("/x/data", "/home/u"), "/x/data/Kestrum/history");
  EXPECT_EQ(HistoryFolder(nullptr, "/home/u"), "/home/u/.local/share/Kestrum/history");
  EXPECT_EQ(HistoryFolder("relative", "/home/u"), "/home/u/.local/share/Kestrum/history");
  EXPECT_EQ(HistoryFolder("", "/home/u"), "/home/u/.local/share/Kestrum/history");
}

TEST(ScanHistory, KeepsTheNewestPerRootPrivatelyAndTheyReadBack) {
  TempDir t;
  t.Write("tree/a/f", std::string(3000, 'x'));
  const auto drive = ScanKeeping(t.Path() + "/tree");
  const std::string folder = HistoryFolder((t.Path() + "/data").c_str(), "/nowhere");
  const ScanHistory history(folder, {3, 1 << 30});
  const HistoryRoot root{t.Path() + "/tree", "1234-ABCD"};
  const HistoryRoot elsewhere{t.Path() + "/tree", ""};  // the same path on another file system
  const std::int64_t t0 = 1700000000;
  // Two saves in one second, then one a second for three more.
  for (const std::int64_t when : {t0, t0, t0 + 1, t0 + 2, t0 + 3}) {
    const HistorySaved s = history.Save(*drive, root, when);
    ASSERT_TRUE(s.Kept) << s.Message;
    EXPECT_EQ(ModeOf(s.File), 0600u);
  }
  ASSERT_TRUE(history.Save(*drive, elsewhere, t0).Kept);
  EXPECT_EQ(ModeOf(folder), 0700u);

  const std::vector<HistoryEntry> kept = history.List(root);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].Time, t0 + 3);
  EXPECT_EQ(kept[2].Time, t0 + 1);
  EXPECT_EQ(history.List(elsewhere).size(), 1u);
  EXPECT_NE(ScanHistory::RootKey(root), ScanHistory::RootKey(elsewhere));
  const std::string first = kept[0].File.substr(folder.size() + 1);
  EXPECT_EQ(first, ScanHistory::RootKey(root) + "-20231114T221323Z.json.zst");
  // A saved scan as any other: the tree it was taken of.
  const test::Imported back = test::Import(kept[0].File);
  ASSERT_TRUE(back.Ok) << back.Message;
  EXPECT_EQ(back.Drive->DiskObjects().Item(1)->UsedSpace, 3000);
  EXPECT_GT(kept[0].Bytes, 0u);
}

TEST(ScanHistory, TheBudgetDropsTheOldestOfAnyRootAndRefusesAScanLargerThanItAll) {
  TempDir t;
  t.Write("tree/f", std::string(100, 'x'));
  const auto drive = ScanKeeping(t.Path() + "/tree");
  const std::string folder = t.Path() + "/history";
  const HistorySaved probe = ScanHistory(folder + "-probe").Save(*drive, {"/p", ""}, 1);
  ASSERT_TRUE(probe.Kept) << probe.Message;
  struct stat st {};
  ASSERT_EQ(::stat(probe.File.c_str(), &st), 0);
  const auto one = static_cast<std::uint64_t>(st.st_size);

  // Room for two and a half files: the oldest, of whichever root, go first.
  const ScanHistory history(folder, {10, one * 5 / 2});
  ASSERT_TRUE(history.Save(*drive, {"/a", ""}, 100).Kept);
  ASSERT_TRUE(history.Save(*drive, {"/b", ""}, 200).Kept);
  const HistorySaved third = history.Save(*drive, {"/a", ""}, 300);
  ASSERT_TRUE(third.Kept);
  EXPECT_EQ(third.Dropped, 1u);
  EXPECT_EQ(history.List({"/a", ""}).size(), 1u);
  EXPECT_EQ(history.List({"/a", ""})[0].Time, 300);
  EXPECT_EQ(history.List({"/b", ""}).size(), 1u);

  const ScanHistory tiny(folder, {10, one - 1});
  const HistorySaved refused = tiny.Save(*drive, {"/c", ""}, 400);
  EXPECT_FALSE(refused.Kept);
  EXPECT_NE(refused.Message.find("more than"), std::string::npos) << refused.Message;
  EXPECT_TRUE(tiny.List({"/c", ""}).empty());
  EXPECT_EQ(history.List({"/a", ""}).size(), 1u);  // nothing else went for it
}

TEST(ScanHistory, AFolderThatCannotBeMadeCostsAMessage) {
  TempDir t;
  t.Write("tree/f", "x");
  const auto drive = ScanKeeping(t.Path() + "/tree");
  const std::string file = t.Write("plain", "not a folder");
  const HistorySaved s = ScanHistory(file + "/history").Save(*drive, {"/a", ""}, 1);
  EXPECT_FALSE(s.Kept);
  EXPECT_EQ(s.Message.rfind("The scan was not kept in the history: cannot make ", 0), 0u)
      << s.Message;
  // A drive that kept no entries is refused by the export, also with a message.
  const HistorySaved none = ScanHistory(t.Path() + "/h").Save(DiskObject(), {"/a", ""}, 1);
  EXPECT_FALSE(none.Kept);
  EXPECT_FALSE(none.Message.empty());
  EXPECT_TRUE(ScanHistory(t.Path() + "/h").List({"/a", ""}).empty());
}

TEST(ScanHistory, AUuidNamesABlockDeviceOnly) {
  TempDir t;
  ASSERT_EQ(::symlink("/dev/null", (t.Path() + "/not-a-disk").c_str()), 0);
  struct stat null {};
  ASSERT_EQ(::stat("/dev/null", &null), 0);
  EXPECT_EQ(FileSystemUuid(null.st_rdev, t.Path()), "");
  EXPECT_EQ(FileSystemUuid(null.st_rdev, t.Path() + "/missing"), "");
  // A block device, where the machine lets the test see one.
  std::unique_ptr<DIR, CloseDir> dev(::opendir("/dev"));
  while (const dirent* d = dev ? ::readdir(dev.get()) : nullptr) {
    struct stat st {};
    const std::string path = std::string("/dev/") + d->d_name;
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    ASSERT_EQ(::symlink(path.c_str(), (t.Path() + "/0000-1111").c_str()), 0);
    EXPECT_EQ(FileSystemUuid(st.st_rdev, t.Path()), "0000-1111");
    break;
  }
}

}  // namespace
}  // namespace kestrum
