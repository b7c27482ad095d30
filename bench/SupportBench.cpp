// The memory stream that holds every response body: appending a 256 MiB body in 32768-byte
// chunks (as the transfer does) and saving it, each beside a plain memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/WideFileStreams.h"

namespace {

constexpr std::int64_t kBody = 256LL << 20;
constexpr std::int64_t kChunk = 32768;

const std::vector<char>& Chunk() {
  static const std::vector<char> chunk = [] {
    std::vector<char> bytes(kChunk);
    for (std::int64_t i = 0; i < kChunk; ++i) bytes[i] = static_cast<char>(i * 131);
    return bytes;
  }();
  return chunk;
}

void AppendBodyToMemoryStream(benchmark::State& state) {
  for (auto _ : state) {
    TTntMemoryStream stream;
    for (std::int64_t done = 0; done < kBody; done += kChunk) {
      stream.Write(Chunk().data(), kChunk);
    }
    benchmark::DoNotOptimize(stream.Memory());
  }
  state.SetBytesProcessed(state.iterations() * kBody);
}
BENCHMARK(AppendBodyToMemoryStream)->Unit(benchmark::kMillisecond);

// The floor: the same chunks copied into a buffer that was allocated once, up front.
void MemcpyIntoPreallocatedBuffer(benchmark::State& state) {
  std::unique_ptr<char[]> buffer(new char[kBody]);
  for (auto _ : state) {
    for (std::int64_t done = 0; done < kBody; done += kChunk) {
      std::memcpy(buffer.get() + done, Chunk().data(), kChunk);
    }
    benchmark::DoNotOptimize(buffer.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBody);
}
BENCHMARK(MemcpyIntoPreallocatedBuffer)->Unit(benchmark::kMillisecond);

// The same with a fresh buffer each time, so that first-touch page faults are counted as they
// are for the stream.
void MemcpyIntoFreshBuffer(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<char[]> buffer(new char[kBody]);
    for (std::int64_t done = 0; done < kBody; done += kChunk) {
      std::memcpy(buffer.get() + done, Chunk().data(), kChunk);
    }
    benchmark::DoNotOptimize(buffer.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBody);
}
BENCHMARK(MemcpyIntoFreshBuffer)->Unit(benchmark::kMillisecond);

void SaveBodyToFile(benchmark::State& state) {
  TTntMemoryStream stream;
  for (std::int64_t done = 0; done < kBody; done += kChunk) stream.Write(Chunk().data(), kChunk);
  const auto path = std::filesystem::temp_directory_path() / "taktak-bench-save.bin";
  for (auto _ : state) stream.SaveToFile(path.u16string());
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * kBody);
}
BENCHMARK(SaveBodyToFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
