#include "core/rows/drive_stats.h"

#include "core/platform/numbers.h"
#include "core/rows/list_cells.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

ListRow StatRow(const char* label, std::vector<std::string> cells) {
  ListRow row;
  row.Text = label;
  row.Icon = row.SmallIcon = "File";
  row.SubItems = std::move(cells);
  return row;
}

// A space row: its size, and its share of the device as percentage and bar.
ListRow SpaceRow(const char* label, double x, double deviceSize) {
  if (x < 1) return StatRow(label, {SizeText(x), "0", ""});
  const double fraction = ShareOf(x, deviceSize);
  return StatRow(label, {SizeText(x), PercentText(fraction), BarText(fraction)});
}

std::string SizeAndBytes(double bytes) { return SizeText(bytes) + " (" + PlainNumber(bytes) + ")"; }

}  // namespace

std::vector<ListRow> DriveStats(const DiskObject& r) {
  if (Tracing()) Trace("frmMain.DriveStats(" + r.Path() + ")");
  static const DiskObject kNoDrive;
  const DiskObject& v = r.Parent ? *r.Parent : kNoDrive;
  if (v.Class == ObjectClass::Import) {
    // A saved scan knows its counts and the space its files held, not its device: no device
    // size, free space, overhead, allocation unit or file system is made up. Its inefficiency
    // follows the scan's rule: negative where sparse or compressed files held less than their
    // size.
    return {StatRow("Folders", {std::to_string(r.FolderCount), " "}),
            StatRow("Files", {std::to_string(r.FileCount), " "}),
            StatRow("Allocation Inefficiency", {SizeText(r.AllocatedSpace - r.UsedSpace), " "})};
  }
  double overhead = v.Drive().DeviceSize - v.AllocatedSpace - v.Drive().FreeSpace;
  if (overhead < 1) overhead = 0;
  const double inefficiency = r.AllocatedSpace - r.UsedSpace;
  std::vector<ListRow> rows;
  rows.reserve(8);
  rows.push_back(StatRow("Device Size", {SizeText(v.Drive().DeviceSize), " "}));
  rows.push_back(SpaceRow("Free Space", v.Drive().FreeSpace, v.Drive().DeviceSize));
  rows.push_back(StatRow("Folders", {std::to_string(r.FolderCount), " "}));
  rows.push_back(StatRow("Files", {std::to_string(r.FileCount), " "}));
  rows.push_back(SpaceRow("Drive Overhead", overhead, v.Drive().DeviceSize));
  rows.push_back(SpaceRow("Allocation Inefficiency", inefficiency, v.Drive().DeviceSize));
  rows.push_back(StatRow("Allocation Unit", {std::to_string(v.Drive().AllocationUnit)}));
  rows.push_back(StatRow("File System", {v.Drive().FileSystem}));
  if (Tracing()) {
    Trace("  device size=" + SizeAndBytes(v.Drive().DeviceSize));
    Trace("  free space =" + SizeAndBytes(v.Drive().FreeSpace));
    Trace("  folders    =" + std::to_string(r.FolderCount));
    Trace("  files      =" + std::to_string(r.FileCount));
    Trace("  overhead   =" + SizeAndBytes(overhead));
    Trace("  alloc ineff=" + SizeAndBytes(inefficiency));
    Trace("  alloc unit =" + std::to_string(v.Drive().AllocationUnit));
    Trace("  file system=" + v.Drive().FileSystem);
  }
  return rows;
}

}  // namespace kestrum
