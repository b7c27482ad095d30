#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "os/CodePage.h"
#include "os/Files.h"
#include "os/Process.h"
#include "os/Registry.h"
#include "settings/RzCommon.h"
#include "support/Exceptions.h"
#include "support/ProgramTitle.h"
#include "tests/support/TempDir.h"

namespace {

AnsiString A(const WideString& wide) { return os::WideToAnsi(wide); }

// A program path (either separator) as a path of the file system.
std::filesystem::path FsOf(const AnsiString& path) {
  WideString wide = os::AnsiToWide(path);
#ifndef _WIN32
  for (char16_t& c : wide) {
    if (c == u'\\') c = u'/';
  }
#endif
  return std::filesystem::path(wide);
}

std::set<WideString> Entries(const TempDir& dir) {
  std::set<WideString> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.FsPath(u""))) {
    names.insert(entry.path().filename().u16string());
  }
  return names;
}

AnsiString UniqueName(const char* prefix) {
  return prefix + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// Removes the write fault when the test ends, also when it fails.
struct WriteFault {
  explicit WriteFault(os::WriteFaultHook hook) { os::SetWriteFaultHook(hook); }
  ~WriteFault() { os::SetWriteFaultHook(nullptr); }
};

TEST(TRzRegIniFile, MissingFileReadsDefaultAndFirstWriteCreatesThreeLines) {
  TempDir dir;
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"TakTak.ini")));
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")), "<missing>");
  ini.WriteValue("version", "CurrentVersion", "4.1.7");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")), "[version]\r\nCurrentVersion=4.1.7\r\n\r\n");
  EXPECT_EQ(Entries(dir), std::set<WideString>{u"TakTak.ini"});
}

TEST(TRzRegIniFile, WriteKeepsOtherSectionsInOrderAndDropsComments) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"TakTak.ini"),
                 "orphan=1\r\n[Window]\r\n; size\r\nWidth = 800\r\n\r\n[Recent]\r\nFile1=a.txt\n"
                 "junk\r\n");
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"TakTak.ini")));
  ini.WriteValue("version", "CurrentVersion", "2.0");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")),
            "[Window]\r\nWidth=800\r\n\r\n[Recent]\r\nFile1=a.txt\r\njunk\r\n\r\n"
            "[version]\r\nCurrentVersion=2.0\r\n\r\n");
}

TEST(TRzRegIniFile, KeyDifferingInCaseIsReplacedWhileTheHeaderKeepsItsCase) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"TakTak.ini"),
                 "[VERSION]\r\ncurrentversion=1.0\r\nCURRENTVERSION = 1.1 \r\nNext=x\r\n");
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"TakTak.ini")));
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "1.1");
  ini.WriteValue("version", "CurrentVersion", "1.2");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")),
            "[VERSION]\r\ncurrentversion=1.0\r\nCurrentVersion=1.2\r\nNext=x\r\n\r\n");
}

TEST(TRzRegIniFile, FileIsReadOnceUntilAPropertyChanges) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"a.ini"), "[s]\r\nk=1\r\n");
  WriteWholeFile(dir.FsPath(u"b.ini"), "[s]\r\nk=2\r\n");
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"a.ini")));
  EXPECT_EQ(ini.ReadValue("s", "k", ""), "1");
  WriteWholeFile(dir.FsPath(u"a.ini"), "[s]\r\nk=changed\r\n");
  EXPECT_EQ(ini.ReadValue("s", "k", ""), "1");
  ini.SetPath(A(dir.Path(u"b.ini")));
  EXPECT_EQ(ini.ReadValue("s", "k", ""), "2");
}

TEST(TRzRegIniFile, SettersMarkTheStorageStaleOnlyOnARealChange) {
  TempDir dir;
  const AnsiString path = A(dir.Path(u"x.ini"));
  const struct {
    const char* name;
    std::function<void(TRzRegIniFile&)> set;
    bool stale;
  } cases[] = {
      {"same path", [&](TRzRegIniFile& i) { i.SetPath(path); }, false},
      {"longer path", [&](TRzRegIniFile& i) { i.SetPath(path + "x"); }, true},
      {"same length", [&](TRzRegIniFile& i) { i.SetPath(path.substr(0, path.size() - 1) + "j"); },
       true},
      {"same path type", [](TRzRegIniFile& i) { i.SetPathType(ptIniFile); }, false},
      {"other path type", [](TRzRegIniFile& i) { i.SetPathType(ptRegistry); }, true},
      {"same root key", [](TRzRegIniFile& i) { i.SetRegKey(hkeyCurrentUser); }, false},
      {"other root key", [](TRzRegIniFile& i) { i.SetRegKey(hkeyLocalMachine); }, true},
      {"same access", [](TRzRegIniFile& i) { i.SetRegAccess({keyAllAccess}); }, false},
      {"other access", [](TRzRegIniFile& i) { i.SetRegAccess({keyRead}); }, true},
      {"same folder", [](TRzRegIniFile& i) { i.SetSpecialFolder(sfNone); }, false},
      {"other folder", [](TRzRegIniFile& i) { i.SetSpecialFolder(sfUserDocuments); }, true},
      {"same encoding", [](TRzRegIniFile& i) { i.SetFileEncoding(feDefault); }, false},
      {"other encoding", [](TRzRegIniFile& i) { i.SetFileEncoding(feUTF8); }, true},
  };
  for (const auto& c : cases) {
    TRzRegIniFile ini;
    EXPECT_TRUE(ini.StorageStale());
    ini.SetPath(path);
    ini.ReadValue("s", "k", "");
    ASSERT_FALSE(ini.StorageStale()) << c.name;
    c.set(ini);
    EXPECT_EQ(ini.StorageStale(), c.stale) << c.name;
  }
}

TEST(TRzRegIniFile, RegistryAccessMaskIsTheUnionOfItsKeys) {
  EXPECT_EQ(TRzRegAccess{keyAllAccess}.Mask(), 0xF003Fu);
  EXPECT_EQ(TRzRegAccess({keyQueryValue, keySetValue, keyNotify}).Mask(), 0x13u);
  EXPECT_EQ(TRzRegAccess({keyRead, keyWrite}).Mask(), 0x2001Fu);
  EXPECT_EQ(TRzRegAccess().Mask(), 0u);
}

TEST(TRzRegIniFile, PathPartsKeepDoubleByteCharactersWhole) {
  // "\x95\x5C" is one double-byte character whose trail byte is a backslash.
  const struct {
    AnsiString path, dir, name, changed;
  } cases[] = {
      {"C:\\app\\TakTak.exe", "C:\\app\\", "TakTak.exe", "C:\\app\\TakTak.ini"},
      {"dir/sub.d/file", "dir/sub.d/", "file", "dir/sub.d/file.ini"},
      {"a.b.c", "", "a.b.c", "a.b.ini"},
      {"C:x.txt", "C:", "x.txt", "C:x.ini"},
      {"dir\\\x95\x5C.txt", "dir\\", "\x95\x5C.txt", "dir\\\x95\x5C.ini"},
      {"\x95\x5C", "", "\x95\x5C", "\x95\x5C.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(settings::ExtractFilePath(c.path), c.dir) << c.path;
    EXPECT_EQ(settings::ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(settings::ChangeFileExt(c.path, ".ini"), c.changed) << c.path;
  }
}

TEST(TRzRegIniFile, PathIsResolvedAgainstTheExecutable) {
  TempDir dir;
  const AnsiString exe = A(os::ExecutablePath());
  const AnsiString exeDir = exe.substr(0, exe.find_last_of('\\') + 1);
  const AnsiString exeName = exe.substr(exeDir.size());
  const AnsiString exeStem = exeName.substr(0, exeName.rfind('.'));
  const AnsiString absolute = A(dir.Path(u"keep.txt"));
  const struct {
    AnsiString path, resolved;
  } cases[] = {
      {"", exeDir + exeStem + ".ini"},
      {"TakTak.ini", exeDir + "TakTak.ini"},
      {"settings.cfg", exeDir + "settings.ini"},
      {"noext", exeDir + "noext.ini"},
      {"a.b.c", exeDir + "a.b.ini"},
      {"sub\\x.txt", "sub\\x.txt"},
      {absolute, absolute},
  };
  for (const auto& c : cases) {
    TRzRegIniFile ini;
    ini.SetPath(c.path);
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", "none"), "none") << c.path;
    EXPECT_EQ(ini.Path(), c.resolved) << c.path;
    EXPECT_FALSE(ini.StorageStale()) << c.path;
  }
}

TEST(TRzRegIniFile, SpecialFolderHoldsTheFileInACreatedSubdirectory) {
  TempDir dir;
#ifndef _WIN32
  setenv("XDG_CONFIG_HOME", A(dir.Path(u"config")).c_str(), 1);
#endif
  const AnsiString base = os::SpecialFolderPath(26);
  ASSERT_FALSE(base.empty());
  const AnsiString sub = UniqueName("TakTakSettingsTest-");
  {
    TRzRegIniFile ini;
    ini.SetSpecialFolder(sfUserAppDataRoaming);
    ini.SetPath(sub + "\\deeper\\app.cfg");
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", "none"), "none");
    EXPECT_EQ(ini.Path(), base + "\\" + sub + "\\deeper\\app.ini");
    EXPECT_TRUE(std::filesystem::is_directory(FsOf(base + "\\" + sub + "\\deeper")));
    ini.WriteValue("version", "CurrentVersion", "3.0");
    EXPECT_EQ(ReadWholeFile(FsOf(ini.Path())), "[version]\r\nCurrentVersion=3.0\r\n\r\n");
  }
  {
    TRzRegIniFile ini;
    ini.SetSpecialFolder(sfUserAppDataRoaming);
    ini.ReadValue("version", "CurrentVersion", "");
    const AnsiString exeName = settings::ExtractFileName(A(os::ExecutablePath()));
    EXPECT_EQ(ini.Path(), base + "\\" + settings::ChangeFileExt(exeName, ".ini"));
  }
  std::filesystem::remove_all(FsOf(base + "\\" + sub));
#ifndef _WIN32
  unsetenv("XDG_CONFIG_HOME");
#endif
}

#ifndef _WIN32
TEST(TRzRegIniFile, SpecialFoldersFollowTheXdgDirectories) {
  const AnsiString savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  const struct {
    int id;
    const char* variable;
    const char* value;
    const char* home;
    AnsiString expected;
  } cases[] = {
      {26, "XDG_CONFIG_HOME", "/x/conf", "/home/u", "\\x\\conf"},
      {26, "XDG_CONFIG_HOME", "relative", "/home/u", "\\home\\u\\.config"},
      {26, "XDG_CONFIG_HOME", nullptr, "/home/u/", "\\home\\u\\.config"},
      {28, "XDG_DATA_HOME", "/x/data/", "/home/u", "\\x\\data"},
      {28, "XDG_DATA_HOME", nullptr, "/home/u", "\\home\\u\\.local\\share"},
      {5, "XDG_DOCUMENTS_DIR", nullptr, "/home/u", "\\home\\u\\Documents"},
      {5, "XDG_DOCUMENTS_DIR", "/d", "/home/u", "\\d"},
      {35, "XDG_CONFIG_HOME", nullptr, "/home/u", "\\var\\lib"},
      {26, "XDG_CONFIG_HOME", nullptr, nullptr, ""},
      {99, "XDG_CONFIG_HOME", nullptr, "/home/u", ""},
  };
  for (const auto& c : cases) {
    if (c.value)
      setenv(c.variable, c.value, 1);
    else
      unsetenv(c.variable);
    if (c.home)
      setenv("HOME", c.home, 1);
    else
      unsetenv("HOME");
    EXPECT_EQ(os::SpecialFolderPath(c.id), c.expected)
        << c.id << " " << (c.value ? c.value : "-") << " " << (c.home ? c.home : "-");
    unsetenv(c.variable);
  }
  setenv("HOME", savedHome.c_str(), 1);
}

TEST(TRzRegIniFile, MissingSpecialFolderLeavesThePathToTheUsualRules) {
  TempDir dir;
  const AnsiString savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  unsetenv("HOME");
  unsetenv("XDG_DATA_HOME");
  TRzRegIniFile ini;
  ini.SetSpecialFolder(sfUserAppDataLocal);
  ini.SetPath(A(dir.Path(u"plain.txt")));
  ini.ReadValue("s", "k", "");
  setenv("HOME", savedHome.c_str(), 1);
  EXPECT_EQ(ini.Path(), A(dir.Path(u"plain.txt")));
}
#endif

// A cause of a failed rewrite: applied after loading, undone before the retry.
struct WriteBlocker {
  const char* name;
  WideString file;
  std::function<void(const TempDir&)> apply;
  std::function<void(const TempDir&)> undo;
};

TEST(TRzRegIniFile, FailedWriteRaisesCreateErrorKeepsTheFileAndTheNewValue) {
  os::FileHandle holder = os::kInvalidFile;
  const WriteBlocker cases[] = {
      {"missing directory", u"missing\\TakTak.ini", [](const TempDir&) {},
       [](const TempDir& d) { std::filesystem::create_directory(d.FsPath(u"missing")); }},
      {"read-only file", u"TakTak.ini",
       [](const TempDir& d) {
         std::filesystem::permissions(d.FsPath(u"TakTak.ini"),
                                      std::filesystem::perms::owner_write |
                                          std::filesystem::perms::group_write |
                                          std::filesystem::perms::others_write,
                                      std::filesystem::perm_options::remove);
       },
       [](const TempDir& d) {
         std::filesystem::permissions(d.FsPath(u"TakTak.ini"), std::filesystem::perms::owner_write,
                                      std::filesystem::perm_options::add);
       }},
      {"held open", u"TakTak.ini",
       [&](const TempDir& d) {
         holder = os::OpenOrCreateFile(d.Path(u"TakTak.ini"), os::kGenericRead, os::kShareRead,
                                       os::kOpenExisting);
         ASSERT_NE(holder, os::kInvalidFile);
       },
       [&](const TempDir&) { os::CloseFile(holder); }},
  };
  const AnsiString old = "[other]\r\nx=1\r\n\r\n[version]\r\nCurrentVersion=1.0\r\n\r\n";
  for (const auto& c : cases) {
    TempDir dir;
    const bool exists = c.file == u"TakTak.ini";
    const std::filesystem::path file = FsOf(A(dir.Path(c.file)));
    if (exists) WriteWholeFile(file, old);
    TRzRegIniFile ini;
    ini.SetPath(A(dir.Path(c.file)));
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), exists ? "1.0" : "") << c.name;
    c.apply(dir);
    const std::set<WideString> before = Entries(dir);
    const AnsiString fullName = A(os::ExpandFileName(dir.Path(c.file)));
    try {
      ini.WriteValue("version", "CurrentVersion", "2.0");
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message().rfind("Cannot create file \"" + fullName + "\". ", 0), 0u)
          << c.name << ": " << e.Message();
    }
    EXPECT_EQ(Entries(dir), before) << c.name;
    if (exists) {
      EXPECT_EQ(ReadWholeFile(file), old) << c.name;
    }
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "2.0") << c.name;
    // The next successful write stores what memory holds.
    c.undo(dir);
    ini.WriteValue("other", "y", "2");
    EXPECT_EQ(ReadWholeFile(file),
              exists ? "[other]\r\nx=1\r\ny=2\r\n\r\n[version]\r\nCurrentVersion=2.0\r\n\r\n"
                     : "[version]\r\nCurrentVersion=2.0\r\n\r\n[other]\r\ny=2\r\n\r\n")
        << c.name;
  }
}

TEST(TRzRegIniFile, WriteFailingHalfWayLeavesTheOldFileIntact) {
  TempDir dir;
  const AnsiString old = "[Window]\r\nWidth=800\r\n\r\n[version]\r\nCurrentVersion=1.0\r\n\r\n";
  WriteWholeFile(dir.FsPath(u"TakTak.ini"), old);
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"TakTak.ini")));
  ASSERT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "1.0");
  {
    WriteFault fault([](std::int64_t count) { return count / 2; });
    EXPECT_THROW(ini.WriteValue("version", "CurrentVersion", "2.0"), EWriteError);
  }
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")), old);
  EXPECT_EQ(Entries(dir), std::set<WideString>{u"TakTak.ini"});
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "2.0");
  ini.FlushStorage();
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")),
            "[Window]\r\nWidth=800\r\n\r\n[version]\r\nCurrentVersion=2.0\r\n\r\n");
}

TEST(TRzRegIniFile, UnreadableFileRaisesOpenErrorAndTheNextCallTriesAgain) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"TakTak.ini"), "[version]\r\nCurrentVersion=1.0\r\n");
  TRzRegIniFile ini;
  ini.SetPath(A(dir.Path(u"TakTak.ini")));
  const os::FileHandle holder = os::OpenOrCreateFile(dir.Path(u"TakTak.ini"), os::kGenericWrite,
                                                     os::kShareRead, os::kOpenExisting);
  ASSERT_NE(holder, os::kInvalidFile);
  const AnsiString fullName = A(os::ExpandFileName(dir.Path(u"TakTak.ini")));
  try {
    ini.WriteValue("version", "CurrentVersion", "2.0");
    ADD_FAILURE() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file \"" + fullName + "\". ", 0), 0u) << e.Message();
  }
  EXPECT_TRUE(ini.StorageStale());
  os::CloseFile(holder);
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"TakTak.ini")), "[version]\r\nCurrentVersion=1.0\r\n");
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "1.0");
  EXPECT_FALSE(ini.StorageStale());
}

#ifdef _WIN32
TEST(TRzRegIniFile, RegistryModeStoresStringsUnderTheKey) {
  const AnsiString path = "\\Software\\Temp\\" + UniqueName("TakTakSettingsTest-");
  {
    TRzRegIniFile ini;
    ini.SetPathType(ptRegistry);
    ini.SetPath(path);
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", "none"), "none");
    ini.WriteValue("version", "CurrentVersion", "5.0");
  }
  const os::RegistryKey key = os::CreateRegistryKey(os::kHkeyCurrentUser, path, os::kKeyAllAccess);
  ASSERT_NE(key, 0u);
  ASSERT_TRUE(os::WriteRegistryNumber(key, "version", "Number", 7));
  os::CloseRegistryKey(key);
  {
    TRzRegIniFile ini;
    ini.SetPathType(ptRegistry);
    ini.SetPath(path);
    ini.SetRegAccess({keyRead});
    EXPECT_EQ(ini.ReadValue("VERSION", "currentversion", ""), "5.0");
    EXPECT_EQ(ini.ReadValue("version", "Missing", "d"), "d");
    EXPECT_EQ(ini.ReadValue("nosection", "CurrentVersion", "d"), "d");
    try {
      ini.ReadValue("version", "Number", "");
      ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), "Invalid data type for 'Number'");
    }
  }
  EXPECT_TRUE(os::DeleteRegistryTree(os::kHkeyCurrentUser, path));
}

TEST(TRzRegIniFile, RegistryModeDefaultKeyIsNamedAfterTheProgram) {
  TRzRegIniFile ini;
  ini.SetPathType(ptRegistry);
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", "none"), "none");
  EXPECT_EQ(ini.Path(), "\\Software\\Temp\\" + ProgramTitle());
  EXPECT_TRUE(os::DeleteRegistryTree(os::kHkeyCurrentUser, ini.Path()));
}
#else
TEST(TRzRegIniFile, RegistryModeRaisesARegistryErrorAndStaysStale) {
  TempDir dir;
  TRzRegIniFile ini;
  ini.SetPathType(ptRegistry);
  try {
    ini.ReadValue("version", "CurrentVersion", "");
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "Cannot open registry key \"\\Software\\Temp\\" + ProgramTitle() +
                               "\". This system has no registry");
  }
  EXPECT_TRUE(ini.StorageStale());
  EXPECT_THROW(ini.WriteValue("version", "CurrentVersion", "1"), ERegistryException);
  ini.SetPathType(ptIniFile);
  ini.SetPath(A(dir.Path(u"back.ini")));
  ini.WriteValue("version", "CurrentVersion", "1");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"back.ini")), "[version]\r\nCurrentVersion=1\r\n\r\n");
}
#endif

}  // namespace
