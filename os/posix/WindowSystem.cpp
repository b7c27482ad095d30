// The in-process window system of the Linux build: per-thread message queues, window records
// with their handler, sent messages handed to the owning thread, and a renderer that draws the
// visible windows on the terminal when standard error is one.
#include "os/WindowSystem.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "os/posix/WindowRender.h"

namespace os {
namespace {

struct ThreadQueue;

// A message sent from another thread, waiting for the owner to handle it.
struct SentMessage {
  Message message;
  LResult result = 0;
  std::exception_ptr error;
  bool done = false;
  std::shared_ptr<ThreadQueue> sender;
};

struct ThreadQueue {
  std::condition_variable wake;
  std::deque<Message> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  std::vector<Window> modal;  // the dialogs this thread shows, innermost last
};

struct ModalState {
  int result = 0;
  bool done = false;
};

struct WindowRec {
  std::uintptr_t id = 0;
  WindowKind kind = WindowKind::kForm;
  std::shared_ptr<ThreadQueue> owner;
  WindowHandler* handler = nullptr;
  std::uintptr_t parent = 0;
  std::u16string text;
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = false;
  int rangeMin = 0, rangeMax = 100, position = 0, step = 10;
  DialogSpec dialog;
  ModalState* modal = nullptr;
};

// Everything is guarded by one lock, never held while a handler runs. The system is never
// destroyed, so threads that outlive main never reach a destroyed lock.
struct System {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<WindowRec>> windows;
  std::uintptr_t nextId = 1;
  TerminalRenderer renderer{isatty(STDERR_FILENO) == 1, STDERR_FILENO};
  std::atomic<std::uintptr_t> signalTarget{0};
};

System& Sys() {
  static System* system = new System;
  return *system;
}

std::shared_ptr<ThreadQueue> Current() {
  thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  return queue;
}

std::uintptr_t IdOf(Window window) { return reinterpret_cast<std::uintptr_t>(window); }
Window WindowOf(std::uintptr_t id) { return reinterpret_cast<Window>(id); }

std::shared_ptr<WindowRec> Find(std::uintptr_t id) {
  auto it = Sys().windows.find(id);
  return it == Sys().windows.end() ? nullptr : it->second;
}

// Collects what the renderer shows; under the lock.
void Render() {
  System& sys = Sys();
  if (!sys.renderer.Enabled() || !sys.renderer.Dirty()) return;
  std::vector<RenderedWindow> shown;
  for (auto& [id, rec] : sys.windows) {
    RenderedWindow w{rec->kind,  rec->id,       rec->parent,   rec->visible,  rec->text,
                     rec->width, rec->rangeMin, rec->rangeMax, rec->position, {}};
    if (rec->kind == WindowKind::kDialog) {
      w.text = rec->dialog.caption + u": " + rec->dialog.text;
      for (const DialogButton& b : rec->dialog.buttons) w.buttons.push_back(b.caption);
    }
    shown.push_back(std::move(w));
  }
  sys.renderer.Draw(shown);
}

LResult BuiltInProc(const std::shared_ptr<WindowRec>& rec, unsigned message, WParam wParam,
                    LParam lParam) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  if (rec->kind == WindowKind::kProgressBar) {
    LResult previous = 0;
    switch (message) {
      case kPbmSetRange:
        previous = (rec->rangeMin & 0xFFFF) | ((rec->rangeMax & 0xFFFF) << 16);
        rec->rangeMin = static_cast<int>(lParam & 0xFFFF);
        rec->rangeMax = static_cast<int>((lParam >> 16) & 0xFFFF);
        break;
      case kPbmSetRange32:
        previous = (rec->rangeMin & 0xFFFF) | ((rec->rangeMax & 0xFFFF) << 16);
        rec->rangeMin = static_cast<int>(wParam);
        rec->rangeMax = static_cast<int>(lParam);
        break;
      case kPbmSetPos:
        // The control keeps its position inside its range, as the Windows one does.
        previous = rec->position;
        rec->position = static_cast<int>(wParam);
        if (rec->position < rec->rangeMin) rec->position = rec->rangeMin;
        if (rec->position > rec->rangeMax) rec->position = rec->rangeMax;
        break;
      case kPbmSetStep:
        previous = rec->step;
        rec->step = static_cast<int>(wParam);
        break;
      case kPbmGetRange:
        return wParam ? rec->rangeMin : rec->rangeMax;
      case kPbmGetPos:
        return rec->position;
      default:
        return 0;
    }
    Sys().renderer.MarkDirty();
    return previous;
  }
  if (rec->kind == WindowKind::kDialog && rec->modal) {
    const DialogSpec& params = rec->dialog;
    int result = 0;
    if (message == kWmClose) {
      result = kDialogClosedResult;
    } else if (message == kWmCommand) {
      for (const DialogButton& b : params.buttons)
        if (b.result != 0 && static_cast<WParam>(b.result) == (wParam & 0xFFFF)) result = b.result;
    } else if (message == kWmKeyDown) {
      if (wParam == kVkEscape) result = params.cancelResult;
      if (wParam == kVkReturn) result = params.defaultResult;
    }
    if (result != 0) {
      rec->modal->result = result;
      rec->modal->done = true;
    }
  }
  return 0;
}

LResult Deliver(const std::shared_ptr<WindowRec>& rec, unsigned message, WParam wParam,
                LParam lParam) {
  if (rec->handler) return rec->handler->HandleMessage(WindowOf(rec->id), message, wParam, lParam);
  if (rec->kind == WindowKind::kApplication || rec->kind == WindowKind::kForm)
    return DefaultWindowProc(WindowOf(rec->id), message, wParam, lParam);
  return BuiltInProc(rec, message, wParam, lParam);
}

// Runs the messages other threads sent to this one; called with the lock held, which it
// releases while each handler runs.
void HandleSent(std::unique_lock<std::mutex>& lock, ThreadQueue& queue) {
  while (!queue.sent.empty()) {
    std::shared_ptr<SentMessage> sent = queue.sent.front();
    queue.sent.pop_front();
    std::shared_ptr<WindowRec> rec = Find(IdOf(sent->message.window));
    lock.unlock();
    LResult result = 0;
    std::exception_ptr error;
    if (rec) {
      try {
        result = Deliver(rec, sent->message.message, sent->message.wParam, sent->message.lParam);
      } catch (...) {
        // A handler's exception belongs to the thread that sent the message.
        error = std::current_exception();
      }
    }
    lock.lock();
    sent->result = result;
    sent->error = error;
    sent->done = true;
    sent->sender->wake.notify_all();
  }
}

Window Create(WindowKind kind, WindowHandler* handler, Window parent, std::u16string text, int left,
              int top, int width, int height, bool visible) {
  auto rec = std::make_shared<WindowRec>();
  rec->kind = kind;
  rec->owner = Current();
  rec->handler = handler;
  rec->parent = IdOf(parent);
  rec->text = std::move(text);
  rec->left = left;
  rec->top = top;
  rec->width = width;
  rec->height = height;
  rec->visible = visible;
  std::lock_guard<std::mutex> guard(Sys().lock);
  rec->id = Sys().nextId++;
  Sys().windows[rec->id] = rec;
  Sys().renderer.MarkDirty();
  return WindowOf(rec->id);
}

template <class F>
void Update(Window window, F change) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  if (auto rec = Find(IdOf(window))) {
    change(*rec);
    Sys().renderer.MarkDirty();
  }
}

// The close signals are blocked on every thread and taken by one watcher thread with
// sigwaitinfo, which turns each into a close message. No asynchronous handler runs, so a signal
// never interrupts a thread that holds the system's lock, and it cannot be left undelivered on a
// thread that happens to be busy when it arrives.
sigset_t CloseSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

void WatchCloseSignals() {
  const sigset_t set = CloseSignals();
  for (;;) {
    siginfo_t info;
    if (sigwaitinfo(&set, &info) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    PostWindowMessage(WindowOf(Sys().signalTarget.load()), kWmClose, 0, 0);
  }
}

}  // namespace

LResult DefaultWindowProc(Window window, unsigned message, WParam, LParam) {
  if (message == kWmClose) DestroyWindow(window);
  return 0;
}

bool PostWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  std::shared_ptr<ThreadQueue> target;
  if (window == nullptr) {
    target = Current();
  } else if (auto rec = Find(IdOf(window))) {
    target = rec->owner;
  } else {
    return false;
  }
  target->posted.push_back(Message{window, message, wParam, lParam});
  target->wake.notify_all();
  return true;
}

LResult SendWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam) {
  std::shared_ptr<ThreadQueue> self = Current();
  std::unique_lock<std::mutex> lock(Sys().lock);
  std::shared_ptr<WindowRec> rec = Find(IdOf(window));
  if (!rec) return 0;
  if (rec->owner == self) {
    lock.unlock();
    return Deliver(rec, message, wParam, lParam);
  }
  auto sent = std::make_shared<SentMessage>();
  sent->message = Message{window, message, wParam, lParam};
  sent->sender = self;
  rec->owner->sent.push_back(sent);
  rec->owner->wake.notify_all();
  // While waiting, this thread handles what others send to it, so two threads sending to each
  // other do not deadlock.
  while (!sent->done) {
    if (!self->sent.empty()) {
      HandleSent(lock, *self);
      continue;
    }
    self->wake.wait(lock);
  }
  if (sent->error) std::rethrow_exception(sent->error);
  return sent->result;
}

bool PeekWindowMessage(Message& message, bool remove) {
  std::shared_ptr<ThreadQueue> self = Current();
  std::unique_lock<std::mutex> lock(Sys().lock);
  HandleSent(lock, *self);
  if (!self->posted.empty()) {
    message = self->posted.front();
    if (remove) self->posted.pop_front();
    return true;
  }
  if (self->quit) {
    message = Message{nullptr, kWmQuit, static_cast<WParam>(self->quitCode), 0};
    if (remove) self->quit = false;
    return true;
  }
  Render();
  return false;
}

void WaitMessage() {
  std::shared_ptr<ThreadQueue> self = Current();
  std::unique_lock<std::mutex> lock(Sys().lock);
  for (;;) {
    HandleSent(lock, *self);
    if (!self->posted.empty() || self->quit) return;
    Render();
    self->wake.wait(lock);
  }
}

void PostQuitMessage(int exitCode) {
  std::shared_ptr<ThreadQueue> self = Current();
  std::lock_guard<std::mutex> guard(Sys().lock);
  self->quit = true;
  self->quitCode = exitCode;
  self->wake.notify_all();
}

void TranslateWindowMessage(const Message&) {}

LResult DispatchWindowMessage(const Message& message) {
  std::shared_ptr<WindowRec> rec;
  {
    std::lock_guard<std::mutex> guard(Sys().lock);
    rec = Find(IdOf(message.window));
  }
  return rec ? Deliver(rec, message.message, message.wParam, message.lParam) : 0;
}

Window CreateApplicationWindow(const std::u16string& title, WindowHandler* handler) {
  return Create(WindowKind::kApplication, handler, nullptr, title, 0, 0, 0, 0, false);
}

Window CreateFormWindow(const FormSpec& params, WindowHandler* handler) {
  return Create(WindowKind::kForm, handler, params.owner, params.caption, 0, 0, params.clientWidth,
                params.clientHeight, false);
}

void SetFormClientSize(Window form, int clientWidth, int clientHeight) {
  Update(form, [&](WindowRec& rec) {
    rec.width = clientWidth;
    rec.height = clientHeight;
  });
}

Window CreateLabelWindow(Window parent, const LabelSpec& params) {
  return Create(WindowKind::kLabel, nullptr, parent, params.text, params.left, params.top, params.width,
                params.height, true);
}

void MeasureLabelText(const std::u16string& text, const FontSpec& font, int& width, int& height) {
  // The terminal's cells stand for pixels: one cell is 8 pixels wide.
  width = 8 * TerminalRenderer::Columns(TerminalRenderer::ShownLabelText(text));
  height = font.height > 0 ? font.height : 13;
}

bool RegisterProgressBarClass() { return true; }

Window CreateProgressBarWindow(Window parent, int left, int top, int width, int height, bool) {
  return Create(WindowKind::kProgressBar, nullptr, parent, u"", left, top, width, height, true);
}

void SetWindowCaption(Window window, const std::u16string& text) {
  Update(window, [&](WindowRec& rec) { rec.text = text; });
}

std::u16string WindowCaption(Window window) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  auto rec = Find(IdOf(window));
  return rec ? rec->text : std::u16string();
}

void SetWindowBounds(Window window, int left, int top, int width, int height) {
  Update(window, [&](WindowRec& rec) {
    rec.left = left;
    rec.top = top;
    rec.width = width;
    rec.height = height;
  });
}

void ShowWindow(Window window, bool visible) {
  Update(window, [&](WindowRec& rec) { rec.visible = visible; });
}

bool IsWindowVisible(Window window) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  auto rec = Find(IdOf(window));
  return rec && rec->visible;
}

void InvalidateWindow(Window window) {
  Update(window, [](WindowRec&) {});
}

bool WindowExists(Window window) {
  std::lock_guard<std::mutex> guard(Sys().lock);
  return Find(IdOf(window)) != nullptr;
}

void DestroyWindow(Window window) {
  std::shared_ptr<WindowRec> rec;
  {
    std::lock_guard<std::mutex> guard(Sys().lock);
    rec = Find(IdOf(window));
  }
  if (!rec) return;
  Deliver(rec, kWmDestroy, 0, 0);
  std::vector<std::uintptr_t> children;
  {
    std::lock_guard<std::mutex> guard(Sys().lock);
    Sys().windows.erase(rec->id);
    for (auto& [id, child] : Sys().windows)
      if (child->parent == rec->id && child->kind != WindowKind::kForm) children.push_back(id);
    Sys().renderer.MarkDirty();
  }
  for (std::uintptr_t child : children) DestroyWindow(WindowOf(child));
}

void ShowErrorBox(Window, const std::u16string& text, const std::u16string& caption) {
  DialogSpec params;
  params.caption = caption;
  params.text = text;
  params.icon = DialogIcon::kError;
  params.buttons = {{u"OK", 1}};
  params.defaultResult = 1;
  params.cancelResult = 1;
  ShowModalDialog(params);
}

int ShowModalDialog(const DialogSpec& params) {
  ModalState state;
  Window dialog = Create(WindowKind::kDialog, nullptr, nullptr, params.caption, 0, 0, 0, 0, true);
  std::shared_ptr<ThreadQueue> self = Current();
  {
    std::lock_guard<std::mutex> guard(Sys().lock);
    auto rec = Find(IdOf(dialog));
    rec->dialog = params;
    rec->modal = &state;
    self->modal.push_back(dialog);
  }
  // The dialog goes however its loop ends: its record points at this frame's state.
  const auto close = [&] {
    {
      std::lock_guard<std::mutex> guard(Sys().lock);
      self->modal.pop_back();
    }
    DestroyWindow(dialog);
  };
  try {
    while (!state.done) {
      Message message;
      if (!PeekWindowMessage(message, true)) {
        WaitMessage();
        continue;
      }
      if (message.message == kWmQuit) {
        // The quit belongs to the outer loop: post it again and end this one as closed.
        PostQuitMessage(static_cast<int>(message.wParam));
        state.result = kDialogClosedResult;
        break;
      }
      TranslateWindowMessage(message);
      DispatchWindowMessage(message);
    }
  } catch (...) {
    close();
    throw;
  }
  close();
  return state.result;
}

Window ActiveModalWindow() {
  std::shared_ptr<ThreadQueue> self = Current();
  std::lock_guard<std::mutex> guard(Sys().lock);
  return self->modal.empty() ? nullptr : self->modal.back();
}

void RouteCloseSignalsTo(Window window) {
  Sys().signalTarget.store(IdOf(window));
  static std::once_flag installed;
  std::call_once(installed, [] {
    // Threads started later inherit the blocked set from this one; the watcher is the first.
    const sigset_t set = CloseSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread(WatchCloseSignals).detach();
  });
}

}  // namespace os
