// The program title: the executable's file name before its first ".", its first character kept
// and the others lower-cased ("TakTak.exe" gives "Taktak"). It captions the application window
// and the exception report.
#pragma once

#include "support/Strings.h"

// The title for an executable path (either separator).
AnsiString ProgramTitleOf(const AnsiString& executablePath);

// The title of the running program.
AnsiString ProgramTitle();
