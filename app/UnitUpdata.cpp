#include "app/UnitUpdata.h"

#include "app/UnitUpateThread.h"
#include "app/platform/Threads.h"
#include "os/CodePage.h"
#include "os/Process.h"

AnsiString AppDir;
TFormUpdate* FormUpdate = nullptr;

namespace {

// Literal texts are written as UTF-16 and shown in the ANSI code page.
AnsiString Ansi(const char16_t* text) { return os::WideToAnsi(text); }

constexpr std::uint32_t kBtnFace = 0x00F0F0F0;

}  // namespace

AnsiString DirectoryOfExecutable(const AnsiString& executablePath) {
  const std::size_t cut = executablePath.find_last_of("\\:");
  return cut == AnsiString::npos ? AnsiString() : executablePath.substr(0, cut + 1);
}

TFormUpdate::TFormUpdate() : Ini(&FIni) {
  SetCaption(Ansi(u"\u5854\u514B\u5854\u5347\u7EA7"));  // 塔克塔升级
  SetClientSize(373, 89);
  SetStayOnTop(true);
  SetScreenCentred(true);
  SetColor(kBtnFace);
  SetFont({u"\u5B8B\u4F53", 16});  // 宋体

  Label1 = new TLabel(this);
  Label1->SetAutoSize(false);
  Label1->SetBounds(18, 21, 322, 13);
  Label1->SetFont({u"\u5B8B\u4F53", 13});

  ProgressBar1 = new TProgressBar(this);
  ProgressBar1->SetBounds(18, 51, 338, 22);
}

void TFormUpdate::FormCreate() {
  AppDir = DirectoryOfExecutable(os::WideToAnsi(os::ExecutablePath()));
  Ini->SetPath(AppDir + "TakTak.ini");
  NewThread<TUpdateThread>(false);
}
