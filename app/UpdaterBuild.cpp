// What differs between builds of the updater: the product asks the update server named at build
// time and reports nothing; the build the end-to-end tests start asks their loopback server and
// leaves the worker's outcome in a file beside itself, so a test knows when the worker is done
// and why it stopped.
#include "app/UnitUpateThread.h"

#ifndef TAKTAK_UPDATE_SERVER
#error "TAKTAK_UPDATE_SERVER must name the update server"
#endif

#ifdef TAKTAK_UPDATER_UNDER_TEST
#include "app/UnitUpdata.h"
#include "os/CodePage.h"
#include "support/WideFileStreams.h"
#endif

AnsiString UpdateServer() { return TAKTAK_UPDATE_SERVER; }

void ReportWorkerOutcome([[maybe_unused]] const AnsiString& outcome) {
#ifdef TAKTAK_UPDATER_UNDER_TEST
  ReplaceFileAtomically(os::AnsiToWide(AppDir + "worker-outcome.txt"), outcome.data(),
                        static_cast<std::int64_t>(outcome.size()));
#endif
}
