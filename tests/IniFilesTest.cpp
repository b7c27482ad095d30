#include <gtest/gtest.h>

#include <filesystem>

#include "os/CodePage.h"
#include "os/Files.h"
#include "settings/IniFiles.h"
#include "support/Exceptions.h"
#include "tests/support/TempDir.h"

namespace {

TEST(THashedStringList, HashRotatesLeftByTwoAndXorsEachByte) {
  const struct {
    AnsiString text;
    std::uint32_t hash;
  } cases[] = {
      {"", 0},
      {"A", 0x41},
      {"AB", 0x146},
      {"CURRENTVERSION", 0x49eb3723},
      // The high bits come round to the low end instead of falling off.
      {AnsiString(20, '\xff'), 0x3333},
  };
  for (const auto& c : cases) EXPECT_EQ(HashOfText(c.text), c.hash) << c.text;
}

TEST(THashedStringList, LooksUpWithoutLetterCaseAndFindsTheLast) {
  THashedStringList list;
  for (const char* line : {"Alpha", "beta=1", "BETA=2", "gamma", "Gamma=3", "alpha"}) {
    list.Add(line);
  }
  EXPECT_EQ(list.IndexOf("ALPHA"), 5);
  EXPECT_EQ(list.IndexOf("beta=1"), 1);
  EXPECT_EQ(list.IndexOf("delta"), -1);
  EXPECT_EQ(list.IndexOfName("Beta"), 2);
  // A line without "=" has no name.
  EXPECT_EQ(list.IndexOfName("gamma"), 4);
  EXPECT_EQ(list.IndexOfName("alpha"), -1);
}

TEST(THashedStringList, TablesFollowEveryChange) {
  THashedStringList list;
  list.Add("a=1");
  list.Add("b=2");
  ASSERT_EQ(list.IndexOfName("b"), 1);
  list.Put(1, "c=2");
  EXPECT_EQ(list.IndexOfName("b"), -1);
  EXPECT_EQ(list.IndexOfName("c"), 1);
  list.Add("A=3");
  EXPECT_EQ(list.IndexOfName("a"), 2);
  list.Delete(0);
  EXPECT_EQ(list.IndexOf("c=2"), 0);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOfName("a"), -1);
  EXPECT_EQ(list.IndexOfName("A"), 1);
}

TEST(THashedStringList, UpperCasingLeavesDoubleByteCharactersAlone) {
  THashedStringList list;
  // "\x81\x61" is one double-byte character whose trail byte happens to be "a".
  list.Add("\x81\x61=1");
  EXPECT_EQ(list.IndexOfName("\x81\x61"), 0);
  EXPECT_EQ(list.IndexOfName("\x81\x41"), -1);
}

TEST(THashedStringList, ManyEntriesStayFindable) {
  THashedStringList list;
  for (int i = 0; i < 2000; ++i) list.Add("Key" + std::to_string(i) + "=" + std::to_string(i));
  for (int i = 0; i < 2000; i += 97) {
    EXPECT_EQ(list.IndexOfName("KEY" + std::to_string(i)), i);
  }
  EXPECT_EQ(list.IndexOfName("Key2000"), -1);
}

TEST(TMemIniFile, ReadsValuesByTheFileFormat) {
  const struct {
    const char* name;
    AnsiString text;
    AnsiString section, key, expected;
  } cases[] = {
      {"plain", "[version]\r\nCurrentVersion=1.2\r\n", "version", "CurrentVersion", "1.2"},
      {"letter case", "[VerSion]\r\ncurrentversion=1.2\r\n", "version", "CurrentVersion", "1.2"},
      {"blanks", "  [ version ]  \r\n\t CurrentVersion \t=\t 1.2 \t\r\n", "version",
       "CurrentVersion", "1.2"},
      {"value with =", "[s]\r\nk=a=b = c\r\n", "s", "k", "a=b = c"},
      {"empty value", "[s]\r\nk=\r\n", "s", "k", ""},
      {"last key", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "2"},
      {"last section", "[s]\r\nk=1\r\n[S]\r\nother=2\r\n", "s", "k", "<default>"},
      {"missing key", "[s]\r\nother=1\r\n", "s", "k", "<default>"},
      {"missing section", "[t]\r\nk=1\r\n", "s", "k", "<default>"},
      {"before first header", "k=0\r\n[s]\r\n", "s", "k", "<default>"},
      {"comment", "[s]\r\n;k=1\r\n", "s", "k", "<default>"},
      {"bare line", "[s]\r\nk\r\n", "s", "k", "<default>"},
      {"lone LF and CR", "[s]\nk=1\r[t]\nk=2", "t", "k", "2"},
      {"NUL ends the text", AnsiString("[s]\r\nk=1\r\n\0k=2\r\n", 16), "s", "k", "1"},
      {"empty header", "[]\r\nk=1\r\n", "", "k", "1"},
      {"byte-order mark", "\xEF\xBB\xBF[s]\r\nk=1\r\n", "s", "k", "<default>"},
      {"double-byte key", "[s]\r\n\xB0\xE6\xB1\xBE=\xD6\xD0\r\n", "s", "\xB0\xE6\xB1\xBE",
       "\xD6\xD0"},
  };
  for (const auto& c : cases) {
    TMemIniFile ini("");
    ini.SetText(c.text);
    EXPECT_EQ(ini.ReadValue(c.section, c.key, "<default>"), c.expected) << c.name;
  }
}

TEST(TMemIniFile, WritesOnlySectionsAndTheirLines) {
  const struct {
    const char* name;
    AnsiString text, expected;
  } cases[] = {
      {"empty", "", ""},
      {"comments and blanks go", "top=1\r\n; note\r\n\r\n[ a ]\r\n  x =  1  \r\n\r\n;c\r\n[b]\r\n",
       "[a]\r\nx=1\r\n\r\n[b]\r\n\r\n"},
      {"order and bare lines kept", "[z]\r\nbare line \r\n[a]\r\nk=v\r\n[z]\r\nq=w",
       "[z]\r\nbare line\r\n\r\n[a]\r\nk=v\r\n\r\n[z]\r\nq=w\r\n\r\n"},
  };
  for (const auto& c : cases) {
    TMemIniFile ini("");
    ini.SetText(c.text);
    EXPECT_EQ(ini.Text(), c.expected) << c.name;
  }
}

TEST(TMemIniFile, WriteReplacesTheFoundLineInPlace) {
  TMemIniFile ini("");
  ini.SetText("[VERSION]\r\na=1\r\ncurrentVERSION=0.9\r\nb=2\r\ncurrentversion=1.0\r\nc=3\r\n");
  ini.WriteValue("version", "CurrentVersion", " 2.0 ");
  // The last of the equal keys is replaced; the header keeps its case, the key takes the new one.
  EXPECT_EQ(ini.Text(),
            "[VERSION]\r\na=1\r\ncurrentVERSION=0.9\r\nb=2\r\nCurrentVersion= 2.0 \r\nc=3\r\n\r\n");
  EXPECT_EQ(ini.ReadValue("Version", "CURRENTVERSION", ""), " 2.0 ");
  // Read back from the file's text the blanks are gone.
  ini.SetText(ini.Text());
  EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", ""), "2.0");
}

TEST(TMemIniFile, WriteAppendsMissingKeysAndSections) {
  TMemIniFile ini("");
  ini.SetText("[first]\r\nx=1\r\n[second]\r\ny=2\r\n");
  ini.WriteValue("second", "z", "3");
  ini.WriteValue("version", "CurrentVersion", "1.0");
  EXPECT_EQ(ini.Text(),
            "[first]\r\nx=1\r\n\r\n[second]\r\ny=2\r\nz=3\r\n\r\n[version]\r\nCurrentVersion=1.0"
            "\r\n\r\n");
}

TEST(TMemIniFile, RefusesTextsThatWouldBreakTheLineStructure) {
  const struct {
    const char* name;
    AnsiString section, key, value;
  } cases[] = {
      {"CR LF in value", "version", "CurrentVersion", "1.0\r\n[other]\r\nx=y"},
      {"LF in section", "ver\nsion", "k", "v"},
      {"CR in key", "s", "k\r", "v"},
      {"NUL in value", "s", "k", AnsiString("a\0b", 3)},
      {"= in key", "s", "a=b", "v"},
  };
  for (const auto& c : cases) {
    TMemIniFile ini("");
    ini.SetText("[s]\r\na=1\r\n");
    EXPECT_THROW(ini.WriteValue(c.section, c.key, c.value), EInvalidOperation) << c.name;
    EXPECT_EQ(ini.Text(), "[s]\r\na=1\r\n\r\n") << c.name;
  }
}

TEST(TMemIniFile, MissingFileEmptyNameAndDirectoryLoadEmpty) {
  TempDir dir;
  std::filesystem::create_directory(dir.FsPath(u"folder.ini"));
  for (const WideString& name : {dir.Path(u"missing.ini"), dir.Path(u"folder.ini"), WideString()}) {
    TMemIniFile ini(os::WideToAnsi(name));
    EXPECT_EQ(ini.SectionNames().Count(), 0u) << os::WideToAnsi(name);
    EXPECT_EQ(ini.ReadValue("version", "CurrentVersion", "d"), "d");
  }
}

TEST(TMemIniFile, LoadsAndWritesTheFile) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"a.ini"), "; kept out\r\n[main]\r\nname = value \r\n");
  TMemIniFile ini(os::WideToAnsi(dir.Path(u"a.ini")));
  EXPECT_EQ(ini.ReadValue("MAIN", "Name", ""), "value");
  ini.WriteValue("main", "other", "2");
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"a.ini")), "; kept out\r\n[main]\r\nname = value \r\n");
  ini.WriteWholeFile();
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"a.ini")), "[main]\r\nname=value\r\nother=2\r\n\r\n");
}

// Text after a zero byte is not read, so a file holding any is not rewritten from what was read;
// zero bytes alone at its end lose nothing.
TEST(TMemIniFile, FileGoingOnAfterAZeroByteIsNotRewritten) {
  TempDir dir;
  const std::string cut("[s]\r\nk=1\r\n\0\r\nother=2\r\n", 22);
  WriteWholeFile(dir.FsPath(u"cut.ini"), cut);
  TMemIniFile ini(os::WideToAnsi(dir.Path(u"cut.ini")));
  EXPECT_EQ(ini.ReadValue("s", "k", ""), "1");
  ini.WriteValue("s", "k", "2");
  EXPECT_THROW(ini.WriteWholeFile(), EFCreateError);
  EXPECT_TRUE(ReadWholeFile(dir.FsPath(u"cut.ini")) == cut);

  WriteWholeFile(dir.FsPath(u"padded.ini"), std::string("[s]\r\nk=1\r\n\0\0", 12));
  TMemIniFile padded(os::WideToAnsi(dir.Path(u"padded.ini")));
  padded.WriteValue("s", "k", "2");
  padded.WriteWholeFile();
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"padded.ini")), "[s]\r\nk=2\r\n\r\n");
}

TEST(TMemIniFile, FileHeldForWritingByAnotherOpenerRaisesOpenError) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"held.ini"), "[s]\r\nk=1\r\n");
  const os::FileHandle holder = os::OpenOrCreateFile(dir.Path(u"held.ini"), os::kGenericWrite,
                                                     os::kShareRead, os::kOpenExisting);
  ASSERT_NE(holder, os::kInvalidFile);
  const AnsiString fullName = os::WideToAnsi(os::ExpandFileName(dir.Path(u"held.ini")));
  try {
    TMemIniFile ini(os::WideToAnsi(dir.Path(u"held.ini")));
    ADD_FAILURE() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file \"" + fullName + "\". ", 0), 0u) << e.Message();
    EXPECT_GT(e.Message().size(), fullName.size() + 21) << e.Message();
  }
  os::CloseFile(holder);
}

}  // namespace
