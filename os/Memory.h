// Large blocks of memory for buffers that grow to many megabytes, such as a response body kept
// in memory: they grow without copying where the system allows, and a range about to be filled
// can be backed with memory in one step.
#pragma once

#include <cstddef>

namespace os {

// A block of `size` bytes, or nullptr when the system has no memory for it. Its content is
// unspecified.
void* AllocateLargeBlock(std::size_t size);

// The block of `oldSize` bytes from AllocateLargeBlock grown or shrunk to `newSize` bytes, with
// the first min(oldSize, newSize) bytes kept; it may move. nullptr when that fails, and then the
// old block is unchanged and still owned by the caller.
void* ResizeLargeBlock(void* block, std::size_t oldSize, std::size_t newSize);

// Backs the range of `size` bytes at `start`, inside a large block, with memory now, so that
// writing it causes no page faults. Only a hint: without it the range works the same.
void PrepareLargeBlock(void* start, std::size_t size);

// Returns a block of `size` bytes from AllocateLargeBlock or ResizeLargeBlock; nullptr is
// ignored.
void FreeLargeBlock(void* block, std::size_t size);

}  // namespace os
