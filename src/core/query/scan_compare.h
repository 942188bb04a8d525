#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

// What happened to a folder or file between an earlier scan of a tree and a later one. A
// folder or file is the same one when its path below the scanned root is the same: a renamed
// folder is one removed and one new, with everything in it.
enum class ChangeKind : std::uint8_t { New, Removed, Changed };

// One folder or file that changed. Sizes are the folder's total or the file's own size, in
// bytes or allocated bytes as the comparison was asked; a folder's total follows the hard-link
// rule both scans were made under.
struct TreeChange {
  // The folder itself, or the folder the file lies in: of the earlier scan when FromOlder
  // (everything removed), of the later one otherwise.
  const DiskObject* Folder = nullptr;
  // The file's name (pointing into its scan's store of entries); empty for a folder.
  std::string_view Name;
  std::uint64_t Old = 0;
  std::uint64_t New = 0;
  ChangeKind Kind = ChangeKind::Changed;
  bool IsFolder = false;
  bool FromOlder = false;
  // What went from a folder still there: that folder of the later scan, where a list of it
  // shows the row marked removed. Null for everything else, and for what lay below a folder
  // that went itself.
  const DiskObject* Under = nullptr;
  // New minus Old.
  std::int64_t Change() const {
    return static_cast<std::int64_t>(New) - static_cast<std::int64_t>(Old);
  }
};

struct CompareOptions {
  bool Allocated = false;  // compare allocated bytes, not byte sizes
  // Read when the comparison starts, then every 64 folders or 4096 files compared; when it
  // reads StopWhen the comparison ends, Stopped set and no change kept (the window's running
  // flag stops it by turning false).
  const std::atomic<bool>* Stop = nullptr;
  bool StopWhen = true;
};

struct ScanComparison {
  // False when the two scans cannot be compared; Refused says why.
  bool Ok = false;
  std::string Refused;
  bool Stopped = false;
  // The root folders of the two scans; they always match each other, whatever their names.
  const DiskObject* OlderRoot = nullptr;
  const DiskObject* NewerRoot = nullptr;
  // Every change, depth first with subfolders in name order, each folder before its files and
  // its files before its subfolders; what went comes where it stood.
  std::vector<TreeChange> Changes;
};

// Compares two scans of one tree: older (typically a saved scan) and newer, both drives
// (scanned, folder entries or imports) that kept their entries. Every folder whose total
// differs, every file whose size differs, and every folder and file that is new or went, is
// one change; only files that count (regular files) are compared, entries marked gone since
// their scan are left out. Refused when either has no folders or no kept entries, or when the
// two counted hard links by different rules. Holds the two trees only for the call; the
// result points into them (folders and names), so it lives no longer than they do.
ScanComparison CompareScans(const DiskObject& older, const DiskObject& newer,
                            const CompareOptions& options = {});

// The path of a change below its scan's root folder: "" for the root folder itself, "a/b/"
// for a folder, "a/b/name" for a file.
std::string RelativeChangePath(const ScanComparison& comparison, const TreeChange& change);

// The full path shown for a change: the later scan's root folder's path, then the relative
// path, so that what went is named where it stood.
std::string ChangePath(const ScanComparison& comparison, const TreeChange& change);

// A change with its full path, in the order a report lists them.
struct ChangeLine {
  TreeChange Change;
  std::string Path;
};

// Every change with its path, the largest change (gain or loss) first, ties by path.
std::vector<ChangeLine> ChangesLargestFirst(const ScanComparison& comparison);

// The changes of a comparison looked up as a list of the later scan reads its rows: a folder's,
// a file's by its folder and name, and the rows marked removed a folder gains. Points into the
// comparison, which must outlive it.
class ChangeIndex {
 public:
  explicit ChangeIndex(const ScanComparison& comparison);
  // The change of a folder of the later scan, or null when it did not change.
  const TreeChange* OfFolder(const DiskObject* folder) const;
  // The change of the file name in folder (of the later scan), or null.
  const TreeChange* OfFile(const DiskObject* folder, std::string_view name) const;
  // The folders and files that went from folder (of the later scan), in comparison order.
  std::vector<const TreeChange*> RemovedFrom(const DiskObject* folder) const;

 private:
  struct Key {
    const DiskObject* Folder;
    std::string_view Name;
    bool operator==(const Key&) const = default;
  };
  struct Hash {
    std::size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.Folder) ^ (std::hash<std::string_view>()(k.Name) * 31);
    }
  };
  std::unordered_map<Key, const TreeChange*, Hash> changed_;
  std::unordered_multimap<const DiskObject*, const TreeChange*> removed_;
};

// "new", "removed" or "changed".
std::string_view ChangeKindName(ChangeKind kind);

}  // namespace kestrum
