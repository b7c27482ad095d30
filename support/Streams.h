// Byte streams: the abstract stream and the growable memory stream.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // The number of bytes moved; 0 when nothing could be moved.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // Writes all bytes or raises EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::int64_t count);
};

// A growable in-memory byte buffer with a position. Growth is geometric, so appending a body of
// any size in chunks costs amortised linear copying. A buffer of many megabytes moves to a large
// block of the system's (see os/Memory.h), which grows without copying.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override;

  // Writing in place, for a producer that fills memory itself (a read from the network): the
  // address of `count` bytes at the position that may be filled, reserved and backed without
  // changing the content or the size. EndWrite(n) then counts the first n of them as written,
  // exactly as Write of those bytes would have. Null when `count` is not positive or the position
  // is negative; any call that changes the stream ends the address's validity.
  std::uint8_t* BeginWrite(std::int64_t count);
  void EndWrite(std::int64_t written);

  // Empties the stream and releases its memory.
  void Clear();
  const std::uint8_t* Memory() const { return data_; }
  std::uint8_t* Memory() { return data_; }
  std::int64_t Size() const { return size_; }

 private:
  void Reserve(std::int64_t capacity);
  // Backs a large block's next bytes up to at least `end` with memory before they are written.
  void Prepare(std::int64_t end);
  void Release();

  std::uint8_t* data_ = nullptr;
  bool large_ = false;         // data_ is a large block, not a heap block
  std::int64_t prepared_ = 0;  // of a large block, the bytes from the start backed by memory
  std::int64_t size_ = 0;
  std::int64_t capacity_ = 0;
  std::int64_t position_ = 0;
};
