#include "support/Streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "os/Memory.h"
#include "support/Exceptions.h"

namespace {

// From this capacity on the buffer is a large block, in whole steps of the large-page size.
constexpr std::int64_t kLargeBlockFrom = std::int64_t{8} << 20;
constexpr std::int64_t kLargeBlockStep = std::int64_t{2} << 20;
// How far ahead of a write a large block is backed with memory, in one step.
constexpr std::int64_t kPrepareStep = std::int64_t{4} << 20;

}  // namespace

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

TMemoryStream::~TMemoryStream() { Release(); }

void TMemoryStream::Release() {
  if (large_) {
    os::FreeLargeBlock(data_, static_cast<std::size_t>(capacity_));
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  large_ = false;
  prepared_ = 0;
}

void TMemoryStream::Prepare(std::int64_t end) {
  if (!large_ || end <= prepared_) return;
  const std::int64_t until = std::min(capacity_, std::max(end, prepared_ + kPrepareStep));
  os::PrepareLargeBlock(data_ + prepared_, static_cast<std::size_t>(until - prepared_));
  prepared_ = until;
}

void TMemoryStream::Reserve(std::int64_t capacity) {
  if (capacity <= capacity_) return;
  // Grow by half at least, so that appending in chunks copies each byte a bounded number of
  // times.
  std::int64_t grown = std::max<std::int64_t>(capacity, capacity_ + capacity_ / 2 + 4096);
  if (grown < kLargeBlockFrom) {
    grown = (grown + 4095) & ~std::int64_t{4095};
    void* data = std::realloc(data_, static_cast<std::size_t>(grown));
    if (data == nullptr) throw std::bad_alloc();
    data_ = static_cast<std::uint8_t*>(data);
    capacity_ = grown;
    return;
  }
  // More than any address space holds: refused before the rounding could overflow.
  if (grown > (std::int64_t{1} << 56)) throw std::bad_alloc();
  grown = (grown + kLargeBlockStep - 1) & ~(kLargeBlockStep - 1);
  if (large_) {
    void* data = os::ResizeLargeBlock(data_, static_cast<std::size_t>(capacity_),
                                      static_cast<std::size_t>(grown));
    if (data == nullptr) throw std::bad_alloc();
    data_ = static_cast<std::uint8_t*>(data);
  } else {
    // The one copy from the heap into a large block; it grows in place or by remapping later.
    void* data = os::AllocateLargeBlock(static_cast<std::size_t>(grown));
    if (data == nullptr) throw std::bad_alloc();
    if (size_ > 0) std::memcpy(data, data_, static_cast<std::size_t>(size_));
    std::free(data_);
    data_ = static_cast<std::uint8_t*>(data);
    large_ = true;
    // The copy has backed the first bytes; a prepared range starts at a page.
    prepared_ = size_ & ~std::int64_t{4095};
  }
  capacity_ = grown;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  std::uint8_t* space = BeginWrite(count);
  if (space == nullptr) return 0;
  std::memcpy(space, buffer, static_cast<std::size_t>(count));
  EndWrite(count);
  return count;
}

std::uint8_t* TMemoryStream::BeginWrite(std::int64_t count) {
  if (count <= 0 || position_ < 0) return nullptr;
  Reserve(position_ + count);
  Prepare(position_ + count);
  return data_ + position_;
}

void TMemoryStream::EndWrite(std::int64_t written) {
  if (written <= 0 || position_ < 0) return;
  const std::int64_t end = position_ + written;
  if (end > size_) {
    // A position past the end leaves a gap, filled with zeros as Write fills it.
    if (position_ > size_)
      std::memset(data_ + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = end;
  }
  position_ = end;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning:
      position_ = offset;
      break;
    case TSeekOrigin::soCurrent:
      position_ += offset;
      break;
    case TSeekOrigin::soEnd:
      position_ = size_ + offset;
      break;
  }
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) size = 0;
  Reserve(size);
  if (size > size_) std::memset(data_ + size_, 0, static_cast<std::size_t>(size - size_));
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
  Release();
  size_ = capacity_ = position_ = 0;
}
