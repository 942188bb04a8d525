// The rules under every listing: bars, shares, the two sort orders, file rows, drive
// statistics and pie slices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>

#include "core/adapter/explorer.h"
#include "core/rows/drive_stats.h"
#include "core/rows/file_rows.h"
#include "core/rows/list_cells.h"
#include "core/rows/list_sort.h"
#include "core/rows/pie_data.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

TEST(ListCells, BarsRoundHalvesToEvenAndStayWithinSixty) {
  EXPECT_EQ(BarLength(0.5), 30);
  EXPECT_EQ(BarLength(0.5 / 60), 0);  // 0.5 -> 0
  EXPECT_EQ(BarLength(1.5 / 60), 2);  // 1.5 -> 2
  EXPECT_EQ(BarLength(2.5 / 60), 2);  // 2.5 -> 2
  EXPECT_EQ(BarLength(1.0), 60);
  EXPECT_EQ(BarLength(1e300), 60);
  EXPECT_EQ(BarLength(-0.5), 0);
  EXPECT_EQ(BarLength(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(BarLength(std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(BarText(0.25), std::string(15, '|'));
  EXPECT_EQ(ShareOf(5, 0), 0);
  EXPECT_EQ(ShareOf(0, 0), 0);
  EXPECT_EQ(ShareOf(1, 4), 0.25);
  EXPECT_EQ(PercentText(ShareOf(5, 0)), "0");
  EXPECT_EQ(DateText(0), "");
}

RowBatch Batch(const std::vector<std::pair<std::string, double>>& rows, bool suffixed) {
  RowBatch b;
  for (const auto& [text, size] : rows) {
    ListRow r;
    r.Text = text;
    b.Add(std::move(r), size, suffixed);
  }
  return b;
}

std::vector<std::string> Texts(const RowBatch& b) {
  std::vector<std::string> out;
  for (const auto& r : b.Rows) out.push_back(r.Text);
  return out;
}

TEST(ListSort, NameOrderBySuffixesAndSizeOrderByNumbers) {
  RowBatch names = Batch({{"beta"
                           "A",
                           0},
                          {"Alpha"
                           "B",
                           0},
                          {"alpha"
                           "A",
                           0},
                          {"Beta"
                           "B",
                           0}},
                         true);
  names.Add(ListRow{"Drive not scanned...", {}, {}, {}, {}, {}, false}, 0, false);
  SortBySuffixedName(names);
  EXPECT_EQ(Texts(names),
            (std::vector<std::string>{"alpha", "Alpha", "beta", "Beta", "Drive not scanned..."}));

  // Beyond 10^15 bytes fifteen-digit texts no longer sort; numbers do.
  RowBatch sizes = Batch({{"small", 999999999999999.0},
                          {"huge", 2e15},
                          {"b-tie", 7},
                          {"A-tie", 7},
                          {"zero", 0},
                          {"big", 1e15}},
                         false);
  SortBySize(sizes);
  EXPECT_EQ(Texts(sizes),
            (std::vector<std::string>{"huge", "big", "small", "A-tie", "b-tie", "zero"}));
  EXPECT_EQ(sizes.Sizes.front(), 2e15);
}

// The fast order must be exactly the tree's TextLess order (stable), for names that share
// long prefixes, differ only in case or length, or hold bytes above 127.
TEST(ListSort, FastOrdersMatchTheTreesTextOrder) {
  std::mt19937 random(7);
  const std::string alphabet = "aAbB-.\xff";
  const std::string prefix = "a-shared-prefix-longer-than-sixteen";
  RowBatch names, sizes;
  std::vector<std::pair<std::string, double>> reference;
  for (int i = 0; i < 3000; ++i) {
    std::string t = prefix.substr(0, random() % (prefix.size() + 1));
    for (int n = static_cast<int>(random() % 6); n > 0; --n)
      t += alphabet[random() % alphabet.size()];
    const double size = static_cast<double>(random() % 5);
    reference.emplace_back(t, size);
    ListRow r;
    r.Text = t + "A";
    names.Add(r, size, true);
    r.Text = t;
    sizes.Add(std::move(r), size, false);
  }
  SortBySuffixedName(names);
  SortBySize(sizes);
  auto byName = reference;
  std::stable_sort(byName.begin(), byName.end(), [](const auto& x, const auto& y) {
    return TextLess(x.first + "A", y.first + "A");
  });
  auto bySize = reference;
  std::stable_sort(bySize.begin(), bySize.end(), [](const auto& x, const auto& y) {
    if (x.second != y.second) return x.second > y.second;
    return TextLess(x.first, y.first);
  });
  for (std::size_t i = 0; i < reference.size(); ++i) {
    ASSERT_EQ(names.Rows[i].Text, byName[i].first) << i;
    ASSERT_EQ(sizes.Rows[i].Text, bySize[i].first) << i;
    ASSERT_EQ(sizes.Sizes[i], bySize[i].second) << i;
  }
}

TEST(PieData, SlicesOfADriveAndOfItsRootFolder) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.SetPath("/mnt/x");
  drive.DriveForChange().DeviceSize = 100 * 1024;
  drive.DriveForChange().FreeSpace = 40 * 1024;
  drive.AllocatedSpace = 60 * 1024;
  PieChartData d = PieChartOf(drive);
  ASSERT_EQ(d.Slices.size(), 2u);
  EXPECT_EQ(d.Slices[0].Legend, "40.0% Free");
  EXPECT_EQ(d.Slices[1].Legend, "60.0% Used");
  EXPECT_EQ(d.Slices[0].Label, "40.0 kb");
  EXPECT_EQ(d.PathLabel, "(/mnt/x)");

  DiskObject root;
  root.Class = ObjectClass::Folder;
  root.RootDirectory = true;
  root.Parent = &drive;
  root.UsedSpace = 50 * 1024;
  root.AllocatedSpace = 62 * 1024;  // more than the device leaves: overhead below 0
  PieChartData r = PieChartOf(root);
  ASSERT_EQ(r.Slices.size(), 4u);
  EXPECT_EQ(r.Slices[2].Value, -2048);
  EXPECT_EQ(r.Slices[2].Label, "-2048 b");
  EXPECT_EQ(r.Slices[2].Legend, "-2.0% Overhead");
  EXPECT_EQ(r.Slices[2].DrawnValue(), 0);  // an empty wedge, never its absolute value
  EXPECT_EQ(r.Slices[3].Label, "12.0 kb");
  EXPECT_EQ(r.Slices[3].Legend, "12.0% Wasted");
  double sum = 0;
  for (const auto& s : r.Slices) sum += s.Value;
  EXPECT_EQ(sum, drive.Drive().DeviceSize);

  drive.DriveForChange().DeviceSize = 0;  // no shares from nothing
  EXPECT_EQ(PieChartOf(drive).Slices[0].Legend, "0% Free");
}

// With "Show Allocated Space" a file row shows the space the file holds on the disk: less
// than its size for a sparse file.
TEST(FileRows, AllocatedRowsShowTheSpaceFilesHold) {
  test::TempDir t;
  const std::string sparse = t.Write("sparse.img", "x");
  ASSERT_EQ(::truncate(sparse.c_str(), 8 << 20), 0);
  t.Write("plain", std::string(5000, 'p'));
  std::map<std::string, double> held;
  for (const char* name : {"sparse.img", "plain"}) {
    struct stat st {};
    ASSERT_EQ(::lstat((t.Path() + "/" + name).c_str(), &st), 0);
    held[name] = st.st_blocks * 512.0;
  }
  if (held["sparse.img"] >= 8 << 20) GTEST_SKIP() << "this file system keeps no sparse files";
  FileRowsRequest rq;
  rq.VolumeRoot = "/";
  rq.FolderPath = t.Path() + "/";
  rq.ParentSpace = 1 << 20;
  rq.AllocationUnit = 4096;
  for (const bool allocated : {false, true}) {
    rq.Allocated = allocated;
    const RowBatch b = ReadFileRows(rq);
    std::map<std::string, double> shown;
    for (std::size_t i = 0; i < b.Count(); ++i) shown[b.Rows[i].Text] = b.Sizes[i];
    EXPECT_EQ(shown, (allocated ? held
                                : std::map<std::string, double>{{"sparse.img", 8 << 20},
                                                                {"plain", 5000}}));
  }
}

// Where sparse or compressed files save more than slack wastes, the inefficiency is negative:
// its size text, "0" and no bar, and an empty wedge in the pie chart. A saved scan, which
// knows no device and so shows no share, follows the same rule.
TEST(DriveStats, ANegativeInefficiencyShowsAsItIs) {
  const struct {
    ObjectClass drive;
    std::vector<std::string> cells;
  } cases[] = {
      {ObjectClass::Drive, {"-10481664 b", "0", ""}},
      {ObjectClass::Import, {"-10481664 b", " "}},
  };
  for (const auto& c : cases) {
    DiskObject drive;
    drive.Class = c.drive;
    drive.DriveForChange().DeviceSize = 1e9;
    drive.DriveForChange().FreeSpace = 4e8;
    DiskObject root;
    root.Class = ObjectClass::Folder;
    root.RootDirectory = true;
    root.Parent = &drive;
    root.UsedSpace = 10 << 20;
    root.AllocatedSpace = drive.AllocatedSpace = 4096;
    const std::vector<ListRow> rows = DriveStats(root);
    const auto row = std::find_if(rows.begin(), rows.end(), [](const ListRow& r) {
      return r.Text == "Allocation Inefficiency";
    });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->SubItems, c.cells) << static_cast<int>(c.drive);
  }
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.DriveForChange().DeviceSize = 1e9;
  DiskObject root;
  root.RootDirectory = true;
  root.Parent = &drive;
  root.UsedSpace = 10 << 20;
  root.AllocatedSpace = 4096;
  const PieSlice wasted = PieChartOf(root).Slices.at(3);
  EXPECT_EQ(wasted.Value, 4096.0 - (10 << 20));
  EXPECT_EQ(wasted.DrawnValue(), 0);
}

}  // namespace
}  // namespace kestrum
