// Worker threads, events and main-thread calls, with the main thread's message loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "app/platform/Threads.h"
#include "support/Exceptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

// Counts what reaches ReportException while it lives.
class ReportCounter {
 public:
  ReportCounter() {
    Application().OnException = [this](const std::exception& e) { reported.push_back(e.what()); };
  }
  ~ReportCounter() { Application().OnException = nullptr; }
  std::vector<std::string> reported;
};

// A self-freeing thread that counts its destruction; the last of `total` sets `all`.
class TCountedThread : public TThread {
 public:
  TCountedThread(std::function<void()> body, std::atomic<int>& count, int total, TEvent& all)
      : TThread(true), FBody(std::move(body)), FCount(count), FTotal(total), FAll(all) {}
  ~TCountedThread() override {
    if (FCount.fetch_add(1) + 1 == FTotal) FAll.SetEvent();
  }

 protected:
  void Execute() override { FBody(); }

 private:
  std::function<void()> FBody;
  std::atomic<int>& FCount;
  int FTotal;
  TEvent& FAll;
};

// Waits until the system thread has ended its body and waits for the next thread to start.
bool BecomesIdle(std::uint32_t threadId) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!IsIdleSystemThread(threadId)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

std::string MessageOf(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<none>";
}

}  // namespace

TEST(TEvent, WaitTimesOutThenStaysSignalled) {
  TEvent event;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.WaitFor(200));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(waited >= 0.2 && waited < 2.0) << waited;
  event.SetEvent();
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_TRUE(event.WaitFor(0)) << "a manual-reset event stays signalled";
  event.ResetEvent();
  EXPECT_FALSE(event.WaitFor(0));
}

TEST(TThread, SuspendedThreadRunsOnlyAfterStartThread) {
  int value = 0;  // unguarded on purpose: the body may only read it after StartThread
  int seen = -1;
  auto* thread = new TTestThread(true, [&] { seen = value; });
  value = 42;
  thread->StartThread();
  ASSERT_TRUE(thread->WaitFor(10000));
  EXPECT_EQ(seen, 42);
  EXPECT_FALSE(thread->EscapedException());
  delete thread;
}

TEST(TThread, NotSuspendedThreadStartsWhenConstructed) {
  TEvent ran;
  TTestThread* thread = NewThread<TTestThread>(false, [&] { ran.SetEvent(); });
  EXPECT_TRUE(ran.WaitFor(10000));
  delete thread;
}

TEST(TThread, DeletedBeforeStartNeverRuns) {
  bool ran = false;
  delete new TTestThread(true, [&] { ran = true; });
  EXPECT_FALSE(ran);
}

TEST(TThread, ExceptionLeavingBodyIsKeptAndNothingShown) {
  ReportCounter reports;
  auto* thread = new TTestThread(true, [] { throw Exception("body failed"); });
  thread->StartThread();
  ASSERT_TRUE(thread->WaitFor(10000));
  EXPECT_EQ(MessageOf(thread->EscapedException()), "body failed");
  Application().PumpMessages();
  EXPECT_TRUE(reports.reported.empty());
  delete thread;
}

TEST(TThread, FreeOnTerminationThreadFreesItselfAfterRaising) {
  TEvent destroyed;
  auto* thread = new TTestThread(
      true, [] { throw Exception("body failed"); }, &destroyed);
  thread->SetFreeOnTermination(true);
  EXPECT_TRUE(thread->FreeOnTermination());
  thread->StartThread();
  EXPECT_TRUE(destroyed.WaitFor(10000));
}

TEST(TThread, ThreadStartedAfterAnotherEndedRunsOnItsSystemThread) {
  // Each body starts only after the one before has ended, so each finds the system thread of the
  // one before idle. The last frees itself: on a reused system thread that only works when the
  // thread object knows which system thread runs it.
  std::uint32_t first = 0, second = 0, third = 0;
  for (std::uint32_t* id : {&first, &second}) {
    auto* t = new TTestThread(true, [id] { *id = os::CurrentThreadId(); });
    t->StartThread();
    ASSERT_TRUE(t->WaitFor(10000));
    delete t;
  }
  TEvent destroyed;
  auto* t = new TTestThread(
      true, [&] { third = os::CurrentThreadId(); }, &destroyed);
  t->SetFreeOnTermination(true);
  t->StartThread();
  ASSERT_TRUE(destroyed.WaitFor(10000));
  EXPECT_EQ(second, first);
  EXPECT_EQ(third, first);
}

TEST(TThread, ThreadStartedAfterOthersEndedRunsOnTheSystemThreadOfTheLastOne) {
  // Three bodies run side by side and end one after another; the park has room for two, so the
  // last one's system thread must push out the one idle longest rather than end.
  TEvent go[3];
  std::uint32_t ids[3] = {};
  std::vector<TTestThread*> threads;
  for (int i = 0; i < 3; ++i) {
    threads.push_back(new TTestThread(true, [&, i] {
      go[i].WaitFor(TEvent::kInfinite);
      ids[i] = os::CurrentThreadId();
    }));
    threads.back()->StartThread();
  }
  for (int i = 0; i < 3; ++i) {
    go[i].SetEvent();
    EXPECT_TRUE(threads[i]->WaitFor(10000));
    delete threads[i];
  }
  std::uint32_t next = 0;
  auto* t = new TTestThread(true, [&] { next = os::CurrentThreadId(); });
  t->StartThread();
  ASSERT_TRUE(t->WaitFor(10000));
  delete t;
  EXPECT_EQ(next, ids[2]);
}

TEST(TThread, NextThreadRunsOnTheSystemThreadThatWentIdleLast) {
  // Two threads run side by side and end one after the other; the next thread gets the system
  // thread that went idle last. Where the end of the later one was not seen (it freed itself),
  // that holds only among those that freed themselves: one whose end the caller saw comes first.
  struct Case {
    const char* name;
    bool firstFreesItself;
    int expectedIndex;  // whose system thread the next thread runs on
  };
  for (const Case& c :
       {Case{"both free themselves", true, 1}, Case{"first one waited for", false, 0}}) {
    SCOPED_TRACE(c.name);
    TEvent running[2], go[2];
    std::atomic<std::uint32_t> ids[2] = {0, 0};
    TTestThread* threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = new TTestThread(true, [&, i] {
        ids[i] = os::CurrentThreadId();
        running[i].SetEvent();
        go[i].WaitFor(TEvent::kInfinite);
      });
      threads[i]->SetFreeOnTermination(i == 1 || c.firstFreesItself);
      threads[i]->StartThread();
      ASSERT_TRUE(running[i].WaitFor(10000));
    }
    go[0].SetEvent();
    if (c.firstFreesItself) {
      ASSERT_TRUE(BecomesIdle(ids[0]));
    } else {
      ASSERT_TRUE(threads[0]->WaitFor(10000));
      delete threads[0];
    }
    go[1].SetEvent();
    ASSERT_TRUE(BecomesIdle(ids[1]));
    std::uint32_t next = 0;
    auto* t = new TTestThread(true, [&] { next = os::CurrentThreadId(); });
    t->StartThread();
    ASSERT_TRUE(t->WaitFor(10000));
    delete t;
    EXPECT_EQ(next, ids[c.expectedIndex].load());
  }
}

TEST(TThread, SelfFreeingThreadsDestructorCanStartAnotherAndAwaitIt) {
  // The destructor runs on the system thread that ran the first body; the thread it starts and
  // waits for must get a system thread of its own, not that one.
  struct TStartsWhenDestroyed : TThread {
    explicit TStartsWhenDestroyed(std::function<void()> onDestroyed)
        : TThread(true), FOnDestroyed(std::move(onDestroyed)) {}
    ~TStartsWhenDestroyed() override { FOnDestroyed(); }
    void Execute() override {}
    std::function<void()> FOnDestroyed;
  };
  TEvent done;
  bool innerEnded = false;
  auto* outer = new TStartsWhenDestroyed([&] {
    auto* inner = new TTestThread(true, [] {});
    inner->StartThread();
    innerEnded = inner->WaitFor(10000);
    delete inner;
    done.SetEvent();
  });
  outer->SetFreeOnTermination(true);
  outer->StartThread();
  ASSERT_TRUE(done.WaitFor(20000));
  EXPECT_TRUE(innerEnded);
}

TEST(TThread, ManyThreadsStartedAtOnceEachRunOnce) {
  // Four starters start self-freeing threads as fast as they can while earlier ones end: bodies
  // are handed to parked system threads and new ones are made side by side.
  constexpr int kStarters = 4, kEach = 50;
  std::atomic<int> ran{0}, destroyedCount{0};
  TEvent allDestroyed;
  const auto body = [&] { ran.fetch_add(1); };
  std::vector<std::thread> starters;
  for (int s = 0; s < kStarters; ++s) {
    starters.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        auto* t = new TCountedThread(body, destroyedCount, kStarters * kEach, allDestroyed);
        t->SetFreeOnTermination(true);
        t->StartThread();
      }
    });
  }
  for (std::thread& s : starters) s.join();
  ASSERT_TRUE(allDestroyed.WaitFor(20000)) << destroyedCount.load();
  EXPECT_EQ(ran.load(), kStarters * kEach);
}

TEST(TThread, ThreadStartedWhileASelfFreeingThreadIsDeletedRunsAtOnce) {
  // A self-freeing thread's destructor runs on its own system thread, here waiting for work that
  // another thread does on a thread it starts meanwhile. That thread must not be queued behind
  // the destructor, or neither ever ends.
  struct TWaitsWhenDestroyed : TThread {
    TWaitsWhenDestroyed(TEvent& deleting, TEvent& released, TEvent& destroyed)
        : TThread(true), FDeleting(deleting), FReleased(released), FDestroyed(destroyed) {}
    ~TWaitsWhenDestroyed() override {
      FDeleting.SetEvent();
      FReleased.WaitFor(TEvent::kInfinite);
      FDestroyed.SetEvent();
    }
    void Execute() override { SetFreeOnTermination(true); }
    TEvent& FDeleting;
    TEvent& FReleased;
    TEvent& FDestroyed;
  };
  TEvent deleting, released, destroyed, innerRan;
  (new TWaitsWhenDestroyed(deleting, released, destroyed))->StartThread();
  ASSERT_TRUE(deleting.WaitFor(10000));
  auto* inner = new TTestThread(true, [&] { innerRan.SetEvent(); });
  inner->StartThread();
  EXPECT_TRUE(innerRan.WaitFor(10000));
  released.SetEvent();
  EXPECT_TRUE(destroyed.WaitFor(10000));
  EXPECT_TRUE(inner->WaitFor(10000));
  delete inner;
}

TEST(CallInMainThread, OnMainThreadRunsDirectly) {
  bool ran = false;
  CallInMainThread([&] { ran = IsMainThread(); });
  EXPECT_TRUE(ran);
}

TEST(CallInMainThread, ExceptionReachesWorkerAndNothingIsShown) {
  ReportCounter reports;
  std::string caught;
  bool done = false;
  auto* worker = NewThread<TTestThread>(false, [&] {
    try {
      CallInMainThread([] { throw Exception("main-thread call failed"); });
    } catch (const Exception& e) {
      caught = e.Message();
    }
    CallInMainThread([&] { done = true; });
  });
  PumpUntil(done);
  ASSERT_TRUE(worker->WaitFor(10000));
  EXPECT_EQ(caught, "main-thread call failed");
  EXPECT_TRUE(reports.reported.empty());
  delete worker;
}

TEST(CallInMainThread, RunsInQueueOrder) {
  // Each worker's call is known to be queued when the wake-up fires for it.
  TEvent queued;
  SetMainThreadWakeUp([&] { queued.SetEvent(); });
  std::vector<int> order;
  std::vector<TTestThread*> workers;
  for (int i = 0; i < 5; ++i) {
    queued.ResetEvent();
    workers.push_back(NewThread<TTestThread>(
        false, [&order, i] { CallInMainThread([&order, i] { order.push_back(i); }); }));
    ASSERT_TRUE(queued.WaitFor(10000)) << "worker " << i;
  }
  EXPECT_TRUE(CheckSynchronize());
  for (TTestThread* w : workers) {
    EXPECT_TRUE(w->WaitFor(10000));
    delete w;
  }
  os::Window app = Application().Handle();
  SetMainThreadWakeUp([app] { os::PostWindowMessage(app, os::kWmNull, 0, 0); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(CheckSynchronize()) << "nothing left";
}

TEST(CheckSynchronize, RefusedOffTheMainThread) {
  std::string message;
  std::uint32_t id = 0;
  auto* worker = new TTestThread(true, [&] {
    id = os::CurrentThreadId();
    try {
      CheckSynchronize();
    } catch (const EThread& e) {
      message = e.Message();
    }
  });
  worker->StartThread();
  ASSERT_TRUE(worker->WaitFor(10000));
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "CheckSynchronize called from thread $%x, which is NOT the main thread", id);
  EXPECT_EQ(message, expected);
  delete worker;
}

// A worker's call is served while the main thread shows a modal box; the call closes the box.
TEST(CallInMainThread, ServedWhileModalBoxIsShown) {
  struct Case {
    const char* name;
    std::function<void()> show;
  };
  int dialogResult = -1;
  const Case cases[] = {
      {"message dialog",
       [&] {
         dialogResult = ShowMessageDialog("Proceed?", mtConfirmation, {mbOK, mbCancel});
       }},
      {"error box", [] { Application().ReportException(Exception("Download failed")); }},
  };
  for (const Case& c : cases) {
    os::Window modalDuringCall = nullptr;
    bool continued = false;
    auto* worker = NewThread<TTestThread>(false, [&] {
      CallInMainThread([&] {
        modalDuringCall = os::ActiveModalWindow();
        if (modalDuringCall) os::PostWindowMessage(modalDuringCall, os::kWmClose, 0, 0);
      });
      continued = true;
    });
    c.show();
    ASSERT_TRUE(worker->WaitFor(10000)) << c.name;
    EXPECT_NE(modalDuringCall, nullptr) << c.name;
    EXPECT_TRUE(continued) << c.name;
    EXPECT_EQ(os::ActiveModalWindow(), nullptr) << c.name;
    delete worker;
  }
  EXPECT_EQ(dialogResult, mrCancel) << "closing the dialog returns Cancel";
}

// Two calls queued before the main thread serves either: the first shows a modal dialog and the
// second closes it, so the dialog's loop must serve the call queued behind the one showing it.
TEST(CallInMainThread, CallQueuedBehindAModalDialogIsServedFromIt) {
  TEvent queued;
  SetMainThreadWakeUp([&] { queued.SetEvent(); });
  int result = -1;
  bool closerSawDialog = false;
  auto* shower = NewThread<TTestThread>(false, [&] {
    CallInMainThread([&] { result = ShowMessageDialog("x", mtConfirmation, {mbOK, mbCancel}); });
  });
  ASSERT_TRUE(queued.WaitFor(10000));
  queued.ResetEvent();
  const auto closeDialog = [] {
    if (const os::Window dialog = os::ActiveModalWindow()) {
      os::PostWindowMessage(dialog, os::kWmClose, 0, 0);
    }
  };
  auto* closer = NewThread<TTestThread>(false, [&] {
    CallInMainThread([&] {
      closerSawDialog = os::ActiveModalWindow() != nullptr;
      closeDialog();
    });
  });
  ASSERT_TRUE(queued.WaitFor(10000));
  // The usual wake-up again, and the one the two calls did not get: the dialog's loop serves the
  // queue when the message reaches the application window.
  const os::Window app = Application().Handle();
  SetMainThreadWakeUp([app] { os::PostWindowMessage(app, os::kWmNull, 0, 0); });
  os::PostWindowMessage(app, os::kWmNull, 0, 0);
  // Only so that a failure ends instead of hanging: a call of its own closes the dialog.
  TEvent finished;
  auto* watchdog = NewThread<TTestThread>(false, [&] {
    if (!finished.WaitFor(5000)) CallInMainThread(closeDialog);
  });
  EXPECT_TRUE(CheckSynchronize());
  finished.SetEvent();
  EXPECT_TRUE(closerSawDialog) << "the call queued behind the dialog waited for it to close";
  EXPECT_EQ(result, mrCancel);
  for (TTestThread* t : {shower, closer, watchdog}) {
    EXPECT_TRUE(t->WaitFor(10000));
    delete t;
  }
  Application().PumpMessages();
}

TEST(TProgressBar, SetFromWorkerTakesEffectBeforeItGoesOn) {
  TForm form;
  auto* bar = new TProgressBar(&form);
  form.HandleNeeded();
  os::LResult position = -1, maximum = -1;
  bool done = false;
  auto* worker = NewThread<TTestThread>(false, [&] {
    bar->SetMax(200000);
    maximum = os::SendWindowMessage(bar->Handle(), os::kPbmGetRange, 0, 0);
    bar->SetPosition(100000);
    position = os::SendWindowMessage(bar->Handle(), os::kPbmGetPos, 0, 0);
    CallInMainThread([&] { done = true; });
  });
  PumpUntil(done);
  ASSERT_TRUE(worker->WaitFor(10000));
  EXPECT_EQ(maximum, 200000);
  EXPECT_EQ(position, 100000);
  delete worker;
}

// Whole processes: the exit code of a helper program.
struct HelperCase {
  const char* program;
  const char* what;
};

TEST(Application, ProcessEndsWithExitCodeZero) {
  std::vector<HelperCase> cases = {
      {"platform_exit_helper", "a worker ends the application while another thread runs"}};
#ifndef _WIN32
  cases.push_back({"platform_signal_helper", "SIGTERM closes the main window"});
#endif
  for (const HelperCase& c : cases) {
    const std::filesystem::path program = HelperProgram(c.program);
    const std::optional<int> code = RunChildProcess(program, program.parent_path(), 60);
    ASSERT_TRUE(code.has_value()) << c.what << ": did not end";
    EXPECT_EQ(*code, 0) << c.what;
  }
}
