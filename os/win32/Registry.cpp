#include "os/Registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "os/Files.h"

namespace os {
namespace {

thread_local std::uint32_t lastError = 0;

bool Fail(LONG code) {
  lastError = static_cast<std::uint32_t>(code);
  return false;
}

HKEY Key(std::uintptr_t key) { return reinterpret_cast<HKEY>(key); }

// RegCreateKeyEx takes a path relative to the key: without its leading backslash.
std::string Relative(const std::string& path) {
  size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  return path.substr(start);
}

// Opens the subkey for a read or a write; the key itself for an empty name.
HKEY OpenSubKey(RegistryKey key, const std::string& subKey, bool create, LONG& result) {
  HKEY sub = nullptr;
  const std::string relative = Relative(subKey);
  if (create) {
    result = RegCreateKeyExA(Key(key), relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, &sub, nullptr);
  } else {
    result = RegOpenKeyExA(Key(key), relative.c_str(), 0, KEY_READ, &sub);
  }
  return result == ERROR_SUCCESS ? sub : nullptr;
}

}  // namespace

std::uint32_t RegistryLastError() { return lastError; }

std::string RegistryErrorText(std::uint32_t code) { return ErrorText(code); }

RegistryKey CreateRegistryKey(std::uintptr_t root, const std::string& path, std::uint32_t access) {
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExA(Key(root), Relative(path).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) {
    Fail(result);
    return 0;
  }
  return reinterpret_cast<RegistryKey>(key);
}

void CloseRegistryKey(RegistryKey key) {
  if (key != 0) RegCloseKey(Key(key));
}

RegistryRead ReadRegistryString(RegistryKey key, const std::string& subKey, const std::string& name,
                                std::string& value) {
  LONG result = ERROR_SUCCESS;
  HKEY sub = OpenSubKey(key, subKey, false, result);
  if (sub == nullptr) return RegistryRead::kMissing;
  DWORD type = 0;
  DWORD size = 0;
  result = RegQueryValueExA(sub, name.c_str(), nullptr, &type, nullptr, &size);
  RegistryRead outcome = RegistryRead::kFound;
  if (result == ERROR_FILE_NOT_FOUND) {
    outcome = RegistryRead::kMissing;
  } else if (result != ERROR_SUCCESS) {
    Fail(result);
    outcome = RegistryRead::kFailed;
  } else if (type != REG_SZ && type != REG_EXPAND_SZ) {
    outcome = RegistryRead::kNotAString;
  } else {
    std::vector<char> data(size + 1, '\0');
    result = RegQueryValueExA(sub, name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (result != ERROR_SUCCESS) {
      Fail(result);
      outcome = RegistryRead::kFailed;
    } else {
      value.assign(data.data(), strnlen(data.data(), size));
    }
  }
  RegCloseKey(sub);
  return outcome;
}

bool WriteRegistryString(RegistryKey key, const std::string& subKey, const std::string& name,
                         const std::string& value) {
  LONG result = ERROR_SUCCESS;
  HKEY sub = OpenSubKey(key, subKey, true, result);
  if (sub == nullptr) return Fail(result);
  result =
      RegSetValueExA(sub, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(sub);
  return result == ERROR_SUCCESS || Fail(result);
}

bool WriteRegistryNumber(RegistryKey key, const std::string& subKey, const std::string& name,
                         std::uint32_t value) {
  LONG result = ERROR_SUCCESS;
  HKEY sub = OpenSubKey(key, subKey, true, result);
  if (sub == nullptr) return Fail(result);
  const DWORD number = value;
  result = RegSetValueExA(sub, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  RegCloseKey(sub);
  return result == ERROR_SUCCESS || Fail(result);
}

bool DeleteRegistryTree(std::uintptr_t root, const std::string& path) {
  const LONG result = RegDeleteTreeA(Key(root), Relative(path).c_str());
  if (result != ERROR_SUCCESS) return Fail(result);
  // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
  const LONG removed = RegDeleteKeyA(Key(root), Relative(path).c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND || Fail(removed);
}

std::string SpecialFolderPath(int folderId) {
  // The shell's folder function exists from Windows 2000 (NT 5) on; it is looked up at run time so
  // that a system without it simply has no special folders.
  const DWORD version = GetVersion();
  if ((version & 0x80000000u) != 0 || LOBYTE(LOWORD(version)) < 5) return {};
  HMODULE shell = LoadLibraryA("Shell32");
  if (shell == nullptr) return {};
  using GetFolderPath = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
  const auto function = reinterpret_cast<GetFolderPath>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathA")));
  std::string path;
  char buffer[MAX_PATH + 1] = {};
  if (function != nullptr && function(nullptr, buffer, folderId, FALSE)) path = buffer;
  FreeLibrary(shell);
  return path;
}

}  // namespace os
