#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/query/file_types.h"
#include "core/rows/treemap.h"
#include "core/tree/file_store.h"

namespace kestrum {

// A folder as the map's layout needs it, copied out of the model.
struct MapSourceFolder {
  double Size = 0;  // the subtree's size (used or allocated space)
  std::uint64_t FilesAt = FileStore::kNone;  // its run in its store
  std::uint32_t End = 0;    // the index in MapSource::Folders just past its subtree
  std::uint16_t Store = 0;  // its drive's store in MapSource::Stores
  MapFolder Place;          // compared, never followed, off the window thread
};

// Everything one map is laid out from, taken on the window thread so that the layout may run
// on any thread while the model changes: the top-level items, copies of the folders below
// them (subtrees in depth-first order) and the stores of their files, held shared. A store's
// records never move or change but for their flags, which are read atomically, so a reader
// on another thread reads the same files as the window thread does (those gone drop out).
struct MapSource {
  float Width = 0, Height = 0;
  double Total = 0;
  bool Allocated = false;
  std::size_t PaletteSize = 1;
  std::vector<MapItem> Top;  // Row items (Ref: the 0-based row), Folder items (Ref: a folder
                             // below), File items (Ref: an entry of RowFiles)
  std::vector<MapSourceFolder> Folders;
  std::vector<std::shared_ptr<const FileStore>> Stores;
  // Top-level rows that nest a folder: (0-based row, index in Folders), sorted.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> RowNests;
  // Files from list rows (no store holds them): Name, Size and Row filled in.
  std::vector<MapFile> RowFiles;
  // The folder whose own files are top-level File items; kNoRect when none.
  std::uint32_t OwnFilesOf = kNoRect;

  // Copies the subtree of the folder at position (1-based) in drive's folders, the drive's
  // store with it; returns the folder's index in Folders, kNoRect when it is no folder.
  // Costs the subtree's size. Without whole, the folder alone (its files, no subfolders).
  // Folders below smallest (bytes) are left out with their subtrees: no map shows them.
  std::uint32_t AddSubtree(DiskObject& drive, std::size_t position, bool whole = true,
                           double smallest = 0);
};

// The smallest size a rectangle of a map of width x height standing for total bytes can have
// (kMapMinSide either way): nested rectangles have less room for their bytes, never more.
double MapSmallestShown(double total, float width, float height);

// Lays the source out as LayoutTreemap does, each folder's files as rectangles of their own
// (those of at least kMapMinSide either way) classified by types: Folder rectangles name
// entries of Folders, File rectangles entries of Files. Stops early, with a partial map,
// once current (when given) no longer holds generation.
Treemap LayoutSource(const MapSource& source, FileTypes& types,
                     const std::atomic<std::uint64_t>* current = nullptr,
                     std::uint64_t generation = 0);

// Which files the map marks, its other tiles dimmed: none, a category, or one type key (an
// ending such as "jpg", or a whole name such as "makefile").
struct MapTypeMark {
  enum class By : std::uint8_t { None, Category, Key };
  By What = By::None;
  FileCategory Category = FileCategory::Other;
  std::string Key;
  bool operator==(const MapTypeMark&) const = default;
};

// True when mark takes in file of map (every file when mark is None).
bool MapFileMarked(const Treemap& map, const MapFile& file, const MapTypeMark& mark);

}  // namespace kestrum
