#include "app/platform/Threads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

namespace {

// System threads whose body has ended, each waiting a while for the next thread object to start,
// so that a thread started soon after another one ended (a transfer per request) costs a wake-up
// instead of creating and ending a system thread. A thread that is given no body in time, or has
// to make room, ends. A body may thus run on a system thread that ran an earlier one, and see
// what that one left in thread-local storage.
struct ThreadPark {
  struct Idle {
    std::thread::id id;
    std::uint32_t systemId = 0;  // os::CurrentThreadId
    std::condition_variable wake;
    std::function<void()> body;  // handed over by a start, under the park's lock
    bool parked = false;         // in `idle`; under the park's lock
    bool seen = false;           // offered before its end was published; under the park's lock
  };
  static constexpr std::size_t kMaxIdle = 2;
  static constexpr std::chrono::seconds kIdleFor{10};

  // Room for every idle thread from the start: parking a thread never allocates, so nothing
  // can raise between a body's end and the publication of that end.
  ThreadPark() { idle.reserve(kMaxIdle); }

  std::mutex lock;
  // The back one is handed the next body. Those whose end was seen come last, each group in the
  // order it was offered.
  std::vector<Idle*> idle;
};

// Never destroyed: parked threads still wait on it while the process ends.
ThreadPark& Park() {
  static ThreadPark* park = new ThreadPark;
  return *park;
}

// The park entry of the calling thread, when it is one of the park's threads.
thread_local ThreadPark::Idle* parkEntry = nullptr;

// Hands the body to a parked thread and names that thread; false when none is idle.
bool RunOnParkedThread(std::function<void()>& body, std::thread::id& threadId) {
  ThreadPark& park = Park();
  ThreadPark::Idle* idle = nullptr;
  {
    std::lock_guard<std::mutex> guard(park.lock);
    if (park.idle.empty()) return false;
    idle = park.idle.back();
    park.idle.pop_back();
    idle->parked = false;
    idle->body = std::move(body);
    threadId = idle->id;
  }
  idle->wake.notify_one();
  return true;
}

// Called on a body's thread once nothing of the ended thread's own code is left to run on it;
// a body handed to it from then on starts as soon as the system thread reaches its wait.
// The thread offered last is handed the next body: it has only just gone to sleep, so its stack
// is still in the cache and its processor is often not yet idle, and waking it costs less than
// waking one that has slept longer. A thread whose end is about to be published (`seen`) goes
// behind all others, so that a thread started after it has ended always finds its system thread;
// when there is no room, the one idle longest leaves. One whose end nobody sees goes behind the
// others of its kind but ahead of those whose end was seen; when there is no room, it pushes out
// the one of its kind idle longest, or leaves if there is none.
void OfferForTheNextBody(bool seen) {
  if (parkEntry == nullptr) return;
  ThreadPark& park = Park();
  std::lock_guard<std::mutex> guard(park.lock);
  const auto firstSeen = [&park] {
    return std::find_if(park.idle.begin(), park.idle.end(),
                        [](const ThreadPark::Idle* idle) { return idle->seen; });
  };
  if (park.idle.size() >= ThreadPark::kMaxIdle) {
    if (!seen && firstSeen() == park.idle.begin()) return;
    ThreadPark::Idle* oldest = park.idle.front();
    park.idle.erase(park.idle.begin());
    oldest->parked = false;
    oldest->wake.notify_one();
  }
  parkEntry->parked = true;
  parkEntry->seen = seen;
  park.idle.insert(seen ? park.idle.end() : firstSeen(), parkEntry);
}

// A system thread's life: runs the body it was created for, then each body handed to it while it
// was parked, until it was not parked, had to make room or waited in vain.
void Serve(std::function<void()> body) {
  ThreadPark& park = Park();
  ThreadPark::Idle self;
  self.id = std::this_thread::get_id();
  self.systemId = os::CurrentThreadId();
  parkEntry = &self;
  for (;;) {
    body();
    body = nullptr;  // lets go of what the body held before the wait
    std::unique_lock<std::mutex> guard(park.lock);
    if (!self.wake.wait_for(guard, ThreadPark::kIdleFor,
                            [&] { return self.body || !self.parked; })) {
      park.idle.erase(std::find(park.idle.begin(), park.idle.end(), &self));
      return;
    }
    if (!self.body) return;
    body = std::move(self.body);
    self.body = nullptr;
  }
}

}  // namespace

bool IsIdleSystemThread(std::uint32_t threadId) {
  ThreadPark& park = Park();
  std::lock_guard<std::mutex> guard(park.lock);
  return std::any_of(park.idle.begin(), park.idle.end(),
                     [&](const ThreadPark::Idle* idle) { return idle->systemId == threadId; });
}

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
  std::function<void()> body = [this, shared] { Run(this, shared); };
  if (RunOnParkedThread(body, shared->threadId)) {
    shared->started = true;
    return;
  }
  try {
    std::thread thread(Serve, std::move(body));
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
    // A thread that stays is offered before its end can be seen, so that a thread started after
    // it has ended finds its system thread idle.
    if (!freeIt) OfferForTheNextBody(true);
    shared->finished = true;
    shared->changed.notify_all();
  }
  if (freeIt) {
    delete self;
    // Only now: the destructor runs on this system thread and may wait for other threads, so a
    // body handed over during it could wait behind it for ever. Nobody sees this moment.
    OfferForTheNextBody(false);
  }
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
