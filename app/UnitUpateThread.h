// The update worker: fetches the manifest, compares its release version with the recorded one
// and, when they differ, fetches every listed file into the application directory or its
// "html\" subdirectory, then records the new version and ends the application.
#pragma once

#include <memory>

#include "app/platform/Threads.h"
#include "http/IEHTTP3.h"
#include "support/Strings.h"

// A new HTTP client with the updater's agent string and the given time-out; the caller owns it.
std::unique_ptr<TIEHTTP> CreateHttpClient(int TimeoutSeconds);

// The update server's address (scheme, host and port), fixed when the program is built.
AnsiString UpdateServer();

// Called when the worker's procedure has ended: with an empty text after a run without failure,
// else with the failure's message. Only builds for tests record it.
void ReportWorkerOutcome(const AnsiString& outcome);

class TUpdateThread : public TThread {
 public:
  explicit TUpdateThread(bool createSuspended) : TThread(createSuspended) {}

 protected:
  // The whole update procedure. Any failure ends it silently (the thread's trap drops the
  // exception): the window keeps its last status until the user closes it.
  void Execute() override;

 private:
  // The procedure itself.
  void Update();
  // Worker thread: the progress bar follows the request in progress.
  void ShowProgress();
  // Main thread, through a main-thread call: the status line shows FStatus.
  void ShowStatus();
  // Main thread, through a main-thread call: the settings file records FVersion.
  void SaveVersion();
  // Fetches one URL and raises unless the response is a good delivery.
  void Fetch(const AnsiString& path, const AnsiString& what);

  std::unique_ptr<TIEHTTP> FHttp;
  AnsiString FStatus;
  AnsiString FVersion;
};
