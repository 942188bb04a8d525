#include "core/views/file_rows.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/model/dirent_records.h"
#include "core/model/scan.h"
#include "core/platform/open_folder.h"
#include "core/views/list_cells.h"
#include "core/views/row_tags.h"

namespace kestrum {

namespace {

constexpr std::size_t kReadBuffer = 256 * 1024;

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
                const FileRowsRequest& rq, DateTexts& dates) {
  const double fraction = ShareOf(size, rq.ParentSpace);
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
  return row;
}

bool Superseded(const FileRowsRequest& rq) {
  return rq.Current && rq.Current->load(std::memory_order_relaxed) != rq.Generation;
}

void ReadFolder(const FileRowsRequest& rq, RowBatch& out, DateTexts& dates) {
  OpenedFolder folder = OpenFolderBelow(rq.VolumeRoot, rq.FolderPath);
  if (!folder.Fd) return;
  const int fd = folder.Fd.Get();
  auto buffer = std::make_unique<char[]>(kReadBuffer);
  std::size_t seen = 0;
  bool stop = false;
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buffer.get(), kReadBuffer);
    if (n <= 0) break;  // end, or the folder became unreadable: the rows read so far stand
    ForEachDirent(buffer.get(), n, [&](unsigned char type, const char* name) {
      if (stop) return;
      if ((++seen & 4095) == 0 && Superseded(rq)) {
        stop = true;
        return;
      }
      // A type that already says "no regular file" needs no stat.
      if (type != DT_REG && type != DT_UNKNOWN) return;
      struct stat st {};
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // vanished
      if (!IsCountedFile(LinuxAttributes(st.st_mode, name))) return;
      const double size =
          ShownFileSize(static_cast<double>(st.st_size), rq.Allocated, rq.AllocationUnit);
      std::string text(name);
      if (rq.SuffixSort) text += 'B';
      out.Add(FileRow(std::move(text), {}, size, st.st_mtime, rq, dates), size, rq.SuffixSort);
    });
    if (stop) return;
  }
}

void ReadLargest(const FileRowsRequest& rq, RowBatch& out, DateTexts& dates) {
  for (const LargestEntry& e : rq.Entries) {
    std::time_t mtime = 0;
    const SplitPath where = SplitLastName(e.Name);
    if (OpenedFolder f = OpenFolderBelow(rq.VolumeRoot, where.Folder); f.Fd) {
      struct stat st {};
      if (::fstatat(f.Fd.Get(), where.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        mtime = st.st_mtime;
    }
    const double size = ShownFileSize(e.Size, rq.Allocated, rq.AllocationUnit);
    std::string text = e.Name;
    if (rq.SuffixSort) text += 'A';
    out.Add(FileRow(std::move(text), e.Key, size, mtime, rq, dates), size, rq.SuffixSort);
  }
}

}  // namespace

RowBatch ReadFileRows(const FileRowsRequest& rq) {
  RowBatch out;
  const std::size_t expected = rq.Largest ? rq.Entries.size() : rq.ExpectedRows;
  out.Rows.reserve(expected);
  out.Sizes.reserve(expected);
  out.Suffixed.reserve(expected);
  DateTexts dates;
  if (rq.Largest)
    ReadLargest(rq, out, dates);
  else
    ReadFolder(rq, out, dates);
  return out;
}

}  // namespace kestrum
