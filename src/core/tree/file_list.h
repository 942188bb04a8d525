#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

struct DiskObject;

// The pseudo folder under "My Computer" that lists files gathered from the kept entries of
// any drive (a search, the files of a type, a quick list) as rows with full paths, the way
// the largest-files folder lists a drive's largest files.
inline constexpr const char* kResultsFolderName = "Search Results";

// The drive a listed file was found on, as the row commands need it: the key it has among
// the root's drives, its volume's root folder (ending in "/") and whether it is a saved
// scan, through which nothing on this computer is acted on.
struct ListedDrive {
  std::string Key;
  std::string VolumeRoot;
  bool Saved = false;
};

// One file of the listing, copied from what the scan kept: nothing is read from the disk to
// show it, and nothing in it points into the model, so a rescan or a removed drive leaves it
// standing (the row commands act on the path, as on any row).
struct ListedFile {
  std::string Path;
  double Size = 0;
  double Allocated = 0;
  std::int64_t Time = 0;  // when HasTime
  std::uint32_t Drive = 0;  // into FileListing::Drives
  bool HasTime = false;
  bool Gone = false;  // deleted or trashed from the listing: no row any more
};

// How the listing's rows are ordered when it is first shown: by size, or in the order they
// were found in (the newest or oldest first).
enum class ListedOrder : std::uint8_t { BySize, AsFound };

// What the results folder lists: the files, what was asked for them (its path label), and
// how many matched in all (the listing holds at most a bound of them).
struct FileListing {
  std::string Criteria;
  std::vector<ListedDrive> Drives;
  std::vector<ListedFile> Files;
  std::uint64_t Matched = 0;      // every file that met the criteria, listed or not
  double MatchedBytes = 0;        // their sizes
  double MatchedAllocated = 0;    // their allocations
  ListedOrder Order = ListedOrder::BySize;
  bool Stopped = false;  // the search was stopped: the files found until then

  // The row key of file index, and back: "R" and the index.
  static std::string KeyOf(std::size_t index) { return "R" + std::to_string(index); }
  // The file a key names; null for a key of no file or of one gone.
  const ListedFile* Find(const std::string& key) const;
  ListedFile* Find(const std::string& key);
};

// Files of the results folder deleted or trashed (by their row keys) leave it: its listing is
// replaced by a copy with those files gone, so that a reader of the old one on another thread
// is undisturbed. Nothing for an object that lists nothing.
void ForgetListedFiles(DiskObject& results, const std::vector<std::string>& keys);

}  // namespace kestrum
