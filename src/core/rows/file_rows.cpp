#include "core/rows/file_rows.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/adapter/row_tags.h"
#include "core/scan/dirent_records.h"
#include "core/scan/scan.h"
#include "core/platform/open_folder.h"
#include "core/rows/list_cells.h"

namespace kestrum {

namespace {

constexpr std::size_t kReadBuffer = 256 * 1024;
// Folders with fewer names are read by one thread.
constexpr std::size_t kNamesPerThread = 20000;

// Dates of one listing: files written together share their time, and formatting a time in
// the locale costs more than the rest of a row.
class DateTexts {
 public:
  const std::string& Of(std::time_t t) {
    if (!valid_ || t != last_) {
      text_ = DateText(t);
      last_ = t;
      valid_ = true;
    }
    return text_;
  }

 private:
  bool valid_ = false;
  std::time_t last_ = 0;
  std::string text_;
};

ListRow FileRow(std::string text, const std::string& key, double size, std::time_t mtime,
                const FileRowsRequest& rq, DateTexts& dates, bool elsewhere = false) {
  const double fraction = elsewhere ? 0 : ShareOf(size, rq.ParentSpace);
  ListRow row;
  row.Text = std::move(text);
  row.Key = key;
  row.Icon = row.SmallIcon = "File";
  row.SubItems.reserve(4);
  row.SubItems.push_back(SizeText(size));
  row.SubItems.push_back(PercentText(fraction));
  row.SubItems.push_back(BarText(fraction));
  row.SubItems.push_back(dates.Of(mtime));
  row.Tag = FileTag(size);
  row.CountedElsewhere = elsewhere;
  return row;
}

ListRow ExcludedRow(std::string text, const std::string& rule, const std::string& date,
                    bool folder) {
  ListRow row;
  row.Text = std::move(text);
  row.Icon = row.SmallIcon = folder ? "ClosedFolder" : "File";
  row.SubItems = {ExcludedCell(rule), std::string(), BarText(0), date};
  row.Tag = FileTag(0);
  row.Excluded = true;
  row.ExcludedFolder = folder;
  return row;
}

using ExcludedNames = std::unordered_map<std::string_view, const std::string*>;

ExcludedNames NamesOf(const FileRowsRequest& rq) {
  ExcludedNames names;
  for (const FileRowsRequest::ExcludedEntry& e : rq.Excluded) names.emplace(e.Name, &e.Rule);
  return names;
}

// A name of a file with several names whose bytes this folder counts at its first name met in
// the listing: which rows those are is settled once the pieces are joined, in listing order.
struct CountedHere {
  std::size_t Row;  // in the piece
  FileId Id;
};

// Whether a name of a file with several names counts in the listed folder: no when the table
// says another folder counted it; here when this folder did (the first such name counts).
enum class LinkPlace { Counts, Elsewhere, Here };
LinkPlace PlaceOf(const struct stat& st, const FileRowsRequest& rq) {
  if (st.st_nlink < 2 || !rq.Links) return LinkPlace::Counts;
  const HardLinkTable::Entry* e = rq.Links->Find(FileId{st.st_dev, st.st_ino});
  if (!e) return LinkPlace::Counts;  // linked since the scan: it counts where it is
  return e->Folder == rq.Folder ? LinkPlace::Here : LinkPlace::Elsewhere;
}

bool Superseded(const FileRowsRequest& rq) {
  return rq.Current && rq.Current->load(std::memory_order_relaxed) != rq.Generation;
}

// The rows of the names in [first, last) of a folder's listing (each name ending in NUL).
void StatNames(int fd, const std::vector<const char*>& names, std::size_t first, std::size_t last,
               const FileRowsRequest& rq, const ExcludedNames& excluded, RowBatch& out,
               std::vector<CountedHere>& here) {
  DateTexts dates;
  out.Rows.reserve(last - first);
  out.Sizes.reserve(last - first);
  out.Suffixed.reserve(last - first);
  for (std::size_t i = first; i < last; ++i) {
    if (((i - first) & 4095) == 4095 && Superseded(rq)) return;
    const char* name = names[i];
    struct stat st {};
    if (DirectoryReader::LStatAt(fd, name, st) != 0) continue;  // vanished
    if (!excluded.empty())
      if (const auto x = excluded.find(name);
          x != excluded.end() && (!rq.OnlyExcluded || S_ISDIR(st.st_mode))) {
        std::string text(name);
        if (rq.SuffixSort) text += S_ISDIR(st.st_mode) ? 'A' : 'B';
        out.Add(ExcludedRow(std::move(text), *x->second, dates.Of(st.st_mtime),
                            S_ISDIR(st.st_mode)),
                0, rq.SuffixSort);
        continue;
      }
    if (rq.OnlyExcluded || !CountsAsFile(st.st_mode, name)) continue;
    const auto bytes = static_cast<double>(st.st_size);
    // "Show Allocated Space" shows the space the file holds, as the scan counts it.
    const double size =
        rq.Allocated ? FileAllocated(st.st_blocks, bytes, rq.AllocationUnit) : bytes;
    std::string text(name);
    if (rq.SuffixSort) text += 'B';
    const LinkPlace place = PlaceOf(st, rq);
    if (place == LinkPlace::Here) here.push_back({out.Count(), FileId{st.st_dev, st.st_ino}});
    out.Add(
        FileRow(std::move(text), {}, size, st.st_mtime, rq, dates, place == LinkPlace::Elsewhere),
        size, rq.SuffixSort);
  }
}

void ReadFolder(const FileRowsRequest& rq, RowBatch& out) {
  OpenedFolder folder = OpenFolderBelow(rq.VolumeRoot, rq.FolderPath);
  if (!folder.Fd) return;
  const int fd = folder.Fd.Get();
  // First the names (those whose type may be a regular file), then one stat each.
  std::vector<std::unique_ptr<char[]>> buffers;
  std::vector<const char*> names;
  names.reserve(rq.ExpectedRows);
  const ExcludedNames excluded = NamesOf(rq);
  for (;;) {
    auto buffer = std::make_unique<char[]>(kReadBuffer);
    const long n = ::syscall(SYS_getdents64, fd, buffer.get(), kReadBuffer);
    if (n <= 0) break;  // end, or the folder became unreadable: the names read so far stand
    ForEachDirent(buffer.get(), n, [&](unsigned char type, const char* name) {
      // A type that already says "no regular file" needs no stat.
      if (((type == DT_REG || type == DT_UNKNOWN) && !rq.OnlyExcluded) ||
          (!excluded.empty() && excluded.count(name) > 0))
        names.push_back(name);
    });
    buffers.push_back(std::move(buffer));
    if (Superseded(rq)) return;
  }
  // The stats of a big folder are shared among a few threads on a machine with cores to
  // spare: each waits on the kernel for most of its time. Rows keep the folder's order.
  const std::size_t count = names.size();
  // On a machine of two cores a second reader only contends with the first (measured): the
  // helpers start from four cores, one per two cores, at most four in all.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::size_t parts = count < kNamesPerThread || cores < 4
                          ? 1
                          : std::min<std::size_t>({cores / 2, 4, count / kNamesPerThread});
  if (rq.Readers > 0) parts = std::max<std::size_t>(1, std::min<std::size_t>(rq.Readers, count));
  std::vector<RowBatch> pieces(parts);
  std::vector<std::vector<CountedHere>> here(parts);
  std::vector<std::thread> helpers;
  for (std::size_t k = 1; k < parts; ++k) {
    try {
      helpers.emplace_back(StatNames, fd, std::cref(names), count * k / parts,
                           count * (k + 1) / parts, std::cref(rq), std::cref(excluded),
                           std::ref(pieces[k]), std::ref(here[k]));
    } catch (const std::system_error&) {
      StatNames(fd, names, count * k / parts, count * (k + 1) / parts, rq, excluded, pieces[k],
                here[k]);
    }
  }
  StatNames(fd, names, 0, count / parts, rq, excluded, pieces[0], here[0]);
  for (std::thread& t : helpers) t.join();
  // Of the names of one file that this folder counted, the first in the listing counts.
  std::unordered_set<FileId, FileIdHash> counted;
  for (std::size_t k = 0; k < parts; ++k)
    for (const CountedHere& h : here[k])
      if (!counted.insert(h.Id).second) {
        ListRow& row = pieces[k].Rows[h.Row];
        row.CountedElsewhere = true;
        row.SubItems[1] = PercentText(0);
        row.SubItems[2] = BarText(0);
      }
  if (parts == 1) {
    out = std::move(pieces[0]);
    return;
  }
  for (RowBatch& piece : pieces) out.Append(std::move(piece));
}

// The rows of a saved scan's folder, from memory.
void ImportedRows(const FileRowsRequest& rq, RowBatch& out) {
  DateTexts dates;
  const std::string none;
  // What the saved scan left out is all it says of those entries: not even whether each is
  // a folder, so they are listed with the files.
  if (rq.OnlyExcluded) return;
  for (const FileRowsRequest::ExcludedEntry& e : rq.Excluded) {
    std::string text = e.Name;
    if (rq.SuffixSort) text += 'B';
    out.Add(ExcludedRow(std::move(text), e.Rule, none, false), 0, rq.SuffixSort);
  }
  rq.Imported->ForEach(rq.ImportedRun, [&](const StoredEntry& f) {
    if (f.What != StoredEntry::Kind::File) return;
    const double size = static_cast<double>(rq.Allocated ? f.Allocated : f.Size);
    std::string text(f.Name);
    if (rq.SuffixSort) text += 'B';
    ListRow row = FileRow(std::move(text), {}, size, static_cast<std::time_t>(f.Time), rq, dates);
    if (!f.HasTime) row.SubItems[3].clear();
    if (f.CountedElsewhere) {
      row.CountedElsewhere = true;
      row.SubItems[1] = PercentText(0);
      row.SubItems[2] = BarText(0);
    }
    out.Add(std::move(row), size, rq.SuffixSort);
  });
}

void ReadLargest(const FileRowsRequest& rq, RowBatch& out, DateTexts& dates) {
  for (const LargestEntry& e : rq.Entries) {
    std::time_t mtime = static_cast<std::time_t>(e.Time);
    const SplitPath where = SplitLastName(e.Name);
    if (rq.Imported) {
      // A saved scan's file: its date is the one the file gave, if any.
    } else if (OpenedFolder f = OpenFolderBelow(rq.VolumeRoot, where.Folder); f.Fd) {
      struct stat st {};
      if (::fstatat(f.Fd.Get(), where.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        mtime = st.st_mtime;
    }
    const double size = rq.Allocated ? e.Allocated : e.Size;
    std::string text = e.Name;
    if (rq.SuffixSort) text += 'A';
    ListRow row = FileRow(std::move(text), e.Key, size, mtime, rq, dates);
    if (rq.Imported && !e.HasTime) row.SubItems[3].clear();
    out.Add(std::move(row), size, rq.SuffixSort);
  }
}

void ListedRows(const FileRowsRequest& rq, RowBatch& out) {
  DateTexts dates;
  const FileListing& listing = *rq.Listed;
  out.Rows.reserve(listing.Files.size());
  out.Sizes.reserve(listing.Files.size());
  out.Suffixed.reserve(listing.Files.size());
  for (std::size_t i = 0; i < listing.Files.size(); ++i) {
    if ((i & 4095) == 4095 && Superseded(rq)) return;
    const ListedFile& f = listing.Files[i];
    if (f.Gone) continue;
    const double size = rq.Allocated ? f.Allocated : f.Size;
    std::string text = f.Path;
    if (rq.SuffixSort) text += 'A';
    ListRow row = FileRow(std::move(text), FileListing::KeyOf(i), size,
                          static_cast<std::time_t>(f.Time), rq, dates);
    if (!f.HasTime) row.SubItems[3].clear();
    out.Add(std::move(row), size, rq.SuffixSort);
  }
}

}  // namespace

std::string ExcludedCell(const std::string& rule) {
  return rule.empty() ? std::string("excluded") : "excluded: " + rule;
}

RowBatch ReadFileRows(const FileRowsRequest& rq) {
  RowBatch out;
  if (rq.Listed) {
    ListedRows(rq, out);
  } else if (rq.Largest) {
    DateTexts dates;
    out.Rows.reserve(rq.Entries.size());
    ReadLargest(rq, out, dates);
  } else if (rq.Imported) {
    ImportedRows(rq, out);
  } else {
    ReadFolder(rq, out);
  }
  return out;
}

}  // namespace kestrum
