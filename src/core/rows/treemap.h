#pragma once
#include <cstddef>
#include <cstdint>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/query/file_types.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// What a rectangle of the treemap stands for, and so what its Ref names.
enum class MapKind : std::uint8_t {
  Row,     // a row of the list (Ref: its 0-based position); a folder row nests its folder
  Folder,  // a folder below the shown object (Ref: its entry in Treemap::Folders)
  Files,   // a folder's own files as one block of their total (Ref: the folder's entry)
  File,    // one file (Ref: its entry in Treemap::Files)
};

// A folder the map names, found in the model without a tree node (most folders have none):
// its drive, its 1-based position among the drive's folders, and the folder. The three are
// compared before the folder is used, so that a map outliving a change of the model names
// no folder rather than a freed one (see MapFolderIn).
struct MapFolder {
  DiskObject* Drive = nullptr;
  std::size_t Position = 0;
  DiskObject* Folder = nullptr;
};

// The place of folder (a folder of a scanned drive) as a map names it; Folder null when the
// folder is not in its drive's folders.
MapFolder PlaceOfFolder(DiskObject& folder);

inline constexpr std::uint32_t kNoRect = UINT32_MAX;

// One rectangle of the treemap, in the pane's logical pixels. The rectangles are kept in
// preorder: a rectangle's children follow it, the first at its index + 1, each next sibling
// at the End of the one before; its whole subtree lies in [index + 1, End). 32 bytes.
struct MapRect {
  float X = 0, Y = 0, W = 0, H = 0;
  std::uint32_t Parent = kNoRect;  // kNoRect: a child of the shown object
  std::uint32_t End = 0;
  std::uint32_t Ref = 0;
  MapKind Kind = MapKind::Row;
  std::uint8_t Hue = 0;     // palette entry of its top-level ancestor (kept through the subtree)
  std::uint16_t Depth = 0;  // 0 for the shown object's children; saturates at 65535
};

static_assert(sizeof(MapRect) == 32, "the pane keeps 32 bytes a rectangle");

// An item to lay out: its size (bytes; 0 or less takes no area) and what it stands for.
struct MapItem {
  double Size = 0;
  MapKind Kind = MapKind::Row;
  std::uint32_t Ref = 0;
};

// The children of a rectangle that is laid out, appended to out (in any order).
using MapChildren = std::function<void(const MapRect& parent, std::vector<MapItem>& out)>;

// A file the map shows as a rectangle of its own. It names its entry by the entry's position
// in its drive's store (records never move) and by the folder it is in, never by a pointer,
// so a map that outlives a change of the model names nothing rather than a freed entry; its
// name, size and type are copied, so that a painter needs no model.
struct MapFile {
  std::string Name;  // the name in its folder; a list row's text when from a row
  std::uint64_t Size = 0;  // the size it is laid out by (allocated space when that is shown)
  std::uint64_t Position = ~std::uint64_t{0};  // its record in the folder's drive's store
  std::uint32_t Folder = kNoRect;  // its folder in Treemap::Folders; kNoRect: none known
  std::uint32_t Row = 0;           // the 1-based list row it came from; 0: from the store
  std::uint32_t Type = 0;          // its index in Treemap::Keys
  FileCategory Category = FileCategory::Other;
};

// The nested rectangles of one shown object.
struct Treemap {
  float Width = 0, Height = 0;
  double Total = 0;  // the size the whole pane stands for
  std::vector<MapRect> Rects;
  std::vector<MapFolder> Folders;  // what the Folder and Files rectangles name
  std::vector<MapFile> Files;      // what the File rectangles name
  // The type keys and MIME types that MapFile::Type indexes ("" for none).
  std::vector<std::string> Keys, Mimes;
  // The bytes of the files shown, per category (the legend).
  std::array<double, kFileCategories> CategoryBytes{};
};

// Drops the entries of Folders that no rectangle names, renumbering the Refs.
void KeepNamedFolders(Treemap& map);

// The smallest rectangle shown, in pixels either way, and the frame between a rectangle and
// its children.
inline constexpr float kMapMinSide = 3;
inline constexpr float kMapFrame = 1;

// The squarified layout (Bruls, Huizing and van Wijk) of sizes, which must be in descending
// order, into the rectangle (x, y, w, h) when together they stand for total (at least their
// sum; what they leave is left empty, at the end). out[i] receives item i's rectangle; areas
// are proportional to the sizes, no two overlap, all lie inside the rectangle. Sizes of 0 get
// an empty rectangle.
struct MapBox {
  double X = 0, Y = 0, W = 0, H = 0;
};
void Squarify(const double* sizes, std::size_t n, double total, MapBox area, MapBox* out);

// Lays out top (the shown object's children) into width x height pixels, where the pane
// stands for total bytes (the shown object's size; the items' sum when larger). Each child
// gets the palette entry of its rank by size; a rectangle of at least kMapMinSide either way
// is kept, and its children (from children) are laid out inside its frame while that inner
// room is itself at least kMapMinSide either way, to any depth, without recursion. Items too
// small to be shown are left out (their area stays empty). Never more rectangles than fit.
Treemap LayoutTreemap(std::vector<MapItem> top, double total, float width, float height,
                      const MapChildren& children, std::size_t paletteSize);

// The deepest rectangle holding the point, kNoRect when none does.
std::uint32_t MapHit(const Treemap& map, float x, float y);
// The top-level rectangle whose subtree holds rect (rect itself at depth 0).
std::uint32_t MapTopOf(const Treemap& map, std::uint32_t rect);
// The first child of rect, kNoRect when it has none shown.
std::uint32_t MapFirstChild(const Treemap& map, std::uint32_t rect);
// The sibling of rect (same parent) in a direction: dx, dy each -1, 0 or 1 (one of them 0);
// the nearest whose centre lies that way, kNoRect when none does.
std::uint32_t MapSibling(const Treemap& map, std::uint32_t rect, int dx, int dy);

// The children of folders[folder] as the map nests them, read from its drive's folders (no
// tree node needed): each subfolder (Folder, appended to folders) by its size, and the
// folder's own files as one Files block (when above 0 and the folder has subfolders: one
// without stands for its files itself). The largest-files folder is no child: its files are
// counted in their own folders. Costs the folder's subfolders.
void FolderChildren(std::vector<MapFolder>& folders, std::uint32_t folder, bool allocated,
                    std::vector<MapItem>& out);

// The palette of the top-level hues as 0xRRGGBB, chosen to stay apart for the common
// colour-vision deficiencies and to read on light and dark backgrounds; and the grey of a
// folder's own files.
const std::vector<std::uint32_t>& MapPalette();
inline constexpr std::uint32_t kMapFilesGrey = 0xc8c8c8;

}  // namespace kestrum
