#include "support/CompressedBody.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "os/CodePage.h"

namespace {

// The first eight bytes of a body that is decoded: the gzip identification, method deflate, no
// header flags and a zero time stamp.
constexpr std::uint8_t kSignature[8] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00};

// zlib counts its input and output in 32-bit units: larger blocks go to it in slices.
constexpr std::size_t kMaxSlice = std::size_t{1} << 30;

// The size of the gzip reader's input buffer and of the chunks it decodes into.
constexpr int kGzipBufferSize = 16384;

// Takes a stream back to its old size unless told to keep what was added, also when an
// allocation fails half-way; a stream that was empty gives its memory back.
class OutputRollback {
 public:
  OutputRollback(TMemoryStream& stream, std::int64_t size) : stream_(stream), size_(size) {}
  ~OutputRollback() {
    if (keep_) return;
    if (size_ == 0) {
      stream_.Clear();
    } else {
      stream_.SetSize(size_);
    }
  }
  OutputRollback(const OutputRollback&) = delete;
  OutputRollback& operator=(const OutputRollback&) = delete;
  void Keep() { keep_ = true; }

 private:
  TMemoryStream& stream_;
  std::int64_t size_;
  bool keep_ = false;
};

// Ends an inflater that was set up successfully.
class InflaterGuard {
 public:
  explicit InflaterGuard(z_stream& inflater) : inflater_(&inflater) {}
  ~InflaterGuard() {
    if (inflater_ != nullptr) inflateEnd(inflater_);
  }
  // Hands the inflater on to an owner that ends it later.
  void Release() { inflater_ = nullptr; }
  InflaterGuard(const InflaterGuard&) = delete;
  InflaterGuard& operator=(const InflaterGuard&) = delete;

 private:
  z_stream* inflater_;
};

// The state of one gzip decode: a raw-deflate inflater, the input buffer over the borrowed source
// stream, and the running CRC-32 and size of the current member. The inflater's input pointer and
// count are the buffer's read position and unread count, so the header and trailer fetches and
// the inflater share one view of the input.
class GzipReader {
 public:
  explicit GzipReader(TStream& source);
  ~GzipReader();
  GzipReader(const GzipReader&) = delete;
  GzipReader& operator=(const GzipReader&) = delete;

  // False when the inflater could not be set up; nothing can be read then.
  bool Opened() const { return opened_; }
  // Decodes up to `count` bytes into `buffer`: the number delivered, 0 at the end, -1 after a
  // data error.
  int Read(std::uint8_t* buffer, int count);
  // Once Read has returned 0 or -1: true when the decoded bytes are all the input held. False
  // when the input ended inside a member's header or deflate data, or a fault in a header, in
  // deflate data or in a complete trailer stopped the decode. A trailer cut short at the end of
  // the input loses nothing.
  bool Whole() const { return whole_ && (status_ != Status::ok || passThrough_); }

 private:
  enum class Status { ok, endOfStream, dataError };

  // Room in front of the buffer for the two bytes the header check may put back after a refill.
  static constexpr int kPutBackRoom = 2;

  void Refill();
  // The next input byte, or -1 at the end of the input.
  int FetchByte();
  void PutBack(std::uint8_t byte);
  std::uint32_t FetchUInt32();
  void CheckHeader();

  TStream& source_;
  z_stream inflater_{};
  bool opened_ = false;
  Status status_ = Status::ok;
  bool whole_ = true;
  bool endOfInput_ = false;
  bool passThrough_ = false;
  std::uint32_t crc_ = 0;
  std::uint32_t memberSize_ = 0;
  std::uint8_t input_[kPutBackRoom + kGzipBufferSize];
};

GzipReader::GzipReader(TStream& source) : source_(source) {
  // Negative window bits: raw deflate data, no zlib header or trailer; 2^15 bytes of window.
  if (inflateInit2(&inflater_, -MAX_WBITS) != Z_OK) return;
  opened_ = true;
  // The header check reads the source, which may raise: the guard then ends the inflater, as the
  // destructor of a reader whose construction failed never runs.
  InflaterGuard guard(inflater_);
  inflater_.next_in = input_ + kPutBackRoom;
  inflater_.avail_in = 0;
  crc_ = crc32(0, nullptr, 0);
  CheckHeader();
  guard.Release();
}

GzipReader::~GzipReader() {
  if (opened_) inflateEnd(&inflater_);
}

void GzipReader::Refill() {
  const std::int64_t got = source_.Read(input_ + kPutBackRoom, kGzipBufferSize);
  inflater_.next_in = input_ + kPutBackRoom;
  if (got <= 0) {
    endOfInput_ = true;
    inflater_.avail_in = 0;
  } else {
    inflater_.avail_in = static_cast<uInt>(got);
  }
}

int GzipReader::FetchByte() {
  if (endOfInput_) return -1;
  if (inflater_.avail_in == 0) {
    Refill();
    if (endOfInput_) return -1;
  }
  --inflater_.avail_in;
  return *inflater_.next_in++;
}

// Writes the byte back rather than only stepping back: the byte may have come from the buffer's
// previous filling, and the room in front of the buffer takes it.
void GzipReader::PutBack(std::uint8_t byte) {
  --inflater_.next_in;
  *inflater_.next_in = byte;
  ++inflater_.avail_in;
}

std::uint32_t GzipReader::FetchUInt32() {
  std::uint32_t value = 0;
  int byte = 0;
  for (int i = 0; i < 4; ++i) {
    byte = FetchByte();
    value |= static_cast<std::uint32_t>(byte & 0xFF) << (8 * i);
  }
  if (byte < 0) status_ = Status::dataError;
  return value;
}

void GzipReader::CheckHeader() {
  int byte = FetchByte();
  if (byte != 0x1F) {
    if (byte >= 0) {
      PutBack(static_cast<std::uint8_t>(byte));
      passThrough_ = true;
    }
    status_ = inflater_.avail_in > 0 ? Status::ok : Status::endOfStream;
    return;
  }
  byte = FetchByte();
  if (byte != 0x8B) {
    // Whatever follows is copied unchanged, the 0x1F included, even when it is the last byte.
    if (byte >= 0) PutBack(static_cast<std::uint8_t>(byte));
    PutBack(0x1F);
    passThrough_ = true;
    status_ = Status::ok;
    return;
  }
  const int method = FetchByte();
  const int flags = FetchByte();
  if (method != Z_DEFLATED || flags < 0 || (flags & 0xE0) != 0) {
    status_ = Status::dataError;
    whole_ = false;
    return;
  }
  for (int i = 0; i < 6; ++i) FetchByte();  // time stamp, extra flags, operating system
  if ((flags & 0x04) != 0) {
    const int low = FetchByte();
    const int high = FetchByte();
    const int length = (low & 0xFF) + 256 * (high & 0xFF);
    for (int i = 0; i < length && !endOfInput_; ++i) FetchByte();
  }
  if ((flags & 0x08) != 0) {  // file name
    for (byte = FetchByte(); byte > 0; byte = FetchByte()) {
    }
  }
  if ((flags & 0x10) != 0) {  // comment
    for (byte = FetchByte(); byte > 0; byte = FetchByte()) {
    }
  }
  if ((flags & 0x02) != 0) {  // header CRC, not verified
    FetchByte();
    FetchByte();
  }
  status_ = endOfInput_ ? Status::dataError : Status::ok;
  if (endOfInput_) whole_ = false;  // the header was cut short
}

int GzipReader::Read(std::uint8_t* buffer, int count) {
  if (status_ == Status::dataError) return -1;
  if (status_ == Status::endOfStream || count <= 0) return 0;
  inflater_.next_out = buffer;
  inflater_.avail_out = static_cast<uInt>(count);
  std::uint8_t* crcFrom = buffer;
  while (inflater_.avail_out > 0) {
    if (passThrough_) {
      const uInt buffered = std::min(inflater_.avail_in, inflater_.avail_out);
      std::memcpy(inflater_.next_out, inflater_.next_in, buffered);
      inflater_.next_in += buffered;
      inflater_.avail_in -= buffered;
      inflater_.next_out += buffered;
      inflater_.avail_out -= buffered;
      if (inflater_.avail_out > 0) {
        const std::int64_t got = source_.Read(inflater_.next_out, inflater_.avail_out);
        if (got > 0) {
          inflater_.next_out += got;
          inflater_.avail_out -= static_cast<uInt>(got);
        }
      }
      return count - static_cast<int>(inflater_.avail_out);
    }
    if (inflater_.avail_in == 0 && !endOfInput_) Refill();
    const uInt inBefore = inflater_.avail_in;
    const uInt outBefore = inflater_.avail_out;
    const int rc = inflate(&inflater_, Z_NO_FLUSH);
    memberSize_ += outBefore - inflater_.avail_out;
    const bool progress = inflater_.avail_in != inBefore || inflater_.avail_out != outBefore;
    if (rc == Z_STREAM_END) {
      crc_ = crc32(crc_, crcFrom, static_cast<uInt>(inflater_.next_out - crcFrom));
      crcFrom = inflater_.next_out;
      // Both trailer values are fetched before either is compared.
      const std::uint32_t storedCrc = FetchUInt32();
      const std::uint32_t storedSize = FetchUInt32();
      if (status_ == Status::ok && (storedCrc != crc_ || storedSize != memberSize_)) {
        // A damaged member: its bytes are kept, but they are not to be trusted.
        status_ = Status::dataError;
        whole_ = false;
      }
      // A trailer cut short ends the input after deflate data that ended: nothing is missing
      // (a zlib body read in this layout ends so, its Adler-32 taken for half a trailer).
      if (status_ == Status::ok) {
        CheckHeader();
        if (status_ == Status::ok) {
          inflateReset(&inflater_);
          crc_ = crc32(0, nullptr, 0);
          memberSize_ = 0;
        }
      }
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      status_ = Status::dataError;  // corrupt data, or no memory left for the inflater
      whole_ = false;
    }
    // Bytes put back for passing through are still to come, even at the end of the input.
    if (status_ != Status::ok || (endOfInput_ && !passThrough_) || !progress) break;
  }
  crc_ = crc32(crc_, crcFrom, static_cast<uInt>(inflater_.next_out - crcFrom));
  return count - static_cast<int>(inflater_.avail_out);
}

}  // namespace

bool InflateZlibStream(TMemoryStream& source, TMemoryStream& output) {
  bool complete = false;
  const std::int64_t position = source.Position();
  const std::int64_t available = source.Size() - position;
  if (available > 0 && position >= 0) {
    // The source is in memory already: inflate straight from it instead of copying it first.
    const std::uint8_t* in = source.Memory() + position;
    std::size_t inLeft = static_cast<std::size_t>(available);
    source.Seek(0, TSeekOrigin::soEnd);

    // The bytes are inflated straight into the output's memory past its end, which starts at the
    // compressed size rounded up to 256 bytes and grows by that step, or by half its size when
    // that is more, so that a highly compressed body is not copied over and over while it grows.
    // Only a complete stream with a matching Adler-32 keeps them.
    const std::int64_t start = output.Size();
    const std::int64_t step = static_cast<std::int64_t>((inLeft + 255) & ~std::size_t{255});
    std::int64_t capacity = step;
    std::int64_t produced = 0;
    OutputRollback rollback(output, start);

    z_stream inflater{};
    if (inflateInit(&inflater) == Z_OK) {
      InflaterGuard guard(inflater);
      output.SetSize(start + capacity);
      for (;;) {
        if (produced == capacity) {
          capacity += std::max(step, capacity / 2);
          output.SetSize(start + capacity);
        }
        inflater.next_in = const_cast<Bytef*>(in);
        inflater.avail_in = static_cast<uInt>(std::min(inLeft, kMaxSlice));
        inflater.next_out = output.Memory() + start + produced;
        inflater.avail_out =
            static_cast<uInt>(std::min(static_cast<std::size_t>(capacity - produced), kMaxSlice));
        const uInt inSlice = inflater.avail_in;
        const uInt outSlice = inflater.avail_out;
        const int rc = inflate(&inflater, Z_NO_FLUSH);
        in += inSlice - inflater.avail_in;
        inLeft -= inSlice - inflater.avail_in;
        produced += outSlice - inflater.avail_out;
        if (rc == Z_STREAM_END) {  // the Adler-32 matched
          complete = true;
          break;
        }
        // Z_OK made progress; Z_BUF_ERROR with output space left means the input ended early.
        if (rc == Z_OK || (rc == Z_BUF_ERROR && inflater.avail_out == 0)) continue;
        break;  // corrupt data, a preset dictionary, no memory, or a truncated stream
      }
    }
    if (complete) {
      output.SetSize(start + produced);
      rollback.Keep();
    }
  }
  output.SetPosition(0);
  return complete;
}

std::unique_ptr<TTntMemoryStream> GunzipStream(TMemoryStream& source, bool* whole) {
  if (whole != nullptr) *whole = false;
  auto output = std::make_unique<TTntMemoryStream>();
  auto reader = std::make_unique<GzipReader>(source);
  if (!reader->Opened()) return output;
  std::uint8_t chunk[kGzipBufferSize];
  for (;;) {
    const int got = reader->Read(chunk, kGzipBufferSize);
    if (got <= 0) break;
    output->WriteBuffer(chunk, got);
  }
  if (whole != nullptr) *whole = reader->Whole();
  return output;
}

bool DecodeAs(TMemoryStream& source, std::unique_ptr<TTntMemoryStream>& output, char mode) {
  bool whole = false;
  if (mode == 'Z') {
    source.SetPosition(8);
    whole = InflateZlibStream(source, *output);
  } else if (mode == 'G') {
    source.SetPosition(0);
    output = GunzipStream(source, &whole);
  }
  return whole;
}

bool DecodeCompressed(std::unique_ptr<TTntMemoryStream>& stream, const WideString& url, char mode) {
  if (stream == nullptr) return true;
  std::uint8_t head[sizeof kSignature];
  const std::int64_t got = stream->Read(head, sizeof head);
  if (got < static_cast<std::int64_t>(sizeof head) ||
      std::memcmp(head, kSignature, sizeof kSignature) != 0) {
    stream->SetPosition(0);
    return true;
  }

  auto out = std::make_unique<TTntMemoryStream>();
  char m = mode == 'G' ? 'G' : 'Z';
  // A URL naming an .asp page selects the gzip layout, whatever the caller prefers.
  if (os::WideLowerCase(url).find(u".asp") != WideString::npos) m = 'G';
  bool whole = false;
  try {
    whole = DecodeAs(*stream, out, m);
  } catch (...) {
    // The first attempt may fail for want of memory or a failing read; the other layout is
    // tried next, and whatever that one raises reaches the caller.
    if (out == nullptr) out = std::make_unique<TTntMemoryStream>();
    out->SetSize(0);
  }
  if (out->Size() == 0) whole = DecodeAs(*stream, out, m == 'Z' ? 'G' : 'Z');
  stream = std::move(out);
  return whole;
}
