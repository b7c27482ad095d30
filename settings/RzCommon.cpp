#include "settings/RzCommon.h"

#include "os/CodePage.h"
#include "os/Files.h"
#include "os/Process.h"
#include "os/Registry.h"
#include "support/Exceptions.h"
#include "support/ProgramTitle.h"

namespace {

// A lead byte of a double-byte character in code page 936: its trail byte may look like "\".
bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// The position of the last byte of `path` that is one of `delimiters` and not the trail byte of
// a double-byte character, or npos.
std::size_t LastDelimiter(const AnsiString& path, const char* delimiters) {
  std::size_t last = AnsiString::npos;
  const AnsiString set = delimiters;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (set.find(path[i]) != AnsiString::npos) {
      last = i;
    }
  }
  return last;
}

constexpr const char* kPathDelimiters = "\\/:";

bool EndsWithSeparator(const AnsiString& path) {
  if (path.empty()) return false;
  const std::size_t last = LastDelimiter(path, "\\/");
  return last == path.size() - 1;
}

AnsiString IncludeTrailingBackslash(const AnsiString& path) {
  return EndsWithSeparator(path) ? path : path + "\\";
}

// Creates the directory and every missing parent; failures are left for the file operations to
// report.
void ForceDirectories(AnsiString dir) {
  while (EndsWithSeparator(dir)) dir.pop_back();
  if (dir.empty() || dir.back() == ':') return;
  const WideString wide = os::AnsiToWide(dir);
  if (os::DirectoryExists(wide)) return;
  const AnsiString parent = settings::ExtractFilePath(dir);
  if (!parent.empty() && parent != dir) ForceDirectories(parent);
  os::MakeDirectory(wide);
}

int FolderId(TRzSpecialFolder folder) {
  switch (folder) {
    case sfUserAppDataRoaming:
      return 26;  // CSIDL_APPDATA
    case sfUserAppDataLocal:
      return 28;  // CSIDL_LOCAL_APPDATA
    case sfUserDocuments:
      return 5;  // CSIDL_PERSONAL
    case sfProgramData:
      return 35;  // CSIDL_COMMON_APPDATA
    case sfNone:
      break;
  }
  return -1;
}

// The special folder's directory for a sub-path, created with its parents and ending in a
// separator; empty when the system has no such folder.
AnsiString SpecialFolderDirectory(TRzSpecialFolder folder, const AnsiString& subPath) {
  const AnsiString base = os::SpecialFolderPath(FolderId(folder));
  if (base.empty()) return {};
  const AnsiString dir = IncludeTrailingBackslash(base) + subPath;
  ForceDirectories(dir);
  return IncludeTrailingBackslash(dir);
}

AnsiString ExecutableName() { return os::WideToAnsi(os::ExecutablePath()); }

std::uintptr_t RootKeyOf(TRzRegKey key) {
  switch (key) {
    case hkeyClassesRoot:
      return os::kHkeyClassesRoot;
    case hkeyCurrentUser:
      return os::kHkeyCurrentUser;
    case hkeyLocalMachine:
      return os::kHkeyLocalMachine;
    case hkeyUsers:
      return os::kHkeyUsers;
    case hkeyPerformanceData:
      return os::kHkeyPerformanceData;
    case hkeyCurrentConfig:
      return os::kHkeyCurrentConfig;
    case hkeyDynData:
      return os::kHkeyDynData;
  }
  return os::kHkeyCurrentUser;
}

}  // namespace

namespace settings {

AnsiString ExtractFilePath(const AnsiString& path) {
  const std::size_t last = LastDelimiter(path, kPathDelimiters);
  return last == AnsiString::npos ? AnsiString() : path.substr(0, last + 1);
}

AnsiString ExtractFileName(const AnsiString& path) {
  const std::size_t last = LastDelimiter(path, kPathDelimiters);
  return last == AnsiString::npos ? path : path.substr(last + 1);
}

AnsiString ChangeFileExt(const AnsiString& path, const AnsiString& extension) {
  const std::size_t last = LastDelimiter(path, ".\\/:");
  if (last == AnsiString::npos || path[last] != '.') return path + extension;
  return path.substr(0, last) + extension;
}

}  // namespace settings

std::uint32_t TRzRegAccess::Mask() const {
  static constexpr std::uint32_t kMasks[] = {
      os::kKeyQueryValue, os::kKeySetValue,   os::kKeyCreateSubKey, os::kKeyEnumerateSubKeys,
      os::kKeyNotify,     os::kKeyCreateLink, os::kKeyRead,         os::kKeyWrite,
      os::kKeyExecute,    os::kKeyAllAccess};
  std::uint32_t mask = 0;
  for (int key = keyQueryValue; key <= keyAllAccess; ++key) {
    if (Contains(static_cast<TRzRegAccessKey>(key))) mask |= kMasks[key];
  }
  return mask;
}

TRegistryIniFile::TRegistryIniFile(const AnsiString& fileName, std::uint32_t access)
    : TCustomIniFile(fileName), access_(access), rootKey_(os::kHkeyCurrentUser) {}

TRegistryIniFile::~TRegistryIniFile() { os::CloseRegistryKey(key_); }

void TRegistryIniFile::OpenKey(const AnsiString& path) {
  const os::RegistryKey key = os::CreateRegistryKey(rootKey_, path, access_);
  if (key == 0) {
    throw ERegistryException(
        FormatMessageText("Cannot open registry key \"%s\". %s",
                          {path, os::RegistryErrorText(os::RegistryLastError())}));
  }
  os::CloseRegistryKey(key_);
  key_ = key;
}

AnsiString TRegistryIniFile::ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                                       const AnsiString& DefaultValue) {
  AnsiString value;
  switch (os::ReadRegistryString(key_, SectionName, KeyName, value)) {
    case os::RegistryRead::kFound:
      return value;
    case os::RegistryRead::kMissing:
      return DefaultValue;
    case os::RegistryRead::kNotAString:
      throw ERegistryException(FormatMessageText("Invalid data type for '%s'", {KeyName}));
    case os::RegistryRead::kFailed:
      break;
  }
  throw ERegistryException(FormatMessageText("Failed to get data for '%s'", {KeyName}));
}

void TRegistryIniFile::WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                                  const AnsiString& NewValue) {
  if (!os::WriteRegistryString(key_, SectionName, KeyName, NewValue)) {
    throw ERegistryException(FormatMessageText("Failed to set data for '%s'", {KeyName}));
  }
}

TRzRegIniFile::TRzRegIniFile() = default;
TRzRegIniFile::~TRzRegIniFile() = default;

void TRzRegIniFile::SetPath(const AnsiString& value) {
  if (value == FPath) return;
  FPath = value;
  FStorageStale = true;
}

void TRzRegIniFile::SetPathType(TRzPathType value) {
  if (value == FPathType) return;
  FPathType = value;
  FStorageStale = true;
}

void TRzRegIniFile::SetRegKey(TRzRegKey value) {
  if (value == FRegKey) return;
  FRegKey = value;
  FStorageStale = true;
}

void TRzRegIniFile::SetRegAccess(const TRzRegAccess& value) {
  if (value == FRegAccess) return;
  FRegAccess = value;
  FStorageStale = true;
}

void TRzRegIniFile::SetSpecialFolder(TRzSpecialFolder value) {
  if (value == FSpecialFolder) return;
  FSpecialFolder = value;
  FStorageStale = true;
}

void TRzRegIniFile::SetFileEncoding(TRzIniFileEncoding value) {
  if (value == FFileEncoding) return;
  FFileEncoding = value;
  FStorageStale = true;
}

void TRzRegIniFile::PrepareStorage() {
  if (!FStorageStale) return;
  // Nothing to write back: in INI-file mode every write has already reached the file.
  FIniStore.reset();
  FRegStore.reset();
  AnsiString path = FPath;
  if (FPathType == ptIniFile) {
    if (FSpecialFolder != sfNone) {
      const AnsiString dir =
          SpecialFolderDirectory(FSpecialFolder, settings::ExtractFilePath(path));
      if (!dir.empty()) {
        const AnsiString name = settings::ExtractFileName(path.empty() ? ExecutableName() : path);
        path = dir + settings::ChangeFileExt(name, ".ini");
      }
    }
    if (path.empty()) {
      path = settings::ChangeFileExt(ExecutableName(), ".ini");
    } else if (settings::ExtractFilePath(path).empty()) {
      path = settings::ExtractFilePath(ExecutableName()) + settings::ChangeFileExt(path, ".ini");
    }
    FIniStore = std::make_unique<TMemIniFile>(path);
  } else {
    if (path.empty()) {
      AnsiString title = ProgramTitle();
      if (title.empty()) {
        title = settings::ChangeFileExt(settings::ExtractFileName(ExecutableName()), "");
      }
      path = "\\Software\\Temp\\" + title;
    }
    auto store = std::make_unique<TRegistryIniFile>("", FRegAccess.Mask());
    store->SetRootKey(RootKeyOf(FRegKey));
    store->OpenKey(path);
    FRegStore = std::move(store);
  }
  FPath = path;
  FStorageStale = false;
}

AnsiString TRzRegIniFile::ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                                    const AnsiString& DefaultValue) {
  PrepareStorage();
  if (FPathType == ptIniFile) return FIniStore->ReadValue(SectionName, KeyName, DefaultValue);
  return FRegStore->ReadValue(SectionName, KeyName, DefaultValue);
}

void TRzRegIniFile::WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                               const AnsiString& NewValue) {
  PrepareStorage();
  if (FPathType == ptIniFile) {
    FIniStore->WriteValue(SectionName, KeyName, NewValue);
    FlushStorage();
  } else {
    FRegStore->WriteValue(SectionName, KeyName, NewValue);
  }
}

void TRzRegIniFile::FlushStorage() {
  if (FPathType == ptIniFile && FIniStore) FIniStore->WriteWholeFile();
}
