#include "support/ProgramTitle.h"

#include "os/CodePage.h"
#include "os/Process.h"

AnsiString ProgramTitleOf(const AnsiString& executablePath) {
  const std::size_t slash = executablePath.find_last_of("\\/");
  AnsiString title = slash == AnsiString::npos ? executablePath : executablePath.substr(slash + 1);
  const std::size_t dot = title.find('.');
  if (dot != AnsiString::npos) title.resize(dot);
  if (title.size() > 1) {
    const AnsiString rest = title.substr(1);
    // Lower-case the ASCII letters, leaving double-byte characters whole.
    AnsiString lower;
    for (std::size_t i = 0; i < rest.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(rest[i]);
      if (c >= 0x81 && c <= 0xFE && i + 1 < rest.size()) {
        lower.push_back(rest[i]);
        lower.push_back(rest[++i]);
      } else {
        lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : rest[i]);
      }
    }
    title = title.substr(0, 1) + lower;
  }
  return title;
}

AnsiString ProgramTitle() { return ProgramTitleOf(os::WideToAnsi(os::ExecutablePath())); }
