// The program entry: the application object, the update window as the main window, the
// message loop. No command line and no environment variable is read.
#include <exception>

#include "app/UnitUpdata.h"
#include "app/platform/Application.h"
#include "os/Process.h"

int main() {
  try {
    Application().InitApplication();
    Application().CreateAppForm(FormUpdate);
    Application().RunMessageLoop();
  } catch (const std::exception& e) {
    // Start-up itself failed (no window could be made): say so, then end with a failure code
    // instead of letting the exception abort the process.
    try {
      Application().ReportException(e);
    } catch (...) {
      // Reporting needs the window system that just failed; the exit code still tells.
    }
    os::ExitProcessNow(1);
  }
  Application().ExitProgram();
}
