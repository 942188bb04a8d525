#include "core/saved/json_export.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "core/platform/errors.h"
#include "core/platform/pending_file.h"
#include "core/platform/unique_fd.h"
#include "core/scan/scanning.h"
#include "core/scan/walk_sink.h"
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

void AppendNumber(std::string& out, std::uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Writes the folders the scan's walk hands it as the export's nested arrays, in pieces of
// about kPiece bytes: one array per folder, its information first, then its entries in
// listing order, then its subfolders.
class JsonWriter : public WalkSink {
 public:
  JsonWriter(const TextSink& sink, std::string rootName)
      : sink_(sink), rootName_(std::move(rootName)) {
    out_.reserve(kPiece + 4096);
  }

  void Header() {
    out_ += "[1,2,{\"progname\":\"";
    out_ += version::Product;
    out_ += "\",\"progver\":\"";
    out_ += std::to_string(version::Major) + "." + std::to_string(version::Minor) + "." +
            std::to_string(version::Revision);
    out_ += "\",\"timestamp\":";
    AppendNumber(out_, static_cast<std::uint64_t>(std::time(nullptr)));
    out_ += "},\n";
  }

  bool Folder(const WalkFolder& f) override {
    out_ += rootGiven_ ? ",\n[{\"name\":\"" : "[{\"name\":\"";
    rootGiven_ = true;
    AppendExportName(out_, f.Root ? std::string_view(rootName_) : f.Name);
    out_ += '"';
    if (f.Root) {
      out_ += ",\"dev\":";
      AppendNumber(out_, static_cast<std::uint64_t>(f.Device));
    }
    if (f.Mtime >= 0) {
      out_ += ",\"mtime\":";
      AppendNumber(out_, static_cast<std::uint64_t>(f.Mtime));
    }
    if (!f.Readable) out_ += ",\"read_error\":true";
    out_ += '}';
    std::size_t at = 0;
    for (const WalkEntry& e : *f.Entries) {
      const std::string_view name(f.Names->c_str() + at);
      at += name.size() + 1;
      out_ += ",\n{\"name\":\"";
      AppendExportName(out_, name);
      out_ += '"';
      switch (e.What) {
        case WalkEntry::Kind::File:
          File(e);
          break;
        case WalkEntry::Kind::Other:
          out_ += ",\"notreg\":true";
          if (e.Stated && e.Mtime >= 0) Mtime(e.Mtime);
          break;
        case WalkEntry::Kind::OtherFs:
          out_ += e.Reason == StoredEntry::kReasonKernel ? ",\"excluded\":\"kernfs\""
                                                         : ",\"excluded\":\"othfs\"";
          break;
        case WalkEntry::Kind::Excluded:
          out_ += ",\"excluded\":\"pattern\"";
          break;
      }
      out_ += '}';
    }
    ++depth_;
    return Flush();
  }

  bool Leave() override {
    out_ += ']';
    --depth_;
    return Flush();
  }

  // Ends the text; false when the sink failed, now or before.
  bool Finish() {
    out_ += "]\n";
    if (ok_) ok_ = sink_(out_);
    out_.clear();
    return ok_;
  }

  bool Ok() const { return ok_; }
  // Every folder the walk gave was left again: the walk went through the whole tree.
  bool Complete() const { return rootGiven_ && depth_ == 0; }

 private:
  void File(const WalkEntry& e) {
    out_ += ",\"asize\":";
    AppendNumber(out_, e.Size);
    out_ += ",\"dsize\":";
    AppendNumber(out_, e.Allocated);
    if (e.Links > 1) {
      out_ += ",\"ino\":";
      AppendNumber(out_, e.Inode);
      out_ += ",\"hlnkc\":true,\"nlink\":";
      AppendNumber(out_, e.Links);
    }
    if (e.Mtime >= 0) Mtime(e.Mtime);
  }

  void Mtime(std::int64_t t) {
    out_ += ",\"mtime\":";
    AppendNumber(out_, static_cast<std::uint64_t>(t));
  }

  bool Flush() {
    if (ok_ && out_.size() >= kPiece) {
      ok_ = sink_(out_);
      out_.clear();
    }
    return ok_;
  }

  const TextSink& sink_;
  const std::string rootName_;
  std::string out_;
  bool ok_ = true;  // the sink took everything so far
  bool rootGiven_ = false;
  std::int64_t depth_ = 0;  // folders given and not yet left
};

}  // namespace

bool ExportScan(const DiskObject& drive, const TextSink& sink, std::string& error,
                const ExportOptions& options) {
  if (Tracing()) Trace("Globals.ExportScan(" + drive.Path() + ")");
  const FolderList* folders = drive.DiskObjectsIfAny();
  const DiskObject* root = options.Top ? options.Top : folders ? folders->Item(1) : nullptr;
  const std::size_t first = root && folders ? folders->PositionOf(root) : 0;
  if (first == 0 || !drive.Drive().Files) {
    error = "nothing of this tree was kept to export";
    return false;
  }
  const FileStore& store = *drive.Drive().Files;
  std::string name = root->Path();
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  JsonWriter writer(sink, name);
  writer.Header();
  std::vector<std::int32_t> open;  // the levels of the folders given and not yet left
  std::vector<WalkEntry> entries;
  std::string names;
  for (std::size_t i = first; i <= folders->Count(); ++i) {
    const DiskObject* f = folders->Item(i);
    if (i > first && f->Level <= root->Level) break;  // past the top folder's branch
    while (!open.empty() && open.back() >= f->Level) {
      open.pop_back();
      if (!writer.Leave()) break;
    }
    if (!Scanning.load(std::memory_order_relaxed) && options.Stoppable) {
      error = "stopped";
      return false;
    }
    entries.clear();
    names.clear();
    store.ForEach(f->FilesAt, [&](const StoredEntry& e) {
      WalkEntry w;
      switch (e.What) {
        case StoredEntry::Kind::File:
          w.What = WalkEntry::Kind::File;
          break;
        case StoredEntry::Kind::Other:
          w.What = WalkEntry::Kind::Other;
          break;
        case StoredEntry::Kind::OtherFs:
          w.What = WalkEntry::Kind::OtherFs;
          break;
        case StoredEntry::Kind::Excluded:
          w.What = WalkEntry::Kind::Excluded;
          break;
      }
      w.Stated = e.HasTime;
      w.Reason = e.Reason;
      w.Size = e.Size;
      w.Allocated = e.Allocated;
      w.Inode = e.Inode;
      w.Links = e.Linked ? std::max<std::uint64_t>(e.Links, 2) : 1;
      w.Mtime = e.HasTime ? e.Time : -1;
      entries.push_back(w);
      names.append(e.Name).push_back('\0');
    });
    const StoredFolder info = store.FolderInfo(f->FilesAt);
    WalkFolder wf;
    wf.Root = f == root;
    wf.Name = f->Name;
    wf.Device = static_cast<dev_t>(store.Device);
    wf.Mtime = info.HasTime ? info.Time : -1;
    wf.Readable = info.Readable;
    wf.Entries = &entries;
    wf.Names = &names;
    if (!writer.Folder(wf)) break;
    open.push_back(f->Level);
    if (options.Progress) {
      options.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
      options.Progress->Files.fetch_add(f->fFileCount, std::memory_order_relaxed);
    }
  }
  while (!open.empty() && writer.Ok()) {
    open.pop_back();
    writer.Leave();
  }
  if (!writer.Ok() || !writer.Finish()) {
    error = "cannot write the export";
    return false;
  }
  return true;
}

bool ExportTree(const std::string& root, const TextSink& sink, std::string& error,
                const ExportOptions& options) {
  if (Tracing()) Trace("Globals.ExportTree(" + root + ")");
  DirectoryReader plain;
  DirectoryReader& reader = options.Reader ? *options.Reader : plain;
  const UniqueFd fd(reader.OpenRoot(root));
  if (!fd) {
    error = "cannot open " + root + ": " + ErrorText(errno);
    return false;
  }
  DiskObject drive;
  drive.DriveForChange().RootFolder = root;
  // For files whose file system reports no block count.
  struct statvfs vs {};
  if (::fstatvfs(fd.Get(), &vs) == 0 && vs.f_frsize > 0 && vs.f_frsize <= 0x40000000)
    drive.DriveForChange().AllocationUnit = static_cast<std::int32_t>(vs.f_frsize);
  std::string name = root;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  JsonWriter writer(sink, name);
  writer.Header();
  ScanOptions scan;
  scan.Reader = options.Reader;
  scan.Progress = options.Progress;
  scan.Threads = options.Threads;
  scan.Excludes = options.Excludes;
  scan.CrossFileSystems = options.CrossFileSystems;
  scan.RootFd = fd.Get();
  scan.Sink = &writer;
  std::int32_t keys = 0;
  ScanDrive(drive, keys, scan);
  if (!writer.Ok() || (writer.Complete() && !writer.Finish())) {
    error = "cannot write the export";
    return false;
  }
  if (!writer.Complete()) {
    error = "stopped";
    return false;
  }
  return true;
}

namespace {

// Blocks SIGPIPE on this thread while an export writes into a pipe or socket, so that a reader
// that goes away fails the write (EPIPE) instead of ending the program; a signal raised
// meanwhile is taken back before the mask is restored.
class NoPipeSignal {
 public:
  NoPipeSignal() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoPipeSignal() {
    const timespec none{0, 0};
    while (sigtimedwait(&pipe_, nullptr, &none) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  NoPipeSignal(const NoPipeSignal&) = delete;
  NoPipeSignal& operator=(const NoPipeSignal&) = delete;

 private:
  sigset_t pipe_{}, old_{};
};

// A sink that writes every piece to fd, keeping the errno of a failure in err.
TextSink WriteTo(int fd, int& err) {
  return [fd, &err](std::string_view piece) {
    while (!piece.empty()) {
      const ssize_t n = ::write(fd, piece.data(), piece.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = n < 0 ? errno : EIO;
        return false;
      }
      piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  };
}

// The name path stands for once its symbolic links are followed, the last one included even
// where what it names does not exist yet (the export then creates that file). "" with err set
// when the links go round in circles or cannot be read.
std::string FollowLinks(std::string path, int& err) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string to(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
    if (n < 0) {
      err = errno;
      return {};
    }
    to.resize(static_cast<std::size_t>(n));
    if (!to.empty() && to[0] == '/')
      path = to;
    else
      path = path.substr(0, path.rfind('/') + 1) + to;
  }
  err = ELOOP;
  return {};
}

// Opens a device, FIFO or socket to write the export into as a stream. A FIFO nobody reads
// yet is waited for while Scanning holds, so that a stop ends the wait. -1 with errno set.
int OpenStream(const std::string& target, mode_t mode) {
  if (S_ISSOCK(mode)) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd) return -1;
    if (target.size() >= sizeof address.sun_path) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      return -1;
    return fd.Release();
  }
  if (!S_ISFIFO(mode)) return ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  for (;;) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO) return -1;  // ENXIO: no reader yet
    if (!Scanning.load(std::memory_order_relaxed)) {
      errno = EINTR;
      return -1;
    }
    ::poll(nullptr, 0, 50);
  }
}

// Compresses what it is given into a sink, as gzip or zstd by the file's name ending ".gz" or
// ".zst", or passes it on unchanged. Finish writes the end of the compressed stream.
class Compressor {
 public:
  enum class Kind { None, Gzip, Zstd };
  static Kind For(const std::string& file) {
    const auto ends = [&file](std::string_view end) {
      return file.size() > end.size() && file.compare(file.size() - end.size(), end.size(), end) == 0;
    };
    return ends(".gz") ? Kind::Gzip : ends(".zst") ? Kind::Zstd : Kind::None;
  }
  Compressor(Kind kind, TextSink out) : kind_(kind), out_(std::move(out)) {
    if (kind_ == Kind::Gzip) {
      // 15 bits of window, and 16 more for the gzip wrapper.
      ok_ = deflateInit2(&z_, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
      zOpen_ = ok_;
    } else if (kind_ == Kind::Zstd) {
      zstd_ = ZSTD_createCCtx();
      ok_ = zstd_ != nullptr;
      if (ok_) ZSTD_CCtx_setParameter(zstd_, ZSTD_c_compressionLevel, 3);
    }
    buffer_.resize(kPiece);
  }
  ~Compressor() {
    if (zOpen_) deflateEnd(&z_);
    if (zstd_) ZSTD_freeCCtx(zstd_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  TextSink Sink() {
    if (kind_ == Kind::None) return out_;
    return [this](std::string_view piece) { return Put(piece, false); };
  }
  bool Finish() { return kind_ == Kind::None ? true : Put({}, true); }

 private:
  bool Put(std::string_view piece, bool end) {
    if (!ok_) return false;
    if (kind_ == Kind::Gzip) {
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
      z_.avail_in = static_cast<uInt>(piece.size());
      for (;;) {
        z_.next_out = reinterpret_cast<Bytef*>(buffer_.data());
        z_.avail_out = static_cast<uInt>(buffer_.size());
        const int r = deflate(&z_, end ? Z_FINISH : Z_NO_FLUSH);
        if (r == Z_STREAM_ERROR) return ok_ = false;
        const std::size_t n = buffer_.size() - z_.avail_out;
        if (n > 0 && !out_(std::string_view(buffer_.data(), n))) return ok_ = false;
        if (end ? r == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0)) return true;
      }
    }
    ZSTD_inBuffer in{piece.data(), piece.size(), 0};
    for (;;) {
      ZSTD_outBuffer o{buffer_.data(), buffer_.size(), 0};
      const std::size_t left = ZSTD_compressStream2(zstd_, &o, &in, end ? ZSTD_e_end : ZSTD_e_continue);
      if (ZSTD_isError(left)) return ok_ = false;
      if (o.pos > 0 && !out_(std::string_view(buffer_.data(), o.pos))) return ok_ = false;
      if (end ? left == 0 : in.pos == in.size) return true;
    }
  }

  const Kind kind_;
  const TextSink out_;
  bool ok_ = true;
  bool zOpen_ = false;
  z_stream z_{};
  ZSTD_CCtx* zstd_ = nullptr;
  std::vector<char> buffer_;
};

// Writes what produce makes into file, compressed by its name, through a pending file (see
// ExportToFile).
using Producer = std::function<bool(const TextSink& sink, std::string& error)>;

bool WriteExport(const std::string& file, std::string& error, const Producer& produce);

}  // namespace

bool ExportToFile(const std::string& root, const std::string& file, std::string& error,
                  const ExportOptions& options) {
  return WriteExport(file, error, [&](const TextSink& sink, std::string& err) {
    return ExportTree(root, sink, err, options);
  });
}

bool ExportScanToFile(const DiskObject& drive, const std::string& file, std::string& error,
                      const ExportOptions& options) {
  return WriteExport(file, error, [&](const TextSink& sink, std::string& err) {
    return ExportScan(drive, sink, err, options);
  });
}

namespace {

// Runs produce into out, compressed as kind says; false with error set on any failure.
bool Produce(Compressor::Kind kind, const TextSink& out, std::string& error,
             const Producer& produce) {
  Compressor c(kind, out);
  if (!produce(c.Sink(), error)) return false;
  if (!c.Finish()) {
    error = "cannot write the export";
    return false;
  }
  return true;
}

bool WriteExport(const std::string& file, std::string& error, const Producer& produce) {
  if (file == "-") {
    int err = 0;
    const TextSink out = [&err](std::string_view piece) {
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
      err = errno;
      return false;
    };
    bool ok = produce(out, error);
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
  // What stands at the name, its links followed: a device, FIFO or socket is written into as
  // a stream and never removed; only a regular file (or none) is replaced, by a complete one.
  struct stat there {};
  if (::stat(target.c_str(), &there) == 0) {
    if (S_ISDIR(there.st_mode)) {
      error = file + " is a folder";
      return false;
    }
    if (S_ISCHR(there.st_mode) || S_ISFIFO(there.st_mode) || S_ISSOCK(there.st_mode)) {
      const NoPipeSignal quiet;
      const UniqueFd fd(OpenStream(target, there.st_mode));
      if (!fd) {
        error = errno == EINTR ? "stopped" : "cannot open " + file + ": " + ErrorText(errno);
        return false;
      }
      int writeErr = 0;
      if (!Produce(Compressor::For(file), WriteTo(fd.Get(), writeErr), error, produce)) {
        if (writeErr) error = "cannot write " + file + ": " + ErrorText(writeErr);
        return false;
      }
      return true;
    }
    if (!S_ISREG(there.st_mode)) {
      error = file + " is neither a file nor a stream an export may write";
      return false;
    }
  } else if (errno != ENOENT) {
    error = "cannot create " + file + ": " + ErrorText(errno);
    return false;
  }
  int linkErr = 0;
  target = FollowLinks(target, linkErr);
  if (target.empty()) {
    error = "cannot create " + file + ": " + ErrorText(linkErr);
    return false;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
  PendingFile pending;
  if (const int err = pending.Create(folder, target); err != 0) {
    error = "cannot create " + file + ": " + ErrorText(err);
    return false;
  }
  int writeErr = 0;
  if (!Produce(Compressor::For(file), WriteTo(pending.Fd(), writeErr), error, produce)) {
    if (writeErr) error = "cannot write " + file + ": " + ErrorText(writeErr);
    return false;
  }
  if (::fsync(pending.Fd()) != 0) {
    error = "cannot write " + file + ": " + ErrorText(errno);
    return false;
  }
  // The name was asked for: an earlier file of it gives way, but only to a complete one, and
  // only a regular file (whatever came to stand there meanwhile stays, and the publish fails).
  struct stat old {};
  if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::unlink(target.c_str());
  if (const int err = pending.Publish(); err != 0) {
    error = "cannot create " + file + ": " + ErrorText(err);
    return false;
  }
  return true;
}

}  // namespace

}  // namespace kestrum
