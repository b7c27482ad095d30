// Main-thread calls against the application's real message loop. As in the program, the main
// thread runs RunMessageLoop and a worker thread makes the calls: here the worker runs the
// benchmarks. Measured: the round trip of one call (worker -> main thread -> worker), the start
// of a thread until its first signal arrives, and what the main thread spends while its loop
// sits idle for 5 s (CPU time and wake-ups), which shows that an idle loop sleeps until a
// message arrives instead of polling.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/platform/Application.h"
#include "app/platform/Threads.h"

namespace {

pthread_t mainThread;
pid_t mainThreadTid;
std::atomic<bool> benchmarksDone{false};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Read from any thread, without waking the main thread; false when the system has no such
// clock.
bool MainThreadCpuSeconds(double& seconds) {
  clockid_t clock;
  timespec t{};
  if (pthread_getcpuclockid(mainThread, &clock) != 0 || clock_gettime(clock, &t) != 0) return false;
  seconds = static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
  return true;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// How many times the main thread has gone to sleep so far (its voluntary context switches),
// read from the kernel's record of the thread without waking it; -1 when unreadable.
long MainThreadSleeps() {
  const std::string path = "/proc/self/task/" + std::to_string(mainThreadTid) + "/status";
  std::ifstream status(path);
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

void BM_MainThreadCallRoundTrip(benchmark::State& state) {
  static const std::function<void()> nothing = [] {};
  for (auto _ : state) CallInMainThread(nothing);
  state.SetItemsProcessed(state.iterations());
}
// The caller waits off the CPU for most of a round trip: the wall clock is what counts.
BENCHMARK(BM_MainThreadCallRoundTrip)->UseRealTime();

// A thread that signals an event and frees itself, as each request's transfer thread does.
class TSignalThread : public TThread {
 public:
  explicit TSignalThread(std::shared_ptr<TEvent> done) : TThread(true), FDone(std::move(done)) {}

 protected:
  void Execute() override {
    SetFreeOnTermination(true);
    FDone->SetEvent();
  }

 private:
  std::shared_ptr<TEvent> FDone;
};

// What a request spends on its own transfer thread alone: create it suspended, start it, and
// wait for its signal. Each request of the HTTP component pays this on top of the transfer.
void BM_ThreadStartToSignal(benchmark::State& state) {
  const auto done = std::make_shared<TEvent>();
  for (auto _ : state) {
    done->ResetEvent();
    auto* thread = new TSignalThread(done);
    thread->StartThread();
    done->WaitFor(TEvent::kInfinite);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThreadStartToSignal)->UseRealTime();

void BM_IdleLoopFiveSeconds(benchmark::State& state) {
  TEvent never;
  for (auto _ : state) {
    double mainBefore = 0, mainAfter = 0;
    const bool clocked = MainThreadCpuSeconds(mainBefore);
    const long sleepsBefore = MainThreadSleeps();
    const double processBefore = ProcessCpuSeconds();
    never.WaitFor(5000);
    const double processCpu = ProcessCpuSeconds() - processBefore;
    const long sleepsAfter = MainThreadSleeps();
    if (!clocked || !MainThreadCpuSeconds(mainAfter) || sleepsBefore < 0 || sleepsAfter < 0) {
      state.SkipWithError("the main thread's CPU clock or switch count cannot be read");
      break;
    }
    state.counters["main_cpu_us"] = (mainAfter - mainBefore) * 1e6;
    state.counters["main_wakeups"] = static_cast<double>(sleepsAfter - sleepsBefore);
    state.counters["process_cpu_us"] = processCpu * 1e6;
  }
}
BENCHMARK(BM_IdleLoopFiveSeconds)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// Runs the benchmarks, then has the main thread end its loop.
class TBenchmarkThread : public TThread {
 public:
  TBenchmarkThread() : TThread(false) {}

 protected:
  void Execute() override {
    benchmark::RunSpecifiedBenchmarks();
    benchmarksDone.store(true);
    CallInMainThread([] { Application().RequestQuit(); });
  }
};

}  // namespace

int main(int argc, char** argv) {
  mainThread = pthread_self();
  mainThreadTid = gettid();
  Application().InitApplication();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TBenchmarkThread* runner = NewThread<TBenchmarkThread>();
  Application().RunMessageLoop();
  // A close signal ended the loop while the benchmarks still ran: end as the program does.
  if (!benchmarksDone.load()) Application().ExitProgram();
  runner->WaitFor(TEvent::kInfinite);
  delete runner;
  benchmark::Shutdown();
  return 0;
}
