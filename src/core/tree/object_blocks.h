#pragma once
#include <cstddef>
#include <vector>

namespace kestrum {

// Memory for many objects of one list that are made one after another and live about as long
// as the list: handed out side by side from blocks (one of 64 KiB, then 2 MiB each), and given
// back only all at once. Large scans make tens of thousands of folder objects, and where first
// touching a page is dear (a page fault costs microseconds in some virtual machines) the 2 MiB
// blocks are aligned and offered to the kernel for huge pages, one fault each instead of 512.
//
// Not thread-safe; the list's owner serialises its use. Objects placed here must be destroyed
// by their owner before Release or the destructor.
class ObjectBlocks {
 public:
  ObjectBlocks() = default;
  ObjectBlocks(const ObjectBlocks&) = delete;
  ObjectBlocks& operator=(const ObjectBlocks&) = delete;
  ~ObjectBlocks() { Release(); }

  // Uninitialised room for bytes, aligned for any ordinary object. A piece larger than a
  // block gets a block of its own size.
  void* Take(std::size_t bytes);
  // Gives every block back.
  void Release();
  // Takes over every block of other, which is left empty: the objects in them stay where
  // they are and are now this one's to give back.
  void Adopt(ObjectBlocks& other);

 private:
  struct Block {
    char* base;
    std::size_t size;
    bool mapped;  // from mmap (a huge-page block), else from operator new
  };
  void Grow(std::size_t bytes);
  std::vector<Block> blocks_;
  std::size_t used_ = 0;  // bytes handed out from the last block
};

}  // namespace kestrum
