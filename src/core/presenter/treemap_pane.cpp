#include "core/presenter/treemap_pane.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/adapter/folder_nodes.h"
#include "core/commands/window_queue.h"
#include "core/adapter/row_tags.h"
#include "core/presenter/listing.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/navigation.h"
#include "core/presenter/placement.h"
#include "core/rows/list_cells.h"
#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

constexpr const char* kShownKey = "Treemap";
constexpr const char* kSplitKey = "TreemapSplit";
constexpr const char* kColourKey = "TreemapColour";

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
  if (const auto v = s.Get(kSettingsGroup, kColourKey))
    out.Colouring = *v == "type"     ? MapColouring::FileType
                    : *v == "change" ? MapColouring::Change
                                     : MapColouring::Branch;
  return out;
}

void WriteTreemapSettings(IniFile& s, const TreemapSettings& t) {
  s.Set(kSettingsGroup, kShownKey, t.Shown ? "1" : "0");
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", std::clamp(t.Split, 0.1, 0.9));
  s.Set(kSettingsGroup, kSplitKey, buf);
  s.Set(kSettingsGroup, kColourKey,
        t.Colouring == MapColouring::FileType ? "type"
        : t.Colouring == MapColouring::Change ? "change"
                                              : "branch");
}

std::shared_ptr<const MapSource> MakeMapSource(MainPresenter& p, float width, float height) {
  TreemapPane& pane = p.MapPane();
  pane.RowsShown = false;
  pane.ShownRow = 0;
  CExplorer& ex = p.Explorer();
  const bool allocated = p.Toggles().Allocated;
  const std::vector<ListRow>& rows = p.List().Rows();
  if (p.ListingPending()) return nullptr;
  // The pie chart of a volume that was not scanned: no root folder to show.
  if (p.Listing().ChartShown && !ObjectOf(ex, pane.ChartNode)) return nullptr;
  auto s = std::make_shared<MapSource>();
  s->Width = width;
  s->Height = height;
  s->Allocated = allocated;
  s->PaletteSize = MapPalette().size();
  // Folders smaller than the smallest rectangle of the whole pane are never shown: not
  // copied. The pane's size is known before its items but for "My Computer" (its volumes).
  double smallest = 0;
  auto subtree = [&](DiskObject& folder, bool whole) {
    const MapFolder at = PlaceOfFolder(folder);
    return at.Folder ? s->AddSubtree(*at.Drive, at.Position, whole, smallest) : kNoRect;
  };
  if (const NodeId root = ShownRootFolder(p); root != kNoNode) {
    DiskObject* r = ObjectOf(ex, root);
    smallest = MapSmallestShown(r->Space(allocated), width, height);
    if (const std::uint32_t at = subtree(*r, true); at != kNoRect) {
      for (std::uint32_t k = at + 1; k < s->Folders[at].End; k = s->Folders[k].End)
        if (s->Folders[k].Place.Folder)
          s->Top.push_back({s->Folders[k].Size, MapKind::Folder, k});
      s->OwnFilesOf = at;
    }
    s->Total = r->Space(allocated);
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (TagNode(rows[i].Tag) == root) pane.ShownRow = i + 1;
    return s;
  }
  DiskObject* shown = ObjectOf(ex, p.SelectedNode());
  if (!shown) return nullptr;
  pane.RowsShown = true;
  // A scanned folder's files come from its drive's store, one by one, listed or not.
  const DiskObject* drive = shown->Class == ObjectClass::Folder ? DriveOf(shown) : nullptr;
  const bool stored = drive && drive->Drive().Files;
  MapRowScan& scan = pane.RowScan;
  // A scanned folder without subfolders has no row the map needs (its files come from the
  // store): its rows, a million perhaps, are not read.
  const MapFolder place = stored ? PlaceOfFolder(*shown) : MapFolder{};
  const bool noRowNeeded =
      place.Folder && !HasSubfolders(*place.Drive->DiskObjectsIfAny(), place.Position);
  if (noRowNeeded) {
    scan = MapRowScan{p.Listing().Generation, rows.data(), rows.size(), {}, {}};
  } else if (scan.Generation != p.Listing().Generation || scan.Rows != rows.data() ||
             scan.Count != rows.size()) {
    scan = MapRowScan{p.Listing().Generation, rows.data(), rows.size(), {}, {}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto ref = static_cast<std::uint32_t>(i);
      if (!IsFileTag(rows[i].Tag)) {
        scan.Others.push_back(ref);
      } else if (!rows[i].CountedElsewhere) {
        if (const double size = FileRowSize(rows[i]); size > 0) scan.Files.emplace_back(ref, size);
      }
    }
  }
  double known = 0;
  if (shown->Class == ObjectClass::Folder) {
    known = shown->Space(allocated);
  } else {
    for (const std::uint32_t i : scan.Others) known += PartOfRow(p, rows[i]).Size;
  }
  smallest = MapSmallestShown(known, width, height);
  // Files listed but kept in no store (read from the disk, or the largest files) stand for
  // themselves.
  if (!stored) {
    for (const auto& [row, size] : scan.Files) {
      MapFile f;
      f.Name = rows[row].Text;
      f.Size = static_cast<std::uint64_t>(size);
      f.Row = row + 1;
      s->RowFiles.push_back(std::move(f));
      s->Top.push_back({size, MapKind::File, static_cast<std::uint32_t>(s->RowFiles.size() - 1)});
    }
  }
  for (const std::uint32_t ref : scan.Others) {
    const RowPart part = PartOfRow(p, rows[ref]);
    if (!(part.Size > 0)) continue;
    s->Top.push_back({part.Size, MapKind::Row, ref});
    if (part.Nests)
      if (const std::uint32_t at = subtree(*part.Nests, true); at != kNoRect)
        s->RowNests.emplace_back(ref, at);
  }
  if (shown->Class == ObjectClass::Folder) {
    s->Total = shown->Space(allocated);
    const bool filesListed = p.Listing().FirstChildNode == kNoNode || p.Toggles().ShowFiles;
    if (stored) {
      s->OwnFilesOf = subtree(*shown, false);
    } else if (!filesListed && OwnFiles(*shown, allocated) > 0) {
      // Without a store nor file rows, a folder's own files show as one block.
      if (const std::uint32_t at = subtree(*shown, false); at != kNoRect)
        s->Top.push_back({OwnFiles(*shown, allocated), MapKind::Files, at});
    }
  }
  return s;
}

std::shared_ptr<const Treemap> MakeTreemap(MainPresenter& p, float width, float height) {
  const std::shared_ptr<const MapSource> source = MakeMapSource(p, width, height);
  if (!source) return nullptr;
  TreemapPane& pane = p.MapPane();
  if (!pane.Types) pane.Types = std::make_shared<FileTypes>();
  auto map = std::make_shared<Treemap>(LayoutSource(*source, *pane.Types));
  map->Rects.shrink_to_fit();
  return map;
}

// Lays maps out on a thread of its own, one at a time: a newer map asked for replaces one
// not yet begun and stops one under way (its result is dropped).
class MapWorker {
 public:
  using Done = std::function<void(std::uint64_t, std::shared_ptr<const Treemap>)>;
  MapWorker() : thread_([this] { Run(); }) {}
  ~MapWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
      current_.fetch_add(1);
    }
    wake_.notify_one();
    thread_.join();
  }
  MapWorker(const MapWorker&) = delete;
  MapWorker& operator=(const MapWorker&) = delete;

  void Start(std::uint64_t generation, std::shared_ptr<const MapSource> source, Done done) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      current_.store(generation);
      job_ = std::move(source);
      done_ = std::move(done);
    }
    wake_.notify_one();
  }
  // Stops the map under way, if any.
  void Cancel(std::uint64_t generation) { current_.store(generation); }

 private:
  void Run() {
    for (;;) {
      std::shared_ptr<const MapSource> job;
      Done done;
      std::uint64_t generation = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return quit_ || job_; });
        if (quit_) return;
        job = std::move(job_);
        job_.reset();
        done = std::move(done_);
        generation = current_.load();
      }
      auto map = std::make_shared<Treemap>(LayoutSource(*job, types_, &current_, generation));
      map->Rects.shrink_to_fit();
      job.reset();  // the copies and the stores they hold go with the worker's time
      if (current_.load() == generation) done(generation, std::move(map));
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  std::shared_ptr<const MapSource> job_;
  Done done_;
  std::atomic<std::uint64_t> current_{0};
  FileTypes types_;  // the worker thread's own
  std::thread thread_;  // last: started once the rest is made
};

namespace {

// Drops the map asked of the worker, if any.
void CancelMap(TreemapPane& pane) {
  ++pane.Generation;
  pane.Pending = false;
  if (pane.Worker) pane.Worker->Cancel(pane.Generation);
}

// Lays the map out again; keep leaves the map shown until the new one comes (a resize).
void Relayout(MainPresenter& p, bool keep) {
  TreemapPane& pane = p.MapPane();
  CancelMap(pane);
  pane.Highlight = kNoRect;
  if (!keep) pane.Map.reset();
  std::shared_ptr<const MapSource> source;
  if (pane.Shown && pane.Width >= 1 && pane.Height >= 1)
    source = MakeMapSource(p, pane.Width, pane.Height);
  const std::shared_ptr<WindowQueue> queue = p.Queue();
  if (!source || !queue || !queue->Connected()) {
    if (!pane.Types) pane.Types = std::make_shared<FileTypes>();
    pane.Map.reset();
    if (source) {
      auto map = std::make_shared<Treemap>(LayoutSource(*source, *pane.Types));
      map->Rects.shrink_to_fit();
      pane.Map = std::move(map);
    }
    p.View().TreemapChanged();
    return;
  }
  if (!keep) p.View().TreemapChanged();
  if (!pane.Worker) {
    try {
      pane.Worker = std::make_shared<MapWorker>();
    } catch (const std::system_error&) {
      // No thread to be had: laid out here.
      if (!pane.Types) pane.Types = std::make_shared<FileTypes>();
      auto map = std::make_shared<Treemap>(LayoutSource(*source, *pane.Types));
      pane.Map = std::move(map);
      p.View().TreemapChanged();
      return;
    }
  }
  pane.Pending = true;
  MainPresenter* presenter = &p;
  pane.Worker->Start(pane.Generation, std::move(source),
                     [queue, presenter](std::uint64_t generation,
                                        std::shared_ptr<const Treemap> map) {
                       queue->Post([presenter, generation, map = std::move(map)]() mutable {
                         TreemapPane& now = presenter->MapPane();
                         if (now.Generation != generation || !now.Pending) return;
                         now.Pending = false;
                         now.Highlight = kNoRect;
                         now.Map = std::move(map);
                         presenter->View().TreemapChanged();
                       });
                     });
}

}  // namespace

void UpdateTreemap(MainPresenter& p) { Relayout(p, false); }

void ClearTreemap(MainPresenter& p) {
  TreemapPane& pane = p.MapPane();
  CancelMap(pane);
  if (!pane.Map && pane.Highlight == kNoRect) return;
  pane.Map.reset();
  pane.Highlight = kNoRect;
  p.View().TreemapChanged();
}

void SetMapColouring(MainPresenter& p, MapColouring colouring) {
  TreemapPane& pane = p.MapPane();
  if (pane.Colouring == colouring) return;
  pane.Colouring = colouring;
  p.View().TreemapChanged();
}

void SetMapHighlightType(MainPresenter& p, const MapTypeMark& mark) {
  TreemapPane& pane = p.MapPane();
  if (pane.Mark == mark) return;
  pane.Mark = mark;
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
  const bool had = pane.Map != nullptr;
  pane.Width = width;
  pane.Height = height;
  Relayout(p, had);
}

std::string MapDescription::Line() const {
  return (Name == "Files" ? "Files in " + Path : Name) + ", " + SizeText(Size) + ", " +
         PercentText(Share) + "%" + (Type.empty() ? "" : ", " + Type);
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
  } else if (r.Kind == MapKind::File) {
    if (r.Ref >= pane.Map->Files.size()) return out;
    const Treemap& map = *pane.Map;
    const MapFile& f = map.Files[r.Ref];
    if (const DiskObject* d = MapFolderIn(p, map, f.Folder)) {
      out.Path = d->Path() + f.Name;
    } else if (!f.Name.empty() && f.Name.front() == '/') {
      out.Path = f.Name;  // a row of the largest files: its full path
    } else {
      const DiskObject* listed = ObjectOf(ex, p.SelectedNode());
      out.Path =
          listed && listed->Class == ObjectClass::Folder ? listed->Path() + f.Name : f.Name;
    }
    out.Name = out.Path;
    out.Size = static_cast<double>(f.Size);
    const std::string& key = f.Type < map.Keys.size() ? map.Keys[f.Type] : std::string();
    const std::string& mime = f.Type < map.Mimes.size() ? map.Mimes[f.Type] : std::string();
    out.Type = std::string(CategoryName(f.Category));
    if (!mime.empty() || !key.empty())
      out.Type += " (" + (mime.empty() ? "." + key : mime) + ")";
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
  if (t.Kind == MapKind::File && t.Ref < pane.Map->Files.size()) {
    // A file of the shown folder: its own row when listed (from a row, or found by name).
    const MapFile& f = pane.Map->Files[t.Ref];
    if (f.Row) return f.Row <= p.List().Count() ? f.Row : 0;
    const std::vector<ListRow>& rows = p.List().Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (IsFileTag(rows[i].Tag) && rows[i].Text == f.Name) return i + 1;
    return 0;
  }
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
