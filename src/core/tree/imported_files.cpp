#include "core/tree/imported_files.h"

#include <cstring>

namespace kestrum {

namespace {

// Blocks of 1 MiB; a position is the block's number times the block size plus the offset.
constexpr std::size_t kBlockBits = 20;
constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;
// The largest record: next, flags, three numbers of up to ten bytes, the name's length, name.
constexpr std::size_t kMostRecord = 8 + 1 + 3 * 10 + 3 + ImportedFiles::kLongestName;
static_assert(kMostRecord < kBlock);

constexpr unsigned char kHasTime = 1, kElsewhere = 2;

unsigned char* PutNumber(unsigned char* at, std::uint64_t v) {
  while (v >= 0x80) {
    *at++ = static_cast<unsigned char>(v | 0x80);
    v >>= 7;
  }
  *at++ = static_cast<unsigned char>(v);
  return at;
}

const unsigned char* GetNumber(const unsigned char* at, std::uint64_t& v) {
  v = 0;
  for (unsigned shift = 0;; shift += 7) {
    const unsigned char b = *at++;
    v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (b < 0x80) return at;
  }
}

}  // namespace

ImportedFile ImportedFiles::At(std::uint64_t position) const {
  const unsigned char* at = blocks_[position >> kBlockBits].get() + (position & (kBlock - 1));
  ImportedFile f;
  std::memcpy(&f.Next, at, 8);
  const unsigned char flags = at[8];
  at += 9;
  std::uint64_t v = 0;
  at = GetNumber(at, v);
  f.Size = static_cast<double>(v);
  at = GetNumber(at, v);
  f.Allocated = static_cast<double>(v);
  f.HasTime = (flags & kHasTime) != 0;
  f.CountedElsewhere = (flags & kElsewhere) != 0;
  if (f.HasTime) {
    at = GetNumber(at, v);
    f.Time = static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
  }
  at = GetNumber(at, v);
  f.Name = std::string_view(reinterpret_cast<const char*>(at), v);
  return f;
}

std::uint64_t ImportedFiles::Append(const DiskObject* folder, std::uint64_t last,
                                    const ImportedFile& file) {
  if (blocks_.empty() || used_ + kMostRecord > kBlock) {
    blocks_.push_back(std::make_unique<unsigned char[]>(kBlock));
    used_ = 0;
  }
  const std::uint64_t position = ((blocks_.size() - 1) << kBlockBits) | used_;
  unsigned char* start = blocks_.back().get() + used_;
  const std::uint64_t end = kEnd;
  std::memcpy(start, &end, 8);
  start[8] = static_cast<unsigned char>((file.HasTime ? kHasTime : 0) |
                                        (file.CountedElsewhere ? kElsewhere : 0));
  unsigned char* at = start + 9;
  at = PutNumber(at, static_cast<std::uint64_t>(file.Size));
  at = PutNumber(at, static_cast<std::uint64_t>(file.Allocated));
  if (file.HasTime)
    at = PutNumber(at, (static_cast<std::uint64_t>(file.Time) << 1) ^
                           static_cast<std::uint64_t>(file.Time >> 63));
  at = PutNumber(at, file.Name.size());
  if (!file.Name.empty()) std::memcpy(at, file.Name.data(), file.Name.size());
  at += file.Name.size();
  used_ += static_cast<std::size_t>(at - start);
  ++count_;
  if (last == kEnd) {
    first_.emplace(folder, position);
  } else {
    unsigned char* prev = blocks_[last >> kBlockBits].get() + (last & (kBlock - 1));
    std::memcpy(prev, &position, 8);
  }
  return position;
}

void ImportedFiles::SetCountedElsewhere(std::uint64_t position, bool elsewhere) {
  unsigned char& flags = blocks_[position >> kBlockBits][(position & (kBlock - 1)) + 8];
  flags = static_cast<unsigned char>(elsewhere ? flags | kElsewhere : flags & ~kElsewhere);
}

std::size_t ImportedFiles::Bytes() const {
  return blocks_.size() * kBlock +
         first_.size() * (sizeof(void*) * 2 + sizeof(std::uint64_t) + sizeof(void*)) +
         first_.bucket_count() * sizeof(void*);
}

}  // namespace kestrum
