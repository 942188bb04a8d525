#include "core/tree/file_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <cstring>

namespace kestrum {

namespace d = file_store_detail;

namespace {

// The largest record: flags, the name's length, four numbers, the links, the name.
constexpr std::size_t kMostRecord = 1 + 3 + 5 * 10 + FileStore::kLongestName;
// Room kept at the end of every block for the mark that continues a run in the next one, and
// for the one-byte marks that end runs, which never move to the next block.
constexpr std::size_t kContinueMark = 9;
constexpr std::size_t kReserve = kContinueMark + 2;
static_assert(kMostRecord + kReserve < d::kBlock);

unsigned char* PutNumber(unsigned char* at, std::uint64_t v) {
  while (v >= 0x80) {
    *at++ = static_cast<unsigned char>(v | 0x80);
    v >>= 7;
  }
  *at++ = static_cast<unsigned char>(v);
  return at;
}

std::uint64_t Zigzag(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

// A size the disk gives in whole sectors is kept in sectors.
std::uint64_t AllocationCode(std::uint64_t allocated) {
  return allocated % 512 == 0 ? (allocated / 512) << 1 : (allocated << 1) | 1;
}

// The length of the record that starts at at (an entry, not a mark).
std::size_t RecordLength(const unsigned char* at) {
  const unsigned char flags = at[0];
  const unsigned char* q = at + 1;
  std::uint64_t v = 0;
  q = d::GetNumber(q, v);
  const std::size_t name = v;
  const unsigned kind = flags & d::kKindMask;
  if (kind == static_cast<unsigned char>(StoredEntry::Kind::File)) {
    q = d::GetNumber(q, v);
    q = d::GetNumber(q, v);
  } else if (kind == static_cast<unsigned char>(StoredEntry::Kind::OtherFs) ||
             kind == static_cast<unsigned char>(StoredEntry::Kind::Excluded)) {
    q = d::GetNumber(q, v);
  }
  if (flags & d::kHasTime) q = d::GetNumber(q, v);
  if (flags & d::kLinked) {
    q = d::GetNumber(q, v);
    q = d::GetNumber(q, v);
  }
  return static_cast<std::size_t>(q - at) + name;
}

void StoreFlag(unsigned char* at, unsigned char flag, bool on) {
  std::atomic_ref<unsigned char> f(*at);
  if (on)
    f.fetch_or(flag, std::memory_order_relaxed);
  else
    f.fetch_and(static_cast<unsigned char>(~flag), std::memory_order_relaxed);
}

// Writes e's record at out (room for kMostRecord bytes), its time as a difference from
// lastTime, which it moves on; returns the record's length.
std::size_t Encode(const StoredEntry& e, std::int64_t& lastTime, unsigned char* out) {
  unsigned char* at = out;
  unsigned char flags = static_cast<unsigned char>(e.What);
  if (e.HasTime) flags |= d::kHasTime;
  if (e.CountedElsewhere) flags |= d::kElsewhere;
  if (e.Executable) flags |= d::kExecutable;
  if (e.Linked) flags |= d::kLinked;
  if (e.Gone) flags |= d::kGone;
  *at++ = flags;
  const std::size_t nameLength = std::min(e.Name.size(), FileStore::kLongestName);
  at = PutNumber(at, nameLength);
  if (e.What == StoredEntry::Kind::OtherFs || e.What == StoredEntry::Kind::Excluded) {
    at = PutNumber(at, e.Reason);
  } else if (e.What == StoredEntry::Kind::File) {
    at = PutNumber(at, e.Size);
    at = PutNumber(at, AllocationCode(e.Allocated));
  }
  if (e.HasTime) {
    at = PutNumber(at, Zigzag(static_cast<std::int64_t>(static_cast<std::uint64_t>(e.Time) -
                                                        static_cast<std::uint64_t>(lastTime))));
    lastTime = e.Time;
  }
  if (e.Linked) {
    at = PutNumber(at, e.Inode);
    at = PutNumber(at, e.Links);
  }
  std::memcpy(at, e.Name.data(), nameLength);
  return static_cast<std::size_t>(at - out) + nameLength;
}

}  // namespace

std::uint32_t EntryPacker::Add(const StoredEntry& e) {
  const auto offset = static_cast<std::uint32_t>(bytes_.size());
  unsigned char record[kMostRecord];
  const std::size_t n = Encode(e, lastTime_, record);
  bytes_.append(reinterpret_cast<const char*>(record), n);
  ++count_;
  return offset;
}

void FileStore::Unmap::operator()(unsigned char* block) const noexcept {
  ::munmap(block, d::kBlock);
}

FileStore::Block FileStore::NewBlock() {
  // Pages never written are never touched, so a small tree's store costs what it writes.
  void* at = ::mmap(nullptr, d::kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  return Block(static_cast<unsigned char*>(at));
}

FileStore::FileStore() = default;
FileStore::~FileStore() = default;

unsigned char* FileStore::Room(std::size_t bytes, std::uint64_t& position) {
  if (!blocks_) blocks_ = std::make_unique<Block[]>(d::kMostBlocks);
  if (blockCount_ == 0 || used_ + bytes + kReserve > d::kBlock) {
    if (blockCount_ == d::kMostBlocks) throw std::bad_alloc();
    blocks_[blockCount_] = NewBlock();
    ++blockCount_;
    used_ = 0;
  }
  position = (static_cast<std::uint64_t>(blockCount_ - 1) << d::kBlockBits) | used_;
  unsigned char* at = blocks_[blockCount_ - 1].get() + used_;
  used_ += bytes;
  total_ += bytes;
  return at;
}

unsigned char* FileStore::Mark(std::uint64_t& position) {
  // A mark ends the run the last record or header belongs to, so it goes right after it, in
  // the room every block keeps at its end.
  position = (static_cast<std::uint64_t>(blockCount_ - 1) << d::kBlockBits) | used_;
  unsigned char* at = blocks_[blockCount_ - 1].get() + used_;
  ++used_;
  ++total_;
  return at;
}

const unsigned char* FileStore::At(std::uint64_t position) const {
  return blocks_[position >> d::kBlockBits].get() + (position & (d::kBlock - 1));
}

std::uint64_t FileStore::JumpFrom(std::uint64_t position) const {
  const auto it = std::lower_bound(
      jumps_.begin(), jumps_.end(), position,
      [](const std::pair<std::uint64_t, std::uint64_t>& j, std::uint64_t p) { return j.first < p; });
  return it != jumps_.end() && it->first == position ? it->second : kNone;
}

void FileStore::PutHeader(const StoredFolder& info, std::uint64_t& position) {
  unsigned char head[12];
  head[0] = static_cast<unsigned char>((info.Readable ? 0 : d::kHeadUnreadable) |
                                       (info.HasTime ? d::kHeadTime : 0));
  unsigned char* end = head + 1;
  if (info.HasTime) end = PutNumber(end, Zigzag(info.Time));
  const auto n = static_cast<std::size_t>(end - head);
  std::memcpy(Room(n, position), head, n);
}

std::uint64_t FileStore::AddFolder(const StoredFolder& info, const EntryPacker& packed,
                                   std::vector<std::uint64_t>* offsets) {
  std::uint64_t run = 0;
  PutHeader(info, run);
  const auto* from = reinterpret_cast<const unsigned char*>(packed.Bytes().data());
  std::size_t left = packed.Bytes().size();
  std::size_t done = 0;  // bytes of packed written
  std::size_t nextOffset = 0;
  while (left > 0) {
    // As many whole records as fit in the block, then a mark that continues in the next.
    std::size_t piece = 0;
    const std::size_t room = d::kBlock - used_ - kReserve;
    if (left <= room) {
      piece = left;
    } else {
      while (piece < left) {
        const std::size_t r = RecordLength(from + piece);
        if (piece + r > room) break;
        piece += r;
      }
    }
    std::uint64_t position = 0;
    if (piece > 0) {
      std::memcpy(Room(piece, position), from, piece);
      if (offsets)
        for (; nextOffset < offsets->size() && (*offsets)[nextOffset] < done + piece; ++nextOffset)
          (*offsets)[nextOffset] = position + ((*offsets)[nextOffset] - done);
    }
    from += piece;
    left -= piece;
    done += piece;
    if (left > 0) {
      // The next block: the mark says where the run goes on.
      unsigned char* mark = blocks_[blockCount_ - 1].get() + used_;
      used_ += kContinueMark;
      total_ += kContinueMark;
      std::uint64_t next = 0;
      blocks_[blockCount_] = NewBlock();
      ++blockCount_;
      used_ = 0;
      next = static_cast<std::uint64_t>(blockCount_ - 1) << d::kBlockBits;
      mark[0] = d::kKindContinue;
      for (int i = 0; i < 8; ++i) mark[1 + i] = static_cast<unsigned char>(next >> (8 * i));
    }
  }
  std::uint64_t position = 0;
  *Mark(position) = d::kKindEnd;
  count_ += packed.Count();
  return run;
}

std::uint64_t FileStore::CopyRun(const FileStore& from, std::uint64_t run) {
  if (run == kNone) return kNone;
  EntryPacker packer;
  from.ForEach(run, [&packer](const StoredEntry& e) { packer.Add(e); });
  return AddFolder(from.FolderInfo(run), packer);
}

FileStore::Writer FileStore::Begin(const StoredFolder& info) {
  Writer w;
  PutHeader(info, w.Run);
  return w;
}

std::uint64_t FileStore::Add(Writer& w, const StoredEntry& e) {
  unsigned char record[kMostRecord];
  const std::size_t n = Encode(e, w.LastTime, record);
  // The record goes where the run stands: after its last record, or, past a block's end or
  // after a subfolder's run, where the run's mark points.
  const std::size_t blockBefore = blockCount_;
  const std::size_t usedBefore = used_;
  std::uint64_t position = 0;
  unsigned char* room = Room(n, position);
  std::memcpy(room, record, n);
  if (w.Paused != kNone) {
    unsigned char* mark = blocks_[w.Paused >> d::kBlockBits].get() + (w.Paused & (d::kBlock - 1));
    mark[0] = d::kKindJump;
    jumps_.emplace_back(w.Paused, position);
    sorted_ = false;
    w.Paused = kNone;
  } else if (blockCount_ != blockBefore && blockBefore > 0) {
    // A new block began: the old one ends with a mark that continues here.
    unsigned char* mark = blocks_[blockBefore - 1].get() + usedBefore;
    mark[0] = d::kKindContinue;
    for (int i = 0; i < 8; ++i) mark[1 + i] = static_cast<unsigned char>(position >> (8 * i));
    total_ += kContinueMark;
  }
  ++count_;
  return position;
}

void FileStore::Pause(Writer& w) {
  if (w.Paused != kNone || w.Ended) return;
  std::uint64_t position = 0;
  *Mark(position) = d::kKindEnd;
  w.Paused = position;
}

void FileStore::End(Writer& w) {
  if (w.Ended) return;
  w.Ended = true;
  if (w.Paused != kNone) return;  // its mark ends it
  std::uint64_t position = 0;
  *Mark(position) = d::kKindEnd;
}

void FileStore::Seal() {
  if (!sorted_) std::sort(jumps_.begin(), jumps_.end());
  sorted_ = true;
}

StoredFolder FileStore::FolderInfo(std::uint64_t run) const {
  StoredFolder f;
  if (run == kNone) return f;
  const unsigned char* at = At(run);
  f.Readable = (at[0] & d::kHeadUnreadable) == 0;
  f.HasTime = (at[0] & d::kHeadTime) != 0;
  if (f.HasTime) {
    std::uint64_t v = 0;
    d::GetNumber(at + 1, v);
    f.Time = d::Unzigzag(v);
  }
  return f;
}

std::string_view FileStore::NameAt(std::uint64_t position) const {
  const unsigned char* at = At(position);
  const std::size_t length = RecordLength(at);
  std::uint64_t v = 0;
  d::GetNumber(at + 1, v);
  return {reinterpret_cast<const char*>(at + length - v), v};
}

void FileStore::SetCountedElsewhere(std::uint64_t position, bool elsewhere) {
  StoreFlag(const_cast<unsigned char*>(At(position)), d::kElsewhere, elsewhere);
}

void FileStore::SetGone(std::uint64_t position) {
  StoreFlag(const_cast<unsigned char*>(At(position)), d::kGone, true);
}

void FileStore::Forget(std::uint64_t run) {
  if (run == kNone) return;
  // A run's bytes, near enough: its records and marks.
  std::size_t bytes = 2;
  ForEach(
      run,
      [&bytes, this](const StoredEntry& e) { bytes += RecordLength(At(e.Position)); },
      true);
  forgotten_ += bytes;
}

std::size_t FileStore::Bytes() const {
  return (blocks_ ? d::kMostBlocks * sizeof(void*) : 0) + blockCount_ * d::kBlock +
         jumps_.capacity() * sizeof(jumps_[0]);
}

}  // namespace kestrum
