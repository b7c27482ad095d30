// The application object: the hidden application window, the main form, the message loop with
// its message and idle steps, the message pump, the end of the application and the report of
// an exception that reaches the loop.
//
// The object is created on the first call of Application() (the program's first statement
// calls InitApplication) and is never destroyed: at the end the exit step destroys the windows
// and ExitProgram ends the process at once, so a worker that still runs never meets a destroyed
// object.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <new>
#include <type_traits>

#include "app/platform/Controls.h"
#include "os/WindowSystem.h"
#include "support/Strings.h"

class TApplication : private os::WindowHandler {
 public:
  TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Start-up: starts COM on the calling (main) thread, undone by the exit step.
  void InitApplication();

  // Allocates the form, stores it in the reference before its constructor runs, constructs it
  // and runs its creation handler. When construction raises, the reference is set to none and
  // the exception passes on. The first form created this way gets its window and becomes the
  // main form.
  template <class T>
  void CreateAppForm(T*& reference) {
    static_assert(std::is_base_of_v<TForm, T>, "CreateAppForm builds forms");
    void* memory = ::operator new(sizeof(T));
    reference = static_cast<T*>(memory);
    T* form;
    try {
      form = new (memory) T();
    } catch (...) {
      reference = nullptr;
      ::operator delete(memory);
      throw;
    }
    form->AfterConstruction();
    if (!FMainForm) {
      form->HandleNeeded();
      FMainForm = form;
    }
  }

  // Shows the main form, then runs message steps until the end flag is set; an exception that
  // escapes a step goes to ReportException. Then the exit step: every form's window is
  // destroyed and COM is stopped. Main thread.
  void RunMessageLoop();
  // One message step, or the idle step when the queue is empty: main-thread calls, then a sleep
  // until a message arrives.
  void HandleMessage();
  // One message step: false when the queue was empty. A quit message sets the end flag.
  bool ProcessMessage();
  // Message steps until the calling thread's queue is empty.
  void PumpMessages();
  // Main thread: asks the message loop to end (posts a quit message).
  void RequestQuit();
  // When set, ReportException hands the exception here instead of showing it.
  std::function<void(const std::exception&)> OnException;
  // Shows the exception in an error box captioned with the title, with a full stop added when
  // its message does not end in one or in another character sorting before it; EAbort is
  // silent.
  void ReportException(const std::exception& e);
  // The text ReportException shows for a message.
  static AnsiString ReportedText(const AnsiString& message);
  // Ends the process with exit code 0 without waiting for threads that still run.
  [[noreturn]] void ExitProgram();

  const AnsiString& Title() const { return FTitle; }
  TForm* MainForm() const { return FMainForm; }
  bool Terminated() const { return FTerminated.load(); }
  void SetShowMainForm(bool value) { FShowMainForm = value; }
  os::Window Handle() const { return FHandle; }

 private:
  friend class TForm;
  void Idle();
  void AddForm(TForm* form);
  void RemoveForm(TForm* form);
  os::LResult HandleMessage(os::Window window, unsigned message, os::WParam wParam,
                            os::LParam lParam) override;

  AnsiString FTitle;
  os::Window FHandle = nullptr;
  TForm* FMainForm = nullptr;
  std::atomic<bool> FTerminated{false};
  bool FShowMainForm = true;
  bool FComStarted = false;
  std::vector<TForm*> FForms;
};

// The application object, created on first use.
TApplication& Application();
