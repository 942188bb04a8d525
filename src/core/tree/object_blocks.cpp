#include "core/tree/object_blocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace kestrum {

namespace {

constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kHugeBlock = 2 * 1024 * 1024;

// A 2 MiB block on a 2 MiB boundary, advised for a huge page; nullptr when the kernel gives
// no such mapping.
char* MapHugeBlock() {
  // Twice the size, then the unaligned ends are given back.
  const std::size_t span = 2 * kHugeBlock;
  void* p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (start + kHugeBlock - 1) & ~(std::uintptr_t{kHugeBlock} - 1);
  if (aligned > start) ::munmap(p, aligned - start);
  const std::uintptr_t end = start + span;
  if (end > aligned + kHugeBlock)
    ::munmap(reinterpret_cast<void*>(aligned + kHugeBlock), end - aligned - kHugeBlock);
  auto* block = reinterpret_cast<char*>(aligned);
  // Only advice: where huge pages are off, the block is faulted in small pages as usual.
  ::madvise(block, kHugeBlock, MADV_HUGEPAGE);
  return block;
}

}  // namespace

void* ObjectBlocks::Take(std::size_t bytes) {
  constexpr std::size_t align = alignof(std::max_align_t);
  bytes = (bytes + align - 1) & ~(align - 1);
  if (blocks_.empty() || used_ + bytes > blocks_.back().size) Grow(bytes);
  void* p = blocks_.back().base + used_;
  used_ += bytes;
  return p;
}

void ObjectBlocks::Grow(std::size_t bytes) {
  // A small list keeps to one small block; once it outgrows that, it is a large one, and the
  // blocks are huge from then on.
  const std::size_t size = std::max(bytes, blocks_.empty() ? kFirstBlock : kHugeBlock);
  Block b{nullptr, size, false};
  if (size == kHugeBlock) {
    b.base = MapHugeBlock();
    b.mapped = b.base != nullptr;
  }
  if (!b.base) b.base = static_cast<char*>(::operator new(size));
  blocks_.push_back(b);
  used_ = 0;
}

void ObjectBlocks::Release() {
  for (const Block& b : blocks_) {
    if (b.mapped)
      ::munmap(b.base, b.size);
    else
      ::operator delete(b.base);
  }
  blocks_.clear();
  used_ = 0;
}

void ObjectBlocks::Adopt(ObjectBlocks& other) {
  if (other.blocks_.empty()) return;
  if (blocks_.empty()) {
    blocks_.swap(other.blocks_);
    used_ = other.used_;
  } else {
    // Before the last block, which Take goes on filling.
    blocks_.insert(blocks_.end() - 1, other.blocks_.begin(), other.blocks_.end());
    other.blocks_.clear();
  }
  other.used_ = 0;
}

}  // namespace kestrum
