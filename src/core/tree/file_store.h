#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrum {

// One entry of a folder other than its subfolders, as a scan met it or a saved scan gave it.
struct StoredEntry {
  enum class Kind : std::uint8_t {
    File,      // a file that counts: Size and Allocated hold
    Other,     // a link, device, FIFO or socket: nothing counted
    OtherFs,   // a folder of another file system (a mount point), not entered
    Excluded,  // left out by a rule (a saved scan's "excluded" other than another file system)
  };
  // OtherFs reasons: a mounted file system, a pseudo file system of the kernel (proc, sysfs,
  // ...) or a bind mount of a folder already counted.
  static constexpr std::uint32_t kReasonMount = 0, kReasonKernel = 1, kReasonBind = 2;
  Kind What = Kind::File;
  bool HasTime = false;
  // A further name of a file with several names whose bytes count at another name.
  bool CountedElsewhere = false;
  bool Executable = false;
  bool Linked = false;  // more than one name: Inode and Links hold
  bool Gone = false;    // deleted or trashed since the scan
  std::uint64_t Size = 0;
  std::uint64_t Allocated = 0;
  std::int64_t Time = 0;  // modification time, seconds since 1970, when HasTime
  std::uint64_t Inode = 0;
  std::uint64_t Links = 0;
  // OtherFs and Excluded: why the entry was left out. Excluded: the number of the drive's
  // exclude rule (ExcludeLines) plus one, 0 when unknown (a saved scan's "pattern").
  // OtherFs: one of the kReason values.
  std::uint32_t Reason = 0;
  std::string_view Name;      // reading: points into the store
  std::uint64_t Position = 0;  // reading: where its record lies
};

// What the store keeps of a folder itself.
struct StoredFolder {
  bool Readable = true;  // false: it could not be read whole; its entries are what was read
  bool HasTime = false;
  std::int64_t Time = 0;
};

// Encodes a folder's entries, in order, into the bytes FileStore::AddFolder takes in one piece,
// so that a scan's readers do the encoding and the thread that makes folders only copies.
class EntryPacker {
 public:
  void Clear() {
    bytes_.clear();
    lastTime_ = 0;
    count_ = 0;
  }
  // Appends e and returns the offset of its record in Bytes().
  std::uint32_t Add(const StoredEntry& e);
  const std::string& Bytes() const { return bytes_; }
  std::size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  std::size_t Capacity() const { return bytes_.capacity(); }

 private:
  std::string bytes_;
  std::int64_t lastTime_ = 0;
  std::size_t count_ = 0;
};

// The entries of a tree's folders, per folder in the order they were met: what an export
// says of every entry, in about 8 bytes and the name for the usual file. A folder's run is a
// header (readable, time) and its entries, each one record (flags, the name's length, size,
// allocation or, for an entry left out, its reason, the time as a difference from the entry before, device number and links when it
// has several names, then the name's bytes), in blocks that never move; each folder holds the
// position of its run (DiskObject::FilesAt). A saved scan's folder whose entries come between
// its subfolders is written in pieces joined by jumps.
//
// Written by one thread at a time. Readers on other threads may read runs written before they
// were handed the store while the writer appends, and the flags (counted elsewhere, gone) may
// change under them; nothing else of a written record ever changes.
class FileStore {
 public:
  static constexpr std::uint64_t kNone = ~std::uint64_t{0};
  static constexpr std::size_t kLongestName = 0xFFFF;

  FileStore();
  ~FileStore();
  FileStore(const FileStore&) = delete;
  FileStore& operator=(const FileStore&) = delete;

  // True for the entries of a saved scan, which the listing shows instead of reading a disk.
  bool FromFile = false;
  // The device number of the tree's root, as an export writes it.
  std::uint64_t Device = 0;

  // --- writing a folder in one piece (a scan): its header, then packed, which an EntryPacker
  // made. offsets, when given, holds offsets of records in packed and becomes their positions.
  std::uint64_t AddFolder(const StoredFolder& info, const EntryPacker& packed,
                          std::vector<std::uint64_t>* offsets = nullptr);
  // Copies the run at run of from (but its entries gone) as a new run of this store; kNone
  // stays kNone.
  std::uint64_t CopyRun(const FileStore& from, std::uint64_t run);

  // --- writing a folder entry by entry, its subfolders' runs in between (a saved scan).
  struct Writer {
    std::uint64_t Run = kNone;        // the folder's run
    std::uint64_t Paused = kNone;     // the end mark written when a subfolder began
    std::int64_t LastTime = 0;
    bool Ended = false;
  };
  Writer Begin(const StoredFolder& info);
  // Appends e to the folder of w and returns its record's position.
  std::uint64_t Add(Writer& w, const StoredEntry& e);
  // A subfolder's run begins: the folder's run ends here for now.
  void Pause(Writer& w);
  void End(Writer& w);
  // Done writing pieces: the jumps are sorted for reading. Runs written in one piece need none.
  void Seal();

  // --- reading
  StoredFolder FolderInfo(std::uint64_t run) const;
  // Calls visit(const StoredEntry&) for every entry of the run in order, those gone left out
  // unless withGone; visit may return false to stop. run kNone has none.
  template <typename Visit>
  void ForEach(std::uint64_t run, Visit&& visit, bool withGone = false) const;
  // The name of the record at position.
  std::string_view NameAt(std::uint64_t position) const;

  // Marks the record at position as counted elsewhere, or not; as gone.
  void SetCountedElsewhere(std::uint64_t position, bool elsewhere);
  void SetGone(std::uint64_t position);

  // Entries written (gone ones and copies included) and the bytes the records take; the bytes
  // of runs given up (Forget), which a compaction would give back.
  std::size_t Count() const { return count_; }
  std::size_t UsedBytes() const { return total_; }
  std::size_t ForgottenBytes() const { return forgotten_; }
  // The run is no longer any folder's: its bytes count as forgotten.
  void Forget(std::uint64_t run);
  // Memory held, in bytes.
  std::size_t Bytes() const;

 private:
  unsigned char* Room(std::size_t bytes, std::uint64_t& position);
  unsigned char* Mark(std::uint64_t& position);
  const unsigned char* At(std::uint64_t position) const;
  std::uint64_t JumpFrom(std::uint64_t position) const;
  void PutHeader(const StoredFolder& info, std::uint64_t& position);

  // Blocks are mapped from the kernel, not taken from the heap: a compacted store gives its
  // old blocks back at once, where the heap would keep them as holes.
  struct Unmap {
    void operator()(unsigned char* block) const noexcept;
  };
  using Block = std::unique_ptr<unsigned char[], Unmap>;
  static Block NewBlock();
  std::unique_ptr<Block[]> blocks_;
  std::size_t blockCount_ = 0;
  std::size_t used_ = 0;  // bytes taken in the last block
  std::size_t count_ = 0;
  std::size_t total_ = 0;
  std::size_t forgotten_ = 0;
  // Where a paused run goes on: (its end mark's position, the next piece), sorted by Seal.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> jumps_;
  bool sorted_ = true;
};

// --- the record format, shared by the writer and the inline reader
namespace file_store_detail {

inline constexpr unsigned kBlockBits = 22;  // 4 MiB blocks
inline constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;
inline constexpr std::size_t kMostBlocks = std::size_t{1} << 14;  // 64 GiB of records

// The flags byte: the kind in the low three bits, then the flags.
inline constexpr unsigned char kKindMask = 7;
inline constexpr unsigned char kKindEnd = 7;       // the run ends
inline constexpr unsigned char kKindContinue = 6;  // the run goes on at the 8-byte position after
inline constexpr unsigned char kKindJump = 5;      // the run goes on where the jump table says
inline constexpr unsigned char kHasTime = 8, kElsewhere = 16, kExecutable = 32, kLinked = 64,
                               kGone = 128;
// The header's flags.
inline constexpr unsigned char kHeadUnreadable = 1, kHeadTime = 2;

inline const unsigned char* GetNumber(const unsigned char* at, std::uint64_t& v) {
  v = 0;
  for (unsigned shift = 0;; shift += 7) {
    const unsigned char b = *at++;
    v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (b < 0x80) return at;
  }
}
inline std::int64_t Unzigzag(std::uint64_t v) {
  return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
}
inline unsigned char LoadFlags(const unsigned char* at) {
  return std::atomic_ref<unsigned char>(*const_cast<unsigned char*>(at))
      .load(std::memory_order_relaxed);
}

}  // namespace file_store_detail

template <typename Visit>
void FileStore::ForEach(std::uint64_t run, Visit&& visit, bool withGone) const {
  namespace d = file_store_detail;
  if (run == kNone) return;
  const unsigned char* at = At(run);
  std::uint64_t position = run;
  // The header.
  const unsigned char head = *at;
  const unsigned char* p = at + 1;
  std::uint64_t v = 0;
  if (head & d::kHeadTime) p = d::GetNumber(p, v);
  position += static_cast<std::uint64_t>(p - at);
  at = p;
  std::int64_t lastTime = 0;
  StoredEntry e;
  for (;;) {
    const unsigned char flags = d::LoadFlags(at);
    const unsigned kind = flags & d::kKindMask;
    if (kind >= d::kKindJump) {
      if (kind == d::kKindEnd) return;
      std::uint64_t next = 0;
      if (kind == d::kKindContinue) {
        for (int i = 0; i < 8; ++i) next |= static_cast<std::uint64_t>(at[1 + i]) << (8 * i);
      } else {
        next = JumpFrom(position);
      }
      if (next == kNone) return;
      position = next;
      at = At(next);
      continue;
    }
    const unsigned char* q = at + 1;
    e.What = static_cast<StoredEntry::Kind>(kind);
    e.HasTime = (flags & d::kHasTime) != 0;
    e.CountedElsewhere = (flags & d::kElsewhere) != 0;
    e.Executable = (flags & d::kExecutable) != 0;
    e.Linked = (flags & d::kLinked) != 0;
    e.Gone = (flags & d::kGone) != 0;
    q = d::GetNumber(q, v);
    const std::size_t nameLength = v;
    e.Size = e.Allocated = 0;
    e.Reason = 0;
    if (e.What == StoredEntry::Kind::OtherFs || e.What == StoredEntry::Kind::Excluded) {
      q = d::GetNumber(q, v);
      e.Reason = static_cast<std::uint32_t>(v);
    } else if (e.What == StoredEntry::Kind::File) {
      q = d::GetNumber(q, e.Size);
      q = d::GetNumber(q, v);
      e.Allocated = (v & 1) ? v >> 1 : (v >> 1) * 512;
    }
    if (e.HasTime) {
      q = d::GetNumber(q, v);
      lastTime += d::Unzigzag(v);
      e.Time = lastTime;
    } else {
      e.Time = 0;
    }
    e.Inode = e.Links = 0;
    if (e.Linked) {
      q = d::GetNumber(q, e.Inode);
      q = d::GetNumber(q, e.Links);
    }
    e.Name = std::string_view(reinterpret_cast<const char*>(q), nameLength);
    e.Position = position;
    q += nameLength;
    position += static_cast<std::uint64_t>(q - at);
    at = q;
    if (!e.Gone || withGone) {
      if constexpr (std::is_same_v<decltype(visit(e)), bool>) {
        if (!visit(e)) return;
      } else {
        visit(e);
      }
    }
  }
}

}  // namespace kestrum
