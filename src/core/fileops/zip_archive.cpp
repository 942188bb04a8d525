#include "core/fileops/zip_archive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "core/fileops/zip_stream.h"
#include "core/platform/errors.h"
#include "core/platform/open_folder.h"
#include "core/platform/pending_file.h"
#include "core/platform/unique_fd.h"

namespace kestrum {

namespace {

// Bytes read from each file when it is added: enough to tell compressed data from the rest.
constexpr std::size_t kProbeBytes = 16 * 1024;
// The longest name a zip entry can carry.
constexpr std::size_t kMaxEntryName = 0xFFFF;
// Folder descriptors kept open along the path last opened: deeper trees reopen from the
// nearest open folder above, so that no tree can use up the process's descriptors.
constexpr std::size_t kOpenFolderWindow = 64;
// The extra field that carries the modification time in whole seconds, UTC. A new archive
// has it; when an archive is updated, only the two-second local time every reader knows is
// written, since the field would cost every entry memory until libzip writes the archive.
constexpr zip_uint16_t kExtendedTimestamp = 0x5455;
// What one entry weighs in the whole job's progress, against its bytes: a tree of many
// small files moves the bar too.
constexpr double kEntryWeight = 4096;

// The name flags that keep a name's bytes as they are and mark only valid UTF-8 as such.
zip_flags_t NameFlags(std::string_view name) {
  if (IsAscii(name)) return ZIP_FL_ENC_GUESS;
  return IsValidUtf8(name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437;
}

std::string ZipErrorText(zip_error_t* error) { return zip_error_strerror(error); }

std::string ZipCodeText(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string text = zip_error_strerror(&e);
  zip_error_fini(&e);
  return text;
}

const char* TypeReason(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO: not archived";
  if (S_ISSOCK(mode)) return "a socket: not archived";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device: not archived";
  return "not a file, folder or link: not archived";
}

struct ItemBase {
  std::string Root;    // "/"-ended
  std::string Folder;  // "/"-ended
  dev_t Device = 0;    // of the item itself: folders on other devices are not entered
};

// Opens folders below an item's folder one name at a time without following links, keeping
// the descriptors of the path last opened, so that a depth-first walk (and reading its files
// back in the same order) opens each folder once.
class FolderChain {
 public:
  explicit FolderChain(const FileOpsSeam& calls) : calls_(calls) {}

  // The descriptor of base.Folder + rel (rel "" or "a/b/"); -1 with *error set when it
  // cannot be opened. The descriptor stays owned by the chain until the next call.
  int Open(const ItemBase& base, std::string_view rel, int* error) {
    if (!baseFd_ || base.Root != root_ || base.Folder != folder_) {
      levels_.clear();
      root_ = base.Root;
      folder_ = base.Folder;
      OpenedFolder opened = OpenFolderBelow(root_, folder_);
      baseFd_ = std::move(opened.Fd);
      if (!baseFd_) {
        folder_.clear();
        *error = opened.Error;
        return -1;
      }
    }
    std::vector<std::string_view> names;
    for (std::size_t start = 0; start < rel.size();) {
      const std::size_t slash = rel.find('/', start);
      const std::size_t stop = slash == std::string_view::npos ? rel.size() : slash;
      if (stop > start) names.push_back(rel.substr(start, stop - start));
      start = stop + 1;
    }
    std::size_t keep = 0;
    while (keep < names.size() && keep < levels_.size() && levels_[keep].Name == names[keep])
      ++keep;
    levels_.resize(keep);
    if (names.empty()) return baseFd_.Get();
    if (keep == names.size() && levels_.back().Fd) return levels_.back().Fd.Get();
    if (keep == names.size()) {
      // The folder is on the chain but its descriptor went out of the window: open it again
      // from the nearest open folder above.
      levels_.pop_back();
      --keep;
    }
    for (std::size_t i = keep; i < names.size(); ++i) {
      int parent = baseFd_.Get();
      std::size_t from = i;
      while (from > 0 && !levels_[from - 1].Fd) --from;
      if (from > 0) parent = levels_[from - 1].Fd.Get();
      UniqueFd walk;
      for (std::size_t j = from; j < i; ++j) {
        UniqueFd next(calls_.OpenAt(walk ? walk.Get() : parent, levels_[j].Name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
          *error = errno;
          return -1;
        }
        walk = std::move(next);
      }
      const int above = walk ? walk.Get() : parent;
      UniqueFd fd(calls_.OpenAt(above, std::string(names[i]).c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd) {
        *error = errno;
        return -1;
      }
      levels_.push_back({std::string(names[i]), std::move(fd)});
      if (levels_.size() > kOpenFolderWindow)
        levels_[levels_.size() - kOpenFolderWindow - 1].Fd.Reset();
    }
    return levels_.back().Fd.Get();
  }

 private:
  struct Level {
    std::string Name;
    UniqueFd Fd;
  };
  const FileOpsSeam& calls_;
  std::string root_, folder_;
  UniqueFd baseFd_;
  std::vector<Level> levels_;
};

class Writer;

// A file's data, read when the archive is written. Owned by libzip, freed through FREE. Kept
// small, since an archive of many files holds one per file until it is written: the path is
// a slice of the writer's name store, and the state of reading lives in the writer, which
// reads one file at a time.
struct FileSource {
  Writer* W = nullptr;
  std::uint64_t RelAt = 0;  // the path below the item's folder, in the writer's name store
  std::uint32_t RelSize = 0;
  std::uint32_t Item = 0;
  std::uint64_t Size = 0;
  time_t Mtime = 0;
};

class Writer {
 public:
  Writer(const std::string& target, const std::vector<ZipItem>& items, const ZipEvents& events,
         const ZipCompression& compression, const FileOpsSeam& calls)
      : target_(target),
        items_(items),
        events_(events),
        compression_(compression),
        calls_(calls),
        walkChain_(calls),
        readChain_(calls) {}

  ZipOutcome Run();
  ~Writer() {
    if (za_) zip_discard(za_);
  }

  // For the data sources, on this thread during zip_close.
  zip_int64_t SourceCall(FileSource& s, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
  void Progress(double fraction) {
    const int pct = static_cast<int>(fraction * 100.0);
    if (pct != majorPercent_ && events_.Major) {
      majorPercent_ = pct;
      events_.Major(current_, pct);
    }
  }
  bool Cancelled() const {
    return events_.Cancel && events_.Cancel->load(std::memory_order_relaxed);
  }

 private:
  bool OpenArchive(ZipOutcome& out);
  bool OpenStream(ZipOutcome& out, const std::string& folder);
  bool WriteStream(ZipOutcome& out);
  bool CloseLibzip(ZipOutcome& out);
  bool NameTaken(const std::string& entry);
  int OpenForReading(std::uint32_t item, const std::string& rel, int* error);
  void Plan(std::uint32_t item, std::string_view stored, std::string_view target,
            const struct stat& st);
  void AddItem(std::uint32_t index);
  std::vector<std::string> ReadFolder(std::uint32_t item, const std::string& rel);
  void AddObject(std::uint32_t item, int dirFd, const struct stat& dirSt, const std::string& rel,
                 const char* name, const struct stat& st, std::vector<std::string>* subs);
  void AddFolderEntry(const std::string& entry, const struct stat& st);
  void AddFile(std::uint32_t item, int dirFd, const std::string& rel, const char* name,
               const struct stat& st, const std::string& entry);
  void AddLink(int dirFd, const char* name, const struct stat& st, const std::string& entry);
  zip_int64_t Place(const std::string& entry, zip_source_t* src, bool folder);
  void SetAttributes(zip_uint64_t index, const struct stat& st);
  std::string EntryOf(std::uint32_t item, const std::string& rel) const {
    const ZipItem& it = items_[item];
    return it.EntryName + rel.substr(it.Name.size());
  }
  std::string DiskPath(std::uint32_t item, const std::string& rel) const {
    return items_[item].Folder + rel;
  }
  void LeaveOut(std::string path, std::string reason) {
    leftOut_.push_back({std::move(path), std::move(reason)});
  }
  bool IsTarget(const struct stat& dirSt, const char* name, const struct stat& st) const {
    if ((hadArchive_ || stream_) && st.st_dev == archiveDev_ && st.st_ino == archiveIno_)
      return true;
    return dirSt.st_dev == targetDirDev_ && dirSt.st_ino == targetDirIno_ && targetName_ == name;
  }

  const std::string& target_;
  const std::vector<ZipItem>& items_;
  const ZipEvents& events_;
  const ZipCompression& compression_;
  const FileOpsSeam& calls_;
  std::vector<ItemBase> bases_;
  FolderChain walkChain_, readChain_;
  zip_t* za_ = nullptr;
  bool hadArchive_ = false;
  dev_t archiveDev_ = 0, targetDirDev_ = 0;
  ino_t archiveIno_ = 0, targetDirIno_ = 0;
  std::string targetName_;
  // Names already in an earlier archive, by their exact bytes, for replacing them.
  std::unordered_map<std::string, zip_uint64_t> existing_;
  zip_uint64_t earlierEntries_ = 0;
  std::vector<ZipLeftOutItem> leftOut_;
  std::uint64_t entries_ = 0;
  std::string current_;
  int majorPercent_ = -1;
  // The file being read while writing, and the error of the last failed source call.
  int readFd_ = -1;
  std::uint64_t readDone_ = 0;
  int readPercent_ = -1;
  zip_error_t sourceError_;
  std::string names_;       // the paths of every file added, one after the other
  std::string failedPath_;  // the file whose reading failed while writing
  bool failed_ = false;     // a libzip call failed while adding: the run fails
  std::string failure_;

  // A new archive is written front to back by the stream writer instead of libzip, which
  // holds some 350 bytes for every entry until it writes them all at the end. The walk only
  // plans the entries then; their data is read while the archive is written.
  bool stream_ = false;
  PendingFile newFile_;
  struct Planned {
    std::uint64_t At = 0;  // in names_: a file's path below its item's folder, or another
                           // entry's name, then a link's target
    std::uint32_t Stored = 0;
    std::uint32_t Target = 0;
    std::uint32_t Item = 0;
    mode_t Mode = 0;
    time_t Mtime = 0;
    std::uint64_t Size = 0;
  };
  // Taken from the front while the archive is written, so that its memory goes as the
  // central directory's grows.
  std::deque<Planned> plan_;
  std::uint64_t planBytes_ = 0;
  std::uint64_t planNameBytes_ = 0;
  // The names planned so far, kept only when two items' names overlap and could clash.
  bool checkNames_ = false;
  std::unordered_set<std::string> planNames_;
};

zip_int64_t SourceCallback(void* ud, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<FileSource*>(ud);
  return s->W->SourceCall(*s, data, len, cmd);
}

zip_int64_t Writer::SourceCall(FileSource& s, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  switch (cmd) {
    case ZIP_SOURCE_OPEN: {
      if (Cancelled()) {
        zip_error_set(&sourceError_, ZIP_ER_CANCELLED, 0);
        return -1;
      }
      const std::string rel = names_.substr(s.RelAt, s.RelSize);
      int error = 0;
      const int fd = OpenForReading(s.Item, rel, &error);
      if (fd < 0) {
        failedPath_ = DiskPath(s.Item, rel);
        zip_error_set(&sourceError_, ZIP_ER_OPEN, error);
        return -1;
      }
      if (readFd_ >= 0) ::close(readFd_);
      readFd_ = fd;
      readDone_ = 0;
      readPercent_ = -1;
      current_ = EntryOf(s.Item, rel);
      if (events_.Minor) events_.Minor(current_, 0);
      return 0;
    }
    case ZIP_SOURCE_READ: {
      if (Cancelled()) {
        zip_error_set(&sourceError_, ZIP_ER_CANCELLED, 0);
        return -1;
      }
      ssize_t n;
      do {
        n = calls_.Read(readFd_, data, len);
      } while (n < 0 && errno == EINTR);
      if (n < 0) {
        failedPath_ = DiskPath(s.Item, names_.substr(s.RelAt, s.RelSize));
        zip_error_set(&sourceError_, ZIP_ER_READ, errno);
        return -1;
      }
      readDone_ += static_cast<std::uint64_t>(n);
      const int pct =
          s.Size == 0 ? 100
                      : static_cast<int>(std::min<std::uint64_t>(readDone_, s.Size) * 100 / s.Size);
      if (pct != readPercent_ && events_.Minor) {
        readPercent_ = pct;
        events_.Minor(current_, pct);
      }
      return n;
    }
    case ZIP_SOURCE_CLOSE:
      if (readFd_ >= 0) ::close(readFd_);
      readFd_ = -1;
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &sourceError_);
      if (!st) return -1;
      zip_stat_init(st);
      st->size = s.Size;
      st->mtime = s.Mtime;
      st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&sourceError_, data, len);
    case ZIP_SOURCE_FREE:
      delete &s;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&sourceError_, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// Opens the file at rel below an item's folder for reading its data, without following
// links; -1 with *error set when it cannot be opened or is no longer a regular file.
int Writer::OpenForReading(std::uint32_t item, const std::string& rel, int* error) {
  const std::size_t slash = rel.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : rel.substr(0, slash + 1);
  const std::string name = rel.substr(slash == std::string::npos ? 0 : slash + 1);
  const int dirFd = readChain_.Open(bases_[item], folder, error);
  if (dirFd < 0) return -1;
  UniqueFd fd(calls_.OpenAt(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    *error = errno;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = EINVAL;  // no longer a regular file
    return -1;
  }
  return fd.Release();
}

// The new archive is written into a pending file in the target's folder, which takes the
// target's name only when complete.
bool Writer::OpenStream(ZipOutcome& out, const std::string& folder) {
  if (const int error = newFile_.Create(folder, target_); error != 0) {
    out.Code = kZipOpenFailed;
    out.Message = "Cannot write in the folder " + folder + ": " + ErrorText(error);
    return false;
  }
  // Named or not, it is never added to itself.
  struct stat st {};
  if (::fstat(newFile_.Fd(), &st) == 0) {
    archiveDev_ = st.st_dev;
    archiveIno_ = st.st_ino;
  }
  stream_ = true;
  return true;
}

bool Writer::OpenArchive(ZipOutcome& out) {
  const SplitPath split = SplitLastName(target_);
  targetName_ = split.Name;
  struct stat dirSt {};
  if (::stat(split.Folder.c_str(), &dirSt) != 0 || ::access(split.Folder.c_str(), W_OK) != 0) {
    out.Code = kZipOpenFailed;
    out.Message = "Cannot write in the folder " + split.Folder + ": " + ErrorText(errno);
    return false;
  }
  targetDirDev_ = dirSt.st_dev;
  targetDirIno_ = dirSt.st_ino;
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (!exists && errno == ENOENT) return OpenStream(out, split.Folder);
  if (exists) {
    if (!S_ISREG(st.st_mode)) {
      out.Code = kZipOpenFailed;
      out.Message = "Cannot open the archive " + target_ + ": it is not a file";
      return false;
    }
    // libzip reports a file it cannot read only as "Can't open file"; the system says why.
    UniqueFd probe(::open(target_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!probe) {
      out.Code = kZipOpenFailed;
      out.Message = "Cannot open the archive " + target_ + ": " + ErrorText(errno);
      return false;
    }
    hadArchive_ = true;
    archiveDev_ = st.st_dev;
    archiveIno_ = st.st_ino;
  }
  int code = 0;
  // An empty file is taken as an empty archive, as zip's own tools take it.
  const int flags = ZIP_CREATE | (hadArchive_ && st.st_size == 0 ? ZIP_TRUNCATE : 0);
  za_ = zip_open(target_.c_str(), flags, &code);
  if (!za_) {
    out.Code = kZipOpenFailed;
    out.Message = "Cannot open the archive " + target_ + ": " + ZipCodeText(code);
    return false;
  }
  const zip_int64_t n = zip_get_num_entries(za_, 0);
  earlierEntries_ = static_cast<zip_uint64_t>(std::max<zip_int64_t>(n, 0));
  existing_.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(n, 0)));
  for (zip_int64_t i = 0; i < n; ++i) {
    if (const char* name = zip_get_name(za_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
      existing_.emplace(name, static_cast<zip_uint64_t>(i));
  }
  return true;
}

zip_int64_t Writer::Place(const std::string& entry, zip_source_t* src, bool folder) {
  const auto found = existing_.find(entry);
  if (found != existing_.end()) {
    if (folder) return static_cast<zip_int64_t>(found->second);
    if (zip_file_replace(za_, found->second, src, 0) == 0)
      return static_cast<zip_int64_t>(found->second);
  } else {
    const zip_int64_t index = folder ? zip_dir_add(za_, entry.c_str(), NameFlags(entry))
                                     : zip_file_add(za_, entry.c_str(), src, NameFlags(entry));
    if (index >= 0) return index;
  }
  if (src) zip_source_free(src);
  if (zip_error_code_zip(zip_get_error(za_)) == ZIP_ER_EXISTS) {
    // Two different byte names that libzip's name table takes for one.
    LeaveOut(entry, "its name clashes with another entry: not archived");
  } else if (!failed_) {
    failed_ = true;
    failure_ = ZipErrorText(zip_get_error(za_));
  }
  return -1;
}

void Writer::SetAttributes(zip_uint64_t index, const struct stat& st) {
  zip_uint32_t attributes = static_cast<zip_uint32_t>(st.st_mode & 0xFFFF) << 16;
  if (S_ISDIR(st.st_mode)) attributes |= 0x10;          // the MS-DOS folder bit
  if ((st.st_mode & S_IWUSR) == 0) attributes |= 0x01;  // and its read-only bit
  zip_file_set_external_attributes(za_, index, 0, ZIP_OPSYS_UNIX, attributes);
  zip_file_set_mtime(za_, index, st.st_mtime, 0);
  // An entry replaced in an earlier archive may carry an exact time of its own from another
  // tool, which readers prefer to the time above: it would be the old file's.
  if (index < earlierEntries_)
    zip_file_extra_field_delete_by_id(za_, index, kExtendedTimestamp, ZIP_EXTRA_FIELD_ALL,
                                      ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

// Whether an entry of this name was planned already in this run; says so in the left-out
// list when it was.
bool Writer::NameTaken(const std::string& entry) {
  if (!checkNames_ || planNames_.insert(entry).second) return false;
  LeaveOut(entry, "its name clashes with another entry: not archived");
  return true;
}

void Writer::Plan(std::uint32_t item, std::string_view stored, std::string_view target,
                  const struct stat& st) {
  Planned p;
  p.At = names_.size();
  p.Stored = static_cast<std::uint32_t>(stored.size());
  p.Target = static_cast<std::uint32_t>(target.size());
  p.Item = item;
  p.Mode = st.st_mode;
  p.Mtime = st.st_mtime;
  p.Size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  names_ += stored;
  names_ += target;
  planBytes_ += p.Size;
  planNameBytes_ +=
      S_ISREG(st.st_mode) ? items_[item].EntryName.size() + stored.size() : stored.size();
  plan_.push_back(p);
}

void Writer::AddFolderEntry(const std::string& entry, const struct stat& st) {
  if (stream_) {
    if (!NameTaken(entry)) Plan(0, entry, {}, st);
    return;
  }
  const zip_int64_t index = Place(entry, nullptr, true);
  if (index < 0) return;
  SetAttributes(static_cast<zip_uint64_t>(index), st);
  ++entries_;
}

void Writer::AddFile(std::uint32_t item, int dirFd, const std::string& rel, const char* name,
                     const struct stat& st, const std::string& entry) {
  if (stream_) {
    // Opened and read once, while the archive is written; one that cannot be is left out
    // then.
    if (!NameTaken(entry)) Plan(item, rel, {}, st);
    return;
  }
  // Opened once now, so that a file that cannot be read is left out and listed instead of
  // failing the whole archive when libzip reads it at the end.
  UniqueFd fd(calls_.OpenAt(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    LeaveOut(DiskPath(item, rel), ErrorText(errno));
    return;
  }
  std::string head(std::min<std::uint64_t>(kProbeBytes, static_cast<std::uint64_t>(st.st_size)),
                   '\0');
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = calls_.Read(fd.Get(), head.data() + got, head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      LeaveOut(DiskPath(item, rel), ErrorText(errno));
      return;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  fd.Reset();

  auto* s = new FileSource;
  s->W = this;
  s->Item = item;
  s->RelAt = names_.size();
  s->RelSize = static_cast<std::uint32_t>(rel.size());
  s->Size = static_cast<std::uint64_t>(st.st_size);
  s->Mtime = st.st_mtime;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_function_create(SourceCallback, s, &error);
  if (!src) {
    delete s;
    if (!failed_) {
      failed_ = true;
      failure_ = ZipErrorText(&error);
    }
    zip_error_fini(&error);
    return;
  }
  zip_error_fini(&error);
  names_ += rel;
  const zip_int64_t index = Place(entry, src, false);
  if (index < 0) return;
  const auto i = static_cast<zip_uint64_t>(index);
  const bool store =
      st.st_size == 0 || (compression_.StoreCompressed && LooksCompressed(name, head));
  zip_set_file_compression(za_, i, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                           store ? 0 : static_cast<zip_uint32_t>(compression_.Level));
  SetAttributes(i, st);
  ++entries_;
}

void Writer::AddLink(int dirFd, const char* name, const struct stat& st, const std::string& entry) {
  std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
  ssize_t n;
  for (;;) {
    n = ::readlinkat(dirFd, name, target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) < target.size()) break;
    target.resize(target.size() * 2);
  }
  if (n < 0) {
    LeaveOut(entry, ErrorText(errno));
    return;
  }
  if (stream_) {
    if (!NameTaken(entry))
      Plan(0, entry, std::string_view(target.data(), static_cast<std::size_t>(n)), st);
    return;
  }
  // libzip frees the copy with the source.
  void* copy = std::malloc(static_cast<std::size_t>(n) + 1);
  if (!copy) {
    LeaveOut(entry, ErrorText(ENOMEM));
    return;
  }
  std::memcpy(copy, target.data(), static_cast<std::size_t>(n));
  zip_source_t* src = zip_source_buffer(za_, copy, static_cast<zip_uint64_t>(n), 1);
  if (!src) {
    std::free(copy);
    if (!failed_) {
      failed_ = true;
      failure_ = ZipErrorText(zip_get_error(za_));
    }
    return;
  }
  const zip_int64_t index = Place(entry, src, false);
  if (index < 0) return;
  zip_set_file_compression(za_, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  SetAttributes(static_cast<zip_uint64_t>(index), st);
  ++entries_;
}

void Writer::AddObject(std::uint32_t item, int dirFd, const struct stat& dirSt,
                       const std::string& rel, const char* name, const struct stat& st,
                       std::vector<std::string>* subs) {
  std::string entry = EntryOf(item, rel);
  if (S_ISDIR(st.st_mode)) entry += '/';
  if (entry.size() > kMaxEntryName) {
    LeaveOut(DiskPath(item, rel), "the name is too long for a zip archive: not archived");
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    if (st.st_dev != bases_[item].Device) {
      LeaveOut(DiskPath(item, rel), "on another file system: not entered");
      return;
    }
    AddFolderEntry(entry, st);
    if (subs) subs->emplace_back(name);
  } else if (S_ISREG(st.st_mode)) {
    if (IsTarget(dirSt, name, st)) return;  // the archive being written
    AddFile(item, dirFd, rel, name, st, entry);
  } else if (S_ISLNK(st.st_mode)) {
    AddLink(dirFd, name, st, entry);
  } else {
    LeaveOut(DiskPath(item, rel), TypeReason(st.st_mode));
  }
}

std::vector<std::string> Writer::ReadFolder(std::uint32_t item, const std::string& rel) {
  std::vector<std::string> subs;
  int error = 0;
  const int fd = walkChain_.Open(bases_[item], rel, &error);
  struct stat dirSt {};
  if (fd < 0 || ::fstat(fd, &dirSt) != 0) {
    LeaveOut(DiskPath(item, rel), ErrorText(fd < 0 ? error : errno));
    return subs;
  }
  UniqueFd listFd(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = listFd ? ::fdopendir(listFd.Get()) : nullptr;
  if (!dir) {
    LeaveOut(DiskPath(item, rel), ErrorText(errno));
    return subs;
  }
  listFd.Release();
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
      names.emplace_back(d->d_name);
    errno = 0;
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) LeaveOut(DiskPath(item, rel), ErrorText(readError));
  std::sort(names.begin(), names.end());
  std::string childRel = rel;
  for (const std::string& name : names) {
    if (Cancelled() || failed_) break;
    struct stat st {};
    childRel.resize(rel.size());
    childRel += name;
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      LeaveOut(DiskPath(item, childRel), ErrorText(errno));
      continue;
    }
    AddObject(item, fd, dirSt, childRel, name.c_str(), st, &subs);
  }
  return subs;
}

void Writer::AddItem(std::uint32_t index) {
  const ZipItem& it = items_[index];
  int error = 0;
  const int fd = walkChain_.Open(bases_[index], "", &error);
  struct stat dirSt {
  }, st{};
  if (fd < 0 || ::fstat(fd, &dirSt) != 0) {
    LeaveOut(it.Folder + it.Name, ErrorText(fd < 0 ? error : errno));
    return;
  }
  if (::fstatat(fd, it.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    LeaveOut(it.Folder + it.Name, ErrorText(errno));
    return;
  }
  bases_[index].Device = st.st_dev;
  if (events_.Major) events_.Major(it.EntryName, 0);
  std::vector<std::string> subs;
  AddObject(index, fd, dirSt, it.Name, it.Name.c_str(), st, &subs);
  if (subs.empty()) return;

  // Depth first without recursion: each frame holds the subfolders still to visit.
  struct Frame {
    std::size_t RelSize;
    std::vector<std::string> Subs;
    std::size_t Next = 0;
  };
  std::string rel = it.Name + "/";
  std::vector<Frame> frames;
  frames.push_back({rel.size(), ReadFolder(index, rel)});
  while (!frames.empty() && !Cancelled() && !failed_) {
    Frame& top = frames.back();
    if (top.Next == top.Subs.size()) {
      frames.pop_back();
      continue;
    }
    rel.resize(top.RelSize);
    rel += top.Subs[top.Next];
    rel += '/';
    top.Subs[top.Next++].clear();
    if (events_.Major) events_.Major(EntryOf(index, rel), 0);
    std::vector<std::string> subs2 = ReadFolder(index, rel);
    frames.push_back({rel.size(), std::move(subs2)});
  }
}

// Whether two items' entries could carry the same name: one item's name equals another's or
// lies below it. Only then are the names of a run checked one by one.
bool NamesMayClash(const std::vector<ZipItem>& items) {
  std::unordered_set<std::string_view> names;
  for (const ZipItem& it : items) {
    if (!names.insert(it.EntryName).second) return true;
  }
  for (const ZipItem& it : items) {
    const std::string_view name = it.EntryName;
    for (std::size_t slash = name.find('/'); slash != std::string_view::npos;
         slash = name.find('/', slash + 1)) {
      if (names.count(name.substr(0, slash))) return true;
    }
  }
  return false;
}

ZipOutcome Writer::Run() {
  ZipOutcome out;
  if (!OpenArchive(out)) return out;
  bases_.reserve(items_.size());
  for (const ZipItem& it : items_) bases_.push_back({it.Root, it.Folder, 0});

  checkNames_ = NamesMayClash(items_);

  for (std::uint32_t i = 0; i < items_.size() && !Cancelled() && !failed_; ++i) AddItem(i);

  if (Cancelled() || failed_) {
    if (za_) zip_discard(za_);
    za_ = nullptr;
    newFile_.Discard();
    out.Code = failed_ ? kZipWriteFailed : kZipCancelled;
    out.Message = failed_ ? "Cannot write the archive " + target_ + ": " + failure_ : "Cancelled";
    return out;
  }

  current_.clear();
  if (stream_) {
    if (!WriteStream(out)) return out;
  } else if (!CloseLibzip(out)) {
    return out;
  }
  out.Entries = entries_;
  if (!leftOut_.empty()) {
    // Found while walking or while writing: listed in the order of their paths.
    std::stable_sort(
        leftOut_.begin(), leftOut_.end(),
        [](const ZipLeftOutItem& a, const ZipLeftOutItem& b) { return a.Path < b.Path; });
    out.Code = kZipLeftOut;
    out.Message =
        (entries_ == 0 && !hadArchive_
             ? "Nothing was zipped, and no archive was made. These items were left out:\n"
             : "The archive " + target_ + " was written, but these items were left out:\n") +
        LeftOutText(leftOut_);
    out.LeftOut = std::move(leftOut_);
  } else if (events_.Major) {
    events_.Major(current_, 100);
  }
  return out;
}

// Writes the archive libzip has been given and replaces the target with it.
bool Writer::CloseLibzip(ZipOutcome& out) {
  zip_register_progress_callback_with_state(
      za_, 0.001,
      [](zip_t*, double fraction, void* ud) { static_cast<Writer*>(ud)->Progress(fraction); },
      nullptr, this);
  zip_register_cancel_callback_with_state(
      za_, [](zip_t*, void* ud) { return static_cast<Writer*>(ud)->Cancelled() ? 1 : 0; }, nullptr,
      this);
  if (zip_close(za_) != 0) {
    const int code = zip_error_code_zip(zip_get_error(za_));
    if (code == ZIP_ER_CANCELLED || Cancelled()) {
      out.Code = kZipCancelled;
      out.Message = "Cancelled";
    } else {
      out.Code = kZipWriteFailed;
      out.Message = "Cannot write the archive " + target_ + ": " + ZipErrorText(zip_get_error(za_));
      if (!failedPath_.empty()) out.Message += "\nwhile reading " + failedPath_;
    }
    // Closing failed before the temporary file replaced the target; libzip has removed it.
    zip_discard(za_);
    za_ = nullptr;
    return false;
  }
  za_ = nullptr;
  return true;
}

// Writes the planned entries front to back into the new archive and gives it its name. A
// file that cannot be opened or read is left out and listed; the archive holds the rest.
bool Writer::WriteStream(ZipOutcome& out) {
  ZipStreamWriter zip(newFile_.Fd(), compression_.Level);
  const double total =
      static_cast<double>(planBytes_) + kEntryWeight * static_cast<double>(plan_.size());
  double before = 0;
  auto failed = [&](int error) {
    out.Code = kZipWriteFailed;
    out.Message = "Cannot write the archive " + target_ + ": " + ErrorText(error);
    newFile_.Discard();
    return false;
  };
  auto cancelled = [&] {
    out.Code = kZipCancelled;
    out.Message = "Cancelled";
    newFile_.Discard();
    return false;
  };
  zip.Reserve(plan_.size(), planNameBytes_);
  std::string entry, rel;
  while (!plan_.empty()) {
    if (Cancelled()) return cancelled();
    const Planned p = plan_.front();
    plan_.pop_front();
    const std::string_view stored(names_.data() + p.At, p.Stored);
    ZipStreamWriter::Entry e;
    e.Mode = p.Mode;
    e.Mtime = p.Mtime;
    if (S_ISREG(p.Mode)) {
      rel.assign(stored);
      entry = EntryOf(p.Item, rel);
    } else {
      entry.assign(stored);
    }
    e.Name = entry;
    current_ = entry;
    Progress(before / total);
    before += kEntryWeight + static_cast<double>(p.Size);
    if (S_ISDIR(p.Mode)) {
      if (!zip.AddFolder(e)) return failed(zip.WriteError());
    } else if (S_ISLNK(p.Mode)) {
      if (!zip.AddLink(e, std::string_view(names_.data() + p.At + p.Stored, p.Target)))
        return failed(zip.WriteError());
    } else {
      int error = 0;
      UniqueFd fd(OpenForReading(p.Item, rel, &error));
      if (!fd) {
        LeaveOut(DiskPath(p.Item, rel), ErrorText(error));
        continue;
      }
      const std::string_view name = std::string_view(rel).substr(rel.rfind('/') + 1);
      const double at = before - static_cast<double>(p.Size);
      int percent = -1;
      if (events_.Minor) events_.Minor(current_, 0);
      const auto added = zip.AddFile(
          e, fd.Get(), p.Size, calls_.Read,
          [&](std::string_view head) {
            return !(compression_.StoreCompressed &&
                     LooksCompressed(name, head.substr(0, kProbeBytes)));
          },
          [&](std::uint64_t done) {
            const int pct =
                p.Size == 0 ? 100 : static_cast<int>(std::min(done, p.Size) * 100 / p.Size);
            if (pct != percent && events_.Minor) {
              percent = pct;
              events_.Minor(current_, pct);
            }
            Progress((at + static_cast<double>(std::min(done, p.Size))) / total);
            return !Cancelled();
          });
      switch (added) {
        case ZipStreamWriter::Added::kYes:
          break;
        case ZipStreamWriter::Added::kReadFailed:
          LeaveOut(DiskPath(p.Item, rel), ErrorText(zip.ReadError()));
          continue;
        case ZipStreamWriter::Added::kCancelled:
          return cancelled();
        case ZipStreamWriter::Added::kWriteFailed:
          return failed(zip.WriteError());
      }
    }
    ++entries_;
  }
  if (Cancelled()) return cancelled();
  if (entries_ == 0) {
    newFile_.Discard();  // nothing to write: no archive is made
    return true;
  }
  if (!zip.Finish()) return failed(zip.WriteError());
  if (const int error = newFile_.Publish(); error != 0) return failed(error);
  return true;
}

}  // namespace

ZipOutcome WriteZipArchive(const std::string& target, const std::vector<ZipItem>& items,
                           const ZipEvents& events, const ZipCompression& compression,
                           const FileOpsSeam& calls) {
  if (target.empty() || target.back() == '/' || target.front() != '/') {
    ZipOutcome out;
    out.Code = kZipTargetRefused;
    out.Message = kTargetIncorrect;
    return out;
  }
  Writer writer(target, items, events, compression, calls);
  return writer.Run();
}

bool LooksCompressed(std::string_view name, std::string_view head) {
  static constexpr std::array<std::string_view, 52> kExtensions = {
      "7z",   "aac",   "apk",  "avi",  "avif", "br",   "bz2",      "cab", "deb",  "docx", "epub",
      "flac", "gif",   "gz",   "heic", "jar",  "jpeg", "jpg",      "jxl", "lz",   "lz4",  "lzma",
      "m4a",  "m4v",   "mkv",  "mov",  "mp3",  "mp4",  "odp",      "ods", "odt",  "ogg",  "opus",
      "png",  "pptx",  "rar",  "rpm",  "snap", "tbz2", "tgz",      "txz", "webm", "webp", "whl",
      "woff", "woff2", "xlsx", "xz",   "zip",  "zst",  "squashfs", "cbz"};
  if (const std::size_t dot = name.rfind('.');
      dot != std::string_view::npos && dot + 1 < name.size()) {
    std::string ext(name.substr(dot + 1));
    if (ext.size() <= 8) {
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (std::find(kExtensions.begin(), kExtensions.end(), ext) != kExtensions.end()) return true;
    }
  }
  auto starts = [&](std::string_view magic, std::size_t at = 0) {
    return head.size() >= at + magic.size() && head.substr(at, magic.size()) == magic;
  };
  using namespace std::string_view_literals;
  if (starts("\x1f\x8b"sv) || starts("PK\x03\x04"sv) || starts("\x89PNG"sv) ||
      starts("\xff\xd8\xff"sv) ||
      starts("\xfd"
             "7zXZ\x00"sv) ||
      starts("BZh"sv) || starts("\x28\xb5\x2f\xfd"sv) || starts("7z\xbc\xaf\x27\x1c"sv) ||
      starts("ftyp"sv, 4) || starts("OggS"sv) || starts("fLaC"sv) || starts("\x1a\x45\xdf\xa3"sv) ||
      starts("GIF8"sv) || starts("Rar!"sv) || starts("ID3"sv))
    return true;
  if (head.size() < 4096) return false;
  // Deflate gains little on data whose bytes are spread almost evenly; text sits near 4 to 6
  // bits a byte, random or compressed data near 8.
  std::array<std::uint32_t, 256> counts{};
  for (unsigned char c : head) ++counts[c];
  double entropy = 0;
  const double n = static_cast<double>(head.size());
  for (std::uint32_t c : counts) {
    if (c == 0) continue;
    const double p = c / n;
    entropy -= p * std::log2(p);
  }
  return entropy > 7.8;
}

std::string LeftOutText(const std::vector<ZipLeftOutItem>& items, std::size_t maxLines) {
  std::string text;
  const std::size_t shown = std::min(items.size(), maxLines);
  for (std::size_t i = 0; i < shown; ++i) {
    text += items[i].Path;
    text += ": ";
    text += items[i].Reason;
    text += '\n';
  }
  if (items.size() > shown) text += "... and " + std::to_string(items.size() - shown) + " more\n";
  return text;
}

}  // namespace kestrum
