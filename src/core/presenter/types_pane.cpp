#include "core/presenter/types_pane.h"

#include <chrono>

#include "core/presenter/main_presenter.h"
#include "core/presenter/search_results.h"
#include "core/presenter/treemap_pane.h"
#include "core/tree/disk_model.h"

namespace kestrum {

namespace {

// How a key is shown: an ending with its dot, a whole name as it is.
std::string KeyText(const std::string& key, FileCategory category) {
  if (key.empty()) return category == FileCategory::Programs ? "(programs)" : "(no type)";
  for (const char c : key)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.')) return key;
  return "." + key;
}

// What the pane counts for the object listed: a folder of a scan, or a scanned drive, entry
// or saved scan whole; null for anything else.
const DiskObject* Countable(const DiskObject* d) {
  if (!d) return nullptr;
  const DiskObject* drive = IsDriveClass(d->Class) ? d : DriveOf(d);
  if (!drive || (d != drive && d->Class != ObjectClass::Folder)) return nullptr;
  const FolderList* folders = drive->DiskObjectsIfAny();
  return folders && !folders->Empty() ? d : nullptr;
}

void Changed(MainPresenter& p) { p.View().TypesChanged(); }

}  // namespace

std::vector<TypeRow> TypeRows(const TypeCounts& counts, bool allocated) {
  std::vector<TypeRow> rows;
  const double total = static_cast<double>(allocated ? counts.Allocated : counts.Bytes);
  const auto share = [total](double size) { return total > 0 ? size / total : 0.0; };
  for (const CategoryTotals& c : counts.Categories) {
    TypeRow row;
    row.IsCategory = true;
    row.Category = c.Category;
    row.Text = std::string(CategoryName(c.Category));
    row.Files = c.Files;
    row.Size = static_cast<double>(allocated ? c.Allocated : c.Bytes);
    row.Share = share(row.Size);
    row.Largest = c.LargestPath;
    rows.push_back(std::move(row));
    for (const TypeTotals& t : c.Keys) {
      TypeRow key;
      key.Category = c.Category;
      key.Key = t.Key;
      key.Text = KeyText(t.Key, c.Category);
      key.Mime = t.Mime;
      key.Files = t.Files;
      key.Size = static_cast<double>(allocated ? t.Allocated : t.Bytes);
      key.Share = share(key.Size);
      key.Largest = t.LargestPath;
      rows.push_back(std::move(key));
    }
  }
  return rows;
}

void SetTypesShown(MainPresenter& p, bool shown) {
  TypesPane& pane = p.TypesPaneState();
  pane.Shown = shown;
  if (shown) {
    UpdateTypesPane(p);
    return;
  }
  ++pane.Generation;
  pane.Counter.reset();
  pane.Counts.reset();
  MarkTypeOnMap(p, nullptr);
  Changed(p);
}

void UpdateTypesPane(MainPresenter& p) {
  TypesPane& pane = p.TypesPaneState();
  if (!pane.Shown) return;
  const std::uint64_t generation = ++pane.Generation;
  pane.Counts.reset();
  pane.Counter.reset();
  pane.Node = p.SelectedNode();
  pane.Folder = Countable(ObjectOf(p.Explorer(), pane.Node));
  if (!pane.Folder) {
    pane.Message = "Nothing scanned is selected: select a scanned folder, drive or saved scan in "
                   "the tree to see its files by type.";
    Changed(p);
    return;
  }
  const DiskObject* drive = IsDriveClass(pane.Folder->Class) ? pane.Folder : DriveOf(pane.Folder);
  if (!drive->Drive().Files) {
    pane.Folder = nullptr;
    pane.Message = "This scan kept no files: scan it again to see its files by type.";
    Changed(p);
    return;
  }
  pane.Message = "Counting...";
  pane.Counter = std::make_unique<TypeCounter>(*pane.Folder);
  Changed(p);
  StepTypesPane(p, generation);
}

void StepTypesPane(MainPresenter& p, std::uint64_t generation) {
  TypesPane& pane = p.TypesPaneState();
  if (generation != pane.Generation || !pane.Counter) return;
  const bool queued = p.Queue()->Connected();
  const auto post = [&p, generation] {
    MainPresenter* presenter = &p;
    return p.Queue()->Post([presenter, generation] { StepTypesPane(*presenter, generation); });
  };
  // A command holding the slot may change the model: wait for it; its end lists anew, which
  // starts the count again.
  if (p.Slot().Busy()) {
    if (!queued) return;
    pane.Counter.reset();
    return;
  }
  if (ObjectOf(p.Explorer(), pane.Node) != pane.Folder) {
    pane.Counter.reset();
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::microseconds(static_cast<long>(pane.StepBudgetMs * 1000));
  bool done = false;
  // Folders hold a few files on average; a step of 16 folders keeps each look at the clock
  // cheap and the overrun of the budget small even for folders of many files.
  while (!(done = pane.Counter->Step(pane.Types, pane.StepFolders)))
    if (queued && Clock::now() >= until) break;
  if (!done) {
    if (!post()) pane.Counter.reset();
    return;
  }
  pane.Counts = std::make_shared<const TypeCounts>(pane.Counter->Result(pane.Types));
  pane.Counter.reset();
  pane.Message = pane.Counts->Files == 0 ? "No files were found here." : "";
  Changed(p);
}

void MarkTypeOnMap(MainPresenter& p, const TypeRow* row) {
  MapTypeMark mark;
  if (row && row->IsCategory) {
    mark.What = MapTypeMark::By::Category;
    mark.Category = row->Category;
  } else if (row) {
    mark.What = MapTypeMark::By::Key;
    mark.Key = row->Key;
  }
  SetMapHighlightType(p, mark);
}

void ListFilesOfType(MainPresenter& p, const TypeRow& row) {
  const TypesPane& pane = p.TypesPaneState();
  if (!pane.Folder || ObjectOf(p.Explorer(), pane.Node) != pane.Folder) return;
  SearchCriteria criteria;
  criteria.Limit = kListedBound;
  if (row.IsCategory)
    criteria.Category = row.Category;
  else
    criteria.TypeKey = row.Key;
  std::string where = pane.Folder->Class == ObjectClass::Import ? pane.Folder->Label()
                                                               : pane.Folder->Path();
  if (IsDriveClass(pane.Folder->Class) && pane.Folder->Class != ObjectClass::Import)
    if (const FolderList* f = pane.Folder->DiskObjectsIfAny(); f && !f->Empty())
      where = f->Item(1)->Path();
  const std::string what = row.IsCategory ? "type " + row.Text : "type " + row.Text + " (" +
                                                                     std::string(CategoryName(row.Category)) + ")";
  // Programs without a known type and files of none share the key "": the category keeps
  // them apart.
  if (!row.IsCategory && row.Key.empty()) criteria.Category = row.Category;
  StartSearch(p, std::move(criteria), pane.Folder, what + ", in " + where, ListedOrder::BySize);
}

}  // namespace kestrum
