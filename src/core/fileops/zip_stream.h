#pragma once
#include "core/platform/utf8.h"
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {


// Writes a zip archive front to back into a descriptor open for writing at offset 0: each
// entry's data goes out as it is read, and memory holds only the central directory's records
// (some 64 bytes and the name per entry), whatever the number and size of the files.
//
// Entries carry Unix modes (folders, files and symbolic links as such), the two-second local
// time every reader knows and the exact modification time in an extended-timestamp field;
// the UTF-8 flag is set on names that are valid UTF-8 and not plain ASCII. Zip64 records are
// written where a size, an offset or the number of entries needs them. Names are written as
// given; the caller keeps them unique and at most 65,535 bytes long.
class ZipStreamWriter {
 public:
  struct Entry {
    std::string_view Name;  // exact bytes; a folder's ends in "/"
    mode_t Mode = 0;        // type and permission bits, as lstat gives them
    time_t Mtime = 0;
  };
  enum class Added { kYes, kReadFailed, kCancelled, kWriteFailed };
  using ReadCall = std::function<ssize_t(int fd, void* buffer, std::size_t size)>;
  // Called with the first block of a file's data: true to deflate it, false to store it.
  using DeflateIf = std::function<bool(std::string_view head)>;
  // Called after each block read with the bytes read so far: false cancels.
  using Progress = std::function<bool(std::uint64_t done)>;

  ZipStreamWriter(int fd, int level);
  ~ZipStreamWriter();
  ZipStreamWriter(const ZipStreamWriter&) = delete;
  ZipStreamWriter& operator=(const ZipStreamWriter&) = delete;

  // Makes room for the records of this many entries and their names, all at once.
  void Reserve(std::size_t entries, std::size_t nameBytes) {
    records_.reserve(entries);
    names_.reserve(nameBytes);
  }

  // Each returns false, or kWriteFailed, when writing the archive failed (WriteError()).
  bool AddFolder(const Entry& entry);
  bool AddLink(const Entry& entry, std::string_view target);
  // Reads `in` to its end through read. sizeHint is the size lstat gave: a file that may
  // reach 4 GiB gets its Zip64 sizes in the local header too. On kReadFailed (ReadError()
  // says why) and kCancelled the entry is taken back as if it had never been begun.
  Added AddFile(const Entry& entry, int in, std::uint64_t sizeHint, const ReadCall& read,
                const DeflateIf& deflateIf, const Progress& progress);
  // Writes the central directory and the end records, and everything still buffered.
  bool Finish();

  int WriteError() const { return writeError_; }
  int ReadError() const { return readError_; }

 private:
  struct Record {
    std::uint64_t NameAt = 0;
    std::uint64_t Offset = 0;
    std::uint64_t Compressed = 0;
    std::uint64_t Size = 0;
    std::uint32_t Crc = 0;
    std::uint32_t Attributes = 0;
    std::int32_t Mtime = 0;
    std::uint16_t NameSize = 0;
    std::uint16_t Method = 0;
    std::uint16_t Flags = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    bool HasMtime = false;
    bool LocalZip64 = false;
  };

  Record Begin(const Entry& entry, std::uint16_t method, bool zip64);
  void PutLocalHeader(const Record& r, std::string_view name);
  void Patch(std::uint64_t at, const unsigned char* bytes, std::size_t size);
  void TakeBack(std::uint64_t at);
  bool Put(const void* bytes, std::size_t size);
  bool Flush();
  std::uint64_t Position() const { return flushed_ + used_; }

  int fd_;
  int level_;
  std::unique_ptr<unsigned char[]> out_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  std::unique_ptr<unsigned char[]> in_;
  struct Deflater;
  std::unique_ptr<Deflater> deflater_;
  std::vector<Record> records_;
  std::string names_;
  int writeError_ = 0;
  int readError_ = 0;
};

}  // namespace kestrum
