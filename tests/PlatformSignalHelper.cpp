// A whole program for the signal test (Linux): a worker sends the process SIGTERM once the
// message loop runs; the loop must end as on the user's close and the process exit with 0.
#include <signal.h>
#include <unistd.h>

#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "app/platform/Threads.h"

namespace {

class TSignaller : public TThread {
 public:
  TSignaller() : TThread(false) {}

 protected:
  void Execute() override {
    CallInMainThread([] {});  // served once the loop runs
    kill(getpid(), SIGTERM);
  }
};

class TSignalForm : public TForm {
 public:
  void FormCreate() override { NewThread<TSignaller>(); }
};

TSignalForm* signalForm = nullptr;

}  // namespace

int main() {
  Application().InitApplication();
  Application().CreateAppForm(signalForm);
  Application().RunMessageLoop();
  Application().ExitProgram();
}
