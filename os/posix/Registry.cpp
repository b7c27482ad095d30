#include "os/Registry.h"

#include <cstdlib>

#include "os/CodePage.h"
#include "os/posix/PosixPaths.h"

// Linux has no registry: every registry call fails with kRegistryUnavailable. The special folders
// are the per-user XDG directories and /var/lib for data shared by all users.
namespace os {
namespace {

thread_local std::uint32_t lastError = 0;

bool Unavailable() {
  lastError = kRegistryUnavailable;
  return false;
}

// A UTF-8 path as ANSI text with backslashes, the form every path of the program has.
std::string AnsiPath(const std::string& utf8) {
  const std::u16string wide = posix::WidePath(utf8, u'\\');
  std::string ansi = WideToAnsi(wide);
  while (ansi.size() > 1 && ansi.back() == '\\') ansi.pop_back();
  return ansi;
}

// An absolute directory from the environment variable, else `fallback` below the home directory.
std::string XdgDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return AnsiPath(value);
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  std::string dir = home;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return AnsiPath(dir + "/" + fallback);
}

}  // namespace

std::uint32_t RegistryLastError() { return lastError; }

std::string RegistryErrorText(std::uint32_t code) {
  if (code == kRegistryUnavailable) return "This system has no registry";
  return "Registry error " + std::to_string(code);
}

RegistryKey CreateRegistryKey(std::uintptr_t, const std::string&, std::uint32_t) {
  Unavailable();
  return 0;
}

void CloseRegistryKey(RegistryKey) {}

RegistryRead ReadRegistryString(RegistryKey, const std::string&, const std::string&, std::string&) {
  Unavailable();
  return RegistryRead::kFailed;
}

bool WriteRegistryString(RegistryKey, const std::string&, const std::string&, const std::string&) {
  return Unavailable();
}

bool WriteRegistryNumber(RegistryKey, const std::string&, const std::string&, std::uint32_t) {
  return Unavailable();
}

bool DeleteRegistryTree(std::uintptr_t, const std::string&) { return Unavailable(); }

std::string SpecialFolderPath(int folderId) {
  switch (folderId) {
    case 26:
      return XdgDirectory("XDG_CONFIG_HOME", ".config");
    case 28:
      return XdgDirectory("XDG_DATA_HOME", ".local/share");
    case 5:
      return XdgDirectory("XDG_DOCUMENTS_DIR", "Documents");
    case 35:
      return AnsiPath("/var/lib");
    default:
      return {};
  }
}

}  // namespace os
