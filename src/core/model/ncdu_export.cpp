#include "core/model/ncdu_export.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/model/dirent_records.h"
#include "core/model/scanning.h"
#include "core/platform/errors.h"
#include "core/platform/pending_file.h"
#include "core/trace/trace.h"
#include "kestrum_version.h"

namespace kestrum {

void AppendExportName(std::string& out, std::string_view name) {
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
}

namespace {

constexpr std::size_t kPiece = 64 * 1024;
// Folders kept open on the way down; deeper ones are found again through "..".
constexpr std::size_t kMaxOpen = 64;

void AppendNumber(std::string& out, std::uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// One folder read by the walk: its entries as the walk classified them, and the stat results
// the readers fill in for its files.
struct FolderJob {
  std::string Name;
  bool Root = false;
  bool Readable = false;
  std::int64_t Mtime = -1;
  int Fd = -1;  // for the readers' stat calls; closed when the job is written
  // Entries in listing order: kind, name, NUL. Kinds: 'F' a file to stat, 'N' not a regular
  // file, 'X' a mount point, 'S' a file the walk has stated already (its stat in Known).
  std::string Entries;
  std::vector<struct stat> Known;
  std::vector<struct stat> Stats;  // one per 'F', in order
  std::vector<char> Stated;        // whether each 'F' was still there
  std::size_t Files = 0;           // the 'F' entries
  bool Done = false;               // Stats filled (under the exporter's mutex)
};

// The walk's events in depth-first order: a folder opens (its job) or the open folder closes.
struct Event {
  FolderJob* Job = nullptr;  // null: close
};

struct Frame {
  int Fd = -1;
  dev_t Dev = 0;
  ino_t Ino = 0;
  std::string Subfolders;  // names ending in NUL, each followed by 8 bytes of mtime
  std::size_t Next = 0;
};

// The export in three parts that run at once: a walk that reads the folders depth first and
// stats only folders (to find subfolders and mount points), readers that stat the files of
// the folders the walk has read, earliest folder first, and the writer (the caller's thread)
// that writes the folders in the walk's order as their stats arrive. The walk runs at most
// kAhead folders ahead of the writer, which bounds memory and open descriptors.
class Exporter {
 public:
  Exporter(const ReportSink& sink, const ExportOptions& options)
      : sink_(sink), options_(options), reader_(options.Reader ? *options.Reader : plain_) {
    out_.reserve(kPiece + 4096);
  }

  bool Run(const std::string& root, std::string& error) {
    const int fd = reader_.OpenRoot(root);
    if (fd < 0) {
      error = "cannot open " + root + ": " + ErrorText(errno);
      return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    rootDev_ = st.st_dev;
    struct statvfs vs {};
    if (::fstatvfs(fd, &vs) == 0 && vs.f_frsize > 0 && vs.f_frsize <= 0x40000000)
      unit_ = static_cast<std::int32_t>(vs.f_frsize);
    out_ += "[1,2,{\"progname\":\"";
    out_ += version::Product;
    out_ += "\",\"progver\":\"";
    out_ += std::to_string(version::Major) + "." + std::to_string(version::Minor) + "." +
            std::to_string(version::Revision);
    out_ += "\",\"timestamp\":";
    AppendNumber(out_, static_cast<std::uint64_t>(std::time(nullptr)));
    out_ += "},\n";
    std::string name = root;
    while (name.size() > 1 && name.back() == '/') name.pop_back();

    std::vector<std::thread> readers;
    std::thread walker;
    try {
      walker = std::thread([this, fd, name, st] { Walk(fd, name, st); });
      const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
      for (unsigned i = 0; i < std::min(cores, 4u); ++i) readers.emplace_back([this] { Read(); });
    } catch (const std::system_error&) {
      Abort();
      if (walker.joinable()) walker.join();
      for (std::thread& t : readers) t.join();
      error = "cannot start the export's threads";
      return false;
    }
    Write();
    Abort();
    walker.join();
    for (std::thread& t : readers) t.join();
    for (Event& e : events_) Free(e.Job);
    if (!Scanning.load(std::memory_order_relaxed) && !finished_) {
      error = "stopped";
      return false;
    }
    out_ += "]\n";
    if (ok_ && !out_.empty()) ok_ = sink_(out_);
    if (!ok_) error = "cannot write the export";
    return ok_;
  }

 private:
  static constexpr std::size_t kAhead = 256;

  bool Stopped() const { return aborted_ || !Scanning.load(std::memory_order_relaxed); }

  void Abort() {
    std::lock_guard lock(m_);
    aborted_ = true;
    cv_.notify_all();
  }

  static void Free(FolderJob* job) {
    if (!job) return;
    if (job->Fd >= 0) ::close(job->Fd);
    delete job;
  }

  // Hands an event to the writer, waiting while the walk is too far ahead. False on a stop.
  bool Push(Event e) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return aborted_ || inFlight_ < kAhead; });
    if (aborted_) {
      Free(e.Job);
      return false;
    }
    if (e.Job) {
      ++inFlight_;
      if (e.Job->Files > 0)
        todo_.push_back(e.Job);
      else
        e.Job->Done = true;
    }
    events_.push_back(e);
    cv_.notify_all();
    return true;
  }

  // The walk: every folder once, depth first, as the scan walks it.
  void Walk(int rootFd, const std::string& rootName, const struct stat& rootStat) {
    std::vector<Frame> stack;
    std::vector<char> chunk(64 * 1024), listing;
    const auto folder = [&](int fd, std::string name, std::int64_t mtime, bool root) {
      if (options_.Progress) options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
      auto* job = new FolderJob;
      job->Name = std::move(name);
      job->Root = root;
      job->Mtime = mtime;
      job->Readable = fd >= 0 && ReadListing(fd, chunk, listing);
      Frame frame;
      if (job->Readable) Classify(fd, listing, *job, frame.Subfolders);
      if (job->Files > 0) job->Fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (!Push(Event{job})) {
        if (fd >= 0) ::close(fd);
        return false;
      }
      if (!frame.Subfolders.empty()) {
        struct stat self {};
        ::fstat(fd, &self);
        frame.Fd = fd;
        frame.Dev = self.st_dev;
        frame.Ino = self.st_ino;
        stack.push_back(std::move(frame));
        if (stack.size() > kMaxOpen) {
          Frame& f = stack[stack.size() - 1 - kMaxOpen];
          if (f.Fd >= 0) {
            ::close(f.Fd);
            f.Fd = -1;
          }
        }
        return true;
      }
      if (fd >= 0) ::close(fd);
      return Push(Event{});
    };
    bool going = folder(rootFd, rootName, rootStat.st_mtim.tv_sec, true);
    while (going && !stack.empty()) {
      if (Stopped()) break;
      Frame& top = stack.back();
      if (top.Next < top.Subfolders.size()) {
        const char* nm = top.Subfolders.c_str() + top.Next;
        const std::size_t len = std::strlen(nm);
        std::int64_t mtime = 0;
        std::memcpy(&mtime, nm + len + 1, sizeof mtime);
        top.Next += len + 1 + sizeof mtime;
        const int child = reader_.OpenAt(top.Fd, nm);
        going = folder(child, std::string(nm, len), mtime, false);
        continue;
      }
      Frame done = std::move(stack.back());
      stack.pop_back();
      going = Push(Event{});
      if (!stack.empty() && stack.back().Fd < 0) {
        Frame& p = stack.back();
        const int fd = done.Fd >= 0 ? reader_.OpenAt(done.Fd, "..") : -1;
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == p.Dev && st.st_ino == p.Ino) {
          p.Fd = fd;
        } else {
          if (fd >= 0) ::close(fd);
          p.Next = p.Subfolders.size();
        }
      }
      if (done.Fd >= 0) ::close(done.Fd);
    }
    for (Frame& f : stack)
      if (f.Fd >= 0) ::close(f.Fd);
    std::lock_guard lock(m_);
    walked_ = going && stack.empty();
    walkEnded_ = true;
    cv_.notify_all();
  }

  bool ReadListing(int fd, std::vector<char>& chunk, std::vector<char>& listing) {
    listing.clear();
    bool any = false;
    for (;;) {
      const long n = reader_.ReadEntries(fd, chunk.data(), chunk.size());
      if (n < 0) return any;
      if (n == 0) return true;
      any = true;
      ForEachDirent(chunk.data(), n, [&listing](unsigned char type, const char* nm) {
        listing.push_back(static_cast<char>(type));
        listing.insert(listing.end(), nm, nm + std::strlen(nm) + 1);
      });
    }
  }

  // Sorts the folder's entries: subfolders to walk, and the rest for its job.
  void Classify(int fd, const std::vector<char>& listing, FolderJob& job, std::string& subfolders) {
    for (std::size_t i = 0; i < listing.size();) {
      const auto type = static_cast<unsigned char>(listing[i]);
      const char* nm = listing.data() + i + 1;
      const std::size_t len = std::strlen(nm);
      i += len + 2;
      if (type == DT_REG) {
        job.Entries.push_back('F');
        ++job.Files;
      } else if (type != DT_DIR && type != DT_UNKNOWN) {
        job.Entries.push_back('N');
      } else {
        struct stat st {};
        if (reader_.StatAt(fd, nm, st) != 0) continue;  // vanished since the listing
        if (S_ISDIR(st.st_mode)) {
          if (st.st_dev != rootDev_) {
            job.Entries.push_back('X');
          } else {
            const std::int64_t mtime = st.st_mtim.tv_sec;
            subfolders.append(nm, len + 1);
            subfolders.append(reinterpret_cast<const char*>(&mtime), sizeof mtime);
            continue;
          }
        } else {
          job.Entries.push_back('S');
          job.Known.push_back(st);
        }
      }
      job.Entries.append(nm, len + 1);
    }
  }

  // A reader: stats the files of the earliest folder the walk has read and nobody has taken.
  void Read() {
    for (;;) {
      FolderJob* job = nullptr;
      {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return aborted_ || !todo_.empty() || walkEnded_; });
        if (aborted_) return;
        if (todo_.empty()) return;  // the walk has ended and everything is taken
        job = todo_.front();
        todo_.pop_front();
      }
      job->Stats.resize(job->Files);
      job->Stated.assign(job->Files, 0);
      std::size_t k = 0;
      for (std::size_t i = 0; i < job->Entries.size();) {
        const char kind = job->Entries[i];
        const char* nm = job->Entries.c_str() + i + 1;
        i += std::strlen(nm) + 2;
        if (kind != 'F') continue;
        if (job->Fd >= 0 && reader_.StatAt(job->Fd, nm, job->Stats[k]) == 0) job->Stated[k] = 1;
        ++k;
      }
      std::lock_guard lock(m_);
      job->Done = true;
      cv_.notify_all();
    }
  }

  // The writer: the folders in the walk's order, each once its files are stated.
  void Write() {
    for (;;) {
      Event e;
      {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] {
          return aborted_ || !Scanning.load(std::memory_order_relaxed) ||
                 (!events_.empty() && (!events_.front().Job || events_.front().Job->Done)) ||
                 (events_.empty() && walkEnded_);
        });
        if (aborted_ || !Scanning.load(std::memory_order_relaxed)) return;
        if (events_.empty()) {
          finished_ = walked_;
          return;
        }
        e = events_.front();
        events_.pop_front();
        if (e.Job) --inFlight_;
        cv_.notify_all();
      }
      if (e.Job) {
        WriteFolder(*e.Job);
        Free(e.Job);
      } else {
        out_ += ']';
      }
      if (ok_ && out_.size() >= kPiece) {
        ok_ = sink_(out_);
        out_.clear();
      }
      if (!ok_) return;
    }
  }

  void WriteFolder(const FolderJob& job) {
    out_ += firstFolder_ ? "[{\"name\":\"" : ",\n[{\"name\":\"";
    firstFolder_ = false;
    AppendExportName(out_, job.Name);
    out_ += '"';
    if (job.Root) {
      out_ += ",\"dev\":";
      AppendNumber(out_, static_cast<std::uint64_t>(rootDev_));
    }
    if (job.Mtime >= 0) {
      out_ += ",\"mtime\":";
      AppendNumber(out_, static_cast<std::uint64_t>(job.Mtime));
    }
    if (!job.Readable) out_ += ",\"read_error\":true";
    out_ += '}';
    std::size_t k = 0, known = 0;
    std::int64_t files = 0;
    for (std::size_t i = 0; i < job.Entries.size();) {
      const char kind = job.Entries[i];
      const char* nm = job.Entries.c_str() + i + 1;
      const std::size_t len = std::strlen(nm);
      i += len + 2;
      const std::string_view name(nm, len);
      const struct stat* st = nullptr;
      if (kind == 'F') {
        if (job.Stated[k]) st = &job.Stats[k];
        ++k;
        if (!st) continue;  // vanished since the listing
      } else if (kind == 'S') {
        st = &job.Known[known++];
      } else if (kind == 'X') {
        out_ += ",\n{\"name\":\"";
        AppendExportName(out_, name);
        out_ += "\",\"excluded\":\"othfs\"}";
        continue;
      }
      if (!st || !IsCountedFile(LinuxAttributes(st->st_mode, nm))) {
        Other(name, st);
        continue;
      }
      ++files;
      File(name, *st);
    }
    if (options_.Progress) options_.Progress->Files.fetch_add(files, std::memory_order_relaxed);
  }

  void File(std::string_view name, const struct stat& st) {
    out_ += ",\n{\"name\":\"";
    AppendExportName(out_, name);
    out_ += "\",\"asize\":";
    AppendNumber(out_, static_cast<std::uint64_t>(st.st_size));
    out_ += ",\"dsize\":";
    AppendNumber(out_, static_cast<std::uint64_t>(
                           FileAllocated(st.st_blocks, static_cast<double>(st.st_size), unit_)));
    if (st.st_nlink > 1) {
      out_ += ",\"ino\":";
      AppendNumber(out_, static_cast<std::uint64_t>(st.st_ino));
      out_ += ",\"hlnkc\":true,\"nlink\":";
      AppendNumber(out_, static_cast<std::uint64_t>(st.st_nlink));
    }
    if (st.st_mtim.tv_sec >= 0) {
      out_ += ",\"mtime\":";
      AppendNumber(out_, static_cast<std::uint64_t>(st.st_mtim.tv_sec));
    }
    out_ += '}';
  }

  void Other(std::string_view name, const struct stat* st) {
    out_ += ",\n{\"name\":\"";
    AppendExportName(out_, name);
    out_ += "\",\"notreg\":true";
    if (st && st->st_mtim.tv_sec >= 0) {
      out_ += ",\"mtime\":";
      AppendNumber(out_, static_cast<std::uint64_t>(st->st_mtim.tv_sec));
    }
    out_ += '}';
  }

  const ReportSink& sink_;
  const ExportOptions& options_;
  DirectoryReader plain_;
  DirectoryReader& reader_;
  dev_t rootDev_ = 0;
  std::int32_t unit_ = 1;  // for files whose file system reports no block count
  bool ok_ = true;         // the writer's: the sink took everything so far
  bool firstFolder_ = true;
  std::string out_;

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Event> events_;     // the walk's events not yet written
  std::deque<FolderJob*> todo_;  // jobs whose files no reader has taken yet
  std::size_t inFlight_ = 0;     // jobs pushed and not yet written
  bool aborted_ = false;
  bool walkEnded_ = false;
  bool walked_ = false;    // the walk went through the whole tree
  bool finished_ = false;  // the writer wrote everything the walk found
};

}  // namespace

bool ExportTree(const std::string& root, const ReportSink& sink, std::string& error,
                const ExportOptions& options) {
  if (Tracing()) Trace("Globals.ExportTree(" + root + ")");
  Exporter e(sink, options);
  return e.Run(root, error);
}

bool ExportToFile(const std::string& root, const std::string& file, std::string& error,
                  const ExportOptions& options) {
  if (file == "-") {
    int err = 0;
    const ReportSink out = [&err](std::string_view piece) {
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
      err = errno;
      return false;
    };
    bool ok = ExportTree(root, out, error, options);
    if (ok && std::fflush(stdout) != 0) {
      err = errno;
      ok = false;
    }
    if (!ok && err) error = "cannot write the export: " + ErrorText(err);
    return ok;
  }
  if (file.empty() || file.find('\0') != std::string::npos) {
    error = "\"" + file + "\" is not a file name";
    return false;
  }
  std::string target = file;
  if (target[0] != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) {
      error = "cannot tell the current folder: " + ErrorText(errno);
      return false;
    }
    target = std::string(cwd) + "/" + target;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
  PendingFile pending;
  if (const int err = pending.Create(folder, target); err != 0) {
    error = "cannot create " + file + ": " + ErrorText(err);
    return false;
  }
  int writeErr = 0;
  const ReportSink toFile = [&](std::string_view piece) {
    while (!piece.empty()) {
      const ssize_t n = ::write(pending.Fd(), piece.data(), piece.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        writeErr = n < 0 ? errno : EIO;
        return false;
      }
      piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  };
  if (!ExportTree(root, toFile, error, options)) {
    if (writeErr) error = "cannot write " + file + ": " + ErrorText(writeErr);
    return false;
  }
  if (::fsync(pending.Fd()) != 0) {
    error = "cannot write " + file + ": " + ErrorText(errno);
    return false;
  }
  // The name was asked for: an earlier file of it gives way, but only to a complete one.
  struct stat old {};
  if (::lstat(target.c_str(), &old) == 0 && !S_ISDIR(old.st_mode)) ::unlink(target.c_str());
  if (const int err = pending.Publish(); err != 0) {
    error = "cannot create " + file + ": " + ErrorText(err);
    return false;
  }
  return true;
}

}  // namespace kestrum
