// The default scan (readers that adapt, stat calls in inode order on a seeking drive) against
// the one-thread scan, and a stop while readers are stuck in a system call.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

struct ScanRun {
  DiskObject drive;
  std::int32_t keys = 0;
  bool ok = false;
};

void ScanInto(ScanRun& r, const std::string& root, const ScanOptions& o) {
  r.drive.Class = ObjectClass::Drive;
  r.drive.SetPath(root);
  r.drive.DriveForChange().RootFolder = root + "/";
  r.drive.DriveForChange().AllocationUnit = 4096;
  Scanning = true;
  r.ok = ScanDrive(r.drive, r.keys, o);
  Scanning = false;
  SummarizeSizes(r.drive);
}

// The folders' paths, levels and own totals, and the largest files with their keys.
std::vector<std::string> Lines(DiskObject& d) {
  std::vector<std::string> out;
  for (const auto& f : d.DiskObjects())
    out.push_back(f->Path() + " " + std::to_string(f->Level) + " " + std::to_string(f->fFileCount) +
                  " " + std::to_string(f->fFolderCount) + " " + std::to_string(f->fUsedSpace) +
                  " " + std::to_string(f->fAllocatedSpace) + " " + std::to_string(f->UsedSpace) +
                  " " + std::to_string(f->Children));
  for (const auto& f : d.LargestFiles())
    out.push_back(f->key + " " + f->Name + " " + std::to_string(f->Size));
  out.push_back(std::to_string(d.Drive().DeepestLevel));
  return out;
}

void MakeTree(const std::string& root, int folders, int files, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> paths{root};
  for (int i = 1; i < folders; ++i) {
    const std::string p = paths[rng() % paths.size()] + "/d" + std::to_string(i);
    ASSERT_EQ(::mkdir(p.c_str(), 0755), 0);
    paths.push_back(p);
  }
  for (int i = 0; i < files; ++i) {
    const std::string p = paths[rng() % paths.size()] + "/f" + std::to_string(i);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(rng() % 5 == 0 ? 0 : rng() % 70000)), 0);
    ::close(fd);
    // Hard links to earlier files: each name is a file of its folder, as the walk counts it.
    if (i % 9 == 0 && i > 0) {
      const std::string l = paths[rng() % paths.size()] + "/l" + std::to_string(i);
      ASSERT_EQ(::link(p.c_str(), l.c_str()), 0);
    }
  }
}

TEST(AdaptiveScan, EveryReaderPlanGivesTheOneThreadResult) {
  TempDir t;
  MakeTree(t.Path(), 500, 4000, 21);
  ScanOptions one;
  one.Threads = 1;
  ScanRun base;
  ScanInto(base, t.Path(), one);
  const auto expected = Lines(base.drive);
  for (const bool rotational : {false, true}) {
    for (const unsigned threads : {0u, 2u, 16u}) {
      SCOPED_TRACE("rotational " + std::to_string(rotational) + " threads " +
                   std::to_string(threads));
      ScanOptions o;
      o.Threads = threads;
      o.Rotational = rotational;
      ScanRun r;
      ScanInto(r, t.Path(), o);
      EXPECT_EQ(r.ok, base.ok);
      EXPECT_EQ(r.keys, base.keys);
      EXPECT_EQ(Lines(r.drive), expected);
    }
  }
  // The device behind the folder decides when nobody says.
  ScanRun asked;
  ScanInto(asked, t.Path(), ScanOptions{});
  EXPECT_EQ(Lines(asked.drive), expected);
}

// A reader that blocks every call inside one folder until the test opens the gate, as a
// system call on a device that stopped answering would. It counts calls still inside.
class StuckReader : public DirectoryReader {
 public:
  explicit StuckReader(std::string stuckName) : stuck_(std::move(stuckName)) {}
  int OpenAt(int dirFd, const char* name) override {
    if (name == stuck_) {
      Enter();
      std::unique_lock lock(m_);
      ++blocked_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return open_; });
      --blocked_;
      lock.unlock();
      const int fd = DirectoryReader::OpenAt(dirFd, name);
      Leave();
      return fd;
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
  // Waits until a reader is stuck in the gate.
  void WaitUntilStuck() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return blocked_ > 0; });
  }
  void Open() {
    std::lock_guard lock(m_);
    open_ = true;
    cv_.notify_all();
  }
  int Inside() const { return inside_.load(); }

 private:
  void Enter() { ++inside_; }
  void Leave() { --inside_; }
  std::string stuck_;
  std::mutex m_;
  std::condition_variable cv_;
  int blocked_ = 0;
  bool open_ = false;
  std::atomic<int> inside_{0};
};

TEST(AdaptiveScan, StopReturnsWhileReadersAreStuckInASystemCall) {
  TempDir t;
  MakeTree(t.Path(), 300, 1500, 4);
  t.Mkdir("stuck");
  t.Write("stuck/f", "abc");
  ScanOptions one;
  one.Threads = 1;
  ScanRun full;
  ScanInto(full, t.Path(), one);

  for (const unsigned threads : {0u, 4u, 32u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    auto reader = std::make_shared<StuckReader>("stuck");
    ScanOptions o;
    o.Threads = threads;
    o.SharedReader = reader;
    ScanRun r;
    r.drive.Class = ObjectClass::Drive;
    r.drive.SetPath(t.Path());
    r.drive.DriveForChange().RootFolder = t.Path() + "/";
    r.drive.DriveForChange().AllocationUnit = 4096;
    Scanning = true;
    std::thread stopper([&reader] {
      reader->WaitUntilStuck();
      Scanning = false;
    });
    // Returns although a reader is inside the stuck call: the gate opens only afterwards.
    r.ok = ScanDrive(r.drive, r.keys, o);
    stopper.join();
    EXPECT_EQ(reader->Inside(), 1);
    SummarizeSizes(r.drive);
    // A consistent partial result: the first folders of the depth-first order, each whole.
    const auto& part = r.drive.DiskObjects();
    const auto& all = full.drive.DiskObjects();
    ASSERT_GE(part.Count(), 1u);
    ASSERT_LT(part.Count(), all.Count());
    for (std::size_t i = 2; i <= part.Count(); ++i) {
      EXPECT_EQ(part.Item(i)->Path(), all.Item(i)->Path());
      EXPECT_EQ(part.Item(i)->fFileCount, all.Item(i)->fFileCount);
      EXPECT_EQ(part.Item(i)->fUsedSpace, all.Item(i)->fUsedSpace);
    }
    EXPECT_EQ(part.Item(1)->fFolderCount, all.Item(1)->fFolderCount);
    // The stuck reader finishes in the background; what it read is dropped, and the scan's
    // state goes with the last reader (the only owner of the reader is this test again).
    reader->Open();
    o.SharedReader.reset();
    while (reader.use_count() > 1) std::this_thread::yield();
    EXPECT_EQ(reader->Inside(), 0);
  }
}

// A reader the caller owns must not be called once the scan has returned: there the scan
// waits for its readers.
class SlowAfterStopReader : public DirectoryReader {
 public:
  int StatAt(int dirFd, const char* name, struct stat& out) override {
    ++inside;
    // Keeps readers inside a call until the stop, and a little past it.
    if (!Scanning.load()) std::this_thread::yield();
    const int rc = DirectoryReader::StatAt(dirFd, name, out);
    --inside;
    return rc;
  }
  std::atomic<int> inside{0};
};

TEST(AdaptiveScan, ACallersReaderIsNotCalledAfterTheScanReturns) {
  TempDir t;
  MakeTree(t.Path(), 400, 3000, 9);
  for (const unsigned threads : {0u, 8u}) {
    SlowAfterStopReader reader;
    ScanOptions o;
    o.Threads = threads;
    o.Reader = &reader;
    int made = 0;
    o.AfterFolder = [&made](const DiskObject&) {
      if (++made == 30) Scanning = false;
    };
    ScanRun r;
    ScanInto(r, t.Path(), o);
    EXPECT_EQ(reader.inside.load(), 0);
    EXPECT_EQ(r.drive.DiskObjects().Count(), 30u);
  }
}

}  // namespace
}  // namespace kestrum
