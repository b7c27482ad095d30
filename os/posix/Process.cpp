#include "os/Process.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "os/posix/PosixPaths.h"

namespace os {

std::u16string ExecutablePath() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<size_t>(n) : 0);
  // The path is UTF-8; its characters become UTF-16 and slashes backslashes.
  return posix::WidePath(path, u'\\');
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
