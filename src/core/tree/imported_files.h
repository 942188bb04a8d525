#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

// One file of an imported tree, as a row shows it.
struct ImportedFile {
  double Size = 0;
  double Allocated = 0;
  std::int64_t Time = 0;  // modification time, seconds since 1970, when HasTime
  bool HasTime = false;
  // A further name of a multiply linked file whose bytes are counted at another name.
  bool CountedElsewhere = false;
  std::string_view Name;   // points into the store
  std::uint64_t Next = 0;  // the position of the folder's next file, or ImportedFiles::kEnd
};

// The files of an imported tree, per folder in the order the file gave them: what a scan
// leaves on the disk and the listing reads there, an import keeps here. Each file is one
// packed record (the position of the folder's next file, flags, the name's length, size,
// allocation and time as variable-length numbers, then the name's bytes) in blocks that never
// move, about 14 bytes and the name for the usual file; each folder holds the position of its
// first file. Built by one thread; read-only afterwards, from any thread.
class ImportedFiles {
 public:
  static constexpr std::uint64_t kEnd = ~std::uint64_t{0};
  // Names longer than this are refused by the reader (no file system allows them).
  static constexpr std::size_t kLongestName = 0xFFFF;

  ImportedFiles() = default;
  ImportedFiles(const ImportedFiles&) = delete;
  ImportedFiles& operator=(const ImportedFiles&) = delete;

  // The position of folder's first file, or kEnd.
  std::uint64_t First(const DiskObject* folder) const {
    const auto it = first_.find(folder);
    return it == first_.end() ? kEnd : it->second;
  }
  // The file at a position First or a file's Next gave.
  ImportedFile At(std::uint64_t position) const;
  std::size_t Count() const { return count_; }

  // Appends file (its Name and flags included) after the file at last (kEnd: it is the
  // folder's first) and returns its position. The caller keeps each folder's last position
  // while the folder is read.
  std::uint64_t Append(const DiskObject* folder, std::uint64_t last, const ImportedFile& file);
  // Marks the file at position as a further name whose bytes count at another name, or not.
  void SetCountedElsewhere(std::uint64_t position, bool elsewhere);
  // Memory held by the records and the folder index, in bytes.
  std::size_t Bytes() const;

 private:
  std::vector<std::unique_ptr<unsigned char[]>> blocks_;
  std::size_t used_ = 0;  // bytes taken in the last block
  std::size_t count_ = 0;
  std::unordered_map<const DiskObject*, std::uint64_t> first_;
};

}  // namespace kestrum
