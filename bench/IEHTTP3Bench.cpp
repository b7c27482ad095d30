// Whole-process comparison of the HTTP client component with the curl command-line tool, both
// fetching from one loopback server that this program starts:
//   - a 256 MiB body: throughput and peak memory of each process (curl writing to /dev/null, and
//     to a file in /dev/shm, which keeps the body in memory as the component does; and a bare
//     socket client receiving into memory, the least work any client that keeps the body does);
//   - 1,000 requests for 1 KiB bodies: requests per second; and, for reference, the same requests
//     through the platform's internet library alone, on the calling thread, on a new system
//     thread per request, and on a worker thread object per request as the component runs its
//     transfers (whose system threads are reused), which parts the component's cost into the
//     library's and its transfer thread's.
// Each measurement runs in a child process (this program with --fetch, or curl), so the time
// and the peak resident memory reported by wait4 belong to that process alone.
//
//   bench_http [rounds]                    (5 by default; medians and fastest rounds at the end)
//   bench_http --serve                      (the server alone: /big and /small on the printed port)
//   bench_http --fetch URL COUNT SIZE       (the component's side of one measurement)
//   bench_http --bare PORT PATH SIZE        (the bare client's side of one measurement)
//   bench_http --library PORT COUNT caller|thread|worker   (the library alone, COUNT requests)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/platform/Threads.h"
#include "http/IEHTTP3.h"
#include "os/Internet.h"
#include "tests/support/LoopbackServer.h"

namespace {

constexpr std::size_t kBigBody = 256u << 20;
constexpr std::size_t kBlock = 1u << 20;
constexpr int kSmallRequests = 1000;

struct Run {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs the command line and measures the child.
Run Measure(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// Child: fetches `url` `count` times through the component; fails unless every body had
// `size` bytes.
int Fetch(const std::string& url, int count, std::size_t size) {
  TIEHTTP http;
  http.SetTimeout(0);
  const WideString wide(url.begin(), url.end());
  for (int i = 0; i < count; ++i) {
    http.ExecuteURL(wide);
    if (static_cast<std::size_t>(http.ResponseStream->Size()) != size) return 1;
  }
  return 0;
}

enum class RunOn { caller, thread, worker };

// A worker thread object that runs one function, as the component's transfer thread runs one
// request.
class TFunctionThread : public TThread {
 public:
  explicit TFunctionThread(std::function<void()> body) : TThread(true), FBody(std::move(body)) {}

 protected:
  void Execute() override { FBody(); }

 private:
  std::function<void()> FBody;
};

// Child, for reference: fetches /small `count` times through the platform's internet library
// with the calls the component makes, each request on the calling thread, on a new system thread
// that the caller waits for, or on a worker thread object the caller waits for, as the component
// runs its transfers. Fails unless every body had 1,024 bytes.
int FetchThroughLibrary(std::uint16_t port, int count, RunOn runOn) {
  os::InternetLibrary& net = os::DefaultInternet();
  std::vector<char> buffer(32768);
  const auto fetch = [&] {
    os::HINTERNET session =
        net.InternetOpenW(u"bench", os::INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    os::HINTERNET connection = net.InternetConnectW(session, u"127.0.0.1", port, nullptr, nullptr,
                                                    os::INTERNET_SERVICE_HTTP, 0, 0);
    os::HINTERNET request = net.HttpOpenRequestW(connection, u"GET", u"/small", u"HTTP/1.0",
                                                 nullptr, nullptr, os::INTERNET_FLAG_RELOAD, 0);
    std::size_t total = 0;
    if (net.HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
      std::uint32_t n = 0;
      while (net.InternetReadFile(request, buffer.data(), 32768, &n) && n > 0) total += n;
    }
    net.InternetCloseHandle(request);
    net.InternetCloseHandle(connection);
    net.InternetCloseHandle(session);
    return total == 1024;
  };
  for (int i = 0; i < count; ++i) {
    bool ok = false;
    if (runOn == RunOn::thread) {
      std::thread([&] { ok = fetch(); }).join();
    } else if (runOn == RunOn::worker) {
      TFunctionThread worker([&] { ok = fetch(); });
      worker.StartThread();
      worker.WaitFor(TEvent::kInfinite);
    } else {
      ok = fetch();
    }
    if (!ok) return 1;
  }
  return 0;
}

// Child, for reference: the least any client keeping the body in memory must do. A bare HTTP/1.0
// GET of `path` on the loopback `port`, each receive going straight into the free end of a memory
// stream, no parsing beyond finding the end of the head. Fails unless the body had `size` bytes.
int FetchBare(std::uint16_t port, const std::string& path, std::size_t size) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
  if (send(s, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) return 1;
  TMemoryStream received;
  constexpr std::int64_t kReceive = 512 * 1024;
  for (;;) {
    const ssize_t n = recv(s, received.BeginWrite(kReceive), kReceive, 0);
    if (n <= 0) break;
    received.EndWrite(n);
  }
  close(s);
  const std::string_view all(reinterpret_cast<const char*>(received.Memory()),
                             static_cast<std::size_t>(received.Size()));
  const std::size_t head = all.find("\r\n\r\n");
  return head != std::string_view::npos && all.size() - head - 4 == size ? 0 : 1;
}

// Serves the two bodies on a loopback port until `quit` reaches its end. The port goes to
// `portOut`, as two bytes or (`asText`) as a line.
int Serve(int portOut, bool asText, int quit) {
  LoopbackServer server;
  // A binary body like the files the updater fetches: pseudo-random bytes, zeros included.
  LoopbackServer::Response big;
  std::mt19937 random(7);
  for (std::size_t i = 0; i < kBigBody / kBlock; ++i) {
    std::string block(kBlock, '\0');
    for (char& c : block) c = static_cast<char>(random());
    big.body.push_back({std::move(block)});
  }
  server.On("/big", big);
  server.On("/small", LoopbackServer::Response::Text(std::string(1024, 's')));
  const std::uint16_t port = server.Port();
  if (asText) {
    const std::string line = std::to_string(port) + "\n";
    if (write(portOut, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 2;
  } else if (write(portOut, &port, sizeof port) != sizeof port) {
    return 2;
  }
  char byte;
  while (read(quit, &byte, 1) > 0) {
  }
  return 0;
}

// The run at `rank` in order of time (0: the fastest; half the count: the median), with the
// median peak memory; failed if any run failed.
Run Ranked(std::vector<Run> runs, std::size_t rank) {
  Run ranked;
  std::nth_element(runs.begin(), runs.begin() + rank, runs.end(),
                   [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  ranked.seconds = runs[rank].seconds;
  const std::size_t middle = runs.size() / 2;
  std::nth_element(runs.begin(), runs.begin() + middle, runs.end(),
                   [](const Run& a, const Run& b) { return a.peakKiB < b.peakKiB; });
  ranked.peakKiB = runs[middle].peakKiB;
  ranked.ok = std::all_of(runs.begin(), runs.end(), [](const Run& r) { return r.ok; });
  return ranked;
}

// One row: the client measured, beside the reference it is compared with.
void Report(const char* what, const char* name, const Run& run, const char* referenceName,
            const Run& reference, double work, const char* unit) {
  std::printf("%-34s %-9s %8.1f %s peak %6.1f MiB | %-14s %8.1f %s peak %6.1f MiB | ratio %.2f%s\n",
              what, name, work / run.seconds, unit, run.peakKiB / 1024.0, referenceName,
              work / reference.seconds, unit, reference.peakKiB / 1024.0,
              reference.seconds / run.seconds, run.ok && reference.ok ? "" : "  (A RUN FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--fetch") {
    return Fetch(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 10));
  }
  if (argc == 5 && std::string(argv[1]) == "--library") {
    const std::string runOn = argv[4];
    return FetchThroughLibrary(static_cast<std::uint16_t>(std::atoi(argv[2])), std::atoi(argv[3]),
                               runOn == "thread"   ? RunOn::thread
                               : runOn == "worker" ? RunOn::worker
                                                   : RunOn::caller);
  }
  if (argc == 5 && std::string(argv[1]) == "--bare") {
    return FetchBare(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3],
                     std::strtoull(argv[4], nullptr, 10));
  }
  // The server alone, for profiling a client against it: prints the port, serves until stdin
  // ends.
  if (argc == 2 && std::string(argv[1]) == "--serve") return Serve(STDOUT_FILENO, true, 0);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  // The server runs in a child process of its own, started before anything is allocated here:
  // a client forked from a process holding the 256 MiB body would count that body in its peak.
  int toParent[2], toServer[2];
  if (pipe(toParent) != 0 || pipe(toServer) != 0) return 2;
  const pid_t serverPid = fork();
  if (serverPid == 0) {
    close(toParent[0]);
    close(toServer[1]);
    _exit(Serve(toParent[1], false, toServer[0]));
  }
  close(toParent[1]);
  close(toServer[0]);
  std::uint16_t port = 0;
  if (read(toParent[0], &port, sizeof port) != sizeof port) return 2;
  const std::string base = "http://127.0.0.1:" + std::to_string(port);

  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string program = n > 0 ? std::string(path, n) : argv[0];
  const std::string bigUrl = base + "/big", smallUrl = base + "/small";

  // curl reads the 1,000 small requests from a config file: one process, as for the component.
  // Its requests go out as HTTP/1.0 (-0) and the server closes every connection after its
  // response, so curl, like the component, opens a new connection for each request.
  const std::string config = "/tmp/http_bench_curl_" + std::to_string(getpid()) + ".cfg";
  {
    std::ofstream out(config);
    for (int i = 0; i < kSmallRequests; ++i) {
      out << "url = \"" << smallUrl << "\"\noutput = \"/dev/null\"\n";
    }
  }

  // The rounds interleave the clients, so that a slow spell of the machine falls on all of them;
  // the summary compares medians, then fastest rounds. The 256 MiB body is fetched by the
  // component, by curl writing it to /dev/null, by curl keeping it in memory as the component does
  // (a file on a memory file system), and by a bare socket client receiving straight into a memory
  // stream: the least work that keeping the body in memory takes. (Receiving straight into fresh
  // memory is not always faster than receiving into a small buffer and copying from there, as the
  // component does, so the component may beat it.)
  const std::string kept = "/dev/shm/http_bench_body_" + std::to_string(getpid());
  const std::string big = std::to_string(kBigBody);
  constexpr double kBigMiB = kBigBody / 1048576.0;
  // The small requests are also made through the internet library alone, on the calling thread,
  // on a new system thread per request and on a worker thread object per request: what the
  // library costs, and what the thread costs with and without reused system threads.
  std::vector<Run> components, curls, curlsKept, bares, componentsSmall, curlsSmall, libraries,
      libraryThreads, libraryWorkers;
  const auto report = [&](const auto& pick) {
    Report("256 MiB body", "component", pick(components), "curl, /dev/null", pick(curls), kBigMiB,
           "MiB/s");
    Report("", "component", pick(components), "curl, in memory", pick(curlsKept), kBigMiB, "MiB/s");
    Report("", "bare", pick(bares), "curl, /dev/null", pick(curls), kBigMiB, "MiB/s");
    std::printf("%-34s component peak / body = %.2f\n", "", pick(components).peakKiB / 262144.0);
    Report("1,000 x 1 KiB, new connection each", "component", pick(componentsSmall), "curl",
           pick(curlsSmall), kSmallRequests, "req/s");
    Report("  library, calling thread", "library", pick(libraries), "curl", pick(curlsSmall),
           kSmallRequests, "req/s");
    Report("  library, a new thread per request", "library", pick(libraryThreads), "curl",
           pick(curlsSmall), kSmallRequests, "req/s");
    Report("  library, a worker per request", "library", pick(libraryWorkers), "curl",
           pick(curlsSmall), kSmallRequests, "req/s");
  };
  // Each round starts the 256 MiB fetches with another client, so that none of them always
  // runs in the same place: how fast fresh memory is backed differs from one moment to the next
  // on a virtual machine whose host takes back memory the guest has left free.
  struct BigFetch {
    std::vector<Run>* runs;
    std::vector<std::string> command;
  };
  const BigFetch bigFetches[] = {
      {&components, {program, "--fetch", bigUrl, "1", big}},
      {&curls, {"curl", "-s", "-0", "-o", "/dev/null", bigUrl}},
      {&curlsKept, {"curl", "-s", "-0", "-o", kept, bigUrl}},
      {&bares, {program, "--bare", std::to_string(port), "/big", big}},
  };
  constexpr int kBigFetches = static_cast<int>(std::size(bigFetches));
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < kBigFetches; ++i) {
      const BigFetch& fetch = bigFetches[(round + i) % kBigFetches];
      fetch.runs->push_back(Measure(fetch.command));
      std::remove(kept.c_str());
    }
    componentsSmall.push_back(
        Measure({program, "--fetch", smallUrl, std::to_string(kSmallRequests), "1024"}));
    curlsSmall.push_back(Measure({"curl", "-s", "-0", "-K", config}));
    const std::string portText = std::to_string(port), count = std::to_string(kSmallRequests);
    libraries.push_back(Measure({program, "--library", portText, count, "caller"}));
    libraryThreads.push_back(Measure({program, "--library", portText, count, "thread"}));
    libraryWorkers.push_back(Measure({program, "--library", portText, count, "worker"}));
    std::printf("round %d:\n", round + 1);
    report([](const std::vector<Run>& runs) { return runs.back(); });
  }
  std::printf("\nmedians of %d rounds:\n", rounds);
  report([](const std::vector<Run>& runs) { return Ranked(runs, runs.size() / 2); });
  // The machine only ever slows a client down, so each client's fastest round is the closest to
  // its own cost.
  std::printf("\nfastest of %d rounds (peak memory: medians):\n", rounds);
  report([](const std::vector<Run>& runs) { return Ranked(runs, 0); });
  std::remove(config.c_str());
  close(toServer[1]);
  waitpid(serverPid, nullptr, 0);
  return 0;
}
