#include "os/Process.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace os {

std::u16string ExecutablePath() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<size_t>(n) : 0);
  // The path is UTF-8; its characters become UTF-16 and slashes backslashes.
  std::u16string wide;
  for (size_t i = 0; i < path.size();) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    char32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0 && i + 3 < path.size() + 0) {
      cp = ((c & 0x07u) << 18) | ((path[i + 1] & 0x3Fu) << 12) | ((path[i + 2] & 0x3Fu) << 6) |
           (path[i + 3] & 0x3Fu);
      len = 4;
    } else if (c >= 0xE0 && i + 2 < path.size()) {
      cp = ((c & 0x0Fu) << 12) | ((path[i + 1] & 0x3Fu) << 6) | (path[i + 2] & 0x3Fu);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < path.size()) {
      cp = ((c & 0x1Fu) << 6) | (path[i + 1] & 0x3Fu);
      len = 2;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      wide.push_back(cp == u'/' ? u'\\' : static_cast<char16_t>(cp));
    }
    i += len;
  }
  return wide;
}

double LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t seconds = ts.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  // Whole local seconds since the epoch, then days since 30 December 1899 (25569 days before).
  const long long localSeconds = static_cast<long long>(seconds) + local.tm_gmtoff;
  const long long millis = localSeconds * 1000 + ts.tv_nsec / 1000000;
  return 25569.0 + static_cast<double>(millis) / 86400000.0;
}

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

bool ComInitialize() { return true; }

void ComUninitialize() {}

void ExitProcessNow(int exitCode) { std::_Exit(exitCode); }

}  // namespace os
