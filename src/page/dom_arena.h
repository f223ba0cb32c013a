// CDomArena: the memory of one page DOM. Nodes, texts and attribute arrays are placed one
// after another in large blocks and freed together with the document: a page of millions of
// nodes costs no allocation per node and no per-allocation overhead.
//
// Only trivially destructible objects live here (nothing is destroyed one by one). Not thread
// safe: it belongs to its document, which one thread uses at a time.
#pragma once

#include <cstddef>
#include <vector>

namespace gm {

class CDomArena {
 public:
  CDomArena() = default;
  CDomArena(const CDomArena&) = delete;
  CDomArena& operator=(const CDomArena&) = delete;
  ~CDomArena();

  // Uninitialised memory for `bytes` bytes aligned to `align` (a power of two, at most 16).
  void* Allocate(size_t bytes, size_t align);
  // Grows the latest allocation that ends at `end` by `more` bytes in place; false when it is
  // not the latest allocation or its block has no room (the caller then allocates anew).
  bool Extend(const void* end, size_t more);

  template <typename T>
  T* AllocateArray(size_t count) {
    return static_cast<T*>(Allocate(count * sizeof(T), alignof(T)));
  }

  // Bytes taken from the system (for measurements).
  size_t Reserved() const { return reserved_; }

 private:
  static constexpr size_t kBlock = 1 << 20;
  std::vector<char*> blocks_;
  char* current_ = nullptr;  // free space of the current block: [current_, limit_)
  char* limit_ = nullptr;
  size_t reserved_ = 0;
};

}  // namespace gm
