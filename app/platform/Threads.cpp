#include "app/platform/Threads.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "os/Process.h"
#include "support/Exceptions.h"

namespace {

std::thread::id MainThreadId() {
  // The first call happens during start-up (below), on the thread that runs main.
  static const std::thread::id id = std::this_thread::get_id();
  return id;
}
const bool mainThreadRecorded = (MainThreadId(), true);

// One queued main-thread call; it lives on the caller's stack while the caller waits.
struct SyncCall {
  const std::function<void()>* method;
  TEvent done;
  std::exception_ptr error;
};

// The process-wide main-thread call queue. It is never destroyed, so a worker that still waits
// in CallInMainThread while the process ends never touches a destroyed lock.
struct SyncQueue {
  std::mutex lock;
  std::condition_variable arrived;  // for CheckSynchronize with a timeout
  std::deque<SyncCall*> pending;
  std::function<void()> wakeUp;
};

SyncQueue& Queue() {
  static SyncQueue* queue = new SyncQueue;
  return *queue;
}
const bool queueCreated = (Queue(), true);

AnsiString NotMainThreadMessage(std::uint32_t threadId) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(threadId));
  return AnsiString("CheckSynchronize called from thread $") + hex +
         ", which is NOT the main thread";
}

}  // namespace

// ---- TEvent

struct TEvent::State {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled;
};

TEvent::TEvent(bool initiallySignalled) : FState(std::make_shared<State>()) {
  FState->signalled = initiallySignalled;
}

TEvent::~TEvent() = default;

void TEvent::SetEvent() {
  // A waiter may destroy the event as soon as it sees the signal; this call's own reference keeps
  // the state alive for the notification, which goes out after the lock is released so that the
  // woken waiter does not run straight into the held lock.
  const std::shared_ptr<State> state = FState;
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->signalled = true;
  }
  state->changed.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FState->lock);
  FState->signalled = false;
}

bool TEvent::WaitFor(unsigned milliseconds) {
  std::unique_lock<std::mutex> guard(FState->lock);
  if (milliseconds == kInfinite) {
    FState->changed.wait(guard, [this] { return FState->signalled; });
    return true;
  }
  return FState->changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                  [this] { return FState->signalled; });
}

// ---- TThread

// What the OS thread and the thread object share. The OS thread holds it by shared ownership,
// so that its last steps never touch a thread object that has already been deleted.
struct TThread::Shared {
  std::mutex lock;
  std::condition_variable changed;
  bool started = false;
  bool finished = false;
  bool freeOnTermination = false;
  std::exception_ptr escaped;
  std::thread::id threadId;
};

TThread::TThread(bool createSuspended)
    : FStartSuspended(createSuspended), FShared(std::make_shared<Shared>()) {}

TThread::~TThread() {
  std::unique_lock<std::mutex> guard(FShared->lock);
  if (FShared->started && FShared->threadId != std::this_thread::get_id()) {
    // The body still uses this object: the object must outlive it.
    FShared->changed.wait(guard, [this] { return FShared->finished; });
  }
}

void TThread::StartThread() {
  // The lock is held until the thread's id is recorded: the body may run to its end at once,
  // and a thread that frees itself must find its id when its object is deleted.
  const std::shared_ptr<Shared> shared = FShared;
  std::lock_guard<std::mutex> guard(shared->lock);
  if (shared->started) return;
  try {
    std::thread thread(&TThread::Run, this, shared);
    shared->threadId = thread.get_id();
    shared->started = true;
    // Nobody waits for a thread: the process ends without joining the ones still running.
    thread.detach();
  } catch (const std::system_error& e) {
    throw EThread(FormatMessageText("Thread creation error: %s", {e.code().message()}));
  }
}

void TThread::SetFreeOnTermination(bool value) {
  std::lock_guard<std::mutex> guard(FShared->lock);
  FShared->freeOnTermination = value;
}

bool TThread::FreeOnTermination() const {
  std::lock_guard<std::mutex> guard(FShared->lock);
  return FShared->freeOnTermination;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> guard(FShared->lock);
  return FShared->finished;
}

bool TThread::WaitFor(unsigned milliseconds) const {
  std::unique_lock<std::mutex> guard(FShared->lock);
  return FShared->changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                   [this] { return FShared->finished; });
}

std::exception_ptr TThread::EscapedException() const {
  std::lock_guard<std::mutex> guard(FShared->lock);
  return FShared->escaped;
}

void TThread::CallInMainThread(const std::function<void()>& method) { ::CallInMainThread(method); }

void TThread::Run(TThread* self, std::shared_ptr<Shared> shared) {
  std::exception_ptr escaped;
  try {
    self->Execute();
  } catch (...) {
    // An exception that leaves a thread body ends the thread silently; it is only kept.
    escaped = std::current_exception();
  }
  bool freeIt;
  {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->escaped = escaped;
    freeIt = shared->freeOnTermination;
    shared->finished = true;
    shared->changed.notify_all();
  }
  if (freeIt) delete self;
}

// ---- main-thread calls

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId(); }

void SetMainThreadWakeUp(std::function<void()> wakeUp) {
  SyncQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  queue.wakeUp = std::move(wakeUp);
}

void CallInMainThread(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  SyncCall call{&method, TEvent(false), nullptr};
  SyncQueue& queue = Queue();
  {
    std::lock_guard<std::mutex> guard(queue.lock);
    queue.pending.push_back(&call);
    if (queue.wakeUp) queue.wakeUp();
    queue.arrived.notify_all();
  }
  call.done.WaitFor(TEvent::kInfinite);
  if (call.error) std::rethrow_exception(call.error);
}

bool CheckSynchronize(int timeout) {
  if (!IsMainThread()) throw EThread(NotMainThreadMessage(os::CurrentThreadId()));
  SyncQueue& queue = Queue();
  std::size_t count = 0;
  {
    std::unique_lock<std::mutex> guard(queue.lock);
    if (timeout > 0 && queue.pending.empty())
      queue.arrived.wait_for(guard, std::chrono::milliseconds(timeout),
                             [&] { return !queue.pending.empty(); });
    count = queue.pending.size();
  }
  // As many calls as are pending now, each taken off the queue when its turn comes: a call that
  // shows a modal dialog runs the queue from its loop, and the calls behind it must be there to
  // run, in their order, or the dialog could wait for ever on one of them.
  std::size_t ran = 0;
  for (; ran < count; ++ran) {
    SyncCall* call = nullptr;
    {
      std::lock_guard<std::mutex> guard(queue.lock);
      if (queue.pending.empty()) break;
      call = queue.pending.front();
      queue.pending.pop_front();
    }
    try {
      (*call->method)();
    } catch (...) {
      // Carried back to the caller, which raises it again; the main thread reports nothing.
      call->error = std::current_exception();
    }
    call->done.SetEvent();
  }
  return ran > 0;
}
