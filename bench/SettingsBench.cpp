// Reading one key of a 10,000-line settings file and rewriting the file, against a plain parse
// of the same text that only splits lines and finds "=".
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "os/CodePage.h"
#include "settings/IniFiles.h"
#include "settings/RzCommon.h"
#include "support/WideFileStreams.h"

namespace {

constexpr int kSections = 100;
constexpr int kKeysPerSection = 98;

// 100 sections of a header and 98 keys, then the version section: 10,002 lines.
AnsiString LargeIni() {
  std::ostringstream text;
  for (int s = 0; s < kSections; ++s) {
    text << "[Section" << s << "]\r\n";
    for (int k = 0; k < kKeysPerSection; ++k) {
      text << "Key" << k << " = value of key " << k << " in section " << s << "\r\n";
    }
  }
  text << "[version]\r\nCurrentVersion=1.0.0\r\n";
  return text.str();
}

// The value of the first line named `key`: split at line ends, find "=", compare the name.
AnsiString PlainParse(const AnsiString& text, const AnsiString& key) {
  AnsiString found;
  std::size_t start = 0;
  std::size_t lines = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == AnsiString::npos) end = text.size();
    ++lines;
    const std::size_t equals = text.find('=', start);
    if (equals < end && found.empty() && text.compare(start, equals - start, key) == 0) {
      std::size_t valueEnd = end;
      if (valueEnd > equals && text[valueEnd - 1] == '\r') --valueEnd;
      found = text.substr(equals + 1, valueEnd - equals - 1);
    }
    start = end + 1;
  }
  benchmark::DoNotOptimize(lines);
  return found;
}

AnsiString ReadFile(const std::filesystem::path& path) {
  TTntFileStream file(path.u16string(), fmOpenRead | fmShareDenyWrite);
  AnsiString text(static_cast<std::size_t>(file.Size()), '\0');
  file.Read(text.data(), static_cast<std::int64_t>(text.size()));
  return text;
}

struct BenchFile {
  BenchFile() {
    dir = std::filesystem::temp_directory_path() / "taktak-settings-bench";
    std::filesystem::create_directories(dir);
    path = dir / "TakTak.ini";
    std::ofstream(path, std::ios::binary) << LargeIni();
  }
  ~BenchFile() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir, path;
};

void BM_PlainParseInMemory(benchmark::State& state) {
  const AnsiString text = LargeIni();
  for (auto _ : state) benchmark::DoNotOptimize(PlainParse(text, "CurrentVersion"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_PlainParseInMemory)->Unit(benchmark::kMicrosecond);

// Parse, one look-up, one write and the text as written, without the file system.
void BM_MemIniFileInMemory(benchmark::State& state) {
  const AnsiString text = LargeIni();
  TMemIniFile ini("");
  for (auto _ : state) {
    ini.SetText(text);
    benchmark::DoNotOptimize(ini.ReadValue("version", "CurrentVersion", ""));
    ini.WriteValue("version", "CurrentVersion", "1.0.1");
    benchmark::DoNotOptimize(ini.Text());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_MemIniFileInMemory)->Unit(benchmark::kMicrosecond);

void BM_PlainParseFile(benchmark::State& state) {
  BenchFile file;
  for (auto _ : state) benchmark::DoNotOptimize(PlainParse(ReadFile(file.path), "CurrentVersion"));
}
BENCHMARK(BM_PlainParseFile)->Unit(benchmark::kMicrosecond);

// What the updater does: load on first use, read the version, write a new one (the whole file
// is replaced through a flushed temporary file).
void BM_ReadOneKeyAndRewriteFile(benchmark::State& state) {
  BenchFile file;
  const AnsiString name = os::WideToAnsi(file.path.u16string());
  int round = 0;
  for (auto _ : state) {
    TRzRegIniFile ini;
    ini.SetPath(name);
    benchmark::DoNotOptimize(ini.ReadValue("version", "CurrentVersion", ""));
    ini.WriteValue("version", "CurrentVersion", std::to_string(++round));
  }
}
BENCHMARK(BM_ReadOneKeyAndRewriteFile)->Unit(benchmark::kMicrosecond);

// The same without the rewrite: load and one look-up.
void BM_ReadOneKeyFromFile(benchmark::State& state) {
  BenchFile file;
  const AnsiString name = os::WideToAnsi(file.path.u16string());
  for (auto _ : state) {
    TRzRegIniFile ini;
    ini.SetPath(name);
    benchmark::DoNotOptimize(ini.ReadValue("version", "CurrentVersion", ""));
  }
}
BENCHMARK(BM_ReadOneKeyFromFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
