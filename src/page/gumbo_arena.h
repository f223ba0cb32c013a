// CGumboArena: the memory of one gumbo parse, and the two things gumbo itself cannot do.
//
// - Speed: gumbo's many small blocks are placed one after another in large blocks and dropped
//   together (much cheaper than freeing them one by one, and deep trees need no recursion).
// - Memory: while the builder copies gumbo's tree into the page DOM, blocks whose every
//   piece has been copied go back to the system (Need, StartRelease, ReleaseUpTo), so that the
//   two trees of a large page are not held at once.
// - Stop: gumbo has no hook, but it allocates all the time; the allocator asks the stop poll
//   (stop_poll.h) and, when it says stop, leaves the parse by longjmp back to Parse. Only gumbo's C
//   frames and the allocator's are left that way, none of them holds anything but memory of this
//   arena, which goes with it.
//
// One parse per arena; used by one thread. Blocks are aligned to their size, so the block of a
// piece is found from its address.
#pragma once

#include <gumbo.h>

#include <csetjmp>
#include <cstdint>
#include <string_view>
#include <vector>

#include "page/stop_poll.h"

namespace gm {

class CGumboArena {
 public:
  // `stop` may be null; it must outlive the arena.
  explicit CGumboArena(CStopPoll* stop);
  CGumboArena(const CGumboArena&) = delete;
  CGumboArena& operator=(const CGumboArena&) = delete;
  ~CGumboArena();

  // Parses with this arena; null when the stop poll said stop (or memory ran out).
  GumboOutput* Parse(std::string_view utf8);

  // Releasing while copying. Worth it only for large trees.
  bool LargeTree() const { return blocks_.size() > kReleaseFromBlocks; }
  // The piece of gumbo's memory that starts at `piece` is read until visit `visit` of the
  // copy (pieces outside the arena, such as gumbo's static strings, are ignored).
  void Need(const void* piece, uint64_t visit);
  // Call once after the last Need.
  void StartRelease();
  // Visit `visit` is done: frees every block not needed after it.
  void ReleaseUpTo(uint64_t visit);

 private:
  static constexpr size_t kBlock = size_t{1} << 20;
  static constexpr size_t kSpareBlocks = 4;
  static constexpr size_t kReleaseFromBlocks = 16;

  struct Block {
    char* base;
    size_t size;
    uint64_t need = 0;
    bool freed = false;
  };

  static void* Allocate(void* self, size_t size);
  static void Deallocate(void* self, void* piece);
  void* Take(size_t size);
  void CheckStop();
  Block* BlockOf(const void* piece);
  void Free(Block* block);

  CStopPoll* stop_;
  std::jmp_buf escape_;
  uint32_t calls_ = 0;

  std::vector<Block> blocks_;
  char* current_ = nullptr;
  size_t used_ = 0;
  char* latest_ = nullptr;  // the latest piece of the current block, while it is not freed
  // Small pieces freed soon after they were taken are taken again: the most recent pieces
  // with their sizes (newest at recent_[recent_at_ - 1]), and free pieces by size / 8.
  static constexpr size_t kRecent = 4;
  static constexpr size_t kSmall = 64;
  struct Piece {
    void* at = nullptr;
    size_t size = 0;
  };
  Piece recent_[kRecent];
  size_t recent_at_ = 0;
  void* free_[kSmall / 8 + 1] = {};
  // Release: block index + 1 by (address / kBlock - first_slot_); blocks by need.
  std::vector<uint32_t> slots_;
  uintptr_t first_slot_ = 0;
  std::vector<uint32_t> by_need_;
  size_t released_ = 0;  // blocks of by_need_ released so far
};

}  // namespace gm
