// Decoding a 64 MiB body: DecodeCompressed in mode G (a gzip file) and mode Z (a zlib stream after
// the signature), each beside zlib's own decoder of the same data in the same run: gzread of the
// gzip file and uncompress of the zlib stream. Each run decodes the whole body once.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "support/CompressedBody.h"

namespace {

constexpr std::size_t kBodySize = std::size_t{64} << 20;

// Text of the kind an update server sends: manifest lines and HTML, compressible about 4:1.
const std::string& Content() {
  static const std::string content = [] {
    static const char* const kWords[] = {"<td>",
                                         "TakTak.exe ",
                                         "CurrentVersion=",
                                         "4.2.17 ",
                                         "html/index.htm\r\n",
                                         "\xD6\xD0\xCE\xC4",
                                         "</td>\r\n",
                                         "update "};
    std::string text;
    text.reserve(kBodySize + 32);
    std::uint32_t seed = 7;
    while (text.size() < kBodySize) {
      seed = seed * 1103515245u + 12345u;
      text += kWords[(seed >> 16) % 8];
      text += static_cast<char>('a' + (seed >> 8) % 26);
    }
    text.resize(kBodySize);
    return text;
  }();
  return content;
}

std::string Deflate(const std::string& data, int windowBits) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A gzip file as zlib writes it: its header is the compressed-body signature.
const std::string& GzipBody() {
  static const std::string body = Deflate(Content(), 31);
  return body;
}

// The signature followed by a zlib stream.
const std::string& ZlibBody() {
  static const std::string body =
      std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8) + Deflate(Content(), 15);
  return body;
}

const std::filesystem::path& GzipFile() {
  static const std::filesystem::path path = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() / "bench_decode_body.gz";
    std::FILE* f = std::fopen(p.string().c_str(), "wb");
    std::fwrite(GzipBody().data(), 1, GzipBody().size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

void Decode(benchmark::State& state, const std::string& body, char mode) {
  for (auto _ : state) {
    state.PauseTiming();
    auto stream = std::make_unique<TTntMemoryStream>();
    stream->WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
    stream->SetPosition(0);
    state.ResumeTiming();
    DecodeCompressed(stream, u"http://127.0.0.1:8086/4/Update/Taktak.exe", mode);
    if (stream->Size() != static_cast<std::int64_t>(kBodySize) ||
        std::memcmp(stream->Memory(), Content().data(), kBodySize) != 0) {
      state.SkipWithError("decoded body differs");
      break;
    }
    state.PauseTiming();
    stream.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}

void BM_DecodeCompressedModeG(benchmark::State& state) { Decode(state, GzipBody(), 'G'); }

void BM_DecodeCompressedModeZ(benchmark::State& state) { Decode(state, ZlibBody(), 'Z'); }

// zlib's decoders run into one buffer reused by every iteration (argument 0), the best case for
// them, or into a freshly allocated one per iteration (argument 1), as a decoder that returns a
// new body must.
std::unique_ptr<char[]> FreshBuffer(benchmark::State& state, std::unique_ptr<char[]> reused) {
  return state.range(0) == 0 ? std::move(reused) : std::unique_ptr<char[]>(new char[kBodySize + 1]);
}

void BM_ZlibGzread(benchmark::State& state) {
  std::unique_ptr<char[]> out(new char[kBodySize + 1]);
  std::memset(out.get(), 0, kBodySize + 1);
  const std::string path = GzipFile().string();
  for (auto _ : state) {
    out = FreshBuffer(state, std::move(out));
    gzFile file = gzopen(path.c_str(), "rb");
    const int got = gzread(file, out.get(), static_cast<unsigned>(kBodySize + 1));
    gzclose(file);
    if (got != static_cast<int>(kBodySize)) {
      state.SkipWithError("gzread failed");
      break;
    }
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}

void BM_ZlibUncompress(benchmark::State& state) {
  std::unique_ptr<char[]> out(new char[kBodySize + 1]);
  std::memset(out.get(), 0, kBodySize + 1);
  const std::string& body = ZlibBody();
  for (auto _ : state) {
    out = FreshBuffer(state, std::move(out));
    uLongf outSize = static_cast<uLongf>(kBodySize);
    const int rc = uncompress(reinterpret_cast<Bytef*>(out.get()), &outSize,
                              reinterpret_cast<const Bytef*>(body.data()) + 8,
                              static_cast<uLong>(body.size() - 8));
    if (rc != Z_OK || outSize != kBodySize) {
      state.SkipWithError("uncompress failed");
      break;
    }
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}

BENCHMARK(BM_DecodeCompressedModeG)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibGzread)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeCompressedModeZ)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibUncompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(GzipFile());
  return 0;
}
