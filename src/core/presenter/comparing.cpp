#include "core/presenter/comparing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "core/adapter/row_tags.h"
#include "core/platform/numbers.h"
#include "core/rows/list_cells.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"
#include "core/presenter/listing.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/saved_scans.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

// Where the Change and change bar cells go: after the share bar.
constexpr std::size_t kChangeCell = 3;

std::string FileName(const std::string& file) {
  std::string_view name = file;
  while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  if (const std::size_t slash = name.rfind('/'); slash + 1 < name.size())
    name.remove_prefix(slash + 1);
  return std::string(name);
}

// The scanned root the history knows the drive's scans by, as the scans keep them.
HistoryRoot RootOf(const DiskObject& drive) {
  HistoryRoot root{drive.Path(), {}};
  struct stat st {};
  if (::stat(root.Path.c_str(), &st) == 0) root.Uuid = FileSystemUuid(st.st_dev);
  return root;
}

// The folder of the earlier scan at the place of the later scan's folder path (ending in
// "/"); null when none.
const DiskObject* OlderFolderAt(const ActiveComparison& c, std::string_view path) {
  const FolderList* olderFolders = c.Older ? c.Older->DiskObjectsIfAny() : nullptr;
  const ScanComparison& s = c.Bytes;
  if (!olderFolders || !s.OlderRoot || !s.NewerRoot) return nullptr;
  const std::string root = s.NewerRoot->Path();
  if (path.compare(0, root.size(), root) != 0) return nullptr;
  return olderFolders->Find(s.OlderRoot->Path() + std::string(path.substr(root.size())));
}

// The old sizes of the files of a folder of the earlier scan, by name (pointing into its
// store). Reads only the earlier scan, which nothing changes.
std::unordered_map<std::string_view, std::uint64_t> OldFiles(const ActiveComparison& c,
                                                             const DiskObject* then,
                                                             bool allocated) {
  std::unordered_map<std::string_view, std::uint64_t> out;
  if (!then || !c.Older || !c.Older->Drive().Files) return out;
  c.Older->Drive().Files->ForEach(then->FilesAt, [&](const StoredEntry& f) {
    if (f.What == StoredEntry::Kind::File) out.emplace(f.Name, allocated ? f.Allocated : f.Size);
    return true;
  });
  return out;
}

// The sizes the earlier scan gave the files at paths (full paths of the later scan), found
// by their paths below the root, by path; a path it had no file at is left out. Each earlier
// folder's entries are read once, however many of the paths lie in it.
std::unordered_map<std::string_view, std::uint64_t> OldSizesAt(
    const ActiveComparison& c, const std::vector<std::string_view>& paths, bool allocated) {
  std::unordered_map<std::string_view, std::uint64_t> out;
  std::unordered_map<const DiskObject*, std::unordered_map<std::string_view, std::uint64_t>> read;
  for (const std::string_view path : paths) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) continue;
    const DiskObject* then = OlderFolderAt(c, path.substr(0, slash + 1));
    if (!then) continue;
    auto [files, first] = read.try_emplace(then);
    if (first) files->second = OldFiles(c, then, allocated);
    if (const auto f = files->second.find(path.substr(slash + 1)); f != files->second.end())
      out.emplace(path, f->second);
  }
  return out;
}

std::string Signed(std::int64_t change) {
  if (change == 0) return "0 b";
  const double magnitude = change < 0 ? -static_cast<double>(change) : static_cast<double>(change);
  return (change < 0 ? "-" : "+") + SizeText(magnitude);
}

}  // namespace

std::string HistoryLabel(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char buf[32];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local);
  return "the scan of " + std::string(buf, n);
}

std::string ChangeText(std::int64_t change, ChangeKind kind) {
  switch (kind) {
    case ChangeKind::New:
      return "new " + Signed(change);
    case ChangeKind::Removed:
      return "removed " + Signed(change);
    case ChangeKind::Changed:
      break;
  }
  return change == 0 ? std::string() : Signed(change);
}

const ActiveComparison* ComparisonFor(MainPresenter& p, const DiskObject* folder) {
  const ActiveComparison* c = p.Comparing.get();
  if (!c || !folder) return nullptr;
  const DiskObject* drive = DriveOf(folder);
  const DiskCollection* disks = p.DiskList();
  if (!drive || drive != c->Drive || !disks || disks->Find(c->DriveKey) != drive) return nullptr;
  return drive->Drive().Files == c->Files && c->Files->Count() == c->FilesCount ? c : nullptr;
}

void StopComparing(MainPresenter& p) {
  const bool was = p.Comparing != nullptr;
  p.Comparing.reset();
  if (was && !p.Refused(Guard::Busy, false)) p.Relist();
  p.SetStatus("Not comparing");
}

void CompareWith(MainPresenter& p) {
  const NodeId selected = p.Explorer().SelectedItem();
  DiskObject* drive =
      DriveOf(ObjectOf(p.Explorer(), p.Explorer().Exists(selected) ? selected : p.SelectedNode()));
  const FolderList* folders = drive ? drive->DiskObjectsIfAny() : nullptr;
  if (!drive || !folders || folders->Empty() || !drive->Drive().Files) {
    p.SetStatus("Select a scanned folder to compare it with an earlier scan");
    return;
  }
  CompareOffer offer;
  offer.Root = drive->Path();
  if (!p.HistoryFolderPath().empty() && drive->Class == ObjectClass::Drive)
    offer.Earlier = ScanHistory(p.HistoryFolderPath()).List(RootOf(*drive));
  if (const ActiveComparison* c = ComparisonFor(p, drive)) offer.Current = c->Label;
  offer.ThisScan = drive->Drive().HistoryFile;
  const CompareChoice choice = p.View().AskCompare(offer);
  switch (choice.What) {
    case CompareChoice::Kind::Cancel:
      return;
    case CompareChoice::Kind::None:
      StopComparing(p);
      return;
    case CompareChoice::Kind::File:
      CompareWithFile(p, *drive, choice.File,
                      choice.Label.empty() ? FileName(choice.File) : choice.Label);
      return;
  }
}

void CompareWithFile(MainPresenter& p, DiskObject& drive, const std::string& file,
                     const std::string& label) {
  if (file.empty()) return;
  if (p.Refused(Guard::Busy, false) || !p.Slot().Acquire()) {
    p.SetStatus("A command is still running: nothing is compared");
    return;
  }
  if (Tracing()) Trace("frmMain.CompareWithFile(" + file + ")");
  CommandSlot& slot = p.Slot();
  slot.Join();
  p.SetTreeEnabled(false);
  auto reading = std::make_shared<ImportReadProgress>();
  const std::string name = FileName(file);
  slot.Progress = [reading, name] {
    return ImportProgressText(name, 0, 1, reading->Bytes.load(), reading->Size.load());
  };
  p.SetProgressTimer(true);
  p.SetStatus("Reading " + name + "...");
  auto made = std::make_shared<ActiveComparison>();
  made->Drive = &drive;
  made->DriveKey = DiskObjectKey(drive);
  made->Files = drive.Drive().Files;
  made->FilesCount = made->Files ? made->Files->Count() : 0;
  made->Label = label;
  made->File = file;
  MainPresenter* presenter = &p;
  const HardLinkRule links = p.LinkRule();
  Scanning = true;
  // The later scan is read on the worker: while Scanning is set, no command changes the model.
  slot.Run([presenter, &slot, made, file, reading, links] {
    auto older = std::make_shared<DiskObject>();
    older->SetPath(file);
    ImportOptions options;
    options.Links = links;
    options.Read = reading.get();
    options.Stoppable = true;
    std::int32_t keys = 0;
    ImportError error;
    const bool read = ImportScan(file, *older, keys, error, options);
    std::string refused = read ? std::string() : error.Message;
    if (read && Scanning) {
      made->Older = older;
      // Stop (which clears Scanning) ends a comparison of a large tree too.
      made->Bytes = CompareScans(*older, *made->Drive, {false, &Scanning, false});
      if (made->Bytes.Ok && Scanning)
        made->Allocated = CompareScans(*older, *made->Drive, {true, &Scanning, false});
      if (!made->Bytes.Ok) refused = "Cannot compare with " + made->Label + ": " +
                                     made->Bytes.Refused + ".";
      if (made->Bytes.Ok && made->Allocated.Ok) {
        made->BytesIndex = std::make_unique<ChangeIndex>(made->Bytes);
        made->AllocatedIndex = std::make_unique<ChangeIndex>(made->Allocated);
      }
    }
    const bool stopped = !Scanning;
    slot.Post([presenter, &slot, made, refused, stopped] {
      // A Stop given after the worker ended, before its result is taken here, stops it too.
      const bool stoppedNow = stopped || !Scanning;
      Scanning = false;
      presenter->SetProgressTimer(false);
      presenter->SetTreeEnabled(true);
      slot.Progress = nullptr;
      slot.Release();
      if (stoppedNow) {
        presenter->SetStatus("Compare stopped: nothing was compared");
      } else if (!refused.empty()) {
        presenter->SetStatus("Nothing was compared");
        presenter->ShowMessage(refused);
      } else if (made->BytesIndex) {
        presenter->Comparing = made;
        presenter->Relist();
        const std::size_t n = made->Bytes.Changes.size();
        presenter->SetStatus("Compared with " + made->Label + ": " + std::to_string(n) +
                             (n == 1 ? " change" : " changes"));
      }
    });
  });
}

std::shared_ptr<const ChangeJob> PrepareChanges(MainPresenter& p, NodeId parentNode,
                                                bool filesListed) {
  CExplorer& ex = p.Explorer();
  const DiskObject* d = ObjectOf(ex, parentNode);
  const TreeNode* n = ex.Node(parentNode);
  if (!d || !n) return nullptr;
  const auto newJob = [&p, d] {
    auto job = std::make_shared<ChangeJob>();
    job->Comparison = p.Comparing;
    job->Folder = d;
    job->Allocated = p.Toggles().Allocated;
    job->SortByChange = p.Listing().ChangeSort;
    return job;
  };
  std::shared_ptr<ChangeJob> job;
  const ActiveComparison* c = nullptr;
  if (d->Class == ObjectClass::Root) {
    // "My Computer": the drive compared changed as much as its root folder.
    for (const NodeId kid : n->Kids) {
      const DiskObject* k = ObjectOf(ex, kid);
      c = k ? ComparisonFor(p, k) : nullptr;
      if (!c || c->Drive != k) continue;
      job = newJob();
      if (const TreeChange* t = c->Index(job->Allocated).OfFolder(c->Bytes.NewerRoot))
        job->Subfolders.emplace(kid, t);
      break;
    }
    if (!job) return nullptr;
  } else {
    if (d->Class != ObjectClass::Folder && d->Class != ObjectClass::Folder100) return nullptr;
    c = ComparisonFor(p, d);
    if (!c) {
      // A comparison its drive no longer matches is let go, with the two stores it holds.
      const DiskObject* drive = DriveOf(d);
      if (p.Comparing && drive && DiskObjectKey(*drive) == p.Comparing->DriveKey)
        p.Comparing.reset();
      return nullptr;
    }
    job = newJob();
    if (d->Class == ObjectClass::Folder100) {
      job->Largest = true;  // the earlier sizes are looked up with the rows, off this thread
    } else {
      job->FilesListed = filesListed;
      const ChangeIndex& index = c->Index(job->Allocated);
      for (const NodeId kid : n->Kids)
        if (const DiskObject* k = ObjectOf(ex, kid))
          if (const TreeChange* t = index.OfFolder(k)) job->Subfolders.emplace(kid, t);
      if (filesListed) job->OlderFolder = OlderFolderAt(*c, d->Path());
    }
  }
  // The two columns after the share bar; the bar's header is " ", the change bar's "  ".
  const std::vector<ListColumn>& now = p.List().Columns();
  if (std::none_of(now.begin(), now.end(), [](const ListColumn& k) { return k.Text == "Change"; })) {
    std::vector<std::variant<std::string, double>> args;
    for (std::size_t i = 0; i < now.size(); ++i) {
      args.emplace_back(now[i].Text);
      args.emplace_back(now[i].Width);
      if (i == kChangeCell) {
        args.emplace_back(std::string("Change"));
        args.emplace_back(1800.0);
        args.emplace_back(std::string("  "));
        args.emplace_back(1200.0);
      }
    }
    ex.SetColumns(args);
  }
  p.Listing().PathLabel += " compared with " + c->Label;
  p.View().SetPathLabel(p.Listing().PathLabel);
  return job;
}

void ApplyChanges(RowBatch& batch, const ChangeJob& job, bool suffixSort) {
  const ChangeIndex& index = job.Comparison->Index(job.Allocated);
  const std::unordered_map<std::string_view, std::uint64_t> oldFiles =
      job.FilesListed ? OldFiles(*job.Comparison, job.OlderFolder, job.Allocated)
                      : std::unordered_map<std::string_view, std::uint64_t>();
  std::vector<std::int64_t> changes(batch.Count(), 0);
  std::unordered_map<std::string_view, char> seen;  // the files listed, by name
  std::vector<ChangeKind> kinds(batch.Count(), ChangeKind::Changed);
  // The largest files' rows: their texts are their full paths.
  const auto textOf = [&batch](std::size_t i) {
    std::string_view name = batch.Rows[i].Text;
    if (batch.Suffixed[i] && !name.empty()) name.remove_suffix(1);
    return name;
  };
  std::unordered_map<std::string_view, std::uint64_t> oldLargest;
  if (job.Largest) {
    std::vector<std::string_view> paths;
    for (std::size_t i = 0; i < batch.Count(); ++i)
      if (IsFileTag(batch.Rows[i].Tag)) paths.push_back(textOf(i));
    oldLargest = OldSizesAt(*job.Comparison, paths, job.Allocated);
  }
  for (std::size_t i = 0; i < batch.Count(); ++i) {
    ListRow& r = batch.Rows[i];
    if (const auto node = TagNode(r.Tag)) {
      const auto it = job.Subfolders.find(*node);
      if (it != job.Subfolders.end()) {
        changes[i] = it->second->Change();
        kinds[i] = it->second->Kind;
      }
    } else if (IsFileTag(r.Tag)) {
      // A file row compares what it shows, read from the disk now, with the earlier scan.
      const std::string_view name = textOf(i);
      const auto shown = static_cast<std::int64_t>(batch.Sizes[i]);
      if (job.Largest) {
        const auto was = oldLargest.find(name);
        if (was == oldLargest.end()) {
          kinds[i] = ChangeKind::New;
          changes[i] = shown;
        } else {
          changes[i] = shown - static_cast<std::int64_t>(was->second);
        }
        continue;
      }
      const auto old = oldFiles.find(name);
      if (old == oldFiles.end()) {
        kinds[i] = ChangeKind::New;
        changes[i] = shown;
      } else {
        changes[i] = shown - static_cast<std::int64_t>(old->second);
        seen.emplace(old->first, 1);
      }
    } else {
      continue;
    }
  }
  // What went: folders as the comparison found them, files as the earlier scan held them and
  // no row shows now.
  std::vector<std::pair<std::string, std::uint64_t>> removed;  // name, old size
  std::vector<char> removedFolder;
  for (const TreeChange* t : index.RemovedFrom(job.Folder))
    if (t->IsFolder && t->Folder) {
      removed.emplace_back(t->Folder->Name, t->Old);
      removedFolder.push_back(1);
    }
  if (job.FilesListed) {
    // In name order, as the map holds them in none.
    const std::size_t firstFile = removed.size();
    for (const auto& [name, size] : oldFiles)
      if (!seen.count(name)) {
        removed.emplace_back(std::string(name), size);
        removedFolder.push_back(0);
      }
    std::sort(removed.begin() + static_cast<std::ptrdiff_t>(firstFile), removed.end());
  }
  for (std::size_t i = 0; i < removed.size(); ++i) {
    ListRow row;
    row.Text = removed[i].first;
    row.Icon = row.SmallIcon = removedFolder[i] ? "ClosedFolder" : "File";
    row.Tag = RemovedTag(static_cast<double>(removed[i].second));
    row.SubItems = {SizeText(static_cast<double>(removed[i].second)), "", ""};
    if (suffixSort) row.Text += removedFolder[i] ? 'A' : 'B';
    batch.Add(std::move(row), static_cast<double>(removed[i].second), suffixSort);
    changes.push_back(-static_cast<std::int64_t>(removed[i].second));
    kinds.push_back(ChangeKind::Removed);
  }
  std::uint64_t widest = 0;
  for (const std::int64_t c : changes)
    widest = std::max<std::uint64_t>(widest, static_cast<std::uint64_t>(c < 0 ? -c : c));
  for (std::size_t i = 0; i < batch.Count(); ++i) {
    ListRow& r = batch.Rows[i];
    if (!TagNode(r.Tag) && !IsFileTag(r.Tag) && !IsRemovedTag(r.Tag)) continue;
    if (r.SubItems.size() < kChangeCell) r.SubItems.resize(kChangeCell);
    const std::int64_t c = changes[i];
    const double magnitude = c < 0 ? -static_cast<double>(c) : static_cast<double>(c);
    const auto at = r.SubItems.begin() + static_cast<std::ptrdiff_t>(kChangeCell);
    r.SubItems.insert(at, {ChangeText(c, kinds[i]),
                           BarText(ShareOf(magnitude, static_cast<double>(widest)))});
  }
  if (!job.SortByChange) return;
  std::vector<std::size_t> order(batch.Count());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return changes[a] > changes[b]; });
  RowBatch sorted;
  sorted.Rows.reserve(order.size());
  for (const std::size_t i : order)
    sorted.Add(std::move(batch.Rows[i]), batch.Sizes[i], batch.Suffixed[i] != 0);
  batch = std::move(sorted);
}

const char* MapChangeName(MapChange change) {
  switch (change) {
    case MapChange::Grown:
      return "Grown";
    case MapChange::Shrunk:
      return "Shrunk";
    case MapChange::New:
      return "New";
    case MapChange::Unchanged:
      break;
  }
  return "Unchanged";
}

std::vector<MapChange> RowChanges(const ListData& list) {
  std::vector<MapChange> out(list.Count(), MapChange::Unchanged);
  const std::vector<ListColumn>& columns = list.Columns();
  std::size_t at = 0;
  while (at < columns.size() && columns[at].Text != "Change") ++at;
  if (at == columns.size()) return out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::string& cell = list.Rows()[i].Cell(at);
    if (cell.empty()) continue;
    if (cell.rfind("new", 0) == 0)
      out[i] = MapChange::New;
    else
      out[i] = cell.front() == '+' ? MapChange::Grown : MapChange::Shrunk;
  }
  return out;
}

namespace {

MapChange OfChange(const TreeChange* t) {
  if (!t) return MapChange::Unchanged;
  if (t->Kind == ChangeKind::New) return MapChange::New;
  const std::int64_t c = t->Change();
  return c > 0 ? MapChange::Grown : c < 0 ? MapChange::Shrunk : MapChange::Unchanged;
}

}  // namespace

std::vector<MapChange> MapChanges(const Treemap& map, const ActiveComparison& comparison,
                                  bool allocated, const DiskObject* listed,
                                  const std::vector<MapChange>& rows) {
  const ChangeIndex& index = comparison.Index(allocated);
  std::vector<MapChange> out(map.Rects.size(), MapChange::Unchanged);
  const auto folderAt = [&map](std::uint32_t ref) -> const DiskObject* {
    return ref < map.Folders.size() ? map.Folders[ref].Folder : nullptr;
  };
  for (std::size_t i = 0; i < map.Rects.size(); ++i) {
    const MapRect& r = map.Rects[i];
    switch (r.Kind) {
      case MapKind::Row:
        if (r.Ref < rows.size()) out[i] = rows[r.Ref];
        break;
      case MapKind::Folder:
      case MapKind::Files:
        if (const DiskObject* f = folderAt(r.Ref)) out[i] = OfChange(index.OfFolder(f));
        break;
      case MapKind::File: {
        if (r.Ref >= map.Files.size()) break;
        const MapFile& f = map.Files[r.Ref];
        if (f.Row != 0) {
          if (f.Row - 1 < rows.size()) out[i] = rows[f.Row - 1];
          break;
        }
        const DiskObject* folder = f.Folder == kNoRect ? listed : folderAt(f.Folder);
        if (folder) out[i] = OfChange(index.OfFile(folder, f.Name));
        break;
      }
    }
  }
  return out;
}

}  // namespace kestrum
