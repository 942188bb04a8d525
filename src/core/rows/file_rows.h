#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/tree/hard_links.h"
#include "core/tree/file_list.h"
#include "core/tree/file_store.h"
#include "core/rows/list_sort.h"

namespace kestrum {

// One entry of a drive's largest-files list, copied for a listing.
struct LargestEntry {
  std::string Name;  // full path
  double Size = 0;
  double Allocated = 0;  // the space it held on the disk when scanned
  std::string Key;
  std::int64_t Time = 0;  // a saved scan's entry: its modification time, when HasTime
  bool HasTime = false;
};

// Everything a file listing needs, copied from the model on the window thread so that the
// rows can be read and built on any thread without touching the model.
struct FileRowsRequest {
  std::string VolumeRoot;  // the drive's root folder, ending in "/"
  std::string FolderPath;  // the listed folder, ending in "/" (folder listings)
  bool Largest = false;    // rows of the largest-files folder from Entries, not of FolderPath
  std::vector<LargestEntry> Entries;
  double ParentSpace = 0;           // the listed folder's size: the denominator of the shares
  bool Allocated = false;           // "Show Allocated Space": the space files hold on the disk
  std::int32_t AllocationUnit = 1;  // for files whose file system reports no block count
  bool SuffixSort = false;          // name-sort mode: texts get their group letter
  std::size_t ExpectedRows = 0;     // rows to make room for (the scan's count), a hint
  // The drive's hard-link table and the listed folder's object (compared, never read): a
  // further name of a file that another folder counted, or that an earlier name in this
  // folder counted, lists as counted elsewhere. Null: every name counts.
  std::shared_ptr<const HardLinkTable> Links;
  const DiskObject* Folder = nullptr;
  // A saved scan's folder: its rows come from Imported, the run at ImportedRun, and nothing
  // is read from the disk (the largest files keep the dates in Entries).
  std::shared_ptr<const FileStore> Imported;
  std::uint64_t ImportedRun = FileStore::kNone;
  // The results folder: its rows come from Listed (the files not gone), every cell from
  // what the scan kept; nothing is read from the disk.
  std::shared_ptr<const FileListing> Listed;
  // The listed folder's entries the scan left out by an exclude rule, by name, with the text
  // of the rule ("" when the rule is unknown). Their rows come from the disk (any type, a
  // folder too) or, for a saved scan, from the list alone.
  struct ExcludedEntry {
    std::string Name;
    std::string Rule;
  };
  std::vector<ExcludedEntry> Excluded;
  // No rows but those of the folders in Excluded (the files are not shown); none for a saved
  // scan, which does not say which of them are folders.
  bool OnlyExcluded = false;
  unsigned Readers = 0;  // threads that stat the files: 0 chooses by folder size and cores
  // Read by the reader every few thousand entries: when it no longer equals Generation the
  // listing was superseded and the reader gives up early. May be null.
  const std::atomic<std::uint64_t>* Current = nullptr;
  std::uint64_t Generation = 0;
};

// The file rows of a folder listing: one row per regular file directly in the folder, read
// now by exact byte names relative to the folder's descriptor with one fstatat each. The
// folder is opened from the volume's root one name at a time without following links, so a
// folder replaced by a link, vanished or unreadable lists no files. Other entries (folders,
// which have rows of their own, links, devices, pipes and sockets) get no row, as the scan
// counts none of them: the file rows of a folder add up to its own total. A file that
// vanishes between the read and its stat is skipped.
//
// The rows of the largest-files folder: one row per entry, in the stored order, whose date
// is read from the file (relative to its folder, without following links); an entry whose
// file no longer exists keeps its row with an empty date.
//
// The rows of the results folder: one row per listed file not gone, in the listing's order,
// its full path, key ("R" and its index), size and date as the scan kept them (no date when
// it kept none).
//
// Each row: text (name, or full path for largest files, plus "B" / "A" in name-sort mode),
// icon "File", size, "% Parent", bar and date cells, tag "File " + size. A name of a file with
// several names that the scan counted at another name (see FileRowsRequest::Links) shows its
// size, but the share and bar of zero bytes, and is marked CountedElsewhere: the file rows of
// a folder still add up to its own total.
//
// The rows of the entries in FileRowsRequest::Excluded (a folder listing): marked Excluded,
// the size cell "excluded: RULE" ("excluded" when the rule is unknown), no share, size 0 for
// sorting; a folder among them has the folder icon and is marked ExcludedFolder.
RowBatch ReadFileRows(const FileRowsRequest& request);

// The size cell of an excluded entry's row.
std::string ExcludedCell(const std::string& rule);

}  // namespace kestrum
