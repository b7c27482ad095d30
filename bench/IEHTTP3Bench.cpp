// Whole-process comparison of the HTTP client component with the curl command-line tool, both
// fetching from one loopback server that this program starts:
//   - a 256 MiB body: throughput and peak memory of each process (curl writing to /dev/null, and
//     to a file in /dev/shm, which keeps the body in memory as the component does);
//   - 1,000 requests for 1 KiB bodies: requests per second.
// Each measurement runs in a child process (this program with --fetch, or curl), so the time
// and the peak resident memory reported by wait4 belong to that process alone.
//
//   bench_http [rounds]                    (5 by default; medians at the end)
//   bench_http --serve                      (the server alone: /big and /small on the printed port)
//   bench_http --fetch URL COUNT SIZE       (the component's side of one measurement)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "http/IEHTTP3.h"
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

// The run of median time (and, separately, the median peak memory); failed if any run failed.
Run Median(std::vector<Run> runs) {
  Run median;
  const std::size_t middle = runs.size() / 2;
  std::nth_element(runs.begin(), runs.begin() + middle, runs.end(),
                   [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  median.seconds = runs[middle].seconds;
  std::nth_element(runs.begin(), runs.begin() + middle, runs.end(),
                   [](const Run& a, const Run& b) { return a.peakKiB < b.peakKiB; });
  median.peakKiB = runs[middle].peakKiB;
  median.ok = std::all_of(runs.begin(), runs.end(), [](const Run& r) { return r.ok; });
  return median;
}

void Report(const char* what, const Run& component, const Run& curl, double work,
            const char* unit) {
  std::printf(
      "%-36s component %9.1f %s  peak %7.1f MiB | curl %9.1f %s  peak %7.1f MiB | ratio "
      "%.2f%s\n",
      what, work / component.seconds, unit, component.peakKiB / 1024.0, work / curl.seconds, unit,
      curl.peakKiB / 1024.0, curl.seconds / component.seconds,
      component.ok && curl.ok ? "" : "  (A RUN FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--fetch") {
    return Fetch(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 10));
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
  // the summary compares medians.
  std::vector<Run> components, curls, curlsKept, componentsSmall, curlsSmall;
  for (int round = 0; round < rounds; ++round) {
    const Run component = Measure({program, "--fetch", bigUrl, "1", std::to_string(kBigBody)});
    const Run curl = Measure({"curl", "-s", "-0", "-o", "/dev/null", bigUrl});
    Report("256 MiB body (MiB/s)", component, curl, kBigBody / 1048576.0, "MiB/s");
    // curl keeping the body in memory too (a file on a memory file system), as the component
    // keeps it in its response stream.
    const std::string kept = "/dev/shm/http_bench_body_" + std::to_string(getpid());
    const Run curlKept = Measure({"curl", "-s", "-0", "-o", kept, bigUrl});
    std::remove(kept.c_str());
    Report("256 MiB body, curl into memory", component, curlKept, kBigBody / 1048576.0, "MiB/s");
    std::printf("%-36s component peak / body = %.2f\n", "", component.peakKiB / 262144.0);

    const Run componentSmall =
        Measure({program, "--fetch", smallUrl, std::to_string(kSmallRequests), "1024"});
    const Run curlSmall = Measure({"curl", "-s", "-0", "-K", config});
    Report("1,000 x 1 KiB, new connection each", componentSmall, curlSmall, kSmallRequests,
           "req/s");
    components.push_back(component);
    curls.push_back(curl);
    curlsKept.push_back(curlKept);
    componentsSmall.push_back(componentSmall);
    curlsSmall.push_back(curlSmall);
  }
  std::printf("\nmedians of %d rounds:\n", rounds);
  Report("256 MiB body (MiB/s)", Median(components), Median(curls), kBigBody / 1048576.0, "MiB/s");
  Report("256 MiB body, curl into memory", Median(components), Median(curlsKept),
         kBigBody / 1048576.0, "MiB/s");
  Report("1,000 x 1 KiB, new connection each", Median(componentsSmall), Median(curlsSmall),
         kSmallRequests, "req/s");
  std::remove(config.c_str());
  close(toServer[1]);
  waitpid(serverPid, nullptr, 0);
  return 0;
}
