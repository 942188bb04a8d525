#include "core/presenter/treemap_pane.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/adapter/folder_nodes.h"
#include "core/adapter/row_tags.h"
#include "core/presenter/listing.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/navigation.h"
#include "core/presenter/placement.h"
#include "core/rows/list_cells.h"

namespace kestrum {

namespace {

constexpr const char* kShownKey = "Treemap";
constexpr const char* kSplitKey = "TreemapSplit";

// The node of a scanned drive's root folder, kNoNode when the drive was not scanned.
NodeId RootFolderNode(const CExplorer& ex, const DiskObject* drive) {
  if (!drive || drive->Class != ObjectClass::Drive) return kNoNode;
  const FolderList* folders = drive->DiskObjectsIfAny();
  const DiskObject* root = folders ? folders->Item(1) : nullptr;
  return root && ObjectOf(ex, root->Node) == root ? root->Node : kNoNode;
}

// The byte count a file row shows, from its tag ("File " + number).
double FileRowSize(const ListRow& row) {
  const std::string* tag = std::get_if<std::string>(&row.Tag);
  if (!tag || tag->size() <= 5) return 0;
  return std::strtod(tag->c_str() + 5, nullptr);
}

// What a row stands for in the map: its size and the folder it nests (null: none).
struct RowPart {
  double Size = 0;
  DiskObject* Nests = nullptr;
  const DiskObject* Object = nullptr;
};

RowPart PartOfRow(MainPresenter& p, const ListRow& row) {
  const bool allocated = p.Toggles().Allocated;
  if (IsFileTag(row.Tag)) return {row.CountedElsewhere ? 0 : FileRowSize(row), nullptr, nullptr};
  const std::optional<NodeId> node = TagNode(row.Tag);
  if (!node) return {};
  DiskObject* d = ObjectOf(p.Explorer(), *node);
  if (!d) return {};
  if (d->Class == ObjectClass::Folder) return {d->Space(allocated), d, d};
  if (d->Class == ObjectClass::Drive) {
    // A volume by its used (or allocated) space: its root folder's size.
    DiskObject* r = ObjectOf(p.Explorer(), RootFolderNode(p.Explorer(), d));
    return r ? RowPart{r->Space(allocated), r, d} : RowPart{};
  }
  return {};  // the largest-files folder: its files are counted in their folders
}

// The folder a map names, when it is still where the map found it: its drive is one of the
// window's, and the folder still stands at its position among the drive's folders.
DiskObject* MapFolderIn(MainPresenter& p, const Treemap& map, std::uint32_t ref) {
  if (ref >= map.Folders.size()) return nullptr;
  const MapFolder& f = map.Folders[ref];
  const DiskCollection* disks = p.DiskList();
  if (!disks || !f.Drive) return nullptr;
  bool known = false;
  for (std::size_t i = 1; i <= disks->Count() && !known; ++i) known = disks->Item(i) == f.Drive;
  if (!known) return nullptr;
  const FolderList* folders = f.Drive->DiskObjectsIfAny();
  return folders && folders->Item(f.Position) == f.Folder ? f.Folder : nullptr;
}

// The index in folders of folder's place, appended; kNoRect when it is in no drive's folders.
std::uint32_t Name(std::vector<MapFolder>& folders, DiskObject& folder) {
  const MapFolder at = PlaceOfFolder(folder);
  if (!at.Folder) return kNoRect;
  folders.push_back(at);
  return static_cast<std::uint32_t>(folders.size() - 1);
}

// Which node the map shows as its root folder instead of the rows; kNoNode for the rows.
NodeId ShownRootFolder(MainPresenter& p) {
  TreemapPane& pane = p.MapPane();
  if (p.Listing().ChartShown) return pane.ChartNode;
  return RootFolderNode(p.Explorer(), ObjectOf(p.Explorer(), p.SelectedNode()));
}

double OwnFiles(const DiskObject& d, bool allocated) {
  return allocated ? d.fAllocatedSpace : d.fUsedSpace;
}

}  // namespace

TreemapSettings ReadTreemapSettings(const IniFile& s) {
  TreemapSettings out;
  if (const auto v = s.Get(kSettingsGroup, kShownKey)) {
    if (*v == "1" || *v == "true") out.Shown = true;
  }
  if (const auto v = s.Get(kSettingsGroup, kSplitKey)) {
    char* end = nullptr;
    errno = 0;
    const double f = std::strtod(v->c_str(), &end);
    if (end != v->c_str() && *end == '\0' && errno == 0 && std::isfinite(f))
      out.Split = std::clamp(f, 0.1, 0.9);
  }
  return out;
}

void WriteTreemapSettings(IniFile& s, const TreemapSettings& t) {
  s.Set(kSettingsGroup, kShownKey, t.Shown ? "1" : "0");
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", std::clamp(t.Split, 0.1, 0.9));
  s.Set(kSettingsGroup, kSplitKey, buf);
}

std::shared_ptr<const Treemap> MakeTreemap(MainPresenter& p, float width, float height) {
  TreemapPane& pane = p.MapPane();
  pane.RowsShown = false;
  pane.ShownRow = 0;
  CExplorer& ex = p.Explorer();
  const bool allocated = p.Toggles().Allocated;
  const std::vector<ListRow>& rows = p.List().Rows();
  const std::size_t palette = MapPalette().size();
  std::vector<MapFolder> folders;
  auto nested = [&](const MapRect& r, std::vector<MapItem>& out) {
    if (r.Kind == MapKind::Folder) {
      FolderChildren(folders, r.Ref, allocated, out);
    } else if (r.Kind == MapKind::Row && r.Ref < rows.size()) {
      if (DiskObject* n = PartOfRow(p, rows[r.Ref]).Nests)
        if (const std::uint32_t at = Name(folders, *n); at != kNoRect)
          FolderChildren(folders, at, allocated, out);
    }
  };
  if (p.ListingPending()) return nullptr;
  // The pie chart of a volume that was not scanned: no root folder to show.
  if (p.Listing().ChartShown && !ObjectOf(ex, pane.ChartNode)) return nullptr;
  std::vector<MapItem> top;
  double total = 0;
  if (const NodeId root = ShownRootFolder(p); root != kNoNode) {
    DiskObject* r = ObjectOf(ex, root);
    if (const std::uint32_t at = Name(folders, *r); at != kNoRect)
      FolderChildren(folders, at, allocated, top);
    total = r->Space(allocated);
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (TagNode(rows[i].Tag) == root) pane.ShownRow = i + 1;
  } else {
    DiskObject* shown = ObjectOf(ex, p.SelectedNode());
    if (!shown) return nullptr;
    pane.RowsShown = true;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const RowPart part = PartOfRow(p, rows[i]);
      if (part.Size > 0) top.push_back({part.Size, MapKind::Row, static_cast<std::uint32_t>(i)});
    }
    if (shown->Class == ObjectClass::Folder) {
      total = shown->Space(allocated);
      // Without its file rows, a folder's own files show as one block.
      const bool filesListed = p.Listing().FirstChildNode == kNoNode || p.Toggles().ShowFiles;
      if (!filesListed && OwnFiles(*shown, allocated) > 0)
        if (const std::uint32_t at = Name(folders, *shown); at != kNoRect)
          top.push_back({OwnFiles(*shown, allocated), MapKind::Files, at});
    }
  }
  auto map = std::make_shared<Treemap>(
      LayoutTreemap(std::move(top), total, width, height, nested, palette));
  map->Folders = std::move(folders);
  KeepNamedFolders(*map);
  map->Rects.shrink_to_fit();
  return map;
}

void UpdateTreemap(MainPresenter& p) {
  TreemapPane& pane = p.MapPane();
  pane.Highlight = kNoRect;
  pane.Map.reset();
  if (pane.Shown && pane.Width >= 1 && pane.Height >= 1)
    pane.Map = MakeTreemap(p, pane.Width, pane.Height);
  p.View().TreemapChanged();
}

void ClearTreemap(MainPresenter& p) {
  TreemapPane& pane = p.MapPane();
  if (!pane.Map && pane.Highlight == kNoRect) return;
  pane.Map.reset();
  pane.Highlight = kNoRect;
  p.View().TreemapChanged();
}

void SetTreemapShown(MainPresenter& p, bool shown) {
  p.MapPane().Shown = shown;
  UpdateTreemap(p);
}

void SetTreemapSplit(MainPresenter& p, double split) {
  if (std::isfinite(split)) p.MapPane().Split = std::clamp(split, 0.1, 0.9);
}

void SetTreemapSize(MainPresenter& p, float width, float height) {
  TreemapPane& pane = p.MapPane();
  if (pane.Width == width && pane.Height == height && pane.Map) return;
  pane.Width = width;
  pane.Height = height;
  UpdateTreemap(p);
}

std::string MapDescription::Line() const {
  return (Name == "Files" ? "Files in " + Path : Name) + ", " + SizeText(Size) + ", " +
         PercentText(Share) + "%";
}

MapDescription DescribeMapRect(MainPresenter& p, std::uint32_t rect) {
  MapDescription out;
  const TreemapPane& pane = p.MapPane();
  if (!pane.Map || rect >= pane.Map->Rects.size()) return out;
  const MapRect& r = pane.Map->Rects[rect];
  CExplorer& ex = p.Explorer();
  const bool allocated = p.Toggles().Allocated;
  if (r.Kind == MapKind::Row) {
    const auto& rows = p.List().Rows();
    if (r.Ref >= rows.size()) return out;
    const ListRow& row = rows[r.Ref];
    const RowPart part = PartOfRow(p, row);
    out.Size = part.Size;
    if (part.Object) {
      out.Path = part.Object->Path();
    } else {
      const DiskObject* listed = ObjectOf(ex, p.SelectedNode());
      out.Path =
          listed && listed->Class == ObjectClass::Folder ? listed->Path() + row.Text : row.Text;
    }
    out.Name = out.Path;
  } else if (const DiskObject* d = MapFolderIn(p, *pane.Map, r.Ref)) {
    out.Path = d->Path();
    out.Size = r.Kind == MapKind::Files ? OwnFiles(*d, allocated) : d->Space(allocated);
    out.Name = r.Kind == MapKind::Files ? "Files" : out.Path;
  }
  out.Share = ShareOf(out.Size, pane.Map->Total);
  return out;
}

std::size_t MapRowOf(MainPresenter& p, std::uint32_t rect) {
  const TreemapPane& pane = p.MapPane();
  if (!pane.Map) return 0;
  const std::uint32_t top = MapTopOf(*pane.Map, rect);
  if (top == kNoRect) return 0;
  if (!pane.RowsShown) return pane.ShownRow;
  const MapRect& t = pane.Map->Rects[top];
  return t.Kind == MapKind::Row && t.Ref < p.List().Count() ? t.Ref + 1 : 0;
}

namespace {

// Selects the one row that holds rect (none when no row does: a folder's own files) and
// moves the highlight to rect.
void Highlight(MainPresenter& p, std::uint32_t rect) {
  p.MapPane().Highlight = rect;
  const std::size_t row = MapRowOf(p, rect);
  ListData& list = p.List();
  for (std::size_t i = 1; i <= list.Count(); ++i) list.SetSelected(i, i == row);
  p.View().SelectListRow(row);
  p.View().TreemapHighlightChanged();
}

std::uint32_t HitAt(MainPresenter& p, float x, float y) {
  const TreemapPane& pane = p.MapPane();
  return pane.Map ? MapHit(*pane.Map, x, y) : kNoRect;
}

// Goes into the deepest folder that holds rect: a folder of the map directly, a row as a
// left click on it.
void GoIn(MainPresenter& p, std::uint32_t rect) {
  const std::shared_ptr<const Treemap> map = p.MapPane().Map;
  for (; rect != kNoRect && map && rect < map->Rects.size(); rect = map->Rects[rect].Parent) {
    const MapRect& r = map->Rects[rect];
    if (r.Kind == MapKind::Folder) {
      if (p.Refused(Guard::Scan)) return;
      // Most folders of the map have no node yet: the way to this one is made now.
      DiskObject* folder = MapFolderIn(p, *map, r.Ref);
      const NodeId node = folder ? MakeNode(p.Explorer(), *folder) : kNoNode;
      if (node != kNoNode) GoIntoNode(p, node);
      return;
    }
    if (r.Kind == MapKind::Row) {
      lvListView_Enter(p, r.Ref + 1);
      return;
    }
  }
  // The shown root folder itself (a drive's listing): into it.
  if (!p.MapPane().RowsShown && p.MapPane().ShownRow) lvListView_Enter(p, p.MapPane().ShownRow);
}

}  // namespace

void TreemapClick(MainPresenter& p, float x, float y) {
  const std::uint32_t hit = HitAt(p, x, y);
  if (hit != kNoRect) Highlight(p, hit);
}

void TreemapDoubleClick(MainPresenter& p, float x, float y) {
  const std::uint32_t hit = HitAt(p, x, y);
  if (hit != kNoRect) GoIn(p, hit);
}

namespace {
// A right click on rect's row, with the highlight on rect.
void RightClickOn(MainPresenter& p, std::uint32_t rect) {
  Highlight(p, rect);
  if (const std::size_t row = MapRowOf(p, rect)) {
    lvListView_MouseUp(p, kRightButton, 0);
    lvListView_Click(p, row);
  }
}
}  // namespace

void TreemapRightClick(MainPresenter& p, float x, float y) {
  const std::uint32_t hit = HitAt(p, x, y);
  if (hit != kNoRect) RightClickOn(p, hit);
}

void TreemapKey(MainPresenter& p, MapKey key) {
  TreemapPane& pane = p.MapPane();
  const std::shared_ptr<const Treemap> map = pane.Map;
  if (!map || map->Rects.empty()) {
    if (key == MapKey::Back) BackUpTree(p);
    return;
  }
  const std::uint32_t at = pane.Highlight < map->Rects.size() ? pane.Highlight : kNoRect;
  std::uint32_t to = kNoRect;
  switch (key) {
    case MapKey::Left:
    case MapKey::Right:
    case MapKey::Up:
    case MapKey::Down:
      if (at == kNoRect) {
        to = 0;
      } else {
        const int dx = key == MapKey::Left ? -1 : key == MapKey::Right ? 1 : 0;
        const int dy = key == MapKey::Up ? -1 : key == MapKey::Down ? 1 : 0;
        to = MapSibling(*map, at, dx, dy);
      }
      break;
    case MapKey::Enter:
      if (at == kNoRect) {
        to = 0;
      } else if ((to = MapFirstChild(*map, at)) == kNoRect) {
        GoIn(p, at);
        return;
      }
      break;
    case MapKey::Back:
      if (at == kNoRect || map->Rects[at].Parent == kNoRect) {
        BackUpTree(p);
        return;
      }
      to = map->Rects[at].Parent;
      break;
    case MapKey::Menu:
      if (at != kNoRect) RightClickOn(p, at);
      return;
  }
  if (to != kNoRect) Highlight(p, to);
}

}  // namespace kestrum
