#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

// One entry of a folder that is not one of its subfolders, as the scan found it.
struct WalkEntry {
  enum class Kind : std::uint8_t {
    File,     // a file the scan counts: its figures below
    Other,    // a link, device, FIFO or socket: nothing counted; Mtime when Stated
    OtherFs,  // a folder of another file system (a mount point): not entered
    Excluded,  // left out by a rule: not counted, not entered
  };
  Kind What = Kind::File;
  bool Stated = false;
  std::uint64_t Size = 0;
  std::uint64_t Allocated = 0;  // the space the scan counts for it
  std::uint64_t Inode = 0;
  std::uint64_t Links = 0;  // its names (hard links)
  std::int64_t Mtime = 0;   // seconds since the epoch
  // OtherFs and Excluded: why, as StoredEntry::Reason says.
  std::uint32_t Reason = 0;
};

// One folder of a scan, complete but for its subfolders.
struct WalkFolder {
  bool Root = false;
  std::string_view Name;  // "" for the root
  dev_t Device = 0;       // the root's file system, which the scan never leaves
  std::int64_t Mtime = -1;
  // False when the folder could not be opened or read, or some entry could not be stated: its
  // entries are what could be read.
  bool Readable = true;
  // Its entries other than subfolders in listing order, and their names, each ended by NUL,
  // in the same order.
  const std::vector<WalkEntry>* Entries = nullptr;
  const std::string* Names = nullptr;
};

// What the scan's walk feeds instead of building the model: each folder once, in the
// depth-first order of a scan, as soon as it is read, followed by its subfolders and then
// Leave. Called on one thread at a time (whichever makes folders); false from either ends the
// walk as a stop does.
class WalkSink {
 public:
  virtual ~WalkSink() = default;
  virtual bool Folder(const WalkFolder& folder) = 0;
  // The last folder given and not yet left has had every subfolder given and left.
  virtual bool Leave() = 0;
};

}  // namespace kestrum
