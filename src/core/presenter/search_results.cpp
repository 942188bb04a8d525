#include "core/presenter/search_results.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "core/presenter/main_presenter.h"
#include "core/presenter/navigation.h"
#include "core/query/search_values.h"
#include "core/rows/list_cells.h"
#include "core/scan/scanning.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A type as the form gives it: a category by its name, else a key (lowercased, no dot).
void TypeOf(const std::string& text, SearchCriteria& c) {
  if (text.empty()) return;
  for (std::size_t i = 0; i < kFileCategories; ++i) {
    const auto category = static_cast<FileCategory>(i);
    if (text == CategoryName(category)) {
      c.Category = category;
      return;
    }
  }
  std::string key = text.front() == '.' ? text.substr(1) : text;
  for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  c.TypeKey = std::move(key);
}

bool IsCategory(const std::string& text) {
  for (std::size_t i = 0; i < kFileCategories; ++i)
    if (text == CategoryName(static_cast<FileCategory>(i))) return true;
  return false;
}

std::string Where(const std::string& where) {
  return where.empty() ? "everywhere" : "in " + where;
}

}  // namespace

std::optional<SearchCriteria> CriteriaOf(const SearchForm& form, std::string& error) {
  SearchCriteria c;
  if (!form.Name.empty()) {
    std::string why;
    c.Name = NameMatcher::Make(form.Name, form.Mode, form.CaseSensitive, why);
    if (!c.Name) {
      error = "The name pattern " + Quoted(form.Name) + " cannot be used: " + why;
      return std::nullopt;
    }
  }
  const auto size = [&error](const std::string& text, const char* what,
                             std::optional<std::uint64_t>& into) {
    if (text.empty()) return true;
    into = ParseByteCount(text);
    if (into) return true;
    error = std::string("The ") + what + " " + Quoted(text) +
            " is not a size: give a number of bytes, or one followed by k, M, G or T";
    return false;
  };
  const auto date = [&error](const std::string& text, const char* what,
                             std::optional<std::int64_t>& into) {
    if (text.empty()) return true;
    into = ParseTimeText(text);
    if (into) return true;
    error = std::string("The ") + what + " " + Quoted(text) +
            " is not a date: give YYYY-MM-DD, or a time such as 2024-05-01T14:30";
    return false;
  };
  if (!size(form.MinSize, "smallest size", c.MinSize) ||
      !size(form.MaxSize, "largest size", c.MaxSize) ||
      !date(form.ModifiedAfter, "date \"modified after\"", c.ModifiedAfter) ||
      !date(form.ModifiedBefore, "date \"modified before\"", c.ModifiedBefore))
    return std::nullopt;
  if (c.MinSize && c.MaxSize && *c.MinSize > *c.MaxSize) {
    error = "The smallest size is larger than the largest: no file can match";
    return std::nullopt;
  }
  if (c.ModifiedAfter && c.ModifiedBefore && *c.ModifiedAfter >= *c.ModifiedBefore) {
    error = "The date \"modified after\" is not before \"modified before\": no file can match";
    return std::nullopt;
  }
  TypeOf(form.Type, c);
  if (c.TypeKey && c.TypeKey->empty()) {
    error = "The type " + Quoted(form.Type) + " names no ending";
    return std::nullopt;
  }
  c.Limit = kListedBound;
  return c;
}

std::string DescribeSearch(const SearchForm& form, const std::string& where) {
  std::vector<std::string> parts;
  if (!form.Name.empty()) {
    using Mode = NameMatcher::Mode;
    const char* how = form.Mode == Mode::Plain      ? "name contains "
                      : form.Mode == Mode::Wildcard ? "name is like "
                                                    : "name matches ";
    parts.push_back(how + Quoted(form.Name) + (form.CaseSensitive ? " (case as typed)" : ""));
  }
  if (const auto n = ParseByteCount(form.MinSize)) parts.push_back("at least " + SizeText(*n));
  if (const auto n = ParseByteCount(form.MaxSize)) parts.push_back("at most " + SizeText(*n));
  if (!form.ModifiedAfter.empty()) parts.push_back("modified after " + form.ModifiedAfter);
  if (!form.ModifiedBefore.empty()) parts.push_back("modified before " + form.ModifiedBefore);
  if (!form.Type.empty()) {
    std::string key = form.Type.front() == '.' ? form.Type.substr(1) : form.Type;
    parts.push_back(IsCategory(form.Type) ? "type " + form.Type : "ending ." + key);
  }
  if (parts.empty()) parts.push_back("every file");
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text + ", " + Where(where);
}

SearchCriteria QuickCriteria(QuickList list, std::uint64_t minSize) {
  SearchCriteria c;
  c.Limit = kListedBound;
  switch (list) {
    case QuickList::Newest:
    case QuickList::Oldest:
      c.Sort = list == QuickList::Newest ? SearchCriteria::Order::Newest
                                         : SearchCriteria::Order::Oldest;
      c.Limit = kQuickListBound;
      break;
    case QuickList::HardLinks:
      c.OnlyLinked = true;
      break;
    case QuickList::Sparse:
      c.OnlySparse = true;
      break;
    case QuickList::Larger:
      c.MinSize = minSize;
      break;
  }
  return c;
}

std::string DescribeQuickList(QuickList list, std::uint64_t minSize, const std::string& where) {
  std::string what;
  switch (list) {
    case QuickList::Newest:
      what = "the " + std::to_string(kQuickListBound) + " newest files";
      break;
    case QuickList::Oldest:
      what = "the " + std::to_string(kQuickListBound) + " oldest files";
      break;
    case QuickList::HardLinks:
      what = "files with more than one name (hard links)";
      break;
    case QuickList::Sparse:
      what = "files holding less space than their size (sparse or compressed)";
      break;
    case QuickList::Larger:
      what = "files of at least " + SizeText(static_cast<double>(minSize));
      break;
  }
  return what + ", " + Where(where);
}

namespace {

ListedFile Listed(const FoundFile& f, std::uint32_t drive) {
  ListedFile l;
  l.Path = f.Path;
  l.Size = static_cast<double>(f.Size);
  l.Allocated = static_cast<double>(f.Allocated);
  l.Time = f.Time;
  l.HasTime = f.HasTime;
  l.Drive = drive;
  return l;
}

}  // namespace

FileListing MakeListing(const SearchResult& result, std::string criteria, ListedOrder order) {
  FileListing out;
  out.Criteria = std::move(criteria);
  out.Order = order;
  out.Stopped = result.Stopped;
  out.Matched = result.Matched;
  out.MatchedBytes = result.MatchedBytes;
  out.MatchedAllocated = result.MatchedAllocated;
  out.Files.reserve(result.Files.size());
  std::unordered_map<const DiskObject*, std::uint32_t> drives;
  // Files of one folder come together: its drive is looked up once for them.
  const DiskObject* lastFolder = nullptr;
  std::uint32_t lastDrive = 0;
  for (const FoundFile& f : result.Files) {
    if (f.Folder == lastFolder && lastFolder) {
      out.Files.push_back(Listed(f, lastDrive));
      continue;
    }
    const DiskObject* drive = DriveOf(f.Folder);
    auto [at, added] = drives.try_emplace(drive, static_cast<std::uint32_t>(out.Drives.size()));
    lastFolder = f.Folder;
    lastDrive = at->second;
    if (added) {
      ListedDrive d;
      if (drive) {
        d.Key = drive->OwnPath();
        d.VolumeRoot = VolumeRootOf(drive);
        d.Saved = IsImported(drive);
      } else {
        d.Saved = true;  // no drive to act through: treated as nothing on this computer
      }
      out.Drives.push_back(std::move(d));
    }
    out.Files.push_back(Listed(f, at->second));
  }
  return out;
}

std::string ListingStatus(const FileListing& listing, bool allocated) {
  std::size_t count = 0, gone = 0;
  double bytes = 0;
  for (const ListedFile& f : listing.Files) {
    if (f.Gone) {
      ++gone;
      continue;
    }
    ++count;
    bytes += allocated ? f.Allocated : f.Size;
  }
  std::string text = std::to_string(count) + (count == 1 ? " file for " : " files for ") +
                     SizeText(bytes);
  if (listing.Matched > listing.Files.size()) {
    text += listing.Order == ListedOrder::BySize ? " (the largest " : " (the first ";
    text += std::to_string(listing.Files.size()) + " of " + std::to_string(listing.Matched) +
            " files found, " +
            SizeText(allocated ? listing.MatchedAllocated : listing.MatchedBytes) + " in all)";
  }
  if (gone > 0) text += "; " + std::to_string(gone) + " deleted or trashed since";
  if (listing.Stopped) text = "Search stopped: " + text;
  return text;
}

DiskObject& ResultsFolder(MainPresenter& p) {
  std::unique_ptr<DiskObject>& results = p.Results();
  if (!results) {
    results = std::make_unique<DiskObject>();
    results->Class = ObjectClass::Results;
    results->Name = kResultsFolderName;
    results->SetPath(kResultsFolderName);
    results->DriveForChange().Listed = std::make_shared<FileListing>();
  }
  KeepResultsLast(p);
  return *results;
}

void KeepResultsLast(MainPresenter& p) {
  DiskObject* results = p.Results().get();
  DiskCollection* disks = p.DiskList();
  if (!results || !disks || disks->Count() == 0) return;
  DiskObject* root = disks->Item(1);
  results->Parent = root;
  CExplorer& ex = p.Explorer();
  const TreeNode* top = ex.Node(root->Node);
  if (!top) return;
  if (ex.Exists(results->Node) && ex.Node(results->Node)->Parent == root->Node &&
      !top->Kids.empty() && top->Kids.back() == results->Node)
    return;
  const bool selected = ex.Exists(results->Node) && ex.SelectedItem() == results->Node;
  if (ex.Exists(results->Node) && ObjectOf(ex, results->Node) == results)
    ex.RemoveNode(results->Node);
  results->Node = ex.AddNode(results->Label(), results, false, root->Node,
                             results->ClosedIcon(), results->OpenIcon(), false);
  if (selected) {
    ex.SetSelectedItem(results->Node);
    p.SetSelectedNode(results->Node);
    p.View().SelectNode(results->Node);
  }
}

const DiskObject* SearchStart(MainPresenter& p) {
  const DiskObject* d = ObjectOf(p.Explorer(), p.Explorer().SelectedItem());
  if (!d) return nullptr;
  if (d->Class == ObjectClass::Folder) return DriveOf(d) ? d : nullptr;
  if (IsDriveClass(d->Class)) {
    const FolderList* folders = d->DiskObjectsIfAny();
    return folders && !folders->Empty() ? d : nullptr;
  }
  return nullptr;
}

namespace {

// The path a search start is named by in the dialog and the path label.
std::string StartPath(const DiskObject* start) {
  if (!start) return {};
  if (IsDriveClass(start->Class)) {
    const FolderList* folders = start->DiskObjectsIfAny();
    if (start->Class == ObjectClass::Import) return start->Label();
    return folders && !folders->Empty() ? folders->Item(1)->Path() : start->Path();
  }
  return start->Path();
}

// Shows what the results folder now lists: selected in the tree and listed, by size or in
// the order found.
void ShowResults(MainPresenter& p, std::shared_ptr<const FileListing> listing) {
  DiskObject& results = ResultsFolder(p);
  const ListedOrder order = listing->Order;
  std::shared_ptr<const FileListing> old = std::move(results.DriveForChange().Listed);
  results.DriveForChange().Listed = std::move(listing);
  // A listing of many files takes a while to free: not on the window thread.
  if (old && old.use_count() == 1 && old->Files.size() > 20000) {
    try {
      std::thread([gone = std::move(old)]() mutable { gone.reset(); }).detach();
    } catch (const std::system_error&) {
    }
  }
  ListingState& st = p.Listing();
  st.SuffixSort = false;
  st.PaddedSizeSort = order == ListedOrder::BySize;
  GoIntoNode(p, results.Node);
}

}  // namespace

void StartSearch(MainPresenter& p, SearchCriteria criteria, const DiskObject* start,
                 std::string description, ListedOrder order) {
  if (p.Refused(Guard::Busy, false) || !p.DiskList() || !p.Slot().Acquire()) {
    p.SetStatus("A command is still running: nothing is searched");
    return;
  }
  if (Tracing()) Trace("frmMain.StartSearch(" + description + ")");
  CommandSlot& slot = p.Slot();
  slot.Join();
  SearchScope scope = start ? SearchScope{start} : EveryDrive(*p.DiskList());
  auto progress = std::make_shared<SearchProgress>();
  slot.Progress = [progress] {
    return "Searching: " + std::to_string(progress->Matched.load()) + " files found";
  };
  p.SetProgressTimer(true);
  p.SetStatus("Searching...");
  p.SetTreeEnabled(false);
  Scanning = true;
  MainPresenter* presenter = &p;
  // The slot is held: nothing changes the drives' folders or stores while the worker reads.
  slot.Run([presenter, &slot, scope = std::move(scope), criteria = std::move(criteria),
            description = std::move(description), order, progress] {
    SearchResult result = SearchFiles(scope, criteria, &Scanning, false, progress.get());
    auto listing =
        std::make_shared<const FileListing>(MakeListing(result, std::move(description), order));
    slot.Post([presenter, &slot, listing] {
      Scanning = false;
      presenter->SetProgressTimer(false);
      presenter->SetTreeEnabled(true);
      slot.Progress = nullptr;
      slot.Release();
      ShowResults(*presenter, listing);
    });
  });
}

void FindFiles(MainPresenter& p) {
  if (p.Refused(Guard::Busy)) return;
  const DiskObject* start = SearchStart(p);
  SearchForm form = p.LastSearch;
  if (!start) form.Everywhere = true;
  const auto check = [](const SearchForm& f) {
    std::string error;
    return CriteriaOf(f, error) ? std::string() : error;
  };
  if (!p.View().AskSearch(form, StartPath(start), check)) return;
  std::string error;
  std::optional<SearchCriteria> criteria = CriteriaOf(form, error);
  if (!criteria) {
    p.ShowMessage(error);
    return;
  }
  p.LastSearch = form;
  if (form.Everywhere) start = nullptr;
  StartSearch(p, std::move(*criteria), start, DescribeSearch(form, StartPath(start)),
              ListedOrder::BySize);
}

void RunQuickList(MainPresenter& p, QuickList list) {
  if (p.Refused(Guard::Busy)) return;
  std::uint64_t minSize = 0;
  if (list == QuickList::Larger) {
    std::string text = p.LastLargerThan;
    const auto check = [](const std::string& t) {
      return ParseByteCount(t) ? std::string()
                               : "\"" + t + "\" is not a size: give a number of bytes, or one "
                                            "followed by k, M, G or T";
    };
    if (!p.View().AskSize(text, check)) return;
    const auto n = ParseByteCount(text);
    if (!n) {
      p.ShowMessage(check(text));
      return;
    }
    p.LastLargerThan = text;
    minSize = *n;
  }
  const DiskObject* start = SearchStart(p);
  const bool timed = list == QuickList::Newest || list == QuickList::Oldest;
  StartSearch(p, QuickCriteria(list, minSize), start,
              DescribeQuickList(list, minSize, StartPath(start)),
              timed ? ListedOrder::AsFound : ListedOrder::BySize);
}

}  // namespace kestrum
