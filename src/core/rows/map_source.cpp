#include "core/rows/map_source.h"

#include <algorithm>

#include "core/tree/subfolders.h"

namespace kestrum {

double MapSmallestShown(double total, float width, float height) {
  const double room = static_cast<double>(width) * height;
  return room > 0 && total > 0 ? static_cast<double>(kMapMinSide) * kMapMinSide * total / room
                               : 0;
}

std::uint32_t MapSource::AddSubtree(DiskObject& drive, std::size_t position, bool whole,
                                    double smallest) {
  const FolderList* list = drive.DiskObjectsIfAny();
  DiskObject* top = list ? list->Item(position) : nullptr;
  if (!top || top->Class != ObjectClass::Folder) return kNoRect;
  std::uint16_t store = 0;
  const std::shared_ptr<const FileStore> files = drive.Drive().Files;
  while (store < Stores.size() && Stores[store] != files) ++store;
  if (store == Stores.size()) Stores.push_back(files);
  const auto first = static_cast<std::uint32_t>(Folders.size());
  const std::size_t end = whole ? SubtreeEnd(*list, position) : position + 1;
  // Each folder's subtree ends at the next folder no deeper than it. A folder too small to
  // be shown is stepped over with its subtree (SubtreeEnd: its FolderCount, checked).
  std::vector<std::pair<std::int32_t, std::uint32_t>> open;  // (Level, index)
  for (std::size_t at = position; at < end; ++at) {
    DiskObject* d = list->Item(at);
    const auto index = static_cast<std::uint32_t>(Folders.size());
    while (!open.empty() && open.back().first >= d->Level) {
      Folders[open.back().second].End = index;
      open.pop_back();
    }
    const double size = d->Space(Allocated);
    if (at != position && size < smallest) {
      at = std::max(SubtreeEnd(*list, at), at + 1) - 1;
      continue;
    }
    MapSourceFolder f;
    f.Size = size;
    f.FilesAt = files ? d->FilesAt : FileStore::kNone;
    f.Store = store;
    // Only folders nest; anything else in the list is skipped with its subtree.
    f.Place = d->Class == ObjectClass::Folder ? MapFolder{&drive, at, d} : MapFolder{};
    Folders.push_back(f);
    open.emplace_back(d->Level, index);
  }
  for (const auto& o : open) Folders[o.second].End = static_cast<std::uint32_t>(Folders.size());
  return first;
}

namespace {

// What one layout collects besides its rectangles.
struct Collect {
  const MapSource& Source;
  FileTypes& Types;
  std::vector<MapFile> Files;
  std::vector<std::uint32_t> FolderRefs;  // the MapSource folder of each Folder Ref

  std::uint32_t AddFile(MapFile f) {
    // A row of the largest files holds a path: its type is its last name's.
    const std::string_view name(f.Name);
    const FileType t = Types.Classify(name.substr(name.rfind('/') + 1), false);
    f.Type = t.Index;
    f.Category = t.Category;
    Files.push_back(std::move(f));
    return static_cast<std::uint32_t>(Files.size() - 1);
  }

  std::uint32_t NameFolder(std::uint32_t source) {
    FolderRefs.push_back(source);
    return static_cast<std::uint32_t>(FolderRefs.size() - 1);
  }

  // The files of the folder at index whose rectangles could reach the smallest side, given
  // that room (pixels squared) stands for the folder's size.
  void FilesOf(std::uint32_t index, std::uint32_t named, double room, std::vector<MapItem>& out) {
    const MapSourceFolder& f = Source.Folders[index];
    const FileStore* store = f.Store < Source.Stores.size() ? Source.Stores[f.Store].get() : nullptr;
    if (!store || f.FilesAt == FileStore::kNone || !(room > 0)) return;
    const double smallest = static_cast<double>(kMapMinSide) * kMapMinSide * f.Size / room;
    store->ForEach(f.FilesAt, [&](const StoredEntry& e) {
      if (e.What != StoredEntry::Kind::File || e.CountedElsewhere) return;
      const std::uint64_t size = Source.Allocated ? e.Allocated : e.Size;
      if (size == 0 || static_cast<double>(size) < smallest) return;
      MapFile file;
      file.Name = std::string(e.Name);
      file.Size = size;
      file.Position = e.Position;
      file.Folder = named;
      // Executable files of no known type are programs; the bit is kept in the store.
      const FileType t = Types.Classify(e.Name, e.Executable);
      file.Type = t.Index;
      file.Category = t.Category;
      Files.push_back(std::move(file));
      out.push_back({static_cast<double>(size), MapKind::File,
                     static_cast<std::uint32_t>(Files.size() - 1)});
    });
  }

  // The subfolders and files of the folder at index, nested in a rectangle of room.
  void ChildrenOf(std::uint32_t index, std::uint32_t named, double room,
                  std::vector<MapItem>& out) {
    const auto& all = Source.Folders;
    if (index >= all.size()) return;
    for (std::uint32_t k = index + 1; k < all[index].End; k = std::max(all[k].End, k + 1)) {
      if (!all[k].Place.Folder || !(all[k].Size > 0)) continue;
      out.push_back({all[k].Size, MapKind::Folder, NameFolder(k)});
    }
    FilesOf(index, named, room, out);
  }
};

}  // namespace

Treemap LayoutSource(const MapSource& source, FileTypes& types,
                     const std::atomic<std::uint64_t>* current, std::uint64_t generation) {
  Collect c{source, types, {}, {}};
  std::vector<MapItem> top = source.Top;
  for (MapItem& i : top) {
    if (i.Kind == MapKind::File && i.Ref < source.RowFiles.size()) {
      i.Ref = c.AddFile(source.RowFiles[i.Ref]);
    } else if (i.Kind == MapKind::Folder || i.Kind == MapKind::Files) {
      i.Ref = c.NameFolder(i.Ref);
    }
  }
  const float w = std::max(source.Width, 0.0f), h = std::max(source.Height, 0.0f);
  if (source.OwnFilesOf < source.Folders.size()) {
    // Laid out as the whole pane stands for the shown folder.
    const std::uint32_t named = c.NameFolder(source.OwnFilesOf);
    const double total = std::max(source.Total, 1.0);
    c.FilesOf(source.OwnFilesOf, named,
              static_cast<double>(w) * h * source.Folders[source.OwnFilesOf].Size / total, top);
  }
  auto stopped = [&] { return current && current->load(std::memory_order_relaxed) != generation; };
  auto nested = [&](const MapRect& r, std::vector<MapItem>& out) {
    if (stopped()) return;
    const double room = static_cast<double>(r.W - 2 * kMapFrame) * (r.H - 2 * kMapFrame);
    if (r.Kind == MapKind::Folder && r.Ref < c.FolderRefs.size()) {
      c.ChildrenOf(c.FolderRefs[r.Ref], r.Ref, room, out);
    } else if (r.Kind == MapKind::Row) {
      const auto it = std::lower_bound(source.RowNests.begin(), source.RowNests.end(),
                                       std::make_pair(r.Ref, std::uint32_t{0}));
      if (it != source.RowNests.end() && it->first == r.Ref)
        c.ChildrenOf(it->second, c.NameFolder(it->second), room, out);
    }
  };
  Treemap map = LayoutTreemap(std::move(top), source.Total, w, h, nested, source.PaletteSize);
  if (stopped()) return map;

  // Only what a rectangle names is kept, renumbered.
  std::vector<std::uint32_t> folderTo(c.FolderRefs.size(), kNoRect);
  std::vector<std::uint32_t> fileTo(c.Files.size(), kNoRect);
  auto keepFolder = [&](std::uint32_t ref) {
    if (ref >= folderTo.size()) return kNoRect;
    if (folderTo[ref] == kNoRect) {
      folderTo[ref] = static_cast<std::uint32_t>(map.Folders.size());
      map.Folders.push_back(source.Folders[c.FolderRefs[ref]].Place);
    }
    return folderTo[ref];
  };
  for (MapRect& r : map.Rects) {
    if (r.Kind == MapKind::Folder || r.Kind == MapKind::Files) {
      r.Ref = keepFolder(r.Ref);
    } else if (r.Kind == MapKind::File && r.Ref < fileTo.size()) {
      if (fileTo[r.Ref] == kNoRect) {
        fileTo[r.Ref] = static_cast<std::uint32_t>(map.Files.size());
        MapFile f = std::move(c.Files[r.Ref]);
        f.Folder = keepFolder(f.Folder);
        map.CategoryBytes[static_cast<std::size_t>(f.Category)] += static_cast<double>(f.Size);
        map.Files.push_back(std::move(f));
      }
      r.Ref = fileTo[r.Ref];
    }
  }
  map.Keys.reserve(types.Count());
  map.Mimes.reserve(types.Count());
  for (std::uint32_t i = 0; i < types.Count(); ++i) {
    map.Keys.push_back(types.Key(i));
    map.Mimes.push_back(types.Mime(i));
  }
  return map;
}

bool MapFileMarked(const Treemap& map, const MapFile& file, const MapTypeMark& mark) {
  switch (mark.What) {
    case MapTypeMark::By::None:
      return true;
    case MapTypeMark::By::Category:
      return file.Category == mark.Category;
    case MapTypeMark::By::Key:
      return file.Type < map.Keys.size() && map.Keys[file.Type] == mark.Key;
  }
  return false;
}

}  // namespace kestrum
