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

}  // namespace
