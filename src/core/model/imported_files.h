#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/model/disk_model.h"

namespace kestrum {

// One file of an imported tree: what its row shows.
struct ImportedFile {
  double Size = 0;
  double Allocated = 0;
  std::int64_t Time = 0;  // modification time, seconds since 1970, when HasTime
  const char* Name = nullptr;
  std::uint32_t Next = 0;  // the next file of the same folder, or ImportedFiles::kEnd
  std::uint16_t NameSize = 0;
  bool HasTime = false;
  // A further name of a multiply linked file whose bytes are counted at another name.
  bool CountedElsewhere = false;

  std::string_view NameView() const { return {Name, NameSize}; }
};

// The files of an imported tree, per folder in the order the file gave them: what a scan
// leaves on the disk and the listing reads there, an import keeps here. Records are 40 bytes
// each in blocks that never move, names are packed side by side in blocks of their own, and
// each folder holds the position of its first file, so a file costs its record, its name and
// nothing else. Built by one thread; read-only afterwards, from any thread.
class ImportedFiles {
 public:
  static constexpr std::uint32_t kEnd = 0xFFFFFFFFu;
  // Names longer than this are refused by the reader (no file system allows them).
  static constexpr std::size_t kLongestName = 0xFFFF;

  // The first file of folder, or kEnd.
  std::uint32_t First(const DiskObject* folder) const {
    const auto it = first_.find(folder);
    return it == first_.end() ? kEnd : it->second;
  }
  const ImportedFile& At(std::uint32_t index) const { return files_[index]; }
  std::size_t Count() const { return files_.size(); }

  // Appends a file after last (kEnd: the folder's first file) and returns its position.
  // The caller keeps each folder's last position while the folder is read.
  std::uint32_t Append(const DiskObject* folder, std::uint32_t last, std::string_view name,
                       ImportedFile file);
  // Memory held by the records, the names and the folder index, in bytes.
  std::size_t Bytes() const;

 private:
  std::deque<ImportedFile> files_;
  std::vector<std::unique_ptr<char[]>> names_;
  std::size_t nameUsed_ = 0, nameBlock_ = 0;
  std::unordered_map<const DiskObject*, std::uint32_t> first_;
};

}  // namespace kestrum
