#include "os/CodePage.h"

#include <windows.h>

namespace os {

std::u16string AnsiToWide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                    nullptr, 0);
  std::u16string wide(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                      reinterpret_cast<wchar_t*>(wide.data()), n);
  return wide;
}

std::string WideToAnsi(const std::u16string& wide) {
  if (wide.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  const int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), ansi.data(), n, nullptr,
                      nullptr);
  return ansi;
}

std::string AnsiUpperCase(const std::string& ansi) {
  std::string upper = ansi;
  if (!upper.empty()) CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  return upper;
}

std::u16string WideLowerCase(const std::u16string& wide) {
  std::u16string lower = wide;
  if (!lower.empty()) {
    CharLowerBuffW(reinterpret_cast<wchar_t*>(lower.data()), static_cast<DWORD>(lower.size()));
  }
  return lower;
}

}  // namespace os
