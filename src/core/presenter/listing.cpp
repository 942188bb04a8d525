#include "core/presenter/listing.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/adapter/row_tags.h"
#include "core/presenter/comparing.h"
#include "core/platform/open_folder.h"
#include "core/presenter/exclude_form.h"
#include "core/presenter/recycle_folders.h"
#include "core/presenter/search_results.h"
#include "core/presenter/treemap_pane.h"
#include "core/presenter/types_pane.h"
#include "core/rows/drive_stats.h"
#include "core/rows/file_rows.h"
#include "core/rows/list_cells.h"
#include "core/rows/list_sort.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

enum class Layout { DrivesFree, DrivesUsed, FolderContents, DriveContents };

void SetLayout(CExplorer& ex, Layout layout) {
  switch (layout) {
    case Layout::DrivesFree:
      ex.SetColumns({"Name", 2000.0, "Size", 1000.0, "Free", 1000.0, "% Free", 800.0});
      break;
    case Layout::DrivesUsed:
      ex.SetColumns({"Name", 2000.0, "Size", 1000.0, "Used", 1000.0, "% Used", 800.0,
                     "Last Accessed", 1700.0});
      break;
    case Layout::FolderContents:
      ex.SetColumns(
          {"Name", 1800.0, "Size", 800.0, "% Parent", 600.0, " ", 1700.0, "Last Accessed", 1700.0});
      break;
    case Layout::DriveContents:
      ex.SetColumns({"Name", 1800.0, "Size", 800.0, "% Parent", 600.0, " ", 1700.0});
      break;
  }
}

void SetPath(MainPresenter& p, const std::string& text) {
  p.Listing().PathLabel = text;
  p.View().SetPathLabel(text);
}

// One listing being built: the rows taken from the model, and the file rows still to read.
struct Build {
  MainPresenter& P;
  NodeId FirstChild;
  NodeId Parent;
  RowBatch Batch;
  bool ReadFiles = false;
  FileRowsRequest Request;
  // The mount table of a listing in a drive whose scan crossed file systems (CrossedMountTable),
  // asked for at its first folder row.
  std::optional<std::vector<MountEntry>> Mounts;
};

void AddListViewItem(Build& b, NodeId node) {
  CExplorer& ex = b.P.Explorer();
  ListingState& st = b.P.Listing();
  const TreeNode* n = ex.Node(node);
  if (!n) return;
  if (n->Text == kPlaceholderText) {
    ListRow row;
    row.Text = "Drive not scanned...";
    row.Icon = row.SmallIcon = std::string(n->Image);
    b.Batch.Add(std::move(row), 0, false);
    return;
  }
  DiskObject* d = ObjectOf(ex, node);
  if (!d) return;
  st.CurrentClass = d->Class;
  const bool allocated = b.P.Toggles().Allocated;
  ListRow row;
  row.Text = n->Text;
  row.Icon = row.SmallIcon = std::string(n->Image);
  row.Tag = NodeTag(node);
  if (d->Class == ObjectClass::Import) {
    // A saved scan knows no device: its size is what it holds, free space is unknown.
    if (!st.ColumnsSet) {
      SetLayout(ex, st.DriveColumns == "Used" ? Layout::DrivesUsed : Layout::DrivesFree);
      st.ColumnsSet = true;
      st.SuffixSort = st.PaddedSizeSort = false;
      if (d->Parent) SetPath(b.P, d->Parent->Path());
    }
    const double held = d->Space(allocated);
    row.SubItems = {SizeText(held), st.DriveColumns == "Used" ? SizeText(held) : "", ""};
    b.Batch.Add(std::move(row), held, false);
    return;
  }
  if (d->Class == ObjectClass::Results) {
    // Listed among the drives, but no volume: the space of what it lists, in the size column.
    double held = 0;
    if (const FileListing* l = d->Drive().Listed.get())
      for (const ListedFile& f : l->Files)
        if (!f.Gone) held += allocated ? f.Allocated : f.Size;
    row.SubItems = {SizeText(held), "", ""};
    b.Batch.Add(std::move(row), held, false);
    return;
  }
  if (d->Class == ObjectClass::Drive) {
    if (d->Drive().DeviceSize == 0) return;  // not ready: no row
    const bool used = st.DriveColumns == "Used";
    if (!st.ColumnsSet) {
      SetLayout(ex, used ? Layout::DrivesUsed : Layout::DrivesFree);
      st.ColumnsSet = true;
      st.SuffixSort = st.PaddedSizeSort = false;
      if (d->Parent) SetPath(b.P, d->Parent->Path());
    }
    const double shown = used ? d->Space(allocated) : d->Drive().FreeSpace;
    row.SubItems = {SizeText(d->Drive().DeviceSize), SizeText(shown),
                    PercentText(ShareOf(shown, d->Drive().DeviceSize))};
    if (!used) st.DriveColumns = "Free";
    b.Batch.Add(std::move(row), d->Drive().DeviceSize, false);
    return;
  }
  if (d->Class != ObjectClass::Folder && d->Class != ObjectClass::Folder100) return;
  if (!st.ColumnsSet) {
    SetLayout(ex, d->RootDirectory ? Layout::DriveContents : Layout::FolderContents);
    st.ColumnsSet = true;
    if (d->Parent) SetPath(b.P, d->Parent->Path());
  }
  const double s = d->Space(allocated);
  double fraction = 0;
  if (s != 0 && d->Parent)
    fraction = d->Parent->Class == ObjectClass::Drive ? ShareOf(s, d->Parent->Drive().DeviceSize)
                                                      : ShareOf(s, d->Parent->Space(allocated));
  row.SubItems = {SizeText(s), PercentText(fraction), BarText(fraction)};
  // The folders of one listing are of one drive: the table is asked for once.
  if (!b.Mounts) b.Mounts = CrossedMountTable(DriveOf(d));
  if (!b.Mounts->empty()) row.FileSystem = MountedFileSystem(*b.Mounts, d->Path());
  if (st.SuffixSort) row.Text += 'A';
  b.Batch.Add(std::move(row), s, st.SuffixSort);
}

// The request common to both file listings of folder d.
void PrepareRead(Build& b, const DiskObject& d, double parentSpace, std::int32_t unit) {
  b.ReadFiles = true;
  b.Request.VolumeRoot = VolumeRootOf(&d);
  b.Request.ParentSpace = parentSpace;
  b.Request.Allocated = b.P.Toggles().Allocated;
  b.Request.AllocationUnit = unit;
  b.Request.SuffixSort = b.P.Listing().SuffixSort;
}

// The date a saved scan gave the file of a largest-files entry, found through its folder.
void SavedScanTime(const DiskObject& drive, LargestEntry& e) {
  const FolderList* folders = drive.DiskObjectsIfAny();
  if (!folders) return;
  const SplitPath where = SplitLastName(e.Name);
  const DiskObject* folder = folders->Find(where.Folder);
  if (!folder) return;
  drive.Drive().Files->ForEach(folder->FilesAt, [&](const StoredEntry& f) {
    if (f.What != StoredEntry::Kind::File || f.Name != where.Name) return true;
    e.Time = f.Time;
    e.HasTime = f.HasTime;
    return false;
  });
}

void AddFiles3(Build& b, NodeId node) {
  if (Tracing()) Trace("frmMain.AddFiles3");
  DiskObject* d = ObjectOf(b.P.Explorer(), node);
  if (!d || d->Class != ObjectClass::Folder100) return;
  ListingState& st = b.P.Listing();
  SetPath(b.P, d->Path());
  st.CurrentClass = d->Class;
  if (!st.ColumnsSet) {
    SetLayout(b.P.Explorer(), Layout::FolderContents);
    st.ColumnsSet = true;
  }
  const DiskObject* r = d->Parent;
  const DiskObject* v = r ? r->Parent : nullptr;
  if (!r || !v) return;
  PrepareRead(b, *r, r->Space(b.P.Toggles().Allocated), r->Drive().AllocationUnit);
  b.Request.Largest = true;
  const bool saved = v->Drive().Files && v->Drive().Files->FromFile;
  if (saved) b.Request.Imported = v->Drive().Files;
  if (const FileObjectList* list = v->LargestFilesIfAny())
    for (const auto& f : *list) {
      b.Request.Entries.push_back({f->Name, f->Size, f->Allocated, f->key});
      if (saved) SavedScanTime(*v, b.Request.Entries.back());
    }
}

// The rows of the results folder, from its listing alone.
void AddListedFiles(Build& b, DiskObject& d) {
  ListingState& st = b.P.Listing();
  SetPath(b.P, std::string(kResultsFolderName) + ": " +
                   (d.Drive().Listed ? d.Drive().Listed->Criteria : std::string()));
  st.CurrentClass = d.Class;
  if (!st.ColumnsSet) {
    SetLayout(b.P.Explorer(), Layout::FolderContents);
    st.ColumnsSet = true;
  }
  if (!d.Drive().Listed) return;
  double space = 0;
  const bool allocated = b.P.Toggles().Allocated;
  for (const ListedFile& f : d.Drive().Listed->Files)
    if (!f.Gone) space += allocated ? f.Allocated : f.Size;
  PrepareRead(b, d, space, 1);
  b.Request.Listed = d.Drive().Listed;
  b.Request.ExpectedRows = d.Drive().Listed->Files.size();
}

// The entries of folder d that its drive's scan left out by a rule, each with the text of
// its rule.
std::vector<FileRowsRequest::ExcludedEntry> ExcludedEntries(const DiskObject& d) {
  std::vector<FileRowsRequest::ExcludedEntry> out;
  const DiskObject* drive = DriveOf(&d);
  if (!drive || !drive->Drive().Files || d.FilesAt == FileStore::kNone) return out;
  const std::vector<std::string>& lines = drive->Drive().ExcludeLines;
  std::vector<std::string> texts;  // the rules' texts, made once each
  drive->Drive().Files->ForEach(d.FilesAt, [&](const StoredEntry& e) {
    if (e.What != StoredEntry::Kind::Excluded) return;
    std::string rule;
    if (e.Reason >= 1 && e.Reason <= lines.size()) {
      if (texts.empty()) {
        texts.reserve(lines.size());
        for (const std::string& line : lines) {
          std::string error;
          const std::optional<ExcludeRule> r = ExcludeRule::Parse(line, error);
          texts.push_back(r ? ExcludeRuleText(*r) : line);
        }
      }
      rule = texts[e.Reason - 1];
    }
    out.push_back({std::string(e.Name), std::move(rule)});
  });
  return out;
}

// onlyExcluded: the files are not shown, only what the scan left out of a folder.
void AddFiles2(Build& b, NodeId node, bool onlyExcluded = false) {
  if (Tracing()) Trace("frmMain.AddFiles2");
  DiskObject* d = ObjectOf(b.P.Explorer(), node);
  if (!d || IsDriveClass(d->Class)) return;
  std::vector<FileRowsRequest::ExcludedEntry> excluded;
  if (d->Class == ObjectClass::Folder) excluded = ExcludedEntries(*d);
  if (onlyExcluded && excluded.empty()) return;
  if (d->Class == ObjectClass::Folder100) {
    AddFiles3(b, node);
    return;
  }
  if (d->Class == ObjectClass::Results) {
    AddListedFiles(b, *d);
    return;
  }
  // The root ("My Computer") names no folder: it has no file rows.
  if (d->Class != ObjectClass::Folder) return;
  ListingState& st = b.P.Listing();
  SetPath(b.P, d->Path());
  st.CurrentClass = ObjectClass::Folder;
  if (!st.ColumnsSet) {
    SetLayout(b.P.Explorer(), Layout::FolderContents);
    st.ColumnsSet = true;
  }
  const DiskObject* owner = DriveOf(d);
  PrepareRead(b, *d, d->Space(b.P.Toggles().Allocated), owner ? owner->Drive().AllocationUnit : 0);
  b.Request.FolderPath = d->Path();
  if (const DiskObject* drive = DriveOf(d)) b.Request.Links = drive->HardLinksIfAny();
  b.Request.Folder = d;
  if (const DiskObject* drive = DriveOf(d);
      drive && drive->Drive().Files && drive->Drive().Files->FromFile) {
    b.Request.Imported = drive->Drive().Files;
    b.Request.ImportedRun = d->FilesAt;
  }
  b.Request.ExpectedRows = static_cast<std::size_t>(std::max(d->fFileCount, 0));
  b.Request.Excluded = std::move(excluded);
  b.Request.OnlyExcluded = onlyExcluded;
}

std::string Count(std::int32_t n) { return std::to_string(n); }

void ListStatus(MainPresenter& p, const std::string& text) {
  p.Listing().StatusLine = text;
  p.SetStatus(text);
}

// Sorts, shows the rows in one piece, selects the first, and writes the status line (and
// the statistics rows of a scanned drive).
void FinishRows(MainPresenter& p, NodeId firstChild, NodeId parent, RowBatch batch, bool sorted) {
  ListingState& st = p.Listing();
  CExplorer& ex = p.Explorer();
  if (!sorted) SortListing(batch, st.SuffixSort, st.PaddedSizeSort);
  std::vector<ListRow> rows = std::move(batch.Rows);
  if (!rows.empty()) rows.front().Selected = true;

  const TreeNode* first = ex.Node(firstChild);
  if (first && first->Text == kPlaceholderText) {
    p.List().Assign(std::move(rows));
    ListStatus(p, "Click Scan button to scan the drive...");
    return;
  }
  const DiskObject* x = ObjectOf(ex, first ? firstChild : parent);
  if (first && x && x->RootDirectory) {
    std::vector<ListRow> stats = DriveStats(*x);
    rows.insert(rows.end(), std::make_move_iterator(stats.begin()),
                std::make_move_iterator(stats.end()));
  }
  p.List().Assign(std::move(rows));
  if (!x) return;
  const bool allocated = p.Toggles().Allocated;
  const DiskObject* up = x->Parent;
  if (x->Class == ObjectClass::Results) {
    ListStatus(p, x->Drive().Listed ? ListingStatus(*x->Drive().Listed, allocated)
                                    : std::string("0 files"));
  } else if (!up || up->Class == ObjectClass::Root) {
    ListStatus(p, p.DiskList() ? ComputerStatus(*p.DiskList()) : ComputerStatus({}));
  } else if (IsDriveClass(up->Class)) {
    ListStatus(p, Count(x->FolderCount) + " folders, " + Count(x->FileCount) + " files for " +
                      SizeText(x->Space(allocated)));
  } else if (const DiskObject* pr = ObjectOf(ex, parent)) {
    ListStatus(p, Count(pr->fFolderCount) + " folders, " + Count(pr->fFileCount) + " files for " +
                      SizeText(allocated ? pr->fAllocatedSpace : pr->fUsedSpace));
  }
}

// The listing shown, and the map following it.
void Finish(MainPresenter& p, NodeId firstChild, NodeId parent, RowBatch batch, bool sorted) {
  FinishRows(p, firstChild, parent, std::move(batch), sorted);
  UpdateTreemap(p);
}

}  // namespace

void SetListView(MainPresenter& p, NodeId firstChild, NodeId parentNode) {
  CExplorer& ex = p.Explorer();
  ListingState& st = p.Listing();
  const TreeNode* parent = ex.Node(parentNode);
  if (!parent || !ex.LV()) return;
  // Any listing still being read is superseded by this one.
  const std::uint64_t generation = ++st.Generation;
  st.Newest->store(generation, std::memory_order_relaxed);
  p.SetListingPending(false);

  ex.ClearItems();
  ClearTreemap(p);
  UpdateTypesPane(p);
  if (st.ChartShown) p.View().HidePieChart();
  st.ChartShown = false;
  p.List().Visible = true;

  DiskObject* parentObj = ObjectOf(ex, parentNode);
  // A saved scan's folders are never looked for on this computer, whatever their paths.
  if (parentObj && !IsImported(parentObj)) {
    if (auto open = RecycleFolderRequest(parent->Text, *parentObj, ::getuid(), HomeTrashPath())) {
      p.View().ShellOpen(open->Path, open->TrashView);
      return;
    }
  }

  Build b{p, firstChild, parentNode, {}, false, {}, {}};
  st.ColumnsSet = false;
  st.Columns.NewListing();
  if (ex.Exists(firstChild)) {
    const std::vector<NodeId>& kids = parent->Kids;
    std::size_t i = 0;
    while (i < kids.size() && kids[i] != firstChild) ++i;
    if (i == kids.size()) {
      AddListViewItem(b, firstChild);  // not a child of parentNode: that one row alone
    } else {
      b.Batch.Rows.reserve(kids.size() - i);
      for (; i < kids.size(); ++i) AddListViewItem(b, kids[i]);
    }
  }
  if (firstChild == kNoNode || p.Toggles().ShowFiles)
    AddFiles2(b, parentNode);
  else
    AddFiles2(b, parentNode, true);  // what a rule left out is listed beside the folders
  // While comparing with an earlier scan: the Change columns and the rows of what went.
  const std::shared_ptr<const ChangeJob> changes = PrepareChanges(p, parentNode, b.ReadFiles);

  if (!b.ReadFiles) {
    if (changes) ApplyChanges(b.Batch, *changes, st.SuffixSort);
    Finish(p, firstChild, parentNode, std::move(b.Batch), false);
    return;
  }
  const std::shared_ptr<WindowQueue> queue = p.Queue();
  if (!queue->Connected()) {
    b.Batch.Append(ReadFileRows(b.Request));
    if (changes) ApplyChanges(b.Batch, *changes, st.SuffixSort);
    Finish(p, firstChild, parentNode, std::move(b.Batch), false);
    return;
  }
  // Read on a worker, so that a slow or dead file server never freezes the window. The
  // worker owns copies of everything it reads and reaches the presenter only through a task
  // posted to the window thread, which drops the rows unless this is still the newest
  // listing of the same node.
  p.SetListingPending(true);
  const std::shared_ptr<std::atomic<std::uint64_t>> newest = st.Newest;
  b.Request.Current = newest.get();
  b.Request.Generation = generation;
  MainPresenter* presenter = &p;
  const bool suffixSort = st.SuffixSort, sizeSort = st.PaddedSizeSort;
  struct Job {
    FileRowsRequest Request;
    RowBatch Batch;
  };
  auto job = std::make_shared<Job>(Job{std::move(b.Request), std::move(b.Batch)});
  auto work = [queue, newest, presenter, generation, firstChild, parentNode, parentObj, suffixSort,
               sizeSort, job, changes] {
    RowBatch batch = std::move(job->Batch);
    batch.Append(ReadFileRows(job->Request));
    if (changes) ApplyChanges(batch, *changes, suffixSort);
    // Sorted here too, so that the window thread only shows the rows.
    SortListing(batch, suffixSort, sizeSort);
    if (newest->load(std::memory_order_relaxed) != generation) return;
    queue->Post([presenter, generation, firstChild, parentNode, parentObj,
                 batch = std::move(batch)]() mutable {
      if (presenter->Listing().Generation != generation) return;
      presenter->SetListingPending(false);
      if (ObjectOf(presenter->Explorer(), parentNode) != parentObj) return;
      Finish(*presenter, firstChild, parentNode, std::move(batch), true);
    });
  };
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    // No thread to be had: read here, as without a window.
    p.SetListingPending(false);
    RowBatch batch = std::move(job->Batch);
    batch.Append(ReadFileRows(job->Request));
    if (changes) ApplyChanges(batch, *changes, suffixSort);
    Finish(p, firstChild, parentNode, std::move(batch), false);
  }
}

void CancelListing(MainPresenter& p) {
  ListingState& st = p.Listing();
  st.Newest->store(++st.Generation, std::memory_order_relaxed);
  p.SetListingPending(false);
  p.Explorer().ClearItems();
  ClearTreemap(p);
}

std::string ComputerStatus(const DiskCollection& disks) {
  std::size_t volumes = 0, folders = 0, saved = 0;
  for (std::size_t i = 1; i <= disks.Count(); ++i) {
    const DiskObject& d = *disks.Item(i);
    if (d.Class == ObjectClass::Import)
      ++saved;
    else if (d.Class == ObjectClass::Drive)
      ++(d.Drive().FolderEntry ? folders : volumes);
  }
  std::string text;
  auto part = [&text](std::size_t n, const char* one, const char* many) {
    if (n == 0) return;
    if (!text.empty()) text += ", ";
    text += std::to_string(n) + " " + (n == 1 ? one : many);
  };
  part(volumes, "disk volume", "disk volumes");
  part(folders, "folder", "folders");
  part(saved, "saved scan", "saved scans");
  return text.empty() ? "0 disk volumes" : text;
}

void Relist(MainPresenter& p) {
  const NodeId selected = p.SelectedNode();
  p.Explorer().FetchChildren(selected);
  const TreeNode* n = p.Explorer().Node(selected);
  if (!n) return;
  p.Listing().FirstChildNode = n->Kids.empty() ? kNoNode : n->Kids.front();
  SetListView(p, p.Listing().FirstChildNode, selected);
}

}  // namespace kestrum
