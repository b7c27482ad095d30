// The window system: windows with a message handler, per-thread message queues, posted and sent
// messages, and the few window kinds the program shows (the hidden application window, a
// fixed-size top-level window, a one-line label, a progress bar, the message box and a modal
// dialog). Message numbers are the Windows ones on both targets.
//
// Every window belongs to the thread that created it; only that thread runs its handler. A
// message sent from another thread waits until the owner retrieves messages (peeks, waits, or
// sends a message itself); the sender blocks until the handler has returned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

using Window = void*;  // none: nullptr
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

constexpr unsigned kWmNull = 0x0000;
constexpr unsigned kWmDestroy = 0x0002;
constexpr unsigned kWmClose = 0x0010;
constexpr unsigned kWmQuit = 0x0012;
constexpr unsigned kWmKeyDown = 0x0100;
constexpr unsigned kWmCommand = 0x0111;
constexpr unsigned kWmUser = 0x0400;
constexpr unsigned kPbmSetRange = kWmUser + 1;
constexpr unsigned kPbmSetPos = kWmUser + 2;
constexpr unsigned kPbmSetStep = kWmUser + 4;
constexpr unsigned kPbmSetRange32 = kWmUser + 6;
constexpr unsigned kPbmGetRange = kWmUser + 7;  // wParam nonzero: the minimum, else the maximum
constexpr unsigned kPbmGetPos = kWmUser + 8;
constexpr WParam kVkReturn = 0x0D;
constexpr WParam kVkEscape = 0x1B;

struct Message {
  Window window = nullptr;
  unsigned message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

// The program's handling of the messages of a window it created. Messages it does not handle
// go to DefaultWindowProc.
class WindowHandler {
 public:
  virtual LResult HandleMessage(Window window, unsigned message, WParam wParam, LParam lParam) = 0;

 protected:
  ~WindowHandler() = default;
};

// The system's handling of a message (closing a top-level window destroys it).
LResult DefaultWindowProc(Window window, unsigned message, WParam wParam, LParam lParam);

// Queues a message for the window's thread; false when the window does not exist. Any thread.
bool PostWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam);
// Runs the window's handler on its thread and returns its result; 0 when the window does not
// exist. Any thread.
LResult SendWindowMessage(Window window, unsigned message, WParam wParam, LParam lParam);
// Takes (remove) or looks at the calling thread's next posted message, handling sent messages
// first; a quit message comes after every posted one. False when there is none.
bool PeekWindowMessage(Message& message, bool remove);
// Sleeps until the calling thread's queue holds a message, handling sent messages meanwhile.
void WaitMessage();
// Queues a quit message for the calling thread.
void PostQuitMessage(int exitCode);
// Keyboard translation and dispatch of a retrieved message to its window's handler.
void TranslateWindowMessage(const Message& message);
LResult DispatchWindowMessage(const Message& message);

// The hidden application window (class "TApplication"): pop-up with caption, system menu and
// minimise box, 0 x 0 at the centre of the screen. Throws Exception "Error creating window
// class" when its class cannot be registered.
Window CreateApplicationWindow(const std::u16string& title, WindowHandler* handler);

struct FontSpec {
  std::u16string name;  // empty: the system's default
  int height = 0;       // in pixels, as the font's cell height; 0: the default
};

// A fixed-size top-level window (single border, close box only), created hidden.
struct FormSpec {
  std::u16string caption;
  int clientWidth = 0;
  int clientHeight = 0;
  bool stayOnTop = false;
  bool centred = false;      // on the screen
  std::uint32_t colour = 0;  // 0x00BBGGRR
  FontSpec font;
  Window owner = nullptr;  // the application window
};
Window CreateFormWindow(const FormSpec& params, WindowHandler* handler);
void SetFormClientSize(Window form, int clientWidth, int clientHeight);

// A one-line text label: no word wrap, clipped at its edges, tabs expanded, an ampersand marks
// the next character as underlined and "&&" shows one ampersand.
struct LabelSpec {
  std::u16string text;
  int left = 0, top = 0, width = 0, height = 0;
  FontSpec font;
  std::uint32_t colour = 0;
};
Window CreateLabelWindow(Window parent, const LabelSpec& params);
// The size of a label's text in a font (ampersands handled as the label shows them).
void MeasureLabelText(const std::u16string& text, const FontSpec& font, int& width, int& height);

// Registers the progress-bar class; true when its 32-bit range messages are available.
bool RegisterProgressBarClass();
// A horizontal progress bar, segmented or smooth.
Window CreateProgressBarWindow(Window parent, int left, int top, int width, int height,
                               bool segmented);

void SetWindowCaption(Window window, const std::u16string& text);
std::u16string WindowCaption(Window window);
void SetWindowBounds(Window window, int left, int top, int width, int height);
void ShowWindow(Window window, bool visible);
bool IsWindowVisible(Window window);
void InvalidateWindow(Window window);
bool WindowExists(Window window);
// Destroys the window and its children (owner thread only).
void DestroyWindow(Window window);

// A message box with an OK button and the error icon; returns when it is closed.
void ShowErrorBox(Window owner, const std::u16string& text, const std::u16string& caption);

enum class DialogIcon { kNone, kWarning, kError, kInformation, kQuestion };
struct DialogButton {
  std::u16string caption;
  int result;  // returned when the button is pressed; 0 for a button that does not close
};
struct DialogSpec {
  std::u16string caption;
  std::u16string text;  // word-wrapped at half the screen width
  DialogIcon icon = DialogIcon::kNone;
  std::vector<DialogButton> buttons;  // left to right
  int defaultResult = 0;              // the button that Enter presses
  int cancelResult = 0;               // the button that Escape presses
};
// The result returned when a dialog window is closed.
constexpr int kDialogClosedResult = 2;
// Shows the dialog centred on the screen and runs its modal loop, which keeps dispatching the
// thread's posted messages, until a button is pressed (its result), the window is closed
// (kDialogClosedResult) or a quit message arrives (kDialogClosedResult; the quit is posted
// again for the outer loop).
int ShowModalDialog(const DialogSpec& params);

// The modal window (dialog or message box) the calling thread shows now, if any: posting it
// kWmClose closes it.
Window ActiveModalWindow();

// Routes the process's interrupt, termination and hang-up signals to the window as a close
// message (Linux; on Windows the close box does this and nothing is installed). The first call
// blocks those signals on the calling thread, which every thread it starts afterwards inherits,
// and starts the thread that waits for them: make it on the main thread before any other thread
// starts.
void RouteCloseSignalsTo(Window window);

}  // namespace os
