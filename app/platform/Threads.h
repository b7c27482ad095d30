// Worker threads, the manual-reset event they wait on, and the synchronous main-thread call by
// which a worker runs a method on the main thread.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

// A manual-reset event: once set it stays signalled, releasing every waiter, until it is reset.
class TEvent {
 public:
  static constexpr unsigned kInfinite = 0xFFFFFFFFu;

  explicit TEvent(bool initiallySignalled = false);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until the event is signalled or the time passes (kInfinite: no limit); true when it is
  // signalled.
  bool WaitFor(unsigned milliseconds);

 private:
  struct State;
  std::shared_ptr<State> FState;
};

// A worker thread. It gets its operating-system thread when StartThread lets it run, so a
// derived class's constructor has finished before Execute runs, and a suspended thread costs no
// operating-system thread until it starts. A thread constructed with createSuspended false
// starts when NewThread (below) has finished constructing it; a thread built with plain `new`
// starts at its StartThread call. The operating-system thread of a body that has ended waits up
// to ten seconds for the next thread to start and runs that one's body (a thread per request then
// costs a wake-up, not a new system thread), so a body may find what an earlier body left in
// thread-local storage.
//
// An exception that leaves Execute ends the thread silently and is kept in EscapedException.
// With FreeOnTermination set (it may be set while the body runs) the object deletes itself on
// its own thread when the body has ended. Deleting a started thread object from another thread
// waits until its body has ended; deleting one that never started just deletes it.
class TThread {
 public:
  explicit TThread(bool createSuspended);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Lets the thread run its body; a second call does nothing. Throws EThread
  // "Thread creation error: %s" when the operating system refuses the thread; the object then
  // stays unstarted and belongs to the caller.
  void StartThread();

  bool StartSuspended() const { return FStartSuspended; }
  void SetFreeOnTermination(bool value);
  bool FreeOnTermination() const;
  // True once the body has returned or raised.
  bool Finished() const;
  // Waits until the body has ended or the time passes; true when it has ended. Not for a thread
  // that frees itself.
  bool WaitFor(unsigned milliseconds) const;
  // The exception that left the body, if any.
  std::exception_ptr EscapedException() const;

 protected:
  // The thread body, run on the new thread.
  virtual void Execute() = 0;
  // Runs the method on the main thread and returns when it has finished (see the free function).
  void CallInMainThread(const std::function<void()>& method);

 private:
  struct Shared;
  static void Run(TThread* self, std::shared_ptr<Shared> shared);

  bool FStartSuspended;
  std::shared_ptr<Shared> FShared;
};

// True while the system thread with this id (os::CurrentThreadId) has ended a thread's body and
// waits for the next thread to start.
bool IsIdleSystemThread(std::uint32_t threadId);

// Constructs a thread object and, unless it was constructed suspended, starts it. When the
// thread cannot be created the object is deleted and StartThread's EThread travels on.
template <class T, class... Args>
T* NewThread(Args&&... args) {
  std::unique_ptr<T> thread(new T(std::forward<Args>(args)...));
  if (!thread->StartSuspended()) thread->StartThread();
  return thread.release();
}

// Runs the method on the main thread and returns when it has finished. On the main thread it
// simply calls the method. From any other thread the call is queued, the main thread is woken
// and the caller waits on an event of its own; the main thread runs queued calls in queue order
// whenever it dispatches posted messages or is idle. An exception the method raises is caught
// on the main thread and raised again here, on the caller.
void CallInMainThread(const std::function<void()>& method);

// Main thread only: runs every pending main-thread call in queue order; true when it ran at
// least one. With a timeout it first waits up to that many milliseconds for a call to arrive.
// Throws EThread "CheckSynchronize called from thread $%x, which is NOT the main thread" off the
// main thread.
bool CheckSynchronize(int timeout = 0);

// True on the thread that started the process.
bool IsMainThread();

// Installs how a queued main-thread call wakes the main thread (the application posts a null
// message to its window). Called while the queue lock is held, so it must not call back here.
void SetMainThreadWakeUp(std::function<void()> wakeUp);
