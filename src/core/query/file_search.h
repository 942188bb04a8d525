#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/tree/disk_model.h"
#include "core/query/file_types.h"
#include "core/query/name_match.h"

namespace kestrum {

// What a search over the kept entries asks of a file. Every condition given must hold.
struct SearchCriteria {
  std::optional<NameMatcher> Name;
  std::optional<std::uint64_t> MinSize, MaxSize;  // bytes, inclusive
  // Modification time, seconds since 1970: after (>=) and before (<). A file without a time
  // matches neither.
  std::optional<std::int64_t> ModifiedAfter, ModifiedBefore;
  bool OnlyLinked = false;  // only files with more than one name
  // Only files whose allocation falls short of their size by more than one allocation unit
  // (the drive's; 4096 when it has none): sparse or compressed.
  bool OnlySparse = false;
  // Only files of this category, or of this type key (file_types.h: "jpg", "tar.gz", a whole
  // name; "" for files of no known type, executables of none included), as the types table
  // gives them from the name and executable bit.
  std::optional<FileCategory> Category;
  std::optional<std::string> TypeKey;
  // The order SearchFiles hands its result in, and which ones it keeps under Limit.
  enum class Order : std::uint8_t { Largest, Newest, Oldest };
  Order Sort = Order::Largest;
  // At most this many, the first ones in Sort's order (0: all). Newest and Oldest leave out
  // files without a time.
  std::size_t Limit = 0;
};

// One file found.
struct FoundFile {
  std::string Path;  // the folder's path and the name
  std::uint64_t Size = 0;
  std::uint64_t Allocated = 0;
  std::int64_t Time = 0;
  bool HasTime = false;
  std::uint64_t Links = 0;  // 0 unless the file has more than one name
  const DiskObject* Folder = nullptr;
  std::uint64_t Position = 0;  // the entry's position in its drive's Files
};

struct SearchResult {
  std::vector<FoundFile> Files;
  bool Stopped = false;  // stop came before the walk ended: Files is what was found so far
  // Every file that met the criteria, within Limit or not (Newest and Oldest: those with a
  // time), and their sizes and allocations.
  std::uint64_t Matched = 0;
  double MatchedBytes = 0, MatchedAllocated = 0;
};

// How far a search has come, for a progress line read on another thread.
struct SearchProgress {
  std::atomic<std::uint64_t> Matched{0};
};

// Where a search walks: a folder's subtree, a drive's (or a saved scan's) folders, or every
// drive and saved scan given. Drives that kept no entries contribute nothing.
using SearchScope = std::vector<const DiskObject*>;
// Every drive-class object of disks (the root's children, saved scans included). The root
// object holds no list of its drives, so a search of "My Computer" is a search of this scope.
SearchScope EveryDrive(const DiskCollection& disks);

// Visits the files (entries of kind File, not gone, counted elsewhere or not) of scope that
// meet criteria, in the walk's order (Sort and Limit are not used), building each path only
// for a match. visit returns false to end the walk. stop, when given, is read now and then;
// once it reads stopWhen the walk ends. Returns false when it was stopped (by stop or visit).
bool VisitFiles(const SearchScope& scope, const SearchCriteria& criteria,
                const std::function<bool(const FoundFile&)>& visit,
                const std::atomic<bool>* stop = nullptr, bool stopWhen = true);

// The files of scope that meet criteria, in criteria's Sort order (ties in the walk's order),
// at most Limit of them (the first ones in that order, kept in a bounded heap while walking).
// progress, when given, counts the matches as they are met.
SearchResult SearchFiles(const SearchScope& scope, const SearchCriteria& criteria,
                         const std::atomic<bool>* stop = nullptr, bool stopWhen = true,
                         SearchProgress* progress = nullptr);
SearchResult SearchFiles(const DiskObject& startFolderOrDrive, const SearchCriteria& criteria,
                         const std::atomic<bool>* stop = nullptr);

}  // namespace kestrum
