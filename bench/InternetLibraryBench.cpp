// A 64 MiB body over loopback: through the platform's internet library in 32768-byte reads, and
// through the curl command-line tool writing to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "os/Internet.h"
#include "tests/support/LoopbackServer.h"

namespace {

constexpr std::size_t kBodySize = 64u << 20;

LoopbackServer& Server() {
  static LoopbackServer* server = [] {
    auto* s = new LoopbackServer;
    LoopbackServer::Response r;
    std::string block(1u << 20, 'z');
    for (std::size_t i = 0; i < kBodySize / block.size(); ++i) r.body.push_back({block});
    s->On("/big", r);
    return s;
  }();
  return *server;
}

void BM_LibraryFetch(benchmark::State& state) {
  os::InternetLibrary& net = os::DefaultInternet();
  std::vector<char> buffer(32768);
  for (auto _ : state) {
    os::HINTERNET s = net.InternetOpenW(u"bench", 0, nullptr, nullptr, 0);
    os::HINTERNET c =
        net.InternetConnectW(s, u"127.0.0.1", Server().Port(), nullptr, nullptr, 3, 0, 0);
    os::HINTERNET r =
        net.HttpOpenRequestW(c, u"GET", u"/big", u"HTTP/1.0", nullptr, nullptr, 0x80000000u, 0);
    if (!net.HttpSendRequestW(r, nullptr, 0, nullptr, 0)) state.SkipWithError("send failed");
    std::size_t total = 0;
    std::uint32_t n = 0;
    while (net.InternetReadFile(r, buffer.data(), 32768, &n) && n > 0) total += n;
    if (total != kBodySize) state.SkipWithError("short body");
    net.InternetCloseHandle(r);
    net.InternetCloseHandle(c);
    net.InternetCloseHandle(s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}
BENCHMARK(BM_LibraryFetch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlTool(benchmark::State& state) {
  std::string command = "curl -s -0 -o /dev/null " + Server().Url("/big");
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodySize));
}
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
