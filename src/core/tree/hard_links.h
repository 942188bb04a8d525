#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

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
//
// An open-addressing table (linear probing, at most half full): a tree of snapshots has a
// claim for every linked name on the thread that makes folders, and a node per entry, as a
// node-based map allocates, costs that thread an allocation and a cache miss each.
class HardLinkTable {
 public:
  struct Entry {
    double Size = 0;
    double Allocated = 0;
    const DiskObject* Folder = nullptr;  // the folder that counted it
  };

  // The name of id met now in folder (never null) counts when no folder has counted the file
  // yet: then true, and the file is the folder's from now on.
  bool Claim(FileId id, double size, double allocated, const DiskObject* folder) {
    if (2 * (count_ + 1) > slots_.size()) Grow();
    Slot& s = slots_[Probe(id)];
    if (s.Value.Folder) return false;
    s = Slot{id, Entry{size, allocated, folder}};
    ++count_;
    return true;
  }
  const Entry* Find(FileId id) const {
    if (slots_.empty()) return nullptr;
    const Slot& s = slots_[Probe(id)];
    return s.Value.Folder ? &s.Value : nullptr;
  }
  std::size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }

  // Removes every entry whose folder gone says is gone; returns how many went. In place: a
  // refresh of a small folder in a drive of many linked files moves no other entry.
  template <typename Gone>
  std::size_t EraseIf(Gone&& gone) {
    const std::size_t before = count_;
    for (std::size_t i = 0; i < slots_.size();) {
      // An entry shifted back into i is looked at again before going on.
      if (slots_[i].Value.Folder && gone(slots_[i].Value.Folder))
        EraseAt(i);
      else
        ++i;
    }
    return before - count_;
  }
  // Moves every entry of other into this table, its folder renamed through rename (a
  // function from the old folder pointer to the new one), replacing an entry of the same file.
  template <typename Rename>
  void Merge(HardLinkTable& other, Rename&& rename) {
    for (const Slot& s : other.slots_) {
      if (!s.Value.Folder) continue;
      if (2 * (count_ + 1) > slots_.size()) Grow();
      Slot& at = slots_[Probe(s.Id)];
      if (!at.Value.Folder) ++count_;
      at = Slot{s.Id, Entry{s.Value.Size, s.Value.Allocated, rename(s.Value.Folder)}};
    }
    other.slots_.clear();
    other.count_ = 0;
  }
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (const Slot& s : slots_)
      if (s.Value.Folder) visit(s.Id, s.Value);
  }

 private:
  struct Slot {
    FileId Id;
    Entry Value;  // Folder null: the slot is free
  };
  // The slot of id, or the free slot where it would go.
  std::size_t Probe(const FileId& id) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = FileIdHash{}(id)&mask;; i = (i + 1) & mask)
      if (!slots_[i].Value.Folder || slots_[i].Id == id) return i;
  }
  // Frees slot i and moves back the entries after it that could not sit where they belong
  // while it was taken, so that every probe still finds them.
  void EraseAt(std::size_t i) {
    const std::size_t mask = slots_.size() - 1;
    slots_[i].Value.Folder = nullptr;
    --count_;
    for (std::size_t j = (i + 1) & mask; slots_[j].Value.Folder; j = (j + 1) & mask) {
      const std::size_t home = FileIdHash{}(slots_[j].Id) & mask;
      // Stays when its home lies cyclically in (i, j].
      if (i <= j ? (i < home && home <= j) : (i < home || home <= j)) continue;
      slots_[i] = slots_[j];
      slots_[j].Value.Folder = nullptr;
      i = j;
    }
  }
  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 1024 : 2 * slots_.size());
    old.swap(slots_);
    count_ = 0;
    for (const Slot& s : old)
      if (s.Value.Folder) slots_[Probe(s.Id)] = s, ++count_;
  }
  std::vector<Slot> slots_;  // a power of two in size, or empty
  std::size_t count_ = 0;
};

}  // namespace kestrum
