#include "core/query/file_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;
using Order = SearchCriteria::Order;

// A tree of files of known sizes and times, two names of one file and a sparse file, scanned
// with its entries kept.
class FileSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    Put("a/big.log", 5000, 3000);
    Put("a/small.LOG", 10, 1000);
    Put("a/b/deep.txt", 100, 2000);
    Put("a/b/Notes [1].txt", 7, 4000);
    Put("one.bin", 300, 5000);
    ASSERT_EQ(::link((dir_.Path() + "/one.bin").c_str(), (dir_.Path() + "/a/two.bin").c_str()), 0);
    ASSERT_EQ(::symlink("one.bin", (dir_.Path() + "/link.bin").c_str()), 0);
    const std::string sparse = dir_.Write("holes.img", "");
    ASSERT_EQ(::truncate(sparse.c_str(), 1 << 24), 0);
    Time("holes.img", 6000);
    drive_.Class = ObjectClass::Drive;
    drive_.SetPath(dir_.Path());
    drive_.DriveForChange().RootFolder = dir_.Path() + "/";
    drive_.DriveForChange().AllocationUnit = 4096;
    std::int32_t keys = 0;
    ScanOptions options;
    options.Threads = 1;
    options.KeepFiles = true;
    Scanning = true;
    ASSERT_TRUE(ScanDrive(drive_, keys, options));
    Scanning = false;
    SummarizeSizes(drive_);
  }

  void Put(const std::string& name, std::size_t size, std::int64_t time) {
    dir_.Write(name, std::string(size, 'x'));
    Time(name, time);
  }
  void Time(const std::string& name, std::int64_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_.Path() + "/" + name).c_str(), times, 0), 0);
  }

  // The paths found, below the tree's folder, in the result's order.
  std::vector<std::string> Found(const SearchResult& r) const {
    std::vector<std::string> names;
    for (const FoundFile& f : r.Files) names.push_back(f.Path.substr(dir_.Path().size() + 1));
    return names;
  }
  static std::optional<NameMatcher> Name(const char* text, NameMatcher::Mode mode) {
    std::string error;
    return NameMatcher::Make(text, mode, false, error);
  }

  TempDir dir_;
  DiskObject drive_;
};

TEST_F(FileSearch, EachCriterionNarrowsTheFiles) {
  using M = NameMatcher::Mode;
  const auto name = [](const char* text, M mode) {
    return [=](SearchCriteria& c) { c.Name = Name(text, mode); };
  };
  const struct {
    const char* What;
    std::function<void(SearchCriteria&)> Set;
    std::vector<std::string> Expected;
  } cases[] = {
      {"all files, largest first (ties in the walk's order), no link",
       [](SearchCriteria&) {},
       {"holes.img", "a/big.log", "one.bin", "a/two.bin", "a/b/deep.txt", "a/small.LOG",
        "a/b/Notes [1].txt"}},
      {"plain, any case", name("log", M::Plain), {"a/big.log", "a/small.LOG"}},
      {"wildcard, whole name", name("*.bin", M::Wildcard), {"one.bin", "a/two.bin"}},
      {"wildcard with brackets", name("*[[]1]*", M::Wildcard), {"a/b/Notes [1].txt"}},
      {"regex", name("^(deep|small)\\.", M::Regex), {"a/b/deep.txt", "a/small.LOG"}},
      {"size range",
       [](SearchCriteria& c) { c.MinSize = 10, c.MaxSize = 300; },
       {"one.bin", "a/two.bin", "a/b/deep.txt", "a/small.LOG"}},
      {"modified after, before",
       [](SearchCriteria& c) { c.ModifiedAfter = 2000, c.ModifiedBefore = 5000; },
       {"a/big.log", "a/b/deep.txt", "a/b/Notes [1].txt"}},
      {"several names", [](SearchCriteria& c) { c.OnlyLinked = true; }, {"one.bin", "a/two.bin"}},
      {"sparse", [](SearchCriteria& c) { c.OnlySparse = true; }, {"holes.img"}},
      {"newest two",
       [](SearchCriteria& c) { c.Sort = Order::Newest, c.Limit = 2; },
       {"holes.img", "one.bin"}},
      {"oldest three",
       [](SearchCriteria& c) { c.Sort = Order::Oldest, c.Limit = 3; },
       {"a/small.LOG", "a/b/deep.txt", "a/big.log"}},
      {"largest two", [](SearchCriteria& c) { c.Limit = 2; }, {"holes.img", "a/big.log"}},
      {"name and size",
       [](SearchCriteria& c) { c.Name = Name("*.txt", M::Wildcard), c.MinSize = 8; },
       {"a/b/deep.txt"}},
      {"a category", [](SearchCriteria& c) { c.Category = FileCategory::DiskImages; },
       {"holes.img"}},
      {"an ending, any case",
       [](SearchCriteria& c) { c.TypeKey = "log"; },
       {"a/big.log", "a/small.LOG"}},
      {"nothing", name("zzz", M::Plain), {}},
  };
  for (const auto& c : cases) {
    SearchCriteria criteria;
    c.Set(criteria);
    EXPECT_EQ(Found(SearchFiles(drive_, criteria)), c.Expected) << c.What;
  }
}

TEST_F(FileSearch, AFolderSearchesItsSubtreeAndFilesCarryTheirFacts) {
  const DiskObject* a = drive_.DiskObjects().Find(dir_.Path() + "/a/");
  ASSERT_TRUE(a);
  const SearchResult r = SearchFiles(*a, {});
  EXPECT_EQ(Found(r), (std::vector<std::string>{"a/big.log", "a/two.bin", "a/b/deep.txt",
                                                "a/small.LOG", "a/b/Notes [1].txt"}));
  const FoundFile& two = r.Files[1];
  EXPECT_EQ(two.Size, 300u);
  EXPECT_EQ(two.Links, 2u);
  EXPECT_TRUE(two.HasTime);
  EXPECT_EQ(two.Time, 5000);
  EXPECT_EQ(two.Folder, a);
  EXPECT_EQ(drive_.Drive().Files->NameAt(two.Position), "two.bin");
  // Both names of the linked file match, whichever of them counts its bytes.
  SearchCriteria linked;
  linked.OnlyLinked = true;
  EXPECT_EQ(SearchFiles(drive_, linked).Files.size(), 2u);
}

TEST_F(FileSearch, GoneFilesAreLeftOutAndAStopEndsTheWalk) {
  const SearchResult all = SearchFiles(drive_, {});
  drive_.Drive().Files->SetGone(all.Files[0].Position);
  EXPECT_EQ(SearchFiles(drive_, {}).Files.size(), all.Files.size() - 1);
  // Visiting stops when asked, and two drives are walked in turn.
  std::size_t seen = 0;
  EXPECT_FALSE(VisitFiles({&drive_}, {}, [&](const FoundFile&) { return ++seen < 2; }));
  EXPECT_EQ(seen, 2u);
  seen = 0;
  EXPECT_TRUE(VisitFiles({&drive_, &drive_}, {}, [&](const FoundFile&) { return ++seen > 0; }));
  EXPECT_EQ(seen, 2 * (all.Files.size() - 1));
  // A stop flag already set: the walk ends at its first look, with what it had.
  // (Or a running flag found cleared, as the window's stop leaves it.)
  for (const bool stopWhen : {true, false}) {
    const std::atomic<bool> stop{stopWhen};
    SearchScope scope(200, &drive_);
    const SearchResult stopped = SearchFiles(scope, {}, &stop, stopWhen);
    EXPECT_TRUE(stopped.Stopped);
    EXPECT_LT(stopped.Files.size(), 200 * all.Files.size());
  }
  EXPECT_FALSE(SearchFiles(drive_, {}).Stopped);
  // Every match counts in the totals, within the limit or not.
  SearchCriteria two;
  two.Limit = 2;
  const SearchResult few = SearchFiles(drive_, two);
  EXPECT_EQ(few.Files.size(), 2u);
  EXPECT_EQ(few.Matched, all.Files.size() - 1);
}

// "My Computer": every drive and saved scan, not the root itself.
TEST(FileSearchScope, EveryDriveIsTheRootsDrivesAndSavedScans) {
  DiskCollection disks;
  const auto add = [&disks](ObjectClass c, const char* path) {
    auto o = std::make_unique<DiskObject>();
    o->Class = c;
    o->SetPath(path);
    return disks.Add(std::move(o));
  };
  add(ObjectClass::Root, "My Computer");
  const DiskObject* drive = add(ObjectClass::Drive, "/");
  const DiskObject* saved = add(ObjectClass::Import, "/tmp/scan.json");
  EXPECT_EQ(EveryDrive(disks), (SearchScope{drive, saved}));
  // Drives that kept no entries give no file.
  EXPECT_TRUE(SearchFiles(EveryDrive(disks), {}).Files.empty());
}

}  // namespace
}  // namespace kestrum
