// Registry keys with string values, and the shell's special folders, for the settings component's
// registry and special-folder modes. Names and values are ANSI text. Calls report failure through
// their result and leave the system's error code in RegistryLastError(); on systems without a
// registry every registry call fails with kRegistryUnavailable.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// The predefined root keys, with the values Windows gives them.
inline constexpr std::uintptr_t kHkeyClassesRoot = 0x80000000u;
inline constexpr std::uintptr_t kHkeyCurrentUser = 0x80000001u;
inline constexpr std::uintptr_t kHkeyLocalMachine = 0x80000002u;
inline constexpr std::uintptr_t kHkeyUsers = 0x80000003u;
inline constexpr std::uintptr_t kHkeyPerformanceData = 0x80000004u;
inline constexpr std::uintptr_t kHkeyCurrentConfig = 0x80000005u;
inline constexpr std::uintptr_t kHkeyDynData = 0x80000006u;

// Access rights asked for when a key is opened.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyExecute = 0x20019;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// The error code of a registry call on a system that has no registry.
inline constexpr std::uint32_t kRegistryUnavailable = 0xFFFFFFFFu;

// An open key; 0 is none.
using RegistryKey = std::uintptr_t;

// The error code of the calling thread's last failed registry call.
std::uint32_t RegistryLastError();

// The system's text for a registry error code, without a trailing line break.
std::string RegistryErrorText(std::uint32_t code);

// Opens the key `path` below `root` with `access`, creating it and its missing parents first.
// A leading backslash of `path` is ignored. Returns 0 on failure.
RegistryKey CreateRegistryKey(std::uintptr_t root, const std::string& path, std::uint32_t access);
void CloseRegistryKey(RegistryKey key);

enum class RegistryRead { kFound, kMissing, kNotAString, kFailed };

// Reads the string value `name` of the subkey `subKey` of `key` into `value` (its text up to its
// first NUL). kMissing when the subkey or the value does not exist, kNotAString when the value
// has another type than a string.
RegistryRead ReadRegistryString(RegistryKey key, const std::string& subKey, const std::string& name,
                                std::string& value);

// Stores `value` as the string value `name` of the subkey `subKey` of `key`, creating the subkey
// when it is missing.
bool WriteRegistryString(RegistryKey key, const std::string& subKey, const std::string& name,
                         const std::string& value);

// Stores a 32-bit number as the value `name` of the subkey `subKey` (used to give a value a type
// other than a string).
bool WriteRegistryNumber(RegistryKey key, const std::string& subKey, const std::string& name,
                         std::uint32_t value);

// Deletes the key `path` below `root` with all its subkeys and values.
bool DeleteRegistryTree(std::uintptr_t root, const std::string& path);

// The path of a special folder, given by its shell folder id (CSIDL_APPDATA 26,
// CSIDL_LOCAL_APPDATA 28, CSIDL_PERSONAL 5, CSIDL_COMMON_APPDATA 35), without creating it and
// without a trailing separator; empty when the system cannot say. On Linux: $XDG_CONFIG_HOME or
// ~/.config (26), $XDG_DATA_HOME or ~/.local/share (28), $XDG_DOCUMENTS_DIR or ~/Documents (5),
// /var/lib (35); a relative XDG variable is ignored, as the XDG rules say.
std::string SpecialFolderPath(int folderId);

}  // namespace os
