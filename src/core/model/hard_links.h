#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace kestrum {

struct DiskObject;

// How a scan counts a regular file with more than one name (hard links).
enum class HardLinkRule : std::uint8_t {
  Once,  // its bytes and allocation once, at the first name met in the one-thread walk's order
  Each,  // at every name, as if each were a file of its own
};

// Which file a name is: its device and inode.
struct FileId {
  dev_t Dev = 0;
  ino_t Ino = 0;
  bool operator==(const FileId&) const = default;
};

struct FileIdHash {
  std::size_t operator()(const FileId& id) const noexcept {
    // Inodes are dense small numbers: a multiplicative mix spreads them over the buckets.
    const auto h = static_cast<std::uint64_t>(id.Ino) * 0x9E3779B97F4A7C15ull ^
                   static_cast<std::uint64_t>(id.Dev) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

// The files with more than one name that a scan of a drive counted once: for each, the bytes
// and allocation it counted and the folder whose own totals hold them. Only such files cost
// memory. The drive keeps its table as long as its scan; a refresh of a folder takes out what
// the folder counted and adds what its rescan counted.
class HardLinkTable {
 public:
  struct Entry {
    double Size = 0;
    double Allocated = 0;
    const DiskObject* Folder = nullptr;  // the folder that counted it
  };

  // The name of id met now in folder counts when no folder has counted the file yet: then
  // true, and the file is the folder's from now on.
  bool Claim(FileId id, double size, double allocated, const DiskObject* folder) {
    return entries_.try_emplace(id, Entry{size, allocated, folder}).second;
  }
  const Entry* Find(FileId id) const {
    const auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
  }
  std::size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }

  // Removes every entry whose folder gone says is gone; returns how many went.
  template <typename Gone>
  std::size_t EraseIf(Gone&& gone) {
    return std::erase_if(entries_, [&gone](const auto& kv) { return gone(kv.second.Folder); });
  }
  // Moves every entry of other into this table, its folder renamed through rename (a
  // function from the old folder pointer to the new one).
  template <typename Rename>
  void Merge(HardLinkTable& other, Rename&& rename) {
    for (auto& [id, e] : other.entries_)
      entries_[id] = Entry{e.Size, e.Allocated, rename(e.Folder)};
    other.entries_.clear();
  }
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const auto& [id, e] : entries_) visit(id, e);
  }

 private:
  std::unordered_map<FileId, Entry, FileIdHash> entries_;
};

}  // namespace kestrum
