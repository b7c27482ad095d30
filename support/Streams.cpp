#include "support/Streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/Exceptions.h"

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Reserve(std::int64_t capacity) {
  if (capacity <= capacity_) return;
  // Double at least, so that appending in chunks copies each byte a bounded number of times.
  std::int64_t grown = std::max<std::int64_t>(capacity, capacity_ + capacity_ / 2 + 4096);
  grown = (grown + 4095) & ~std::int64_t{4095};
  void* data = std::realloc(data_, static_cast<std::size_t>(grown));
  if (data == nullptr) throw std::bad_alloc();
  data_ = static_cast<std::uint8_t*>(data);
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
  if (count <= 0 || position_ < 0) return 0;
  const std::int64_t end = position_ + count;
  if (end > size_) {
    Reserve(end);
    if (position_ > size_) std::memset(data_ + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(data_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
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
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = position_ = 0;
}
