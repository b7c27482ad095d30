#include "os/Process.h"

#include <objbase.h>
#include <windows.h>

namespace os {

std::u16string ExecutablePath() {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                       static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

double LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // 100 ns ticks since 1601-01-01; that date is 109205 days before 1899-12-30.
  const unsigned long long millis = t.QuadPart / 10000ULL;
  return static_cast<double>(millis) / 86400000.0 - 109205.0;
}

std::uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

bool ComInitialize() {
  const HRESULT hr = CoInitialize(nullptr);
  return hr == S_OK || hr == S_FALSE;
}

void ComUninitialize() { CoUninitialize(); }

void ExitProcessNow(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

}  // namespace os
