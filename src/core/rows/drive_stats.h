#pragma once
#include <vector>

#include "core/adapter/list_data.h"
#include "core/platform/mounts.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// The eight statistics rows of a scanned drive, listed below its root folder's row: device
// size, free space, folder and file counts, drive overhead, allocation inefficiency,
// allocation unit and file system. rootFolder is the drive's root folder; its Parent the
// drive. The rows carry no tag. With tracing on, the same figures go to the trace.
// A saved scan's root folder gets only the rows the file knows: folders, files and the
// allocation inefficiency (its size, without a share of a device).
// The allocation inefficiency (allocated less used bytes) is shown as it is, negative where
// sparse or compressed files hold less than their size, for a scan and a saved scan alike.
// The overhead (device size less allocated and free bytes) is shown as 0 when it comes out
// below 1 byte; quantities below 1 byte show "0" and an empty bar.
// When the drive's scan crossed into the file systems mounted below its root, the overhead and
// the inefficiency count only the drive's own file system: what the scan counted in the
// folders it entered at those mount points (read from /proc/self/mountinfo, or given as
// table) is taken off first. The folder and file counts stay the scan's.
std::vector<ListRow> DriveStats(const DiskObject& rootFolder);
std::vector<ListRow> DriveStats(const DiskObject& rootFolder, const std::vector<MountEntry>& table);

// What the scan of rootFolder's drive counted on other file systems: the subtree totals of
// the folders it holds at the mount points of table strictly below rootFolder (folders it
// did not enter are not its folders), a mount point below another one counted once.
struct CrossedSpace {
  double Used = 0;
  double Allocated = 0;
};
CrossedSpace OtherFileSystemsSpace(const DiskObject& rootFolder,
                                   const std::vector<MountEntry>& table);
// The mount table (/proc/self/mountinfo) for the listings of drive when its scan crossed into
// other file systems; empty, and not read, for any other drive or object.
std::vector<MountEntry> CrossedMountTable(const DiskObject* drive);
// What OtherFileSystemsSpace gives from that table: nothing but for the root folder of a
// drive whose scan crossed.
CrossedSpace CrossedSpaceOf(const DiskObject& rootFolder);

// The type of the file system mounted at folderPath by table ("tmpfs"), or "" when none is:
// what a scan that crossed into it marks the folder with in the list.
std::string MountedFileSystem(const std::vector<MountEntry>& table, std::string_view folderPath);

}  // namespace kestrum
