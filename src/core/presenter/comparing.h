#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/query/scan_compare.h"
#include "core/adapter/list_data.h"
#include "core/rows/list_sort.h"
#include "core/rows/treemap.h"
#include "core/saved/scan_history.h"

namespace kestrum {

class MainPresenter;

// A comparison the window shows: a scanned drive (or folder entry, or saved scan) against an
// earlier scan of its tree read from a file. Both size rules are compared at once, so that
// "Show Allocated Space" switches the Change column without comparing again.
struct ActiveComparison {
  // The earlier scan, read from its file; the changes point into it.
  std::shared_ptr<DiskObject> Older;
  // The later scan: its drive (compared, never read once the comparison is made), its key in
  // the model and its store of entries, held so that a scan replacing it is noticed.
  const DiskObject* Drive = nullptr;
  std::string DriveKey;
  std::shared_ptr<const FileStore> Files;
  // Its entries then: a refresh adds entries to the store, and ends the comparison too.
  std::size_t FilesCount = 0;
  ScanComparison Bytes, Allocated;
  std::unique_ptr<ChangeIndex> BytesIndex, AllocatedIndex;
  // What the path label says after "compared with ": "the scan of 2026-12-01 14:03", or the
  // file's name.
  std::string Label;
  std::string File;

  const ChangeIndex& Index(bool allocated) const {
    return allocated ? *AllocatedIndex : *BytesIndex;
  }
};

// The comparison the presenter holds, when it still applies to folder's drive as the model
// stands: the drive is the same one, with the store of entries it was compared with, as it
// was then (a new scan, a refresh or a rediscovery ends it). Null otherwise.
const ActiveComparison* ComparisonFor(MainPresenter& p, const DiskObject* folder);

// What "Compare With..." offers for the tree selected: its root and the earlier scans the
// history keeps of it, newest first.
struct CompareOffer {
  std::string Root;  // the scanned root's path
  std::vector<HistoryEntry> Earlier;
  std::string Current;  // what is compared now ("" none), as the path label names it
  std::string ThisScan;  // the history's file of the scan shown, among Earlier ("" none)
};

// What the user chose in the dialog.
struct CompareChoice {
  enum class Kind : std::uint8_t { Cancel, None, File };
  Kind What = Kind::Cancel;
  std::string File;   // Kind::File: the saved scan to compare with
  std::string Label;  // how the path label names it; "" names the file
};

// "Compare With...": offers the earlier scans of the drive or entry the tree's selection
// lies on and compares with the one chosen (CompareWithFile); "None" ends comparing. A node
// of no scanned tree gets a status line.
void CompareWith(MainPresenter& p);

// Reads file (a saved scan) and compares it with the scan of drive, as a long command in the
// command slot: read and compared on the worker, the result taken on the window thread,
// where the list is shown again with its Change column. Two scans that cannot be compared
// (different hard-link rules, no kept entries) compare nothing: a message says why, and the
// comparison held before stays. Refused with a status line while a command runs.
void CompareWithFile(MainPresenter& p, DiskObject& drive, const std::string& file,
                     const std::string& label);

// Ends comparing and lists the selection again.
void StopComparing(MainPresenter& p);

// "the scan of YYYY-MM-DD HH:MM" in local time.
std::string HistoryLabel(std::time_t when);

// A change as the Change cell shows it: "+1.2 MB", "-300 b", "new +4 kb", "removed -1 MB";
// "" for no change.
std::string ChangeText(std::int64_t change, ChangeKind kind);

// What a listing of one folder needs to add its changes, taken on the window thread; read
// on any thread (the comparison is held, and never changed).
struct ChangeJob {
  std::shared_ptr<const ActiveComparison> Comparison;
  const DiskObject* Folder = nullptr;  // the folder listed (a key, never read)
  bool Allocated = false;
  bool SortByChange = false;
  // The folder rows' changes, by their node.
  std::unordered_map<NodeId, const TreeChange*> Subfolders;
  // The file rows are listed: each is compared with the files OlderFolder (the folder of the
  // earlier scan at the same path; null when it had none) held, and those no row shows are
  // listed as removed.
  bool FilesListed = false;
  const DiskObject* OlderFolder = nullptr;
  // The largest-files listing: each file row (whose text is the file's full path) is compared
  // with the file at the same path below the root in the earlier scan, or is new when it had
  // none. Nothing is listed as removed.
  bool Largest = false;
};

// The job of the listing of parentNode, with the Change columns added to the list's columns
// and the path label naming the scan compared; null when no comparison applies to it (a
// folder or largest-files folder of another drive, or "My Computer" listing no drive
// compared). In "My Computer" the row of the drive (or folder entry, or saved scan) compared
// shows its root folder's change. filesListed: the listing holds the folder's file rows.
// Window thread.
std::shared_ptr<const ChangeJob> PrepareChanges(MainPresenter& p, NodeId parentNode,
                                                bool filesListed);

// Gives every row of batch its Change and change bar cells (after the share bar), adds a row
// marked removed (RemovedTag, its old size) for everything that went from the folder, and,
// when the job sorts by change, sorts the rows by change, largest growth first. Any thread.
void ApplyChanges(RowBatch& batch, const ChangeJob& job, bool suffixSort);

// How a rectangle of the map changed since the scan compared with: what the map colours by
// change.
enum class MapChange : std::uint8_t { Unchanged, Grown, Shrunk, New };
inline constexpr std::size_t kMapChanges = 4;
// "Unchanged", "Grown", "Shrunk", "New": the legend's names.
const char* MapChangeName(MapChange change);

// The change of each row of list as its Change cell says (Unchanged for every row when the
// list has no Change column). Window thread; reads only the rows.
std::vector<MapChange> RowChanges(const ListData& list);

// The change of each rectangle of map (by index): a row's from rows (RowChanges of the list
// the map was made of), a folder's (and its own files' block) and a file's from the
// comparison, a file of no folder the map knows looked up in listed, the folder listed. Any
// thread: the comparison is only read, and the map's folders only compared.
std::vector<MapChange> MapChanges(const Treemap& map, const ActiveComparison& comparison,
                                  bool allocated, const DiskObject* listed,
                                  const std::vector<MapChange>& rows);

}  // namespace kestrum
