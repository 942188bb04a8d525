#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/fileops/file_target.h"
#include "core/fileops/seam.h"

namespace kestrum {

// How one delete or trash of one selected object ended.
enum class OpStatus {
  Done,      // the object is gone
  Vanished,  // it was gone already (removed since the scan): counts as done
  Refused,   // nothing was changed: something in the way (Path names it)
  Failed,    // a system call failed; for a folder, what came before it is gone
  Stopped,   // Stop was asked; what came before it is gone
};

struct OpResult {
  OpStatus Status = OpStatus::Done;
  std::string Path;          // the object, or the obstacle or entry that failed
  int Error = 0;             // errno of the failing call, 0 when none
  std::string Message;       // for the user; "" when Done
  std::int64_t Removed = 0;  // entries this call removed (files, links, folders)
};

// True when the object is gone after the call (Done or Vanished).
inline bool IsGone(const OpResult& r) {
  return r.Status == OpStatus::Done || r.Status == OpStatus::Vanished;
}

// What a delete or trash is run with. Thread-safe to use from a worker thread.
struct OpControl {
  FileOpsSeam Seam = SystemSeam();
  // Asked between entries; true ends the command there.
  std::function<bool()> StopRequested;
  // Counts every entry removed, for a progress line; may be null.
  std::atomic<std::int64_t>* Removed = nullptr;
  // The mount table consulted for mount points below a folder.
  std::string MountTable = "/proc/self/mountinfo";
};

// Deletes the object target names, on its exact bytes, relative to descriptors: its folder
// is opened from the volume's root one name at a time without following links, so a folder
// replaced by a link since the scan is refused.
//  - A file (or link, or other non-folder) is unlinked whatever its own permission bits.
//  - A folder is first checked whole, and refused with nothing deleted when anything in it
//    could not be removed: a folder without owner write permission or that the user may not
//    write and search, an entry marked immutable or append-only, a read-only volume, or a
//    mount point at or below it (from the mount table, and by mount id on every folder the
//    walk opens). Then it is deleted depth first with an explicit stack (any depth works,
//    with a bounded number of open descriptors); links inside are removed as links and the
//    walk never leaves the folder's mount.
// Entries that vanish meanwhile are skipped; an object gone before the call is Vanished.
OpResult DeleteTarget(const FileTarget& target, const OpControl& control);

// Checks a folder as DeleteTarget does before deleting anything, and deletes nothing.
// Done when the folder could be deleted whole.
OpResult CheckFolderTree(const FileTarget& target, const OpControl& control);

}  // namespace kestrum
