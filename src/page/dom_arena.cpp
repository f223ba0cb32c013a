#include "page/dom_arena.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace gm {

CDomArena::~CDomArena() {
  for (char* block : blocks_) std::free(block);
}

void* CDomArena::Allocate(size_t bytes, size_t align) {
  auto at = reinterpret_cast<uintptr_t>(current_);
  uintptr_t aligned = (at + align - 1) & ~(uintptr_t{align} - 1);
  if (current_ && aligned + bytes <= reinterpret_cast<uintptr_t>(limit_)) {
    current_ = reinterpret_cast<char*>(aligned + bytes);
    return reinterpret_cast<void*>(aligned);
  }
  // Large pieces get a block of their own; the current block stays current.
  if (bytes > kBlock / 4) {
    char* own = static_cast<char*>(std::malloc(bytes));
    if (!own) throw std::bad_alloc();
    blocks_.push_back(own);
    reserved_ += bytes;
    return own;
  }
  char* block = static_cast<char*>(std::malloc(kBlock));
  if (!block) throw std::bad_alloc();
  blocks_.push_back(block);
  reserved_ += kBlock;
  current_ = block + bytes;  // malloc's alignment (16) covers every `align`
  limit_ = block + kBlock;
  return block;
}

bool CDomArena::Extend(const void* end, size_t more) {
  if (end != current_ || static_cast<size_t>(limit_ - current_) < more) return false;
  current_ += more;
  return true;
}

}  // namespace gm
