// The program entry: the application object, the update window as the main window, the
// message loop. No command line and no environment variable is read.
#include "app/UnitUpdata.h"
#include "app/platform/Application.h"

int main() {
  Application().InitApplication();
  Application().CreateAppForm(FormUpdate);
  Application().RunMessageLoop();
  Application().ExitProgram();
}
