#include "core/saved/json_import.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/tree/drive_build.h"
#include "core/tree/file_store.h"
#include "core/tree/summary.h"
#include "core/platform/errors.h"
#include "core/platform/unique_fd.h"
#include "core/scan/scanning.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

constexpr std::size_t kBuffer = 256 * 1024;

// What a file may make the reader hold, whatever it says: each limit is checked while the
// text is read, so a crafted file is refused long before it costs more.
constexpr std::size_t kLongestName = 4096;     // no file system allows a longer name
constexpr std::size_t kLongestKey = 256;       // the format's keys are a few letters
constexpr std::size_t kLongestOther = 65536;   // a string the reader skips (metadata, ...)
constexpr std::size_t kLongestPath = 64u << 20;  // a folder's path, its names together
constexpr std::size_t kDeepestFolder = 150000;   // folders inside folders
constexpr std::size_t kDeepestValue = 1000;      // arrays and objects in a skipped value

// A stream of the file's bytes, decompressed where it is compressed. Read returns the bytes
// placed in out (0 at the end) or -1 with Why set.
class Source {
 public:
  virtual ~Source() = default;
  virtual long Read(char* out, std::size_t size) = 0;
  std::string Why;
};

// The file's own bytes. A FIFO is opened without waiting for its writer (O_NONBLOCK): its
// reads then wait in poll, where a stop (Scanning going false, when stoppable) ends them, and
// its end is the end only once a writer has come and gone. Any other stream (standard input,
// a terminal) is polled before each read when stoppable, for the same reason. A regular file
// is read to its end unless a stop comes between two pieces.
class PlainSource : public Source {
 public:
  PlainSource(int fd, bool fifo, bool blocking, bool stoppable, ImportReadProgress* read)
      : fd_(fd), fifo_(fifo), blocking_(blocking), stoppable_(stoppable), read_(read) {}
  // Reads up to n bytes to tell the format by; Read gives them again first.
  const std::string& Head(std::size_t n) {
    head_.resize(n);
    std::size_t got = 0;
    while (got < n) {
      const long r = Raw(head_.data() + got, n - got);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    head_.resize(got);
    return head_;
  }
  long Read(char* out, std::size_t size) override {
    if (at_ < head_.size()) {
      const std::size_t n = std::min(size, head_.size() - at_);
      std::memcpy(out, head_.data() + at_, n);
      at_ += n;
      return static_cast<long>(n);
    }
    return Raw(out, size);
  }

 private:
  bool Stopped() {
    if (!stoppable_ || Scanning.load(std::memory_order_relaxed)) return false;
    Why = "stopped before it was read to its end";
    return true;
  }
  long Raw(char* out, std::size_t size) {
    if (!Why.empty()) return -1;
    for (;;) {
      if (Stopped()) return -1;
      if (stoppable_ && blocking_) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
      }
      const ssize_t n = ::read(fd_, out, size);
      if (n > 0) {
        written_ = true;
        if (read_)
          read_->Bytes.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
        return static_cast<long>(n);
      }
      if (n == 0 && (!fifo_ || written_ || hungUp_)) return 0;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        Why = "cannot read it: " + ErrorText(errno);
        return -1;
      }
      // A FIFO without a writer yet, or with nothing to read yet.
      if (Stopped()) return -1;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN))
        hungUp_ = true;  // a writer came and went without writing
    }
  }

  int fd_;
  bool fifo_, blocking_, stoppable_;
  ImportReadProgress* read_;
  bool written_ = false, hungUp_ = false;
  std::string head_;
  std::size_t at_ = 0;
};

// gzip: every member of the stream in turn, as gzip -d does.
class GzipSource : public Source {
 public:
  explicit GzipSource(std::unique_ptr<Source> raw) : raw_(std::move(raw)), in_(kBuffer) {
    ok_ = inflateInit2(&z_, 15 + 16) == Z_OK;
  }
  ~GzipSource() override {
    if (ok_) inflateEnd(&z_);
  }
  long Read(char* out, std::size_t size) override {
    if (!ok_) {
      Why = "cannot start the gzip decoder";
      return -1;
    }
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(size);
    while (z_.avail_out == size) {
      if (z_.avail_in == 0) {
        const long n = raw_->Read(in_.data(), in_.size());
        if (n < 0) {
          Why = raw_->Why;
          return -1;
        }
        if (n == 0) {
          if (!ended_) {
            Why = "the gzip stream is cut short";
            return -1;
          }
          return 0;
        }
        z_.next_in = reinterpret_cast<Bytef*>(in_.data());
        z_.avail_in = static_cast<uInt>(n);
      }
      if (ended_) {
        // Zero bytes after a member are padding (a tape's blocks), as gzip -d takes them.
        while (z_.avail_in > 0 && *z_.next_in == 0) {
          ++z_.next_in;
          --z_.avail_in;
          padded_ = true;
        }
        if (z_.avail_in == 0) continue;
        if (padded_) {
          Why = "the gzip data is damaged: data after the padding";
          return -1;
        }
        inflateReset(&z_);  // another member follows
        ended_ = false;
      }
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        ended_ = true;
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        Why = std::string("the gzip data is damaged") + (z_.msg ? std::string(": ") + z_.msg : "");
        return -1;
      }
    }
    return static_cast<long>(size - z_.avail_out);
  }

 private:
  std::unique_ptr<Source> raw_;
  std::vector<char> in_;
  z_stream z_{};
  bool ok_ = false;
  bool ended_ = false;
  bool padded_ = false;  // zero bytes followed the last member
};

class ZstdSource : public Source {
 public:
  explicit ZstdSource(std::unique_ptr<Source> raw)
      : raw_(std::move(raw)), in_(ZSTD_DStreamInSize()), z_(ZSTD_createDStream()) {}
  ~ZstdSource() override { ZSTD_freeDStream(z_); }
  long Read(char* out, std::size_t size) override {
    if (!z_) {
      Why = "cannot start the zstd decoder";
      return -1;
    }
    ZSTD_outBuffer o{out, size, 0};
    while (o.pos == 0) {
      if (buf_.pos == buf_.size) {
        const long n = raw_->Read(in_.data(), in_.size());
        if (n < 0) {
          Why = raw_->Why;
          return -1;
        }
        if (n == 0) {
          if (frameOpen_) {
            Why = "the zstd stream is cut short";
            return -1;
          }
          return 0;
        }
        buf_ = ZSTD_inBuffer{in_.data(), static_cast<std::size_t>(n), 0};
      }
      const std::size_t rc = ZSTD_decompressStream(z_, &o, &buf_);
      if (ZSTD_isError(rc)) {
        Why = std::string("the zstd data is damaged: ") + ZSTD_getErrorName(rc);
        return -1;
      }
      frameOpen_ = rc != 0;
    }
    return static_cast<long>(o.pos);
  }

 private:
  std::unique_ptr<Source> raw_;
  std::vector<char> in_;
  ZSTD_DStream* z_;
  ZSTD_inBuffer buf_{nullptr, 0, 0};
  bool frameOpen_ = false;
};

// What one entry object says. Fields the format knows and the reader uses; others skipped.
struct Entry {
  std::string Name;
  bool HasName = false;
  std::uint64_t Asize = 0, Dsize = 0, Dev = 0, Ino = 0, Nlink = 0;
  std::int64_t Mtime = 0;
  bool HasDev = false, HasIno = false, HasNlink = false, HasMtime = false;
  bool Hlnkc = false, Notreg = false, Excluded = false, ReadError = false;
  bool ExcludedOtherFs = false;  // excluded as another file system ("othfs", "otherfs")
  bool ExcludedKernel = false;   // a pseudo file system of the kernel ("kernfs")
  bool HasMode = false;
  std::uint64_t Mode = 0;
  void Clear() {
    Name.clear();
    HasName = HasDev = HasIno = HasNlink = HasMtime = HasMode = false;
    Asize = Dsize = Dev = Ino = Nlink = Mode = 0;
    Mtime = 0;
    Hlnkc = Notreg = Excluded = ReadError = ExcludedOtherFs = ExcludedKernel = false;
  }
};

struct Failure {};

struct DevIno {
  std::uint64_t Dev, Ino;
  bool operator==(const DevIno&) const = default;
};
struct DevInoHash {
  std::size_t operator()(const DevIno& k) const noexcept {
    return std::hash<std::uint64_t>{}(k.Ino * 0x9e3779b97f4a7c15ULL ^ k.Dev);
  }
};

class Reader {
 public:
  Reader(Source& source, DiskObject& drive, std::int32_t& keyCounter, const ImportOptions& options)
      : source_(source),
        drive_(drive),
        keyCounter_(keyCounter),
        options_(options),
        buffer_(kBuffer),
        files_(options.KeepFiles ? std::make_shared<FileStore>() : nullptr) {
    if (files_) files_->FromFile = true;
  }

  // Reads the whole file; throws Failure with why_ and at_ set.
  void Run() {
    Expect('[', "the file does not start with \"[\": it is not a JSON export");
    const std::uint64_t major = Number("the major version");
    if (major != 1) Fail("major version " + std::to_string(major) + " is not 1");
    Expect(',', "\",\" expected after the major version");
    minor_ = Number("the minor version");
    Expect(',', "\",\" expected after the minor version");
    SkipValue();  // the metadata
    Expect(',', "\",\" expected after the metadata");
    Expect('[', "the root folder (\"[\") expected after the metadata");
    Directory();
    Expect(']', "\"]\" expected at the end of the export");
    SkipSpace();
    Mark();
    if (!AtEnd()) Fail("data after the end of the export");
    ClaimLinkedFiles();
    Add100Folder(rootPath_, rootName_, *drive_.DiskObjects().Item(1), drive_, level0_);
    if (files_) files_->Seal();
    drive_.DriveForChange().Files = std::move(files_);
  }

  std::uint64_t Offset() const { return at_; }
  const std::string& Why() const { return why_; }

 private:
  // A name met in a folder and where its entry began.
  struct NameAt {
    std::string_view Name;
    std::uint64_t At;
    bool operator<(const NameAt& o) const { return Name < o.Name || (Name == o.Name && At < o.At); }
  };
  // One open folder: its object, device, last file and the names met in it so far.
  struct Frame {
    DiskObject* Folder;
    std::uint32_t Order;  // its place among the folders in the file's order (depth first)
    bool SubfolderMet;    // a subfolder came before: a file now is out of the scan's order
    std::uint64_t Dev;
    FileStore::Writer Files;  // its run in files_
    std::size_t PathSize;
    // Checked for two entries of one name when the folder closes: sorting once costs less
    // than a hash set's node per name.
    std::vector<NameAt> Names;
    // Names that have no record to point into (no entries are kept): made on the first one.
    std::unique_ptr<std::deque<std::string>> Own;
  };

  [[noreturn]] void Fail(std::string why) {
    why_ = std::move(why);
    throw Failure{};
  }

  bool Fill() {
    if (end_ && pos_ < end_) return true;
    consumed_ += static_cast<std::uint64_t>(end_);
    pos_ = end_ = 0;
    const long n = source_.Read(buffer_.data(), buffer_.size());
    if (n < 0) {
      at_ = consumed_;
      Fail(source_.Why);
    }
    end_ = static_cast<std::size_t>(n);
    return n > 0;
  }
  bool AtEnd() { return pos_ >= end_ && !Fill(); }
  // The next byte, without taking it; -1 at the end.
  int Peek() {
    if (pos_ >= end_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  void Mark() { at_ = consumed_ + pos_; }
  int Take() {
    const int c = Peek();
    if (c < 0) {
      Mark();
      Fail("the file ends too early: it is cut short");
    }
    ++pos_;
    return c;
  }
  void SkipSpace() {
    for (;;) {
      if (pos_ >= end_ && !Fill()) return;
      const char c = buffer_[pos_];
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      ++pos_;
    }
  }
  void Expect(char c, const char* why) {
    SkipSpace();
    Mark();
    if (Take() != static_cast<unsigned char>(c)) Fail(why);
  }

  // A non-negative whole number; what names it in the message.
  std::uint64_t Number(const char* what,
                       std::uint64_t most = std::numeric_limits<std::uint64_t>::max()) {
    SkipSpace();
    Mark();
    int c = Peek();
    if (c == '-') Fail(std::string(what) + " is negative");
    if (c < '0' || c > '9') Fail(std::string(what) + " is not a number");
    std::uint64_t v = 0;
    bool over = false;
    while (c >= '0' && c <= '9') {
      ++pos_;
      const auto d = static_cast<std::uint64_t>(c - '0');
      if (v > (std::numeric_limits<std::uint64_t>::max() - d) / 10) over = true;
      v = v * 10 + d;
      c = Peek();
    }
    if (c == '.' || c == 'e' || c == 'E') Fail(std::string(what) + " is not a whole number");
    if (over || v > most) Fail(std::string(what) + " is out of range");
    return v;
  }

  void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  std::uint32_t Hex4() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const int c = Take();
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<std::uint32_t>(c - 'A' + 10);
      else
        Fail("an invalid \\u escape");
    }
    return v;
  }
  // A string after its opening quote, into out, of at most most bytes (what names it in the
  // message when longer). Bytes that are no escape are taken as they are, so a name that is
  // not UTF-8 (as ncdu writes it) keeps its bytes.
  void String(std::string& out, std::size_t most, const char* what) {
    out.clear();
    for (;;) {
      if (pos_ >= end_ && !Fill()) {
        Mark();
        Fail("the file ends inside a string: it is cut short");
      }
      // The plain run up to the next quote, backslash or control byte, in one piece.
      std::size_t run = pos_;
      while (run < end_) {
        const auto c = static_cast<unsigned char>(buffer_[run]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++run;
      }
      out.append(buffer_.data() + pos_, run - pos_);
      pos_ = run;
      // Checked as it grows: at most a buffer's worth is held beyond the limit.
      if (out.size() > most) {
        Mark();
        Fail(std::string(what) + " longer than " + std::to_string(most) + " bytes");
      }
      if (pos_ >= end_) continue;
      Mark();
      const int c = Take();
      if (c == '"') return;
      if (c != '\\') Fail("a control character inside a string");
      const int e = Take();
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += static_cast<char>(e);
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = Hex4();
          if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("an invalid \\u escape (a lone surrogate)");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (Take() != '\\' || Take() != 'u') Fail("an invalid \\u escape (a lone surrogate)");
            const std::uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("an invalid \\u escape (a lone surrogate)");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          Fail("an invalid escape in a string");
      }
    }
  }

  bool Bool(const char* what) {
    SkipSpace();
    Mark();
    const int c = Take();
    const char* rest = c == 't' ? "rue" : c == 'f' ? "alse" : nullptr;
    if (!rest) Fail(std::string(what) + " is not true or false");
    for (const char* r = rest; *r; ++r)
      if (Take() != *r) Fail("not JSON: a misspelt true or false");
    return c == 't';
  }
  void Literal(const char* rest) {
    for (const char* r = rest; *r; ++r)
      if (Take() != *r) Fail("not JSON: an unknown word");
  }

  // Any JSON value, without keeping it; nesting counted, not recursed.
  void SkipValue() {
    std::vector<char> open;  // the closers still awaited
    for (;;) {
      SkipSpace();
      Mark();
      int c = Take();
      if (c == ']' || c == '}') {
        // an empty array or object right after its opening
        if (open.empty() || open.back() != c) Fail("not JSON: unbalanced brackets");
        open.pop_back();
      } else if (c == '[' || c == '{') {
        if (open.size() == kDeepestValue)
          Fail("arrays and objects nested deeper than " + std::to_string(kDeepestValue) +
               " levels");
        open.push_back(c == '[' ? ']' : '}');
        if (c == '{') {
          SkipSpace();
          if (Peek() == '}') continue;
          Mark();
          if (Take() != '"') Fail("not JSON: a key expected");
          String(scratch_, kLongestOther, "a string");
          Expect(':', "not JSON: \":\" expected after a key");
        }
        continue;
      } else if (c == '"') {
        String(scratch_, kLongestOther, "a string");
      } else if (c == 't') {
        Literal("rue");
      } else if (c == 'f') {
        Literal("alse");
      } else if (c == 'n') {
        Literal("ull");
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        for (int d = Peek(); d >= 0 && (std::strchr("0123456789.eE+-", d) != nullptr); d = Peek())
          ++pos_;
      } else {
        Fail(c == ',' ? "not JSON: a value expected" : "not JSON: an unexpected character");
      }
      // After a value: the next element, or closers.
      for (;;) {
        if (open.empty()) return;
        SkipSpace();
        Mark();
        c = Take();
        if (c == ',') {
          if (open.back() == '}') {
            SkipSpace();
            Mark();
            if (Take() != '"') Fail("not JSON: a key expected");
            String(scratch_, kLongestOther, "a string");
            Expect(':', "not JSON: \":\" expected after a key");
          }
          break;
        }
        if (c != open.back()) Fail("not JSON: \",\" or a closing bracket expected");
        open.pop_back();
      }
    }
  }

  // An entry object, after its "{"; its name at most nameLimit bytes.
  void Object(Entry& e, std::size_t nameLimit = kLongestName) {
    e.Clear();
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      return;
    }
    for (;;) {
      SkipSpace();
      Mark();
      if (Take() != '"') Fail("not JSON: a key expected in an entry");
      String(key_, kLongestKey, "a key");
      Expect(':', "not JSON: \":\" expected after a key");
      const std::string_view k = key_;
      if (k == "name") {
        SkipSpace();
        Mark();
        if (Take() != '"') Fail("the name is not a string");
        String(e.Name, nameLimit, "a name");
        e.HasName = true;
      } else if (k == "asize") {
        e.Asize = Number("asize", std::numeric_limits<std::int64_t>::max());
      } else if (k == "dsize") {
        e.Dsize = Number("dsize", std::numeric_limits<std::int64_t>::max());
      } else if (k == "dev") {
        e.Dev = Number("dev");
        e.HasDev = true;
      } else if (k == "ino") {
        e.Ino = Number("ino");
        e.HasIno = true;
      } else if (k == "nlink") {
        e.Nlink = Number("nlink", 0xFFFFFFFFu);
        e.HasNlink = true;
      } else if (k == "mtime") {
        e.Mtime = static_cast<std::int64_t>(
            Number("mtime", static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
        e.HasMtime = true;
      } else if (k == "mode") {
        e.Mode = Number("mode", 0xFFFFFFFFu);
        e.HasMode = true;
      } else if (k == "hlnkc") {
        e.Hlnkc = Bool("hlnkc");
      } else if (k == "notreg") {
        e.Notreg = Bool("notreg");
      } else if (k == "read_error") {
        e.ReadError = Bool("read_error");
      } else if (k == "excluded") {
        // A reason ("pattern", "othfs", "otherfs", "kernfs", "frmlnk"); older files say true.
        SkipSpace();
        if (Peek() == '"') {
          ++pos_;
          String(scratch_, kLongestOther, "a string");
          e.Excluded = true;
          e.ExcludedKernel = scratch_ == "kernfs";
          e.ExcludedOtherFs = scratch_ == "othfs" || scratch_ == "otherfs" || e.ExcludedKernel;
        } else {
          e.Excluded = Bool("excluded");
        }
      } else {
        SkipValue();
      }
      SkipSpace();
      Mark();
      const int c = Take();
      if (c == '}') return;
      if (c != ',') Fail("not JSON: \",\" or \"}\" expected in an entry");
    }
  }

  void CheckName(const Entry& e) {
    if (!e.HasName) Fail("an entry without a name");
    const std::string& n = e.Name;
    if (n.empty()) Fail("an empty name");
    if (n == "." || n == "..") Fail("the name \"" + n + "\" below the root");
    if (n.find('/') != std::string::npos) Fail("a name that holds a \"/\"");
    if (n.find('\0') != std::string::npos) Fail("a name that holds a NUL");
    if (n.size() > kLongestName) Fail("a name longer than any file system allows");
  }

  // The folder on top of the stack is complete: no name may come twice in it.
  void CloseFolder() {
    std::vector<NameAt>& names = stack_.back().Names;
    std::sort(names.begin(), names.end());
    for (std::size_t i = 1; i < names.size(); ++i)
      if (names[i].Name == names[i - 1].Name) {
        at_ = names[i].At;
        Fail("a second entry of the name \"" + std::string(names[i].Name) + "\" in one folder");
      }
    if (files_) files_->End(stack_.back().Files);
    stack_.pop_back();
  }

  // Opens a folder: info object read into entry_, the "[" and "{" taken. parent null: the root.
  void OpenFolder(Frame* parent, std::uint64_t markAt) {
    const auto level = static_cast<std::int32_t>(stack_.size() + 1);
    std::uint64_t dev = entry_.HasDev ? entry_.Dev : 0;
    DiskObject* folder = nullptr;
    if (!parent) {
      if (!entry_.HasName || entry_.Name.empty()) {
        at_ = markAt;
        Fail("the root folder has no name");
      }
      if (entry_.Name.find('\0') != std::string::npos) {
        at_ = markAt;
        Fail("the root folder's name holds a NUL");
      }
      rootName_ = entry_.Name;
      rootPath_ = rootName_.back() == '/' ? rootName_ : rootName_ + "/";
      folder = AddScannedFolder(drive_, std::string(), &drive_, true, level, rootPath_);
      path_ = rootPath_;
    } else {
      if (stack_.size() >= kDeepestFolder)
        Fail("folders nested deeper than " + std::to_string(kDeepestFolder) + " levels");
      if (parent->PathSize + entry_.Name.size() >= kLongestPath)
        Fail("a path longer than " + std::to_string(kLongestPath >> 20) + " MiB");
      folder = AddScannedFolder(drive_, std::move(entry_.Name), parent->Folder, false, level,
                                rootPath_);
      parent->Names.push_back({folder->Name, at_});
      ++parent->Folder->FolderCount;
      ++parent->Folder->fFolderCount;
      parent->Folder->Children = true;
      parent->SubfolderMet = true;
      if (!entry_.HasDev) dev = parent->Dev;
      path_.resize(parent->PathSize);
      path_ += folder->Name;
      path_ += '/';
    }
    // A folder the scan could not read whole: it keeps its expander, as a scan shows it.
    if (entry_.ReadError) folder->Children = true;
    if (options_.Progress) options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
    FileStore::Writer writer;
    if (files_) {
      if (parent) {
        files_->Pause(parent->Files);
      } else {
        files_->Device = dev;
      }
      writer = files_->Begin(StoredFolder{!entry_.ReadError, entry_.HasMtime, entry_.Mtime});
      folder->FilesAt = writer.Run;
    }
    stack_.push_back(Frame{folder, folders_++, false, dev, writer, path_.size(), {}, nullptr});
  }

  // The entry in entry_ as the store keeps it, its name included.
  StoredEntry Stored(bool linked) const {
    StoredEntry e;
    if (entry_.Excluded) {
      e.What = entry_.ExcludedOtherFs ? StoredEntry::Kind::OtherFs : StoredEntry::Kind::Excluded;
      if (entry_.ExcludedKernel) e.Reason = StoredEntry::kReasonKernel;
    }
    else if (entry_.Notreg)
      e.What = StoredEntry::Kind::Other;
    e.HasTime = entry_.HasMtime;
    e.Time = entry_.Mtime;
    e.Executable = entry_.HasMode && (entry_.Mode & 0111) != 0;
    if (e.What == StoredEntry::Kind::File) {
      e.Size = entry_.Asize;
      e.Allocated = entry_.Dsize;
      if (linked && entry_.HasIno) {
        e.Linked = true;
        e.Inode = entry_.Ino;
        e.Links = entry_.HasNlink ? entry_.Nlink : 2;
      }
    }
    e.Name = entry_.Name;
    return e;
  }

  // Keeps the entry's name for the check of names, and its record where entries are kept;
  // the record's position, or FileStore::kNone.
  std::uint64_t Keep(Frame& f, const StoredEntry& e) {
    if (!files_) {
      if (!f.Own) f.Own = std::make_unique<std::deque<std::string>>();
      f.Names.push_back({f.Own->emplace_back(entry_.Name), at_});
      return FileStore::kNone;
    }
    const std::uint64_t position = files_->Add(f.Files, e);
    f.Names.push_back({files_->NameAt(position), at_});
    return position;
  }

  void AddFile(Frame& f) {
    if (entry_.Notreg || entry_.Excluded) {
      Keep(f, Stored(false));
      return;
    }
    if (f.SubfolderMet) interleaved_ = true;
    bool elsewhere = false;
    std::optional<Claim> claim;
    if (options_.Links == HardLinkRule::Once && entry_.HasIno) {
      const bool linked = entry_.HasNlink ? entry_.Nlink > 1 : entry_.Hlnkc;
      // gdu marks only the later names of a linked file, with no link count: its first name,
      // unmarked, is where it counts.
      const bool gduLater = minor_ >= 2 && !entry_.HasNlink && entry_.Hlnkc;
      const DevIno id{entry_.HasDev ? entry_.Dev : f.Dev, entry_.Ino};
      if (gduLater) {
        elsewhere = true;
      } else if (linked) {
        elsewhere = !links_.insert(id).second;
        claim = Claim{f.Order, 0, f.Folder, id, 0, 0, !elsewhere};  // record and sizes below
      }
    }
    StoredEntry file =
        Stored(entry_.HasIno && (entry_.HasNlink ? entry_.Nlink > 1 : entry_.Hlnkc));
    file.CountedElsewhere = elsewhere;
    const std::uint64_t record = Keep(f, file);
    const auto size = static_cast<double>(file.Size);
    const auto allocated = static_cast<double>(file.Allocated);
    // Every name counts as a file, as the scan counts them; a further name adds no bytes.
    DiskObject& folder = *f.Folder;
    ++folder.FileCount;
    ++folder.fFileCount;
    if (options_.Progress) options_.Progress->Files.fetch_add(1, std::memory_order_relaxed);
    if (claim) {
      if (files_) {
        claim->Record = record;
      } else {
        claim->Record = claimNames_.size();
        claimNames_.emplace_back(entry_.Name);
      }
      claim->Size = size;
      claim->Allocated = allocated;
      claims_.push_back(*claim);
    }
    if (elsewhere) return;
    folder.UsedSpace += size;
    folder.fUsedSpace += size;
    folder.AllocatedSpace += allocated;
    folder.fAllocatedSpace += allocated;
    OfferLargest(drive_, std::string_view(path_).substr(0, f.PathSize), entry_.Name, size,
                 allocated, keyCounter_, scratch_);
  }

  // The names of linked files claim their file in the order a scan of the tree would meet them:
  // a folder's own files first, then its subfolders depth first. Each name claims as it is read,
  // which is that order where every folder lists its files before its subfolders (as this
  // program writes them). Where a file came after a subfolder (ncdu writes a folder's entries
  // in the directory's order), the claims are made again in the scan's order: the first name
  // counts the file's bytes and may enter the largest list; the others are marked and leave it.
  void ClaimLinkedFiles() {
    if (interleaved_) {
      for (const Claim& c : claims_)
        if (c.Counted) Count(*c.Object, -c.Size, -c.Allocated);
      links_.clear();
      std::stable_sort(claims_.begin(), claims_.end(),
                       [](const Claim& a, const Claim& b) { return a.Folder < b.Folder; });
      for (Claim& c : claims_) {
        const bool counts = links_.insert(c.Id).second;
        if (counts) Count(*c.Object, c.Size, c.Allocated);
        if (counts == c.Counted) continue;
        c.Counted = counts;
        if (files_) files_->SetCountedElsewhere(c.Record, !counts);
        const std::string name(files_ ? files_->NameAt(c.Record) : claimNames_[c.Record]);
        if (counts)
          OfferLargest(drive_, c.Object->Path(), name, c.Size, c.Allocated, keyCounter_, scratch_);
        else
          RemoveLargest(drive_, c.Object->Path() + name);
      }
    }
    claims_.clear();
    claims_.shrink_to_fit();
    claimNames_.clear();
  }

  static void Count(DiskObject& folder, double size, double allocated) {
    folder.UsedSpace += size;
    folder.fUsedSpace += size;
    folder.AllocatedSpace += allocated;
    folder.fAllocatedSpace += allocated;
  }

  // The items of an array after its first, to its closing "]", read and dropped.
  void SkipRestOfArray() {
    for (;;) {
      SkipSpace();
      Mark();
      const int c = Take();
      if (c == ']') return;
      if (c != ',') Fail("not JSON: \",\" or \"]\" expected in a folder");
      SkipValue();
    }
  }

  // The root folder, after its "[", to its closing "]"; every level on stack_, not recursed.
  void Directory() {
    Expect('{', "the root folder's information (\"{\") expected");
    const std::uint64_t rootAt = at_;
    Object(entry_, kLongestPath);  // the root's name is its path
    OpenFolder(nullptr, rootAt);
    while (!stack_.empty()) {
      SkipSpace();
      Mark();
      const int c = Take();
      if (c == ']') {
        CloseFolder();
        if (!stack_.empty()) path_.resize(stack_.back().PathSize);
        continue;
      }
      if (c != ',') Fail("not JSON: \",\" or \"]\" expected in a folder");
      SkipSpace();
      Mark();
      const std::uint64_t itemAt = at_;
      const int open = Take();
      Frame& f = stack_.back();
      if (open == '{') {
        Object(entry_);
        at_ = itemAt;
        CheckName(entry_);
        AddFile(f);
      } else if (open == '[') {
        Expect('{', "a folder's information (\"{\") expected after \"[\"");
        Object(entry_);
        at_ = itemAt;
        CheckName(entry_);
        if (entry_.Excluded) {
          // A folder left out (another file system, a rule): an entry, as the scan keeps it,
          // and not a folder; whatever the array holds after it was never counted.
          AddFile(f);
          SkipRestOfArray();
        } else {
          OpenFolder(&f, itemAt);
        }
      } else {
        Fail("an entry (\"{\") or a folder (\"[\") expected");
      }
    }
  }

  Source& source_;
  DiskObject& drive_;
  std::int32_t& keyCounter_;
  const ImportOptions& options_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, end_ = 0;
  std::uint64_t consumed_ = 0;  // bytes before buffer_
  std::uint64_t at_ = 0;        // where the item being read began, for the message
  std::string why_;
  std::uint64_t minor_ = 0;
  std::shared_ptr<FileStore> files_;  // null: the entries are not kept
  std::vector<Frame> stack_;
  Entry entry_;
  std::string key_, scratch_, path_, rootName_, rootPath_;
  std::unordered_set<DevIno, DevInoHash> links_;
  // A name of a linked file met under Once, and whether it claimed the file.
  struct Claim {
    std::uint32_t Folder;  // the folder's Order
    std::uint64_t Record;  // its record in files_, or its name's place in claimNames_
    DiskObject* Object;
    DevIno Id;
    double Size, Allocated;
    bool Counted;
  };
  std::vector<Claim> claims_;
  std::deque<std::string> claimNames_;  // the claims' names, when no entries are kept
  std::uint32_t folders_ = 0;
  bool interleaved_ = false;  // some file came after a subfolder of its folder
  std::int32_t level0_ = 0;
};

}  // namespace

bool ImportScan(const std::string& file, DiskObject& drive, std::int32_t& keyCounter,
                ImportError& error, const ImportOptions& options) {
  if (Tracing()) Trace("Globals.ImportScan(" + file + ")");
  const auto fail = [&](const std::string& why) {
    error.Message = "Cannot open the saved scan \"" + file + "\": " + why;
    return false;
  };
  // "-" is standard input. Anything else is opened without waiting (a FIFO without a writer
  // would block the open), then read as a stream where it is a FIFO.
  UniqueFd own;
  int fd = STDIN_FILENO;
  bool fifo = false;
  struct stat st {};
  if (file != "-") {
    own.Reset(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!own) return fail(ErrorText(errno));
    fd = own.Get();
    fifo = ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    if (!fifo) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  } else if (::fstat(fd, &st) != 0) {
    st.st_mode = 0;
  }
  const bool regular = S_ISREG(st.st_mode);
  if (options.Read) {
    options.Read->Bytes = 0;
    options.Read->Size = regular ? static_cast<std::int64_t>(st.st_size) : -1;
  }
  auto plain = std::make_unique<PlainSource>(fd, fifo, !regular && !fifo, options.Stoppable,
                                             options.Read);
  const std::string head = plain->Head(8);
  if (!plain->Why.empty()) return fail(plain->Why);
  const std::size_t got = head.size();
  if (head.compare(0, 8, "\xbfncduEX1") == 0)
    return fail(
        "it is in ncdu's binary format. Convert it to JSON first with "
        "\"ncdu -f FILE -o FILE.json\" (ncdu 2.6 or later) and open that.");
  std::unique_ptr<Source> source = std::move(plain);
  bool compressed = false;
  // zstd: a frame, or a skippable frame (its magic 0x184D2A5?) before one, as pzstd writes.
  const auto byte = [&head](std::size_t i) { return static_cast<unsigned char>(head[i]); };
  const bool zstd = got >= 4 && (head.compare(0, 4, "\x28\xB5\x2F\xFD") == 0 ||
                                 ((byte(0) & 0xF0) == 0x50 && byte(1) == 0x2A &&
                                  byte(2) == 0x4D && byte(3) == 0x18));
  if (got >= 2 && byte(0) == 0x1F && byte(1) == 0x8B) {
    source = std::make_unique<GzipSource>(std::move(source));
    compressed = true;
  } else if (zstd) {
    source = std::make_unique<ZstdSource>(std::move(source));
    compressed = true;
  }
  drive.Class = ObjectClass::Drive;
  if (drive.Drive().AllocationUnit < 1) drive.DriveForChange().AllocationUnit = 1;
  Reader reader(*source, drive, keyCounter, options);
  try {
    reader.Run();
  } catch (const Failure&) {
    drive.DiskObjects().Clear();
    drive.LargestFiles().Clear();
    drive.DriveForChange().Folder100.reset();
    drive.DriveForChange().Files.reset();
    drive.DriveForChange().Smallest = 0;
    drive.DriveForChange().SmallestIndex = 0;
    drive.DriveForChange().DeepestLevel = 0;
    return fail(std::string("at byte ") + std::to_string(reader.Offset()) +
                (compressed ? " of its uncompressed data" : "") + ": " + reader.Why() + ".");
  }
  SummarizeSizes(drive);
  // Its totals follow the rule it was read by, which a comparison with another scan checks.
  drive.DriveForChange().LinkRule = options.Links;
  return true;
}

}  // namespace kestrum
