#include "core/rows/drive_stats.h"

#include <algorithm>
#include <string>

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

CrossedSpace OtherFileSystemsSpace(const DiskObject& r, const std::vector<MountEntry>& table) {
  CrossedSpace out;
  const DiskObject* drive = r.Parent;
  const FolderList* folders = drive ? drive->DiskObjectsIfAny() : nullptr;
  if (!folders) return out;
  std::string top = r.Path();
  if (top.empty() || top.back() != '/') top += '/';
  std::vector<std::string> points;
  for (const MountEntry& m : table) {
    std::string t = m.Target;
    while (t.size() > 1 && t.back() == '/') t.pop_back();
    t += '/';
    if (t.size() > top.size() && t.compare(0, top.size(), top) == 0) points.push_back(t);
  }
  // Sorted, a mount point below another follows it.
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  std::string counted;
  for (const std::string& t : points) {
    if (!counted.empty() && t.compare(0, counted.size(), counted) == 0) continue;
    const DiskObject* f = folders->Find(t);
    if (!f) continue;
    out.Used += f->UsedSpace;
    out.Allocated += f->AllocatedSpace;
    counted = t;
  }
  return out;
}

std::vector<MountEntry> CrossedMountTable(const DiskObject* drive) {
  if (!drive || drive->Class != ObjectClass::Drive || !drive->Drive().CrossFileSystems) return {};
  return ReadMountTable("/proc/self/mountinfo");
}

CrossedSpace CrossedSpaceOf(const DiskObject& r) {
  if (!r.RootDirectory) return {};
  const std::vector<MountEntry> table = CrossedMountTable(r.Parent);
  return table.empty() ? CrossedSpace{} : OtherFileSystemsSpace(r, table);
}

std::string MountedFileSystem(const std::vector<MountEntry>& table, std::string_view folderPath) {
  while (folderPath.size() > 1 && folderPath.back() == '/') folderPath.remove_suffix(1);
  std::string type;
  // The last mount at a place is the one seen there.
  for (const MountEntry& m : table) {
    std::string_view t = m.Target;
    while (t.size() > 1 && t.back() == '/') t.remove_suffix(1);
    if (t == folderPath) type = m.FsType;
  }
  return type;
}

std::vector<ListRow> DriveStats(const DiskObject& r) {
  return DriveStats(r, CrossedMountTable(r.Parent));
}

std::vector<ListRow> DriveStats(const DiskObject& r, const std::vector<MountEntry>& table) {
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
  const CrossedSpace other = table.empty() ? CrossedSpace{} : OtherFileSystemsSpace(r, table);
  double overhead =
      v.Drive().DeviceSize - (v.AllocatedSpace - other.Allocated) - v.Drive().FreeSpace;
  if (overhead < 1) overhead = 0;
  const double inefficiency = (r.AllocatedSpace - other.Allocated) - (r.UsedSpace - other.Used);
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
