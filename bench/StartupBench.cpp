// The whole updater process: from its start to the moment its first request (the manifest)
// reaches a loopback update server on the product's address, 127.0.0.1:8086. The manifest
// names the version already installed, so each run ends at once without writing anything.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackServer.h"

namespace fs = std::filesystem;

namespace {

void StartupToFirstRequest(benchmark::State& state) {
  const fs::path updater = fs::canonical("/proc/self/exe").parent_path().parent_path() / "app" /
                           "Update";
  const fs::path dir = fs::temp_directory_path() / "taktak-bench-startup";
  fs::remove_all(dir);
  fs::create_directories(dir / "html");
  fs::copy_file(updater, dir / "Update");
  std::ofstream(dir / "TakTak.ini", std::ios::binary) << "[version]\r\nCurrentVersion=1.0\r\n";

  LoopbackServer server(8086);
  server.On("/4/Update/Update.aspx", LoopbackServer::Response::Text("<b>1.0</b>"));
  std::size_t requests = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child(dir / "Update", dir);
    if (!server.WaitForRequests(++requests, std::chrono::seconds(10))) {
      state.SkipWithError("the updater sent no request");
      break;
    }
    const auto arrived = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(arrived - start).count());
    if (child.Wait(10) != std::optional<int>(0)) {
      state.SkipWithError("the updater did not end with exit code 0");
      break;
    }
  }
  fs::remove_all(dir);
}
BENCHMARK(StartupToFirstRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
