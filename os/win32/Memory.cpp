// Large blocks come from the C heap, which takes blocks of this size from the system directly.
#include "os/Memory.h"

#include <cstdlib>

namespace os {

void* AllocateLargeBlock(std::size_t size) { return std::malloc(size); }

void* ResizeLargeBlock(void* block, std::size_t, std::size_t newSize) {
  return std::realloc(block, newSize);
}

void PrepareLargeBlock(void*, std::size_t) {}

void FreeLargeBlock(void* block, std::size_t) { std::free(block); }

}  // namespace os
