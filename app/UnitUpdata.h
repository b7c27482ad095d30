// The update window: one status line and one progress bar, always on top, and the settings
// component that records the installed version. Its creation handler starts the update worker.
#pragma once

#include "app/platform/Controls.h"
#include "settings/RzCommon.h"
#include "support/Strings.h"

class TFormUpdate : public TForm {
 public:
  TFormUpdate();

  // Computes AppDir, points Ini at AppDir + "TakTak.ini" without reading it, starts the worker.
  void FormCreate() override;

  TRzRegIniFile* Ini;
  TLabel* Label1;
  TProgressBar* ProgressBar1;

 private:
  TRzRegIniFile FIni;
};

// The directory of the running executable with its trailing backslash. Written by FormCreate
// before the worker exists, only read afterwards.
extern AnsiString AppDir;

// The update window, stored before its constructor runs.
extern TFormUpdate* FormUpdate;

// The directory part of an executable's full path: the path cut after its last backslash or
// drive colon.
AnsiString DirectoryOfExecutable(const AnsiString& executablePath);
