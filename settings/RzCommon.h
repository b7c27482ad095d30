// The settings component: values by section and key, kept in an INI file (read once, rewritten
// whole after every write) or in the registry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "settings/IniFiles.h"
#include "support/Strings.h"

enum TRzPathType { ptIniFile, ptRegistry };

enum TRzRegKey {
  hkeyClassesRoot,
  hkeyCurrentUser,
  hkeyLocalMachine,
  hkeyUsers,
  hkeyPerformanceData,
  hkeyCurrentConfig,
  hkeyDynData
};

enum TRzRegAccessKey {
  keyQueryValue,
  keySetValue,
  keyCreateSubKey,
  keyEnumerateSubKeys,
  keyNotify,
  keyCreateLink,
  keyRead,
  keyWrite,
  keyExecute,
  keyAllAccess
};

// A set of access keys; its access mask is the bitwise OR of its members' masks.
class TRzRegAccess {
 public:
  TRzRegAccess() = default;
  TRzRegAccess(std::initializer_list<TRzRegAccessKey> keys) {
    for (const TRzRegAccessKey key : keys) Include(key);
  }
  void Include(TRzRegAccessKey key) { bits_ |= 1u << key; }
  void Exclude(TRzRegAccessKey key) { bits_ &= ~(1u << key); }
  bool Contains(TRzRegAccessKey key) const { return (bits_ & (1u << key)) != 0; }
  bool operator==(const TRzRegAccess&) const = default;

  // The registry access mask of the set.
  std::uint32_t Mask() const;

 private:
  std::uint32_t bits_ = 0;
};

enum TRzSpecialFolder {
  sfNone,
  sfUserAppDataRoaming,
  sfUserAppDataLocal,
  sfUserDocuments,
  sfProgramData
};

// Recorded only: the file is read and written as ANSI text whatever the value.
enum TRzIniFileEncoding { feDefault, feUTF8, feUnicode };

// Design-time information; it has no effect.
struct TRzAboutInfo {};

// A settings store over a registry key: each section is a subkey of the key, each key a string
// value in it. Raises ERegistryException when the key cannot be opened or a value cannot be read
// or written, and "Invalid data type for '%s'" for a value that is not a string.
class TRegistryIniFile : public TCustomIniFile {
 public:
  // Starts at HKEY_CURRENT_USER; no key is open yet.
  TRegistryIniFile(const AnsiString& fileName, std::uint32_t access);
  ~TRegistryIniFile() override;

  void SetRootKey(std::uintptr_t rootKey) { rootKey_ = rootKey; }
  // Opens the key `path` below the root key, creating it when it is missing.
  void OpenKey(const AnsiString& path);

  AnsiString ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                       const AnsiString& DefaultValue) override;
  void WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                  const AnsiString& NewValue) override;
  // Every write is stored at once; there is nothing to flush.
  void WriteWholeFile() override {}

 private:
  std::uint32_t access_;
  std::uintptr_t rootKey_;
  std::uintptr_t key_ = 0;
};

// The settings component. A property change only records the value and marks the storage
// stale; the first read or write after it resolves the path and builds the storage (in INI-file
// mode this is when the file is read). Every write in INI-file mode rewrites the whole file.
// One instance must not be used from two threads at the same time.
class TRzRegIniFile {
 public:
  TRzRegIniFile();
  virtual ~TRzRegIniFile();
  TRzRegIniFile(const TRzRegIniFile&) = delete;
  TRzRegIniFile& operator=(const TRzRegIniFile&) = delete;

  // The setters mark the storage stale only when the value changes.
  virtual void SetPath(const AnsiString& value);
  virtual void SetPathType(TRzPathType value);
  virtual void SetRegKey(TRzRegKey value);
  virtual void SetRegAccess(const TRzRegAccess& value);
  virtual void SetSpecialFolder(TRzSpecialFolder value);
  virtual void SetFileEncoding(TRzIniFileEncoding value);

  // INI-file mode: the settings file's path (after the first access, the resolved one);
  // registry mode: the key's path.
  const AnsiString& Path() const { return FPath; }
  TRzPathType PathType() const { return FPathType; }
  TRzRegKey RegKey() const { return FRegKey; }
  const TRzRegAccess& RegAccess() const { return FRegAccess; }
  TRzSpecialFolder SpecialFolder() const { return FSpecialFolder; }
  TRzIniFileEncoding FileEncoding() const { return FFileEncoding; }
  TRzAboutInfo About;

  // The value of the key, or `DefaultValue` when the section or the key is missing.
  AnsiString ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                       const AnsiString& DefaultValue);
  // Sets the value; in INI-file mode the whole file is then rewritten. When the rewrite fails
  // (EFCreateError "Cannot create file "%s". %s") the file is unchanged and the new value stays
  // in memory for later reads and the next write.
  void WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                  const AnsiString& NewValue);
  // INI-file mode: rewrites the whole file; registry mode: nothing.
  void FlushStorage();
  // Builds the storage when it is stale. When this raises, the storage stays stale and the
  // next read or write starts again.
  void PrepareStorage();

  bool StorageStale() const { return FStorageStale; }

 private:
  AnsiString FPath;
  TRzPathType FPathType = ptIniFile;
  TRzSpecialFolder FSpecialFolder = sfNone;
  TRzRegKey FRegKey = hkeyCurrentUser;
  TRzRegAccess FRegAccess{keyAllAccess};
  TRzIniFileEncoding FFileEncoding = feDefault;

  std::unique_ptr<TMemIniFile> FIniStore;
  std::unique_ptr<TRegistryIniFile> FRegStore;
  bool FStorageStale = true;
};

// Path rules of the settings component, on ANSI paths whose directories are separated by "\"
// or "/" (a drive's ":" ends a directory part too); double-byte characters are kept whole.
namespace settings {
// The directory part with its trailing separator, or empty.
AnsiString ExtractFilePath(const AnsiString& path);
AnsiString ExtractFileName(const AnsiString& path);
// The text from the file name's last "." on replaced by `extension`; appended when there is none.
AnsiString ChangeFileExt(const AnsiString& path, const AnsiString& extension);
}  // namespace settings
