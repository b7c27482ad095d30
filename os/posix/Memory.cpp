// Large blocks are private anonymous mappings. Growth remaps the pages instead of copying them,
// a range about to be written is backed in one call instead of one page fault per page, and the
// block asks for large pages: backing it 2 MiB at a time costs far less than page by page, which
// took most of a large body's fetch where the system gives large pages only on request.
#include "os/Memory.h"

#include <sys/mman.h>

namespace os {

void* AllocateLargeBlock(std::size_t size) {
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  // Only a hint, kept by the block when it grows; without large pages it works the same.
  madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void* ResizeLargeBlock(void* block, std::size_t oldSize, std::size_t newSize) {
  void* moved = mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void PrepareLargeBlock(void* start, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Only a hint: a kernel without it leaves the pages to fault in one by one.
  madvise(start, size, MADV_POPULATE_WRITE);
#else
  static_cast<void>(start);
  static_cast<void>(size);
#endif
}

void FreeLargeBlock(void* block, std::size_t size) {
  if (block != nullptr) munmap(block, size);
}

}  // namespace os
