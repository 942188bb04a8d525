#include "core/query/file_search.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

// Calls match(folder, folderPath, entry, store) for each file of scope that meets criteria; match
// returns false to end the walk. False when the walk was ended early.
template <typename Match>
bool Walk(const SearchScope& scope, const SearchCriteria& c, const std::atomic<bool>* stop,
          bool stopWhen, Match&& match) {
  NameMatcher::Scratch scratch;
  // A classifier only when a type is asked for: it asks the MIME database once per key.
  std::optional<FileTypes> types;
  if (c.Category || c.TypeKey) types.emplace();
  std::string path;
  std::vector<std::pair<const DiskObject*, std::size_t>> open;
  bool going = true;
  std::size_t sinceCheck = 0;
  for (const DiskObject* start : scope) {
    if (!start || !going) break;
    const DiskObject* drive = IsDriveClass(start->Class) ? start : DriveOf(start);
    if (!drive || (start != drive && start->Class != ObjectClass::Folder)) continue;
    const FolderList* folders = drive->DiskObjectsIfAny();
    const FileStore* store = drive->Drive().Files.get();
    if (!folders || !store || folders->Empty()) continue;
    std::size_t begin = 1, end = folders->Count() + 1;
    if (start != drive) {
      begin = folders->PositionOf(start);
      if (begin == 0) continue;
      end = SubtreeEnd(*folders, begin);
    }
    const std::uint64_t unit =
        drive->Drive().AllocationUnit > 0 ? static_cast<std::uint64_t>(drive->Drive().AllocationUnit)
                                          : 4096;
    open.clear();
    for (std::size_t i = begin; i < end && going; ++i) {
      if (stop && ++sinceCheck >= 64) {
        sinceCheck = 0;
        if (stop->load(std::memory_order_relaxed) == stopWhen) return false;
      }
      const DiskObject& f = *folders->Item(i);
      // Depth-first order: the path of the folder last seen at each level is a prefix of the
      // next folder's path, so only the ancestors' path lengths are kept.
      while (!open.empty() && open.back().first != f.Parent) open.pop_back();
      if (open.empty()) {
        path = f.Path();
      } else {
        path.resize(open.back().second);
        path += f.Name;
        path += '/';
      }
      open.emplace_back(&f, path.size());
      if (f.FilesAt == FileStore::kNone) continue;
      store->ForEach(f.FilesAt, [&](const StoredEntry& e) {
        if (e.What != StoredEntry::Kind::File) return true;
        if (c.MinSize && e.Size < *c.MinSize) return true;
        if (c.MaxSize && e.Size > *c.MaxSize) return true;
        if ((c.ModifiedAfter || c.ModifiedBefore) &&
            (!e.HasTime || (c.ModifiedAfter && e.Time < *c.ModifiedAfter) ||
             (c.ModifiedBefore && e.Time >= *c.ModifiedBefore)))
          return true;
        if (c.OnlyLinked && !(e.Linked && e.Links > 1)) return true;
        if (c.OnlySparse && !(e.Allocated < e.Size && e.Size - e.Allocated > unit)) return true;
        if (c.Name && !c.Name->Matches(e.Name, scratch)) return true;
        if (types) {
          const FileType t = types->Classify(e.Name, e.Executable);
          if (c.Category && t.Category != *c.Category) return true;
          if (c.TypeKey && types->Key(t.Index) != *c.TypeKey) return true;
        }
        going = match(f, path, e, *store);
        return going;
      });
    }
  }
  return going;
}

FoundFile MakeFound(const DiskObject& folder, const std::string& folderPath,
                    const StoredEntry& e) {
  FoundFile found;
  found.Path.reserve(folderPath.size() + e.Name.size());
  found.Path = folderPath;
  found.Path += e.Name;
  found.Size = e.Size;
  found.Allocated = e.Allocated;
  found.Time = e.HasTime ? e.Time : 0;
  found.HasTime = e.HasTime;
  found.Links = e.Linked ? e.Links : 0;
  found.Folder = &folder;
  found.Position = e.Position;
  return found;
}

// A match while the walk goes: its folder's path is kept once per folder, the name is read
// from the store again only for those kept.
struct Kept {
  std::uint64_t Size;
  std::int64_t Time;
  std::uint64_t Sequence;
  std::uint32_t PathIndex;
  bool HasTime;
  std::uint64_t Allocated;
  std::uint64_t Links;
  const DiskObject* Folder;
  const FileStore* Store;
  std::uint64_t Position;
};

}  // namespace

SearchScope EveryDrive(const DiskCollection& disks) {
  SearchScope scope;
  for (const auto& d : disks)
    if (d && IsDriveClass(d->Class)) scope.push_back(d.get());
  return scope;
}

bool VisitFiles(const SearchScope& scope, const SearchCriteria& criteria,
                const std::function<bool(const FoundFile&)>& visit,
                const std::atomic<bool>* stop, bool stopWhen) {
  return Walk(scope, criteria, stop, stopWhen, [&](const DiskObject& folder, const std::string& path,
                                         const StoredEntry& e, const FileStore&) {
    return visit(MakeFound(folder, path, e));
  });
}

SearchResult SearchFiles(const SearchScope& scope, const SearchCriteria& criteria,
                         const std::atomic<bool>* stop, bool stopWhen, SearchProgress* progress) {
  using Order = SearchCriteria::Order;
  const Order order = criteria.Sort;
  // a before b in the result.
  const auto before = [order](const Kept& a, const Kept& b) {
    if (order == Order::Largest) {
      if (a.Size != b.Size) return a.Size > b.Size;
    } else if (a.Time != b.Time) {
      return order == Order::Newest ? a.Time > b.Time : a.Time < b.Time;
    }
    return a.Sequence < b.Sequence;
  };
  std::vector<Kept> kept;
  std::vector<std::string> folderPaths;
  const DiskObject* lastFolder = nullptr;
  std::uint64_t sequence = 0;
  const std::size_t limit = criteria.Limit;
  SearchResult result;
  result.Stopped = !Walk(scope, criteria, stop, stopWhen, [&](const DiskObject& folder,
                                                                const std::string& path,
                                                                const StoredEntry& e,
                                                                const FileStore& store) {
    if (order != Order::Largest && !e.HasTime) return true;
    ++result.Matched;
    result.MatchedBytes += static_cast<double>(e.Size);
    result.MatchedAllocated += static_cast<double>(e.Allocated);
    if (progress) progress->Matched.store(result.Matched, std::memory_order_relaxed);
    if (&folder != lastFolder) {
      folderPaths.push_back(path);
      lastFolder = &folder;
    }
    Kept k{e.Size,
           e.Time,
           sequence++,
           static_cast<std::uint32_t>(folderPaths.size() - 1),
           e.HasTime,
           e.Allocated,
           e.Linked ? e.Links : 0,
           &folder,
           &store,
           e.Position};
    if (limit == 0) {
      kept.push_back(k);
    } else if (kept.size() < limit) {
      // A heap whose top is the worst kept, which a better match replaces.
      kept.push_back(k);
      std::push_heap(kept.begin(), kept.end(), before);
    } else if (before(k, kept.front())) {
      std::pop_heap(kept.begin(), kept.end(), before);
      kept.back() = k;
      std::push_heap(kept.begin(), kept.end(), before);
    }
    return true;
  });
  std::sort(kept.begin(), kept.end(), before);
  result.Files.reserve(kept.size());
  for (const Kept& k : kept) {
    FoundFile f;
    const std::string_view name = k.Store ? k.Store->NameAt(k.Position) : std::string_view();
    f.Path.reserve(folderPaths[k.PathIndex].size() + name.size());
    f.Path = folderPaths[k.PathIndex];
    f.Path += name;
    f.Size = k.Size;
    f.Allocated = k.Allocated;
    f.Time = k.HasTime ? k.Time : 0;
    f.HasTime = k.HasTime;
    f.Links = k.Links;
    f.Folder = k.Folder;
    f.Position = k.Position;
    result.Files.push_back(std::move(f));
  }
  return result;
}

SearchResult SearchFiles(const DiskObject& startFolderOrDrive, const SearchCriteria& criteria,
                         const std::atomic<bool>* stop) {
  return SearchFiles(SearchScope{&startFolderOrDrive}, criteria, stop);
}

}  // namespace kestrum
