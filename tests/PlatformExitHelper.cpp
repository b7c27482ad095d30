// A whole program for the exit test: its main form starts a thread that never ends and a worker
// that has the main thread close the main form, then keeps setting the progress bar while the
// program ends. The process must end with exit code 0.
#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "app/platform/Threads.h"

namespace {

class TExitForm;

class TSleeper : public TThread {
 public:
  TSleeper() : TThread(false) {}

 protected:
  void Execute() override { FNever.WaitFor(TEvent::kInfinite); }

 private:
  TEvent FNever;
};

class TEnder : public TThread {
 public:
  explicit TEnder(TExitForm* form) : TThread(false), FForm(form) {}

 protected:
  void Execute() override;

 private:
  TExitForm* FForm;
};

class TExitForm : public TForm {
 public:
  TExitForm() {
    SetCaption("Exit helper");
    SetClientSize(300, 60);
    Bar = new TProgressBar(this);
    Bar->SetBounds(10, 20, 280, 18);
  }
  void FormCreate() override {
    NewThread<TSleeper>();
    NewThread<TEnder>(this);
  }
  TProgressBar* Bar;
};

void TEnder::Execute() {
  CallInMainThread([this] { FForm->RequestClose(); });
  // The application is ending now; the bar's object stays valid until the process is gone.
  for (int i = 0;; i = (i + 1) % 100) FForm->Bar->SetPosition(i);
}

TExitForm* exitForm = nullptr;

}  // namespace

int main() {
  Application().InitApplication();
  Application().CreateAppForm(exitForm);
  Application().RunMessageLoop();
  Application().ExitProgram();
}
