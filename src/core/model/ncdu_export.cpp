#include "core/model/ncdu_export.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
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

struct Frame {
  int Fd = -1;
  dev_t Dev = 0;
  ino_t Ino = 0;
  std::string Subfolders;  // names ending in NUL
  std::size_t Next = 0;
};

class Exporter {
 public:
  Exporter(const ReportSink& sink, const ExportOptions& options)
      : sink_(sink), options_(options), reader_(options.Reader ? *options.Reader : plain_) {
    chunk_.resize(64 * 1024);
    out_.reserve(kPiece + 4096);
  }
  ~Exporter() {
    for (Frame& f : stack_)
      if (f.Fd >= 0) ::close(f.Fd);
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
    Folder(fd, name, &st, true);
    while (!stack_.empty() && ok_) {
      Frame& top = stack_.back();
      if (!Scanning.load(std::memory_order_relaxed)) {
        error = "stopped";
        return false;
      }
      if (top.Next < top.Subfolders.size()) {
        const char* nm = top.Subfolders.c_str() + top.Next;
        const std::size_t len = std::strlen(nm);
        top.Next += len + 1;
        const int child = reader_.OpenAt(top.Fd, nm);
        struct stat cs {};
        const bool have = reader_.StatAt(top.Fd, nm, cs) == 0;
        out_ += ",\n";
        Folder(child, std::string_view(nm, len), have ? &cs : nullptr, false);
        LimitOpen();
      } else {
        Leave();
      }
    }
    out_ += "]\n";
    if (ok_ && !out_.empty()) ok_ = sink_(out_);
    if (!ok_) error = "cannot write the export";
    return ok_;
  }

 private:
  void Flush() {
    if (ok_ && out_.size() >= kPiece) {
      ok_ = sink_(out_);
      out_.clear();
    }
  }

  // Writes a folder's opening, its information and its files; pushes it when it has
  // subfolders, else closes it. Takes over fd.
  void Folder(int fd, std::string_view name, const struct stat* st, bool root) {
    if (options_.Progress) options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
    out_ += "[{\"name\":\"";
    AppendExportName(out_, name);
    out_ += '"';
    if (root) {
      out_ += ",\"dev\":";
      AppendNumber(out_, static_cast<std::uint64_t>(rootDev_));
    }
    if (st && st->st_mtim.tv_sec >= 0) {
      out_ += ",\"mtime\":";
      AppendNumber(out_, static_cast<std::uint64_t>(st->st_mtim.tv_sec));
    }
    const bool readable = fd >= 0 && ReadListing(fd);
    if (!readable) out_ += ",\"read_error\":true";
    out_ += '}';
    Frame frame;
    if (readable) Entries(fd, frame.Subfolders);
    Flush();
    if (!frame.Subfolders.empty()) {
      struct stat self {};
      ::fstat(fd, &self);
      frame.Fd = fd;
      frame.Dev = self.st_dev;
      frame.Ino = self.st_ino;
      stack_.push_back(std::move(frame));
    } else {
      if (fd >= 0) ::close(fd);
      out_ += ']';
    }
  }

  bool ReadListing(int fd) {
    listing_.clear();
    bool any = false;
    for (;;) {
      const long n = reader_.ReadEntries(fd, chunk_.data(), chunk_.size());
      if (n < 0) return any;
      if (n == 0) return true;
      any = true;
      ForEachDirent(chunk_.data(), n, [this](unsigned char type, const char* nm) {
        listing_.push_back(static_cast<char>(type));
        listing_.insert(listing_.end(), nm, nm + std::strlen(nm) + 1);
      });
    }
  }

  void Entries(int fd, std::string& subfolders) {
    std::int64_t files = 0;
    for (std::size_t i = 0; i < listing_.size();) {
      const auto type = static_cast<unsigned char>(listing_[i]);
      const char* nm = listing_.data() + i + 1;
      const std::size_t len = std::strlen(nm);
      i += len + 2;
      const std::string_view name(nm, len);
      if (type != DT_REG && type != DT_DIR && type != DT_UNKNOWN) {
        Other(name, nullptr);
        continue;
      }
      struct stat st {};
      if (reader_.StatAt(fd, nm, st) != 0) continue;  // vanished since the listing
      if (S_ISDIR(st.st_mode)) {
        if (st.st_dev == rootDev_) {
          subfolders.append(nm, len + 1);
        } else {
          out_ += ",\n{\"name\":\"";
          AppendExportName(out_, name);
          out_ += "\",\"excluded\":\"othfs\"}";
        }
        continue;
      }
      if (!IsCountedFile(LinuxAttributes(st.st_mode, nm))) {
        Other(name, &st);
        continue;
      }
      ++files;
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
      Flush();
    }
    if (options_.Progress) options_.Progress->Files.fetch_add(files, std::memory_order_relaxed);
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

  void LimitOpen() {
    if (stack_.size() <= kMaxOpen) return;
    Frame& f = stack_[stack_.size() - 1 - kMaxOpen];
    if (f.Fd >= 0) {
      ::close(f.Fd);
      f.Fd = -1;
    }
  }

  // Closes the top folder's array and makes its parent the top again, reopening the parent
  // through ".." when its descriptor was closed; a parent that moved meanwhile is not read
  // further.
  void Leave() {
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    out_ += ']';
    if (!stack_.empty() && stack_.back().Fd < 0) {
      Frame& p = stack_.back();
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

  const ReportSink& sink_;
  const ExportOptions& options_;
  DirectoryReader plain_;
  DirectoryReader& reader_;
  dev_t rootDev_ = 0;
  std::int32_t unit_ = 1;  // for files whose file system reports no block count
  bool ok_ = true;
  std::vector<Frame> stack_;
  std::vector<char> chunk_;
  std::vector<char> listing_;
  std::string out_;
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
