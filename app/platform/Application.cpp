#include "app/platform/Application.h"

#include <algorithm>
#include <cstdio>

#include "app/platform/Threads.h"
#include "os/CodePage.h"
#include "os/Process.h"
#include "support/Exceptions.h"
#include "support/ProgramTitle.h"

TApplication::TApplication() : FTitle(ProgramTitle()) {
  FHandle = os::CreateApplicationWindow(os::AnsiToWide(FTitle), this);
  os::Window handle = FHandle;
  // A queued main-thread call wakes the main thread with a null message to this window, which
  // every loop that dispatches the main thread's messages delivers.
  SetMainThreadWakeUp([handle] { os::PostWindowMessage(handle, os::kWmNull, 0, 0); });
  // The interrupt, termination and hang-up signals close the program as the close box does.
  os::RouteCloseSignalsTo(FHandle);
}

void TApplication::InitApplication() { FComStarted = os::ComInitialize(); }

void TApplication::RunMessageLoop() {
  if (FMainForm && FShowMainForm) FMainForm->Show();
  do {
    try {
      HandleMessage();
    } catch (const std::exception& e) {
      ReportException(e);
    }
  } while (!FTerminated.load());
  // The exit step: the windows disappear; the objects stay until the process ends, so a worker
  // that still runs finds windowless controls rather than destroyed ones.
  for (TForm* form : FForms) form->DestroyHandle();
  if (FComStarted) {
    os::ComUninitialize();
    FComStarted = false;
  }
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) Idle();
}

bool TApplication::ProcessMessage() {
  os::Message message;
  if (!os::PeekWindowMessage(message, true)) return false;
  if (message.message == os::kWmQuit) {
    FTerminated.store(true);
  } else {
    os::TranslateWindowMessage(message);
    os::DispatchWindowMessage(message);
  }
  return true;
}

void TApplication::Idle() {
  bool ranCalls = false;
  if (IsMainThread()) ranCalls = CheckSynchronize(0);
  if (!ranCalls) os::WaitMessage();
}

void TApplication::PumpMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::RequestQuit() { os::PostQuitMessage(0); }

AnsiString TApplication::ReportedText(const AnsiString& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void TApplication::ReportException(const std::exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  if (OnException) {
    OnException(e);
    return;
  }
  const os::Window owner = FMainForm && FMainForm->Handle() ? FMainForm->Handle() : FHandle;
  os::ShowErrorBox(owner, os::AnsiToWide(ReportedText(e.what())), os::AnsiToWide(FTitle));
}

void TApplication::ExitProgram() {
  std::fflush(nullptr);
  os::ExitProcessNow(0);
}

void TApplication::AddForm(TForm* form) { FForms.push_back(form); }

void TApplication::RemoveForm(TForm* form) {
  FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end());
  if (FMainForm == form) FMainForm = nullptr;
}

os::LResult TApplication::HandleMessage(os::Window window, unsigned message, os::WParam wParam,
                                        os::LParam lParam) {
  switch (message) {
    case os::kWmNull:
      CheckSynchronize(0);
      return 0;
    case os::kWmClose:
      if (FMainForm)
        FMainForm->RequestClose();
      else
        RequestQuit();
      return 0;
    default:
      return os::DefaultWindowProc(window, message, wParam, lParam);
  }
}

TApplication& Application() {
  // Never destroyed: threads that outlive the message loop may still post to its window.
  static TApplication* application = new TApplication;
  return *application;
}
