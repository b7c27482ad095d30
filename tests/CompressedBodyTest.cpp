#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/CompressedBody.h"
#include "support/Exceptions.h"

namespace {

const std::string kSignature("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);

// Runs a set-up deflater over all of `data` and ends it.
std::string DeflateAll(z_stream& z, const std::string& data) {
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Deflates `data` with zlib: window bits 15 give a zlib stream, -15 raw deflate data, 31 a gzip
// member made by zlib itself.
std::string Compress(const std::string& data, int windowBits) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  return DeflateAll(z, data);
}

// A zlib stream that needs the preset dictionary `dictionary` to inflate.
std::string CompressWithDictionary(const std::string& data, const std::string& dictionary) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, Z_DEFAULT_COMPRESSION), Z_OK);
  EXPECT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())),
            Z_OK);
  return DeflateAll(z, data);
}

std::string Le16(std::uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A gzip member built field by field: a header with `flags` followed by the optional fields in
// `options`, raw deflate data, then CRC-32 and ISIZE, which `crcXor` and `sizeAdd` can spoil.
// With no flags its first eight bytes are the signature.
std::string Member(const std::string& content, std::uint8_t flags = 0,
                   const std::string& options = "", std::uint32_t crcXor = 0,
                   std::uint32_t sizeAdd = 0) {
  std::string member = kSignature + std::string("\x00\x03", 2);
  member[3] = static_cast<char>(flags);
  return member + options + Compress(content, -MAX_WBITS) + Le32(Crc(content) ^ crcXor) +
         Le32(static_cast<std::uint32_t>(content.size()) + sizeAdd);
}

// An extra field of `length` bytes with its 16-bit length in front.
std::string Extra(std::uint32_t length) { return Le16(length) + std::string(length, 'x'); }

// Compressible text of about `size` bytes, the same for the same seed.
std::string Text(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"update ",  "version ",          "taktak ", "file ",
                                       "html\r\n", "\xD6\xD0\xCE\xC4 ", "0123 ",   "release "};
  std::string text;
  while (text.size() < size) {
    seed = seed * 1103515245u + 12345u;
    text += kWords[(seed >> 16) % 8];
  }
  text.resize(size);
  return text;
}

// What zlib itself delivers from raw deflate data that stops early or turns corrupt.
std::string RawInflatePrefix(const std::string& deflated, std::size_t limit) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
  std::string out(limit, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_NO_FLUSH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

const std::string kA = Text(70000, 1);  // compresses to more than one 16384-byte input buffer
const std::string kB = Text(5000, 2);
const std::string kC = Text(300, 3);
const std::string kZeros(1 << 20, '\0');

std::string ZlibBody(const std::string& content) { return kSignature + Compress(content, 15); }

// A memory stream that logs which layout each decode attempt chose (a seek to 8 is mode Z, a seek
// to 0 mode G) and can fail its reads from the `failFromRead`-th on, as a failing source would.
class RecordingStream : public TTntMemoryStream {
 public:
  RecordingStream(std::string& attempts, int failFromRead)
      : attempts_(attempts), failFromRead_(failFromRead) {}

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    if (origin == TSeekOrigin::soBeginning)
      attempts_ += offset == 8 ? 'Z' : offset == 0 ? 'G' : '?';
    return TTntMemoryStream::Seek(offset, origin);
  }
  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (failFromRead_ > 0 && ++reads_ >= failFromRead_) throw Exception("read failed");
    return TTntMemoryStream::Read(buffer, count);
  }

 private:
  std::string& attempts_;
  int failFromRead_;
  int reads_ = 0;
};

std::unique_ptr<TTntMemoryStream> BodyStream(const std::string& body, std::string& attempts,
                                             int failFromRead = 0) {
  auto stream = std::make_unique<RecordingStream>(attempts, failFromRead);
  stream->WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
  stream->SetPosition(0);
  attempts.clear();
  return stream;
}

std::string Content(TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Memory()),
                     static_cast<std::size_t>(stream.Size()));
}

struct DecodeCase {
  const char* name;
  std::string body;
  const char16_t* url;
  char mode;
  std::string expected;
  const char* attempts;  // the layouts tried, in order
  bool whole = true;     // all the body held was decoded
};

TEST(CompressedBody, DecodesBodiesWithTheSignature) {
  const std::string member = Member(kA);
  std::string badAdler = ZlibBody(kA);
  badAdler.back() ^= 0x55;
  std::string truncated = Member(kA);
  truncated.resize(10 + (truncated.size() - 18) / 2);
  std::string corrupt = Member(kA);
  corrupt[corrupt.size() / 2] ^= 0xFF;
  // Pads the second member so that the byte 1F after it is the last of the first 16384-byte input
  // buffer and the byte after it starts the next filling.
  const std::string second = Member(kC, 0x04, Extra(0));
  const std::string first = Member("x");
  const std::string padded =
      Member(kC, 0x04, Extra(static_cast<std::uint32_t>(16383 - first.size() - second.size())));
  ASSERT_EQ(first.size() + padded.size(), 16383u);
  const std::string zlibMember = Compress(kB, 31);
  ASSERT_EQ(zlibMember.substr(0, 8), kSignature);

  const std::vector<DecodeCase> cases = {
      {"signature alone", kSignature, u"http://h/f", 'Z', "", "ZG", false},
      {"zlib stream in mode Z", ZlibBody(kA), u"http://h/f", 'Z', kA, "Z"},
      {"zlib stream, bytes after it ignored", ZlibBody(kB) + "tail", u"http://h/f", 'Z', kB, "Z"},
      {"zlib stream of 1 MiB of zeros", ZlibBody(kZeros), u"http://h/f", 'Z', kZeros, "Z"},
      {"gzip member, mode Z falls back to G", member, u"http://h/f", 'Z', kA, "ZG"},
      {"gzip member, mode 0 falls back to G", member, u"http://h/f", 0, kA, "ZG"},
      {"gzip member made by zlib", zlibMember, u"http://h/f", 'Z', kB, "ZG"},
      {"gzip member, mode G", member, u"http://h/f", 'G', kA, "G"},
      {".asp selects G", member, u"http://h/page.asp", 'Z', kA, "G"},
      {".ASP in upper case selects G", member, u"HTTP://H/PAGE.ASP", 'Z', kA, "G"},
      {".Aspx selects G", member, u"http://h/Update.Aspx", 0, kA, "G"},
      {".asp in the query selects G", member, u"http://h/f.php?x=.aSp", 'Z', kA, "G"},
      {"lower-case g is Z", member, u"http://h/f", 'g', kA, "ZG"},
      {"lower-case z is Z", ZlibBody(kB), u"http://h/f", 'z', kB, "Z"},
      {"unknown mode letter is Z", ZlibBody(kB), u"http://h/f", 'X', kB, "Z"},
      {"zlib stream decoded in mode G", ZlibBody(kA), u"http://h/f", 'G', kA, "G"},
      {"zlib stream with a wrong Adler-32", badAdler, u"http://h/f", 'Z', kA, "ZG"},
      {"zlib stream without its Adler-32", ZlibBody(kB).substr(0, ZlibBody(kB).size() - 4),
       u"http://h/f", 'Z', kB, "ZG"},
      {"two members", member + Member(kB), u"http://h/f", 'Z', kA + kB, "ZG"},
      {"three members", member + Member(kB) + Member(kC), u"http://h/f", 'Z', kA + kB + kC, "ZG"},
      {"following member with a 300-byte extra field", member + Member(kB, 0x04, Extra(300)),
       u"http://h/f", 'Z', kA + kB, "ZG"},
      {"following member with name, comment, header CRC and text flag",
       member + Member(kB, 0x1B, std::string("name\0comment\0\x12\x34", 15)), u"http://h/f", 'Z',
       kA + kB, "ZG"},
      {"trailing CR LF passes through", member + "\r\n", u"http://h/f", 'Z', kA + "\r\n", "ZG"},
      {"trailing 1F passes through", member + "\x1F", u"http://h/f", 'Z', kA + "\x1F", "ZG"},
      {"trailing 1F after an empty member passes through", member + Member("") + "\x1F",
       u"http://h/f", 'Z', kA + "\x1F", "ZG"},
      {"trailing 1F 00 passes through", member + std::string("\x1F\x00", 2), u"http://h/f", 'Z',
       kA + std::string("\x1F\x00", 2), "ZG"},
      {"bytes put back across a refill pass through",
       first + padded +
           "\x1F"
           "AB",
       u"http://h/f", 'Z',
       "x" + kC +
           "\x1F"
           "AB",
       "ZG"},
      {"CRC mismatch keeps the member and stops", Member(kA, 0, "", 1) + Member(kB), u"http://h/f",
       'Z', kA, "ZG", false},
      {"CRC mismatch in the last member", member + Member(kB, 0, "", 1), u"http://h/f", 'Z',
       kA + kB, "ZG", false},
      {"ISIZE mismatch keeps the member and stops", Member(kB, 0, "", 0, 1) + Member(kC),
       u"http://h/f", 'Z', kB, "ZG", false},
      {"following member with method 9 stops", member + "\x1F\x8B\x09" + Member(kB).substr(3),
       u"http://h/f", 'Z', kA, "ZG", false},
      {"following member with a reserved flag stops", member + Member(kB, 0x20), u"http://h/f", 'Z',
       kA, "ZG", false},
      {"following member cut in its header", member + Member(kB, 0x08, "name").substr(0, 12),
       u"http://h/f", 'Z', kA, "ZG", false},
      {"trailer cut short keeps the member", member.substr(0, member.size() - 2), u"http://h/f",
       'Z', kA, "ZG"},
      {"member cut in its deflate data", truncated, u"http://h/f", 'Z',
       RawInflatePrefix(truncated.substr(10), kA.size()), "ZG", false},
      {"corrupt deflate data keeps what came before", corrupt, u"http://h/f", 'Z',
       RawInflatePrefix(corrupt.substr(10), 4 * kA.size()), "ZG", false},
      {"garbage in both modes becomes empty", kSignature + std::string(50, '\xFF'), u"http://h/f",
       'Z', "", "ZG", false},
      {"garbage in both modes from .asp becomes empty", kSignature + std::string(50, '\xFF'),
       u"http://h/a.asp", 'G', "", "GZ", false},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string attempts;
    auto stream = BodyStream(c.body, attempts);
    const TTntMemoryStream* received = stream.get();
    EXPECT_EQ(DecodeCompressed(stream, c.url, c.mode), c.whole);
    ASSERT_NE(stream, nullptr);
    EXPECT_NE(stream.get(), received);  // a new stream replaces the received body
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(stream->Size(), static_cast<std::int64_t>(c.expected.size()));
    EXPECT_TRUE(Content(*stream) == c.expected);
  }
}

TEST(CompressedBody, DecodedModeZBodyIsAtPositionZeroAndSavable) {
  std::string attempts;
  auto stream = BodyStream(ZlibBody(kB), attempts);
  DecodeCompressed(stream, u"http://h/f", 'Z');
  EXPECT_EQ(stream->Position(), 0);
  // The new stream serves as the response stream does: appending, clearing.
  stream->Seek(0, TSeekOrigin::soEnd);
  stream->WriteBuffer("!", 1);
  EXPECT_EQ(Content(*stream), kB + "!");
  stream->Clear();
  EXPECT_EQ(stream->Size(), 0);
}

TEST(CompressedBody, BodiesWithoutTheSignatureStayUnchanged) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"seven signature bytes", kSignature.substr(0, 7)},
      {"plain text", "<html>version 4.2</html>"},
      {"member with a file name", Member(kB, 0x08, std::string("f.txt\0", 6))},
      {"member with a time stamp", Member(kB).replace(4, 1, "\x01")},
  };
  for (std::size_t i = 0; i < kSignature.size(); ++i) {
    std::string body = Member(kC);
    body[i] ^= 0x01;
    cases.push_back({"signature byte " + std::to_string(i) + " differs", body});
  }
  for (const auto& [name, body] : cases) {
    SCOPED_TRACE(name);
    std::string attempts;
    auto stream = BodyStream(body, attempts);
    const TTntMemoryStream* received = stream.get();
    EXPECT_TRUE(DecodeCompressed(stream, u"http://h/page.asp", 'G'));
    EXPECT_EQ(stream.get(), received);
    EXPECT_EQ(stream->Position(), 0);
    EXPECT_TRUE(Content(*stream) == body);
  }
}

TEST(CompressedBody, FailingReadInTheFirstAttemptFallsBackToTheOtherLayout) {
  // Mode G reads the source through the stream; mode Z inflates the bytes in place.
  std::string attempts;
  auto stream = BodyStream(ZlibBody(kB), attempts, 2);
  DecodeCompressed(stream, u"http://h/a.asp", 'Z');
  EXPECT_EQ(attempts, "GZ");
  EXPECT_EQ(Content(*stream), kB);
}

TEST(CompressedBody, FailingReadInTheSecondAttemptReachesTheCallerWithTheBodyKept) {
  std::string attempts;
  const std::string body = Member(kB);
  auto stream = BodyStream(body, attempts, 2);
  const TTntMemoryStream* received = stream.get();
  EXPECT_THROW(DecodeCompressed(stream, u"http://h/f", 'Z'), Exception);
  EXPECT_EQ(attempts, "ZG");
  EXPECT_EQ(stream.get(), received);
  EXPECT_TRUE(Content(*stream) == body);
}

TEST(InflateZlibStream, AppendsEverythingOrNothing) {
  std::string wrongAdler = Compress(kB, 15);
  wrongAdler.back() ^= 1;
  const struct {
    const char* name;
    std::string input;
    std::string expected;
  } cases[] = {
      {"complete stream", Compress(kB, 15), "head" + kB},
      {"empty input", "", "head"},
      {"wrong Adler-32", wrongAdler, "head"},
      {"cut before its end", Compress(kB, 15).substr(0, 100), "head"},
      {"preset dictionary", CompressWithDictionary(kB, "update version"), "head"},
      {"raw deflate data", Compress(kB, -MAX_WBITS), "head"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream source;
    source.WriteBuffer("xyz", 3);
    source.WriteBuffer(c.input.data(), static_cast<std::int64_t>(c.input.size()));
    source.SetPosition(3);
    TMemoryStream output;
    output.WriteBuffer("head", 4);
    InflateZlibStream(source, output);
    EXPECT_EQ(output.Position(), 0);
    EXPECT_TRUE(Content(output) == c.expected);
  }
}

TEST(GunzipStream, DecodesFromThePositionAndCopiesNonGzipBytes) {
  const struct {
    const char* name;
    std::string input;
    std::string expected;
  } cases[] = {
      {"member", Member(kB), kB},
      {"empty source", "", ""},
      {"not gzip at all", "plain text", "plain text"},
      {"1F alone", "\x1F", "\x1F"},
      {"member with every optional field",
       Member(kC, 0x1F, Extra(3) + std::string("n\0c\0\xAB\xCD", 6)), kC},
      {"header without data", kSignature + std::string("\x00\x03", 2), ""},
      {"header cut short", kSignature.substr(0, 6), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream source;
    source.WriteBuffer("skip", 4);
    source.WriteBuffer(c.input.data(), static_cast<std::int64_t>(c.input.size()));
    source.SetPosition(4);
    std::unique_ptr<TTntMemoryStream> output = GunzipStream(source);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->Position(), output->Size());
    EXPECT_TRUE(Content(*output) == c.expected) << "got " << output->Size() << " bytes";
  }
}

}  // namespace
