// Forms and the controls the program shows on them (a one-line label and a progress bar), and
// the modal message dialog. Forms and controls are built in code: construct the form, create
// its controls with the form as owner and set their bounds and properties. Windows are created
// when the form's window is (it becomes the main form, or it is shown), from the stored
// properties; the main thread owns them all.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "os/WindowSystem.h"
#include "support/Strings.h"

class TForm;

// The font of a form or control; an empty name and a zero height mean the system's default.
struct TFont {
  WideString Name;
  int Height = 0;  // pixels
};

// A control placed on a form, owned and destroyed by it.
class TControl {
 public:
  explicit TControl(TForm* owner);
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  void SetBounds(int left, int top, int width, int height);
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetFont(const TFont& font);
  const TFont& Font() const { return FFont; }
  // The control's window, none until the form's window exists and after the exit step.
  os::Window Handle() const { return FHandle.load(); }

 protected:
  friend class TForm;
  virtual void CreateHandle(os::Window parent) = 0;
  void DestroyHandle();
  virtual void BoundsChanged() {}

  TForm* FOwner;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TFont FFont;
  std::atomic<os::Window> FHandle{nullptr};
};

// A text label: one line, left-aligned, no word wrap, cut at its right edge; "&x" shows x
// underlined and "&&" one ampersand. With AutoSize (the default) it takes the size of its text.
// Main thread only.
class TLabel : public TControl {
 public:
  explicit TLabel(TForm* owner);

  void SetCaption(const AnsiString& caption);
  const AnsiString& Caption() const { return FCaption; }
  void SetAutoSize(bool autoSize);
  bool AutoSize() const { return FAutoSize; }
  // Colour behind the text (0x00BBGGRR); the form's colour when never set.
  void SetColor(std::uint32_t colour);

 protected:
  void CreateHandle(os::Window parent) override;

 private:
  void AdjustSize();

  AnsiString FCaption;
  bool FAutoSize = true;
  bool FColourSet = false;
  std::uint32_t FColour = 0;
};

// A horizontal, segmented progress bar: Min 0, Max 100, Position 0, step 10. Min, Max and
// Position may be set from any thread: each setting sends its message to the bar's window and
// returns when the main thread has handled it.
class TProgressBar : public TControl {
 public:
  explicit TProgressBar(TForm* owner);

  int Min() const { return FMin.load(); }
  int Max() const { return FMax.load(); }
  int Position() const { return FPosition.load(); }
  // Throw EInvalidOperation "%s property out of range" (TProgressBar) when the maximum would
  // fall below the minimum and, outside 32-bit mode, "Value must be between %d and %d" (0, 65535)
  // for a value outside that range.
  void SetMin(int value);
  void SetMax(int value);
  void SetPosition(int value);
  // True when the bar takes 32-bit values (the system's progress bar accepted registration).
  bool ThirtyTwoBit() const { return F32Bit; }
  // For tests of the 16-bit rules only.
  void SetThirtyTwoBitForTesting(bool value) { F32Bit = value; }

 protected:
  void CreateHandle(os::Window parent) override;

 private:
  void SetParams(int newMin, int newMax);

  bool F32Bit;
  std::atomic<int> FMin{0}, FMax{100}, FPosition{0};
};

// A fixed-size top-level window with a single border and only a close box. Build its controls
// in the constructor; FormCreate (or OnCreate) runs when construction has finished (see
// TApplication::CreateAppForm and CreateForm below). The form's C++ object outlives its window:
// at the end of the program only the windows are destroyed.
class TForm : private os::WindowHandler {
 public:
  TForm();
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // The creation handler; by default it calls OnCreate when one is set.
  std::function<void()> OnCreate;
  virtual void FormCreate();
  // Runs the creation handler; an exception from it goes to the application's ReportException
  // and construction counts as finished.
  void AfterConstruction();

  void SetCaption(const AnsiString& caption);
  const AnsiString& Caption() const { return FCaption; }
  void SetClientSize(int width, int height);
  int ClientWidth() const { return FClientWidth; }
  int ClientHeight() const { return FClientHeight; }
  // These two take effect when the window is created.
  void SetStayOnTop(bool value) { FStayOnTop = value; }
  void SetScreenCentred(bool value) { FCentred = value; }
  bool StayOnTop() const { return FStayOnTop; }
  void SetColor(std::uint32_t colour) { FColour = colour; }
  std::uint32_t Color() const { return FColour; }
  void SetFont(const TFont& font) { FFont = font; }
  const TFont& Font() const { return FFont; }

  void Show();
  void Hide();
  bool Visible() const;
  // The user's close: closing the main form ends the application, any other form is hidden.
  // Main thread.
  void RequestClose();

  // Creates the form's window and its controls' windows, once.
  void HandleNeeded();
  os::Window Handle() const { return FHandle; }
  // Destroys the windows; the objects stay usable, as windowless controls.
  void DestroyHandle();

 private:
  friend class TControl;
  os::LResult HandleMessage(os::Window window, unsigned message, os::WParam wParam,
                            os::LParam lParam) override;

  AnsiString FCaption;
  int FClientWidth = 300, FClientHeight = 200;
  bool FStayOnTop = false;
  bool FCentred = false;
  std::uint32_t FColour = 0x00F0F0F0;
  TFont FFont;
  os::Window FHandle = nullptr;
  std::vector<std::unique_ptr<TControl>> FControls;
};

// Builds a form that is not the main form: construct, then run its creation handler.
template <class T, class... Args>
T* CreateForm(Args&&... args) {
  T* form = new T(std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

// ---- the message dialog

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};

// A set of dialog buttons.
class TMsgDlgButtons {
 public:
  TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) FBits |= 1u << b;
  }
  bool Contains(TMsgDlgBtn button) const { return (FBits >> button) & 1u; }

 private:
  unsigned FBits = 0;
};

// Modal results.
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
              mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

// The dialog ShowMessageDialog shows: caption by type ("Warning", "Error", "Information",
// "Confirm"; the program title for a custom one), the type's icon, the buttons in the fixed
// order Yes, No, OK, Cancel, Abort, Retry, Ignore, All, No to All, Yes to All, Help; Enter
// presses OK, else Yes, else Retry; Escape presses Cancel, else No, else OK.
os::DialogSpec MessageDialogSpec(const AnsiString& text, TMsgDlgType type, TMsgDlgButtons buttons);

// Shows the dialog modally on the calling thread (its loop keeps dispatching posted messages,
// so main-thread calls are served meanwhile) and returns the pressed button's modal result;
// closing the dialog returns mrCancel.
int ShowMessageDialog(const AnsiString& text, TMsgDlgType type, TMsgDlgButtons buttons);
