#include "core/fileops/zip_stream.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace kestrum {

namespace {

constexpr std::size_t kOutBuffer = 256 * 1024;
constexpr std::size_t kInBuffer = 128 * 1024;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint16_t kMax16 = 0xFFFF;
// A file whose lstat size comes this close to 4 GiB gets Zip64 sizes in its local header,
// with room for deflate's worst-case growth and for the file growing while it is read.
constexpr std::uint64_t kZip64Margin = 64ull << 20;

constexpr std::uint16_t kMethodStore = 0;
constexpr std::uint16_t kMethodDeflate = 8;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kMadeByUnix = (3 << 8) | 63;
constexpr std::uint16_t kExtendedTimestamp = 0x5455;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::size_t kLocalHeader = 30;
constexpr std::size_t kCentralHeader = 46;
// The extended-timestamp field: id, size, flags, the time.
constexpr std::size_t kTimeField = 9;
// The local Zip64 field: id, size, both sizes.
constexpr std::size_t kLocalZip64Field = 20;

// Little-endian fields, as the format has them.
class Bytes {
 public:
  void U16(std::uint32_t v) {
    b_.push_back(static_cast<unsigned char>(v));
    b_.push_back(static_cast<unsigned char>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
  }
  void Raw(std::string_view s) { b_.insert(b_.end(), s.begin(), s.end()); }
  const unsigned char* Data() const { return b_.data(); }
  std::size_t Size() const { return b_.size(); }

 private:
  std::vector<unsigned char> b_;
};

std::uint32_t Cap32(std::uint64_t v) {
  return v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v);
}

// The two-second local time of MS-DOS, clamped to the years it can hold.
void DosTime(time_t t, std::uint16_t* time, std::uint16_t* date) {
  tm local{};
  if (!::localtime_r(&t, &local) || local.tm_year < 80) {
    *time = 0;
    *date = (1 << 5) | 1;  // 1980-01-01
    return;
  }
  if (local.tm_year > 207) {
    *time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
    *date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
    return;
  }
  *time =
      static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  *date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) |
                                     local.tm_mday);
}

}  // namespace

struct ZipStreamWriter::Deflater {
  z_stream Z{};
  bool Ready = false;
  ~Deflater() {
    if (Ready) deflateEnd(&Z);
  }
};

ZipStreamWriter::ZipStreamWriter(int fd, int level)
    : fd_(fd),
      level_(std::clamp(level, 1, 9)),
      out_(new unsigned char[kOutBuffer]),
      in_(new unsigned char[kInBuffer]),
      deflater_(new Deflater) {}

ZipStreamWriter::~ZipStreamWriter() = default;

bool ZipStreamWriter::Flush() {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t n = ::write(fd_, out_.get() + done, used_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeError_ = n < 0 ? errno : EIO;
      // What was written stays counted, so that a later take-back truncates from the right
      // place; the failed rest is dropped.
      flushed_ += done;
      used_ = 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  flushed_ += used_;
  used_ = 0;
  return true;
}

bool ZipStreamWriter::Put(const void* bytes, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    if (used_ == kOutBuffer && !Flush()) return false;
    const std::size_t n = std::min(size, kOutBuffer - used_);
    std::memcpy(out_.get() + used_, p, n);
    used_ += n;
    p += n;
    size -= n;
  }
  return writeError_ == 0;
}

// Overwrites bytes already put at offset at: in the buffer while they are still there, on
// the file otherwise.
void ZipStreamWriter::Patch(std::uint64_t at, const unsigned char* bytes, std::size_t size) {
  if (at >= flushed_) {
    std::memcpy(out_.get() + (at - flushed_), bytes, size);
    return;
  }
  const std::uint64_t onFile = std::min<std::uint64_t>(size, flushed_ - at);
  std::size_t done = 0;
  while (done < onFile) {
    const ssize_t n = ::pwrite(fd_, bytes + done, onFile - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (writeError_ == 0) writeError_ = n < 0 ? errno : EIO;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  if (onFile < size) std::memcpy(out_.get(), bytes + onFile, size - onFile);
}

// Drops everything from offset at on, as if it had never been put.
void ZipStreamWriter::TakeBack(std::uint64_t at) {
  if (at >= flushed_) {
    used_ = static_cast<std::size_t>(at - flushed_);
    return;
  }
  used_ = 0;
  if (::ftruncate(fd_, static_cast<off_t>(at)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(at), SEEK_SET) < 0) {
    if (writeError_ == 0) writeError_ = errno;
    return;
  }
  flushed_ = at;
}

ZipStreamWriter::Record ZipStreamWriter::Begin(const Entry& entry, std::uint16_t method,
                                               bool zip64) {
  Record r;
  r.NameAt = names_.size();
  r.NameSize = static_cast<std::uint16_t>(std::min<std::size_t>(entry.Name.size(), kMax16));
  r.Offset = Position();
  r.Method = method;
  r.Flags = !IsAscii(entry.Name) && IsValidUtf8(entry.Name) ? kFlagUtf8 : 0;
  r.Attributes = static_cast<std::uint32_t>(entry.Mode & 0xFFFF) << 16;
  if (S_ISDIR(entry.Mode)) r.Attributes |= 0x10;          // the MS-DOS folder bit
  if ((entry.Mode & S_IWUSR) == 0) r.Attributes |= 0x01;  // and its read-only bit
  DosTime(entry.Mtime, &r.DosTime, &r.DosDate);
  // Readers differ on whether the field's time is signed: only times both read alike.
  r.HasMtime = entry.Mtime >= 0 && entry.Mtime <= INT32_MAX;
  r.Mtime = r.HasMtime ? static_cast<std::int32_t>(entry.Mtime) : 0;
  r.LocalZip64 = zip64;
  return r;
}

void ZipStreamWriter::PutLocalHeader(const Record& r, std::string_view name) {
  Bytes h;
  h.U32(0x04034b50);
  h.U16(r.LocalZip64 ? 45 : r.Method == kMethodDeflate ? 20 : 10);
  h.U16(r.Flags);
  h.U16(r.Method);
  h.U16(r.DosTime);
  h.U16(r.DosDate);
  h.U32(r.Crc);
  h.U32(r.LocalZip64 ? kMax32 : static_cast<std::uint32_t>(r.Compressed));
  h.U32(r.LocalZip64 ? kMax32 : static_cast<std::uint32_t>(r.Size));
  h.U16(r.NameSize);
  h.U16(static_cast<std::uint32_t>((r.LocalZip64 ? kLocalZip64Field : 0) +
                                   (r.HasMtime ? kTimeField : 0)));
  h.Raw(name.substr(0, r.NameSize));
  if (r.LocalZip64) {
    h.U16(kZip64Extra);
    h.U16(16);
    h.U64(r.Size);
    h.U64(r.Compressed);
  }
  if (r.HasMtime) {
    h.U16(kExtendedTimestamp);
    h.U16(5);
    h.Raw(std::string_view("\x01", 1));
    h.U32(static_cast<std::uint32_t>(r.Mtime));
  }
  Put(h.Data(), h.Size());
}

bool ZipStreamWriter::AddFolder(const Entry& entry) {
  const Record r = Begin(entry, kMethodStore, false);
  PutLocalHeader(r, entry.Name);
  if (writeError_ != 0) return false;
  names_.append(entry.Name.substr(0, r.NameSize));
  records_.push_back(r);
  return true;
}

bool ZipStreamWriter::AddLink(const Entry& entry, std::string_view target) {
  Record r = Begin(entry, kMethodStore, false);
  r.Size = r.Compressed = target.size();
  r.Crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(target.data()), static_cast<uInt>(target.size())));
  PutLocalHeader(r, entry.Name);
  Put(target.data(), target.size());
  if (writeError_ != 0) return false;
  names_.append(entry.Name.substr(0, r.NameSize));
  records_.push_back(r);
  return true;
}

ZipStreamWriter::Added ZipStreamWriter::AddFile(const Entry& entry, int in, std::uint64_t sizeHint,
                                                const ReadCall& read, const DeflateIf& deflateIf,
                                                const Progress& progress) {
  if (writeError_ != 0) return Added::kWriteFailed;
  readError_ = 0;
  auto readBlock = [&](std::size_t want) -> ssize_t {
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = read(in, in_.get() + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
  };
  // The first block decides the method before the header goes out.
  ssize_t n = readBlock(kInBuffer);
  if (n < 0) {
    readError_ = errno;
    return Added::kReadFailed;
  }
  const std::string_view head(reinterpret_cast<const char*>(in_.get()),
                              static_cast<std::size_t>(n));
  const bool packed = n > 0 && deflateIf(head);
  const bool zip64 = sizeHint + kZip64Margin >= kMax32;
  Record r = Begin(entry, packed ? kMethodDeflate : kMethodStore, zip64);
  const std::uint64_t start = r.Offset;
  PutLocalHeader(r, entry.Name);
  const std::uint64_t dataStart = Position();

  z_stream& z = deflater_->Z;
  if (packed) {
    if (!deflater_->Ready) {
      if (deflateInit2(&z, level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        writeError_ = ENOMEM;
        return Added::kWriteFailed;
      }
      deflater_->Ready = true;
    } else {
      deflateReset(&z);
    }
  }
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  std::uint64_t size = 0;
  auto deflateSome = [&](const unsigned char* data, std::size_t len, int flush) {
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(len);
    for (;;) {
      if (used_ == kOutBuffer && !Flush()) return false;
      z.next_out = out_.get() + used_;
      z.avail_out = static_cast<uInt>(kOutBuffer - used_);
      const int rc = ::deflate(&z, flush);
      used_ = kOutBuffer - z.avail_out;
      if (rc == Z_STREAM_END) return true;
      if (rc != Z_OK && rc != Z_BUF_ERROR) {
        writeError_ = EIO;
        return false;
      }
      if (z.avail_in == 0 && z.avail_out != 0 && flush == Z_NO_FLUSH) return true;
    }
  };
  for (;;) {
    if (n > 0) {
      crc = static_cast<std::uint32_t>(crc32(crc, in_.get(), static_cast<uInt>(n)));
      size += static_cast<std::uint64_t>(n);
      const bool ok = packed ? deflateSome(in_.get(), static_cast<std::size_t>(n), Z_NO_FLUSH)
                             : Put(in_.get(), static_cast<std::size_t>(n));
      if (!ok) return Added::kWriteFailed;
      if (progress && !progress(size)) {
        TakeBack(start);
        return Added::kCancelled;
      }
    }
    if (n < static_cast<ssize_t>(kInBuffer)) break;  // the end of the file
    n = readBlock(kInBuffer);
    if (n < 0) {
      readError_ = errno;
      TakeBack(start);
      return writeError_ != 0 ? Added::kWriteFailed : Added::kReadFailed;
    }
  }
  if (packed && !deflateSome(nullptr, 0, Z_FINISH)) return Added::kWriteFailed;
  r.Crc = crc;
  r.Size = size;
  r.Compressed = Position() - dataStart;
  if (!zip64 && (r.Size >= kMax32 || r.Compressed >= kMax32)) {
    // It grew past 4 GiB while it was read, and its header has no room for the sizes.
    readError_ = EFBIG;
    TakeBack(start);
    return writeError_ != 0 ? Added::kWriteFailed : Added::kReadFailed;
  }
  Bytes fields;
  fields.U32(r.Crc);
  fields.U32(zip64 ? kMax32 : static_cast<std::uint32_t>(r.Compressed));
  fields.U32(zip64 ? kMax32 : static_cast<std::uint32_t>(r.Size));
  Patch(start + 14, fields.Data(), fields.Size());
  if (zip64) {
    Bytes sizes;
    sizes.U64(r.Size);
    sizes.U64(r.Compressed);
    Patch(start + kLocalHeader + r.NameSize + 4, sizes.Data(), sizes.Size());
  }
  if (writeError_ != 0) return Added::kWriteFailed;
  names_.append(entry.Name.substr(0, r.NameSize));
  records_.push_back(r);
  return Added::kYes;
}

bool ZipStreamWriter::Finish() {
  if (writeError_ != 0) return false;
  const std::uint64_t centralAt = Position();
  for (const Record& r : records_) {
    const bool bigSize = r.Size >= kMax32, bigCompressed = r.Compressed >= kMax32,
               bigOffset = r.Offset >= kMax32;
    const std::size_t zip64Size = 8 * (bigSize + bigCompressed + bigOffset);
    const bool zip64 = zip64Size > 0 || r.LocalZip64;
    Bytes h;
    h.U32(0x02014b50);
    h.U16(kMadeByUnix);
    h.U16(zip64 ? 45 : r.Method == kMethodDeflate ? 20 : 10);
    h.U16(r.Flags);
    h.U16(r.Method);
    h.U16(r.DosTime);
    h.U16(r.DosDate);
    h.U32(r.Crc);
    h.U32(Cap32(r.Compressed));
    h.U32(Cap32(r.Size));
    h.U16(r.NameSize);
    h.U16(static_cast<std::uint32_t>((zip64Size ? 4 + zip64Size : 0) +
                                     (r.HasMtime ? kTimeField : 0)));
    h.U16(0);  // comment
    h.U16(0);  // disk
    h.U16(0);  // internal attributes
    h.U32(r.Attributes);
    h.U32(Cap32(r.Offset));
    h.Raw(std::string_view(names_).substr(r.NameAt, r.NameSize));
    if (zip64Size) {
      h.U16(kZip64Extra);
      h.U16(static_cast<std::uint32_t>(zip64Size));
      if (bigSize) h.U64(r.Size);
      if (bigCompressed) h.U64(r.Compressed);
      if (bigOffset) h.U64(r.Offset);
    }
    if (r.HasMtime) {
      h.U16(kExtendedTimestamp);
      h.U16(5);
      h.Raw(std::string_view("\x01", 1));
      h.U32(static_cast<std::uint32_t>(r.Mtime));
    }
    if (!Put(h.Data(), h.Size())) return false;
  }
  const std::uint64_t centralEnd = Position();
  const std::uint64_t centralSize = centralEnd - centralAt;
  const std::uint64_t count = records_.size();
  Bytes end;
  if (count >= kMax16 || centralSize >= kMax32 || centralAt >= kMax32) {
    end.U32(0x06064b50);
    end.U64(44);
    end.U16(kMadeByUnix);
    end.U16(45);
    end.U32(0);
    end.U32(0);
    end.U64(count);
    end.U64(count);
    end.U64(centralSize);
    end.U64(centralAt);
    end.U32(0x07064b50);
    end.U32(0);
    end.U64(centralEnd);
    end.U32(1);
  }
  end.U32(0x06054b50);
  end.U16(0);
  end.U16(0);
  end.U16(count >= kMax16 ? kMax16 : static_cast<std::uint32_t>(count));
  end.U16(count >= kMax16 ? kMax16 : static_cast<std::uint32_t>(count));
  end.U32(Cap32(centralSize));
  end.U32(Cap32(centralAt));
  end.U16(0);
  return Put(end.Data(), end.Size()) && Flush();
}

}  // namespace kestrum
