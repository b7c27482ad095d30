#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "os/CodePage.h"
#include "os/Files.h"
#include "support/Exceptions.h"
#include "support/WideFileStreams.h"
#include "tests/support/TempDir.h"

namespace {

std::unique_ptr<TTntMemoryStream> StreamOf(const AnsiString& bytes) {
  auto stream = std::make_unique<TTntMemoryStream>();
  stream->Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return stream;
}

TEST(WideFileStreams, SaveToFileWritesWholeContentWhateverThePosition) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"out.bin"), "a much longer old content");
  TTntMemoryStream stream;
  stream.Write("new\0bytes", 9);
  ASSERT_EQ(stream.Position(), 9);
  stream.SaveToFile(dir.Path(u"out.bin"));
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"out.bin")), AnsiString("new\0bytes", 9));
  EXPECT_EQ(stream.Position(), 9);
}

TEST(WideFileStreams, SavingAnEmptyStreamTruncates) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"x.txt"), "old");
  TTntMemoryStream().SaveToFile(dir.Path(u"x.txt"));
  EXPECT_EQ(std::filesystem::file_size(dir.FsPath(u"x.txt")), 0u);
  TTntMemoryStream().SaveToFile(dir.Path(u"new.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir.FsPath(u"new.txt")));
}

TEST(WideFileStreams, NameOutsideTheAnsiCodePageIsCreatedExactly) {
  TempDir dir;
  // Devanagari and an emoji (a surrogate pair): neither exists in code page 936.
  const WideString name = u"\u0928\u092E\u0938\u094D\u0924\u0947-\U0001F600.txt";
  ASSERT_NE(os::AnsiToWide(os::WideToAnsi(name)), name);
  StreamOf("payload")->SaveToFile(dir.Path(name));
  EXPECT_EQ(ReadWholeFile(dir.FsPath(name)), "payload");
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.FsPath(u""))) {
    EXPECT_EQ(entry.path().filename().u16string(), name);
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST(WideFileStreams, SavingIntoAMissingDirectoryNamesTheFullPath) {
  TempDir dir;
  const WideString name = dir.Path(u"missing") + u"\\file.txt";
  try {
    StreamOf("x")->SaveToFile(name);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    const AnsiString full = os::WideToAnsi(os::ExpandFileName(name));
    const AnsiString expected = "Cannot create file \"" + full + "\". ";
    EXPECT_EQ(e.Message().substr(0, expected.size()), expected) << e.Message();
    EXPECT_GT(e.Message().size(), expected.size()) << "system error text missing";
  }
}

TEST(WideFileStreams, RelativeNameInMessageIsExpanded) {
  const AnsiString message = CannotOpenFileMessage(u"no-such-dir\\f.txt", 2);
  const AnsiString full = os::WideToAnsi(os::ExpandFileName(u"no-such-dir\\f.txt"));
  EXPECT_NE(full, "no-such-dir\\f.txt");
  EXPECT_EQ(message.rfind("Cannot open file \"" + full + "\". ", 0), 0u) << message;
}

TEST(WideFileStreams, OpeningAMissingFileRaisesOpenError) {
  TempDir dir;
  for (std::uint16_t mode : {fmOpenRead, fmOpenWrite, std::uint16_t(fmOpenReadWrite | fmShareDenyNone)}) {
    EXPECT_THROW(TTntFileStream(dir.Path(u"none.txt"), mode), EFOpenError) << mode;
  }
}

TEST(WideFileStreams, FileStreamReadsWritesSeeksAndSizes) {
  TempDir dir;
  {
    TTntFileStream file(dir.Path(u"f.bin"), fmCreate);
    EXPECT_EQ(file.Position(), 0);
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.Size(), 10);
    file.SetSize(4);
    EXPECT_EQ(file.Size(), 4);
  }
  TTntFileStream file(dir.Path(u"f.bin"), fmOpenRead | fmShareDenyWrite);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, 16), 4);
  EXPECT_STREQ(buffer, "0123");
  EXPECT_EQ(file.Seek(1, TSeekOrigin::soBeginning), 1);
  EXPECT_EQ(file.Read(buffer, 2), 2);
  EXPECT_EQ(file.Write("zz", 2), 0) << "a read-only handle refuses writes with 0 bytes";
}

TEST(WideFileStreams, AnExclusiveOpenerKeepsOthersOut) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"held.txt"), "old");
  {
    TTntFileStream holder(dir.Path(u"held.txt"), fmOpenReadWrite | fmShareExclusive);
    EXPECT_THROW(TTntFileStream(dir.Path(u"held.txt"), fmOpenRead | fmShareDenyWrite),
                 EFOpenError);
    EXPECT_THROW(StreamOf("new")->SaveToFile(dir.Path(u"held.txt")), EFCreateError);
  }
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"held.txt")), "old");
}

TEST(WideFileStreams, ReplaceFileAtomicallyReplacesAndLeavesNoTemporary) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"a.ini"), "old content that is longer");
  ReplaceFileAtomically(dir.Path(u"a.ini"), "new", 3);
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"a.ini")), "new");
  ReplaceFileAtomically(dir.Path(u"b.ini"), "", 0);
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"b.ini")), "");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.FsPath(u"")))
    ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST(WideFileStreams, ReplaceFileAtomicallyLeavesTheOldFileOnFailure) {
  TempDir dir;
  WriteWholeFile(dir.FsPath(u"ro.ini"), "keep me");
  std::filesystem::permissions(dir.FsPath(u"ro.ini"), std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::group_read |
                                                          std::filesystem::perms::others_read);
  EXPECT_THROW(ReplaceFileAtomically(dir.Path(u"ro.ini"), "new", 3), EFCreateError);
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"ro.ini")), "keep me");
  {
    TTntFileStream holder(dir.Path(u"held.ini"), fmCreate);
    holder.Write("held", 4);
    EXPECT_THROW(ReplaceFileAtomically(dir.Path(u"held.ini"), "new", 3), EFCreateError);
  }
  EXPECT_EQ(ReadWholeFile(dir.FsPath(u"held.ini")), "held");
  EXPECT_THROW(ReplaceFileAtomically(dir.Path(u"nodir") + u"\\x.ini", "new", 3), EFCreateError);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.FsPath(u"")))
    ++entries;
  EXPECT_EQ(entries, 2u) << "a temporary file was left behind";
}

}  // namespace
