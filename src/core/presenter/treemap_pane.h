#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/settings.h"
#include "core/rows/map_source.h"
#include "core/rows/treemap.h"

namespace kestrum {

class MainPresenter;
class MapWorker;

// What the map's colours say. Branch: each top-level rectangle's hue, kept through its
// subtree; FileType: each file by its category, folders neutral; Change: grown, shrunk, new
// or unchanged since the scan compared with (all unchanged while not comparing). A setting
// names them by word.
enum class MapColouring : std::uint8_t { Branch, FileType, Change };

// Which of the list's rows are files (with their sizes) and which are not, as last read:
// read once per listing, since a listing may hold a million file rows and a resize asks for
// a map again.
struct MapRowScan {
  std::uint64_t Generation = 0;
  const void* Rows = nullptr;
  std::size_t Count = 0;
  std::vector<std::pair<std::uint32_t, double>> Files;  // (0-based row, size) of those above 0
  std::vector<std::uint32_t> Others;                    // every row that is no file
};

// The treemap pane below the list: whether it is shown, its size and the map it shows.
// Hidden, it holds no map.
struct TreemapPane {
  bool Shown = false;
  float Width = 0, Height = 0;  // logical pixels
  // The map shown; null when hidden or when there is nothing to show. Never changed once
  // made, so that a painter on another thread may hold it.
  std::shared_ptr<const Treemap> Map;
  std::uint32_t Highlight = kNoRect;  // the rectangle the keyboard is on
  // Top-level rectangles are the list's rows; otherwise they are the children of the drive's
  // root folder (a drive listing, or the pie chart), which the list holds as ShownRow.
  bool RowsShown = false;
  std::size_t ShownRow = 0;    // 1-based; 0 when none
  NodeId ChartNode = kNoNode;  // the root folder whose drive the pie chart shows
  double Split = 0.4;          // the share of the right side's height the pane takes
  MapColouring Colouring = MapColouring::Branch;
  MapTypeMark Mark;  // the files marked, the others dimmed
  // True from the moment a map is asked of the worker until it is shown (or dropped).
  bool Pending = false;
  std::uint64_t Generation = 0;  // of the newest map asked for
  // Lays maps out off the window thread once the window's queue is connected; made on first
  // use. Its destructor waits for its thread.
  std::shared_ptr<MapWorker> Worker;
  MapRowScan RowScan;
  // The classifier of the maps laid out on the window thread (no window queue yet).
  std::shared_ptr<FileTypes> Types;
};

// The pane's two settings in [Settings]: "Treemap" ("1" shown, "0" hidden) and
// "TreemapSplit" (the share of the right side's height the pane takes). A missing or garbled
// value gives its default: hidden, 0.4. The share is kept between 0.1 and 0.9.
// "TreemapColour" names the colouring: "branch" (the default) or "type".
struct TreemapSettings {
  bool Shown = false;
  double Split = 0.4;
  MapColouring Colouring = MapColouring::Branch;
  bool operator==(const TreemapSettings&) const = default;
};
TreemapSettings ReadTreemapSettings(const IniFile& settings);
void WriteTreemapSettings(IniFile& settings, const TreemapSettings& s);

// Lays the map out again for what the list shows now (see MakeTreemap) and tells the view;
// when the pane is hidden or has no room, drops the map. Window thread only. What the layout
// needs is copied from the model here (MakeMapSource); once the window's queue is connected
// the layout runs on the pane's worker and the map is shown when it comes back, unless a
// newer one was asked for meanwhile. Without a queue it runs here.
void UpdateTreemap(MainPresenter& p);
// Drops the map (the list is being rebuilt, or the model is about to change) and tells the view.
void ClearTreemap(MainPresenter& p);
// Shows or hides the pane; a size of the pane in logical pixels.
void SetTreemapShown(MainPresenter& p, bool shown);
// The pane's share of the right side's height, kept between 0.1 and 0.9 (the view lays itself
// out again; the settings file keeps it once the user lets go, MainPresenter::KeepSettings).
void SetTreemapSplit(MainPresenter& p, double split);
void SetTreemapSize(MainPresenter& p, float width, float height);

// What the pane shows, laid out into width x height pixels, read from the presenter's list
// and model: a folder's listing as its rows (folder rows nested to their subfolders, file
// rows one by one when listed, else the folder's own files as one "Files" block); "My
// Computer" as its scanned volumes by their root folders' sizes; the largest-files folder
// as its files; for a drive's listing or the pie chart, the drive's root folder; nothing for
// an unscanned drive or while a listing is read. Sizes follow "Show Allocated Space"; rows of
// no size, the largest-files folder's row and names counted elsewhere take no area.
// Scanned folders' files are laid out one by one from their drive's store (only those big
// enough to be seen), a file row standing in only where no store holds its folder's files.
std::shared_ptr<const Treemap> MakeTreemap(MainPresenter& p, float width, float height);
// What MakeTreemap lays out, copied from the model: null when there is nothing to show.
std::shared_ptr<const MapSource> MakeMapSource(MainPresenter& p, float width, float height);

// Colours the map by branch or by file type and repaints it (no new layout).
void SetMapColouring(MainPresenter& p, MapColouring colouring);
// Marks the files of a category or a type key on the map, dimming the rest; a mark of None
// takes it away. Repaints only; the mark stays over new layouts until changed.
void SetMapHighlightType(MainPresenter& p, const MapTypeMark& mark);

// A rectangle described for the tooltip and for screen readers.
struct MapDescription {
  std::string Name;  // the path, or "Files" for a folder's own files
  std::string Path;  // the object's path; for "Files", the folder's
  double Size = 0;
  double Share = 0;  // of the shown object, 0..1
  std::string Type;  // a file's: its category and MIME type or ending, "" for folders
  // "Name, size, share%" in one line (Files: "Files in path, ..."), then a file's type.
  std::string Line() const;
};
MapDescription DescribeMapRect(MainPresenter& p, std::uint32_t rect);

// The 1-based list row that holds rect: its top-level rectangle's row, or the row of the
// shown object; 0 when none.
std::size_t MapRowOf(MainPresenter& p, std::uint32_t rect);

// Mouse and keys on the pane (logical pixels). A click selects the list row that holds the
// point and puts the highlight there; the listing does not change. A double-click goes into
// the deepest folder under the point, as a left click on a folder's row does. A right click
// selects the row and acts as a right click on it (the row menu for files and folders).
void TreemapClick(MainPresenter& p, float x, float y);
void TreemapDoubleClick(MainPresenter& p, float x, float y);
void TreemapRightClick(MainPresenter& p, float x, float y);

enum class MapKey : std::uint8_t { Left, Right, Up, Down, Enter, Back, Menu };
// Arrows move the highlight to the nearest sibling that way (the first rectangle when none
// is highlighted), Enter goes into the highlighted rectangle (its first child, or into the
// folder when none is shown), Backspace goes out (the parent rectangle, or back up one level
// from the top), the menu key is a right click on the highlight. Each move selects the row
// that holds the highlight and tells the view.
void TreemapKey(MainPresenter& p, MapKey key);

}  // namespace kestrum
