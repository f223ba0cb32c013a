#include "page/gumbo_arena.h"

#include <sys/mman.h>

#include <algorithm>

namespace gm {

namespace {

// `size` bytes (a multiple of the page size) aligned to `align` (a power of two); null when
// the system has no memory.
char* MapAligned(size_t size, size_t align) {
  size_t total = size + align;
  void* mapped = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto at = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t start = (at + align - 1) & ~(uintptr_t{align} - 1);
  size_t head = start - at;
  if (head) munmap(mapped, head);
  size_t tail = total - head - size;
  if (tail) munmap(reinterpret_cast<char*>(start + size), tail);
  return reinterpret_cast<char*>(start);
}

// Whole blocks go back to this thread's spares for the next page: fresh blocks come from the
// kernel as new pages, whose faults cost more than a small page's parse itself.
struct Spares {
  ~Spares() {
    for (char* block : blocks) munmap(block, size);
  }
  size_t size = 0;
  std::vector<char*> blocks;
};

Spares& ThreadSpares() {
  thread_local Spares spares;
  return spares;
}

}  // namespace

CGumboArena::CGumboArena(CStopPoll* stop) : stop_(stop && stop->Active() ? stop : nullptr) {}

CGumboArena::~CGumboArena() {
  for (Block& b : blocks_) Free(&b);
}

void CGumboArena::Free(Block* block) {
  if (block->freed) return;
  block->freed = true;
  Spares& spares = ThreadSpares();
  if (block->size == kBlock && spares.blocks.size() < kSpareBlocks) {
    spares.size = kBlock;
    spares.blocks.push_back(block->base);
  } else {
    munmap(block->base, block->size);
  }
}

GumboOutput* CGumboArena::Parse(std::string_view utf8) {
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // error records are not used and cost time on sloppy pages
  options.allocator = &CGumboArena::Allocate;
  options.deallocator = &CGumboArena::Deallocate;
  options.userdata = this;
  // Nothing with a destructor lives between here and the allocator: see the header.
  if (setjmp(escape_) != 0) return nullptr;
  return gumbo_parse_with_options(&options, utf8.data(), utf8.size());
}

void CGumboArena::CheckStop() {
  if ((++calls_ & 4095) != 0) return;
  if (stop_->Poll()) std::longjmp(escape_, 1);
}

void* CGumboArena::Allocate(void* self, size_t size) {
  return static_cast<CGumboArena*>(self)->Take(size);
}

void CGumboArena::Deallocate(void* self, void* piece) {
  // The tokenizer frees many short buffers right after taking them: the latest piece's room
  // is taken again, and small recent pieces go to a free list. Other pieces stay until the
  // arena goes.
  auto* arena = static_cast<CGumboArena*>(self);
  if (!piece) return;
  if (piece == arena->latest_) {
    arena->used_ = static_cast<size_t>(arena->latest_ - arena->current_);
    arena->latest_ = nullptr;
    return;
  }
  // Newest first: an older entry for the same address is a piece freed before.
  for (size_t i = 1; i <= kRecent; ++i) {
    Piece& p = arena->recent_[(arena->recent_at_ - i) % kRecent];
    if (p.at != piece) continue;
    if (p.size <= kSmall) {
      *static_cast<void**>(piece) = arena->free_[p.size / 8];
      arena->free_[p.size / 8] = piece;
    }
    p.at = nullptr;
    return;
  }
}

void* CGumboArena::Take(size_t size) {
  if (stop_) CheckStop();
  // gumbo's structures hold nothing wider than a pointer.
  size = size == 0 ? 8 : (size + 7) & ~size_t{7};
  if (size <= kSmall && free_[size / 8]) {
    void* piece = free_[size / 8];
    free_[size / 8] = *static_cast<void**>(piece);
    recent_[recent_at_++ % kRecent] = {piece, size};
    return piece;
  }
  if (size > kBlock / 4) {
    size_t rounded = (size + 4095) & ~size_t{4095};
    char* own = MapAligned(rounded, kBlock);
    if (!own) std::longjmp(escape_, 1);
    blocks_.push_back({own, rounded});
    // The current block stays current: it is the last normal block.
    return own;
  }
  if (!current_ || used_ + size > kBlock) {
    Spares& spares = ThreadSpares();
    if (!spares.blocks.empty()) {
      current_ = spares.blocks.back();
      spares.blocks.pop_back();
    } else {
      current_ = MapAligned(kBlock, kBlock);
      if (!current_) std::longjmp(escape_, 1);
    }
    blocks_.push_back({current_, kBlock});
    used_ = 0;
  }
  latest_ = current_ + used_;
  used_ += size;
  recent_[recent_at_++ % kRecent] = {latest_, size};
  return latest_;
}

CGumboArena::Block* CGumboArena::BlockOf(const void* piece) {
  auto slot = reinterpret_cast<uintptr_t>(piece) / kBlock;
  if (slot < first_slot_ || slot - first_slot_ >= slots_.size()) return nullptr;
  uint32_t index = slots_[slot - first_slot_];
  return index ? &blocks_[index - 1] : nullptr;
}

void CGumboArena::Need(const void* piece, uint64_t visit) {
  if (slots_.empty() && !blocks_.empty()) {
    uintptr_t low = UINTPTR_MAX, high = 0;
    for (const Block& b : blocks_) {
      low = std::min(low, reinterpret_cast<uintptr_t>(b.base) / kBlock);
      high = std::max(high, reinterpret_cast<uintptr_t>(b.base) / kBlock);
    }
    first_slot_ = low;
    slots_.assign(high - low + 1, 0);
    for (size_t i = 0; i < blocks_.size(); ++i)
      slots_[reinterpret_cast<uintptr_t>(blocks_[i].base) / kBlock - low] =
          static_cast<uint32_t>(i + 1);
  }
  Block* b = BlockOf(piece);
  if (b && b->need < visit) b->need = visit;
}

void CGumboArena::StartRelease() {
  by_need_.resize(blocks_.size());
  for (size_t i = 0; i < blocks_.size(); ++i) by_need_[i] = static_cast<uint32_t>(i);
  std::sort(by_need_.begin(), by_need_.end(),
            [this](uint32_t a, uint32_t b) { return blocks_[a].need < blocks_[b].need; });
  released_ = 0;
}

void CGumboArena::ReleaseUpTo(uint64_t visit) {
  while (released_ < by_need_.size() && blocks_[by_need_[released_]].need <= visit) {
    Free(&blocks_[by_need_[released_]]);
    ++released_;
  }
}

}  // namespace gm
