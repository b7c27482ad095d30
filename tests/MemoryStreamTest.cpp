#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/Exceptions.h"
#include "support/Streams.h"

namespace {

TEST(MemoryStream, WritesReadsAndSeeks) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Write("hello", 5), 5);
  EXPECT_EQ(stream.Position(), 5);
  stream.SetPosition(1);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 4);
  EXPECT_STREQ(buffer, "ello");
  EXPECT_EQ(stream.Read(buffer, 8), 0);
  EXPECT_EQ(stream.Seek(-2, TSeekOrigin::soEnd), 3);
  stream.Write("LOWORLD", 7);
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(std::memcmp(stream.Memory(), "helLOWORLD", 10), 0);
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
  TMemoryStream stream;
  stream.SetPosition(3);
  stream.Write("x", 1);
  ASSERT_EQ(stream.Size(), 4);
  EXPECT_EQ(std::memcmp(stream.Memory(), "\0\0\0x", 4), 0);
}

TEST(MemoryStream, AppendsManyChunksIntact) {
  TMemoryStream stream;
  std::vector<unsigned char> chunk(32768);
  for (int i = 0; i < 100; ++i) {
    std::memset(chunk.data(), i, chunk.size());
    stream.WriteBuffer(chunk.data(), static_cast<std::int64_t>(chunk.size()));
  }
  ASSERT_EQ(stream.Size(), 100 * 32768);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(stream.Memory()[i * 32768], i);
    ASSERT_EQ(stream.Memory()[i * 32768 + 32767], i);
  }
}

TEST(MemoryStream, SetSizeAndClear) {
  TMemoryStream stream;
  stream.Write("abcdef", 6);
  stream.SetSize(2);
  EXPECT_EQ(stream.Size(), 2);
  EXPECT_EQ(stream.Position(), 2);
  stream.SetSize(4);
  EXPECT_EQ(std::memcmp(stream.Memory(), "ab\0\0", 4), 0);
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Memory(), nullptr);
}

// A stream of many megabytes lives in a large block of the system's; it must behave as the
// small one does through every way of growing.
TEST(MemoryStream, LargeStreamKeepsEveryByteAsItGrows) {
  TMemoryStream stream;
  std::vector<unsigned char> chunk(32768);
  constexpr int kChunks = 40 * 32;  // 40 MiB
  for (int i = 0; i < kChunks; ++i) {
    for (std::size_t j = 0; j < chunk.size(); ++j) chunk[j] = static_cast<unsigned char>(i + j);
    stream.WriteBuffer(chunk.data(), static_cast<std::int64_t>(chunk.size()));
  }
  ASSERT_EQ(stream.Size(), std::int64_t{kChunks} * 32768);
  for (int i = 0; i < kChunks; ++i) {
    for (std::size_t j = 0; j < chunk.size(); ++j) chunk[j] = static_cast<unsigned char>(i + j);
    ASSERT_EQ(std::memcmp(stream.Memory() + std::int64_t{i} * 32768, chunk.data(), chunk.size()), 0)
        << "chunk " << i;
  }
  stream.SetPosition(10);
  std::uint8_t head[4] = {};
  EXPECT_EQ(stream.Read(head, 4), 4);
  EXPECT_EQ(head[0], 10);
  EXPECT_EQ(head[3], 13);
}

TEST(MemoryStream, LargeStreamGapsAndNewSizesAreZeros) {
  TMemoryStream stream;
  stream.Write("ab", 2);
  const std::int64_t far = std::int64_t{20} << 20;
  stream.SetPosition(far);
  stream.Write("z", 1);
  ASSERT_EQ(stream.Size(), far + 1);
  EXPECT_EQ(std::memcmp(stream.Memory(), "ab", 2), 0);
  std::vector<std::uint8_t> zeros(static_cast<std::size_t>(far - 2), 0);
  EXPECT_EQ(std::memcmp(stream.Memory() + 2, zeros.data(), zeros.size()), 0);
  EXPECT_EQ(stream.Memory()[far], 'z');

  stream.SetSize(3);
  stream.SetSize(far * 2);
  ASSERT_EQ(stream.Size(), far * 2);
  EXPECT_EQ(std::memcmp(stream.Memory(), "ab", 3), 0);
  EXPECT_EQ(std::memcmp(stream.Memory() + far, zeros.data(), zeros.size()), 0);

  // Cleared, it starts again as a small stream.
  stream.Clear();
  EXPECT_EQ(stream.Memory(), nullptr);
  stream.Write("again", 5);
  EXPECT_EQ(std::memcmp(stream.Memory(), "again", 5), 0);
}

// Filling the stream in place must leave it exactly as Write of the same bytes would: short fills
// of a larger space, growth into a large block, a gap before the position, an overwrite inside.
TEST(MemoryStream, InPlaceWritesMatchWrite) {
  TMemoryStream inPlace, written;
  std::vector<unsigned char> chunk(32768);
  const auto both = [&](std::int64_t space, std::int64_t used) {
    std::uint8_t* at = inPlace.BeginWrite(space);
    ASSERT_NE(at, nullptr);
    std::memcpy(at, chunk.data(), static_cast<std::size_t>(used));
    inPlace.EndWrite(used);
    written.WriteBuffer(chunk.data(), used);
  };
  for (int i = 0; i < 400; ++i) {  // about 10 MiB, past the large-block threshold
    std::memset(chunk.data(), i, chunk.size());
    both(32768, i % 3 == 0 ? 32768 : 1000 + i);
  }
  inPlace.SetPosition(inPlace.Size() + 5);
  written.SetPosition(written.Size() + 5);
  both(32768, 7);
  inPlace.SetPosition(100);
  written.SetPosition(100);
  both(32768, 50);
  inPlace.EndWrite(0);  // nothing arrived: nothing changes

  ASSERT_EQ(inPlace.Size(), written.Size());
  EXPECT_EQ(inPlace.Position(), written.Position());
  EXPECT_EQ(
      std::memcmp(inPlace.Memory(), written.Memory(), static_cast<std::size_t>(written.Size())), 0);

  EXPECT_EQ(inPlace.BeginWrite(0), nullptr);
  inPlace.SetPosition(-1);
  EXPECT_EQ(inPlace.BeginWrite(10), nullptr);
}

}  // namespace
