#include "core/query/scan_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

std::string_view RuleName(HardLinkRule rule) {
  return rule == HardLinkRule::Once ? "once" : "at each name";
}

// A folder's total as compared: the totals are whole byte counts held in doubles.
std::uint64_t TotalOf(const DiskObject& folder, bool allocated) {
  const double v = allocated ? folder.AllocatedSpace : folder.UsedSpace;
  return v > 0 ? static_cast<std::uint64_t>(std::llround(v)) : 0;
}

struct NamedSize {
  std::string_view Name;
  std::uint64_t Size;
};

// One side of the comparison: its folders and its store of entries.
struct Side {
  const FolderList* Folders = nullptr;
  const FileStore* Store = nullptr;
};

class Comparer {
 public:
  Comparer(const Side& older, const Side& newer, const CompareOptions& options,
           std::vector<TreeChange>& out)
      : older_(older), newer_(newer), options_(options), out_(out) {}

  // False when stopped.
  bool Run() {
    // Pairs of folders at one path still to compare, by position in their lists.
    std::vector<std::pair<std::size_t, std::size_t>> pending{{1, 1}};
    while (!pending.empty()) {
      if (Stopped()) return false;
      const auto [o, n] = pending.back();
      pending.pop_back();
      const DiskObject& of = *older_.Folders->Item(o);
      const DiskObject& nf = *newer_.Folders->Item(n);
      const std::uint64_t then = TotalOf(of, options_.Allocated);
      const std::uint64_t now = TotalOf(nf, options_.Allocated);
      if (then != now) out_.push_back(FolderChange(nf, then, now, ChangeKind::Changed, false));
      CompareFiles(of, nf);
      sinceCheck_ += static_cast<unsigned>((oldFiles_.size() + newFiles_.size()) / 64);
      // Subfolders by name; those on one side only go or come with everything below them.
      std::vector<PlacedFolder> os = Subfolders(*older_.Folders, o);
      std::vector<PlacedFolder> ns = Subfolders(*newer_.Folders, n);
      const auto byName = [](const PlacedFolder& a, const PlacedFolder& b) {
        return a.Folder->Name < b.Folder->Name;
      };
      std::sort(os.begin(), os.end(), byName);
      std::sort(ns.begin(), ns.end(), byName);
      // Matched pairs are pushed in reverse name order, so they are taken in name order.
      std::vector<std::pair<std::size_t, std::size_t>> matched;
      std::size_t i = 0, j = 0;
      while (i < os.size() || j < ns.size()) {
        const int order = i == os.size()   ? 1
                          : j == ns.size() ? -1
                                           : os[i].Folder->Name.compare(ns[j].Folder->Name);
        if (order < 0) {
          if (!Whole(older_, os[i++].Position, ChangeKind::Removed, &nf)) return false;
        } else if (order > 0) {
          if (!Whole(newer_, ns[j++].Position, ChangeKind::New, nullptr)) return false;
        } else {
          matched.emplace_back(os[i++].Position, ns[j++].Position);
        }
      }
      pending.insert(pending.end(), matched.rbegin(), matched.rend());
    }
    return true;
  }

 private:
  // Reads the stop flag on the first call and then once every 64 steps, a step being a
  // folder or 64 of the files compared: a stop asked before the comparison starts ends it
  // at once, and a folder of a million files is no longer one step.
  bool Stopped() {
    if (!options_.Stop || ++sinceCheck_ < 64) return false;
    sinceCheck_ = 0;
    return options_.Stop->load(std::memory_order_relaxed) == options_.StopWhen;
  }

  TreeChange FolderChange(const DiskObject& folder, std::uint64_t then, std::uint64_t now,
                          ChangeKind kind, bool fromOlder) const {
    TreeChange c;
    c.Folder = &folder;
    c.Old = then;
    c.New = now;
    c.Kind = kind;
    c.IsFolder = true;
    c.FromOlder = fromOlder;
    return c;
  }

  TreeChange FileChange(const DiskObject& folder, std::string_view name, std::uint64_t then,
                        std::uint64_t now, ChangeKind kind, bool fromOlder) const {
    TreeChange c = FolderChange(folder, then, now, kind, fromOlder);
    c.Name = name;
    c.IsFolder = false;
    return c;
  }

  // The counting files of folder, sorted by name.
  void FilesOf(const Side& side, const DiskObject& folder, std::vector<NamedSize>& into) const {
    into.clear();
    side.Store->ForEach(folder.FilesAt, [&](const StoredEntry& e) {
      if (e.What == StoredEntry::Kind::File)
        into.push_back({e.Name, options_.Allocated ? e.Allocated : e.Size});
    });
    std::sort(into.begin(), into.end(),
              [](const NamedSize& a, const NamedSize& b) { return a.Name < b.Name; });
  }

  void CompareFiles(const DiskObject& of, const DiskObject& nf) {
    FilesOf(older_, of, oldFiles_);
    FilesOf(newer_, nf, newFiles_);
    std::size_t i = 0, j = 0;
    while (i < oldFiles_.size() || j < newFiles_.size()) {
      const int order = i == oldFiles_.size()   ? 1
                        : j == newFiles_.size() ? -1
                                                : oldFiles_[i].Name.compare(newFiles_[j].Name);
      if (order < 0) {
        out_.push_back(
            FileChange(of, oldFiles_[i].Name, oldFiles_[i].Size, 0, ChangeKind::Removed, true));
        out_.back().Under = &nf;
        ++i;
      } else if (order > 0) {
        out_.push_back(
            FileChange(nf, newFiles_[j].Name, 0, newFiles_[j].Size, ChangeKind::New, false));
        ++j;
      } else {
        if (oldFiles_[i].Size != newFiles_[j].Size)
          out_.push_back(FileChange(nf, newFiles_[j].Name, oldFiles_[i].Size, newFiles_[j].Size,
                                    ChangeKind::Changed, false));
        ++i;
        ++j;
      }
    }
  }

  // The folder at position and everything below it, all new or all removed; a removed one
  // stood under the later scan's folder under.
  bool Whole(const Side& side, std::size_t position, ChangeKind kind, const DiskObject* under) {
    const bool older = kind == ChangeKind::Removed;
    const std::size_t end = SubtreeEnd(*side.Folders, position);
    for (std::size_t p = position; p < end; ++p) {
      if (Stopped()) return false;
      const DiskObject& f = *side.Folders->Item(p);
      const std::uint64_t total = TotalOf(f, options_.Allocated);
      out_.push_back(FolderChange(f, older ? total : 0, older ? 0 : total, kind, older));
      if (p == position) out_.back().Under = under;
      FilesOf(side, f, oldFiles_);
      sinceCheck_ += static_cast<unsigned>(oldFiles_.size() / 64);
      for (const NamedSize& file : oldFiles_)
        out_.push_back(FileChange(f, file.Name, older ? file.Size : 0, older ? 0 : file.Size,
                                  kind, older));
    }
    return true;
  }

  const Side& older_;
  const Side& newer_;
  const CompareOptions& options_;
  std::vector<TreeChange>& out_;
  std::vector<NamedSize> oldFiles_, newFiles_;
  unsigned sinceCheck_ = 63;  // the first call reads the flag
};

}  // namespace

ScanComparison CompareScans(const DiskObject& older, const DiskObject& newer,
                            const CompareOptions& options) {
  ScanComparison result;
  const Side o{older.DiskObjectsIfAny(), older.Drive().Files.get()};
  const Side n{newer.DiskObjectsIfAny(), newer.Drive().Files.get()};
  if (!o.Folders || o.Folders->Empty() || !n.Folders || n.Folders->Empty()) {
    result.Refused = "a scan to compare has no folders";
    return result;
  }
  if (!o.Store || !n.Store) {
    result.Refused = "a scan to compare did not keep its files";
    return result;
  }
  const HardLinkRule then = older.Drive().LinkRule, now = newer.Drive().LinkRule;
  if (then != now) {
    result.Refused = std::string("the earlier scan counted hard links ") +
                     std::string(RuleName(then)) + ", this one " + std::string(RuleName(now));
    return result;
  }
  result.OlderRoot = o.Folders->Item(1);
  result.NewerRoot = n.Folders->Item(1);
  Comparer comparer(o, n, options, result.Changes);
  result.Stopped = !comparer.Run();
  result.Ok = !result.Stopped;
  if (result.Stopped) result.Changes.clear();
  return result;
}

std::string RelativeChangePath(const ScanComparison& comparison, const TreeChange& change) {
  const DiskObject* root = change.FromOlder ? comparison.OlderRoot : comparison.NewerRoot;
  std::vector<const DiskObject*> chain;
  std::size_t length = change.Name.size();
  for (const DiskObject* f = change.Folder; f && f != root; f = f->Parent) {
    chain.push_back(f);
    length += f->Name.size() + 1;
  }
  std::string path;
  path.reserve(length);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += (*it)->Name;
    path += '/';
  }
  path += change.Name;
  return path;
}

std::string ChangePath(const ScanComparison& comparison, const TreeChange& change) {
  std::string path = comparison.NewerRoot ? comparison.NewerRoot->Path() : std::string();
  if (!path.empty() && path.back() != '/') path += '/';
  path += RelativeChangePath(comparison, change);
  return path;
}

std::vector<ChangeLine> ChangesLargestFirst(const ScanComparison& comparison) {
  std::vector<ChangeLine> lines;
  lines.reserve(comparison.Changes.size());
  for (const TreeChange& c : comparison.Changes) lines.push_back({c, ChangePath(comparison, c)});
  const auto magnitude = [](const TreeChange& c) {
    return c.New > c.Old ? c.New - c.Old : c.Old - c.New;
  };
  std::sort(lines.begin(), lines.end(), [&](const ChangeLine& a, const ChangeLine& b) {
    const std::uint64_t ma = magnitude(a.Change), mb = magnitude(b.Change);
    if (ma != mb) return ma > mb;
    return a.Path < b.Path;
  });
  return lines;
}

ChangeIndex::ChangeIndex(const ScanComparison& comparison) {
  for (const TreeChange& c : comparison.Changes) {
    if (c.FromOlder) {
      if (c.Under) removed_.emplace(c.Under, &c);
    } else {
      changed_.emplace(Key{c.Folder, c.Name}, &c);
    }
  }
}

const TreeChange* ChangeIndex::OfFolder(const DiskObject* folder) const {
  const auto it = changed_.find(Key{folder, {}});
  return it == changed_.end() ? nullptr : it->second;
}

const TreeChange* ChangeIndex::OfFile(const DiskObject* folder, std::string_view name) const {
  if (name.empty()) return nullptr;
  const auto it = changed_.find(Key{folder, name});
  return it == changed_.end() ? nullptr : it->second;
}

std::vector<const TreeChange*> ChangeIndex::RemovedFrom(const DiskObject* folder) const {
  std::vector<const TreeChange*> out;
  const auto [from, to] = removed_.equal_range(folder);
  for (auto it = from; it != to; ++it) out.push_back(it->second);
  // The multimap keeps no order: the comparison's is the changes' own.
  std::sort(out.begin(), out.end());
  return out;
}

std::string_view ChangeKindName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::New:
      return "new";
    case ChangeKind::Removed:
      return "removed";
    case ChangeKind::Changed:
      break;
  }
  return "changed";
}

}  // namespace kestrum
