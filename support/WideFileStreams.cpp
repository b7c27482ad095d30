#include "support/WideFileStreams.h"

#include <atomic>

#include "os/CodePage.h"
#include "os/Process.h"
#include "support/Exceptions.h"

namespace {

AnsiString FileMessage(const char* pattern, const WideString& fileName, std::uint32_t code) {
  return FormatMessageText(pattern, {os::WideToAnsi(os::ExpandFileName(fileName)),
                                     os::ErrorText(code)});
}

std::uint32_t AccessOf(std::uint16_t mode) {
  switch (mode & 3) {
    case 0:
      return os::kGenericRead;
    case 1:
      return os::kGenericWrite;
    default:
      return os::kGenericRead | os::kGenericWrite;
  }
}

std::uint32_t ShareOf(std::uint16_t mode) {
  switch ((mode >> 4) & 0xF) {
    case 2:
      return os::kShareRead;
    case 3:
      return os::kShareWrite;
    case 4:
      return os::kShareRead | os::kShareWrite;
    default:
      return 0;
  }
}

WideString HexText(std::uint64_t value) {
  WideString text;
  do {
    text.insert(text.begin(), u"0123456789abcdef"[value & 15]);
    value >>= 4;
  } while (value != 0);
  return text;
}

}  // namespace

AnsiString CannotCreateFileMessage(const WideString& fileName, std::uint32_t errorCode) {
  return FileMessage("Cannot create file \"%s\". %s", fileName, errorCode);
}

AnsiString CannotOpenFileMessage(const WideString& fileName, std::uint32_t errorCode) {
  return FileMessage("Cannot open file \"%s\". %s", fileName, errorCode);
}

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = os::ReadFile(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

std::int64_t THandleStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t n = os::WriteFile(handle_, buffer, count);
  return n < 0 ? 0 : n;
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return os::SeekFile(handle_, offset, static_cast<os::SeekOrigin>(origin));
}

void THandleStream::SetSize(std::int64_t size) {
  Seek(size, TSeekOrigin::soBeginning);
  if (!os::SetEndOfFile(handle_)) {
    const std::uint32_t code = os::LastError();
    throw EOSError(os::ErrorText(code), code);
  }
}

TTntFileStream::TTntFileStream(const WideString& fileName, std::uint16_t mode)
    : THandleStream(os::kInvalidFile) {
  if (mode == fmCreate) {
    handle_ = os::OpenOrCreateFile(fileName, os::kGenericRead | os::kGenericWrite, 0, os::kCreateAlways);
    if (handle_ == os::kInvalidFile) {
      throw EFCreateError(CannotCreateFileMessage(fileName, os::LastError()));
    }
  } else {
    handle_ = os::OpenOrCreateFile(fileName, AccessOf(mode), ShareOf(mode), os::kOpenExisting);
    if (handle_ == os::kInvalidFile) {
      throw EFOpenError(CannotOpenFileMessage(fileName, os::LastError()));
    }
  }
}

TTntFileStream::~TTntFileStream() {
  if (handle_ >= 0) os::CloseFile(handle_);
}

void TTntMemoryStream::SaveToFile(const WideString& fileName) const {
  TTntFileStream file(fileName, fmCreate);
  if (Size() > 0) file.WriteBuffer(Memory(), Size());
}

void ReplaceFileAtomically(const WideString& target, const void* data, std::int64_t size) {
  static std::atomic<std::uint32_t> counter{0};
  WideString temporary;
  os::FileHandle file = os::kInvalidFile;
  // A fresh name beside the target; kCreateNew never overwrites someone else's file.
  for (int attempt = 0; attempt < 16 && file == os::kInvalidFile; ++attempt) {
    const std::uint64_t stamp = (static_cast<std::uint64_t>(os::CurrentThreadId()) << 32) ^
                                (static_cast<std::uint64_t>(os::LocalNow() * 86400000.0)) ^
                                counter.fetch_add(1);
    temporary = target + u"." + HexText(stamp) + u".tmp";
    file = os::OpenOrCreateFile(temporary, os::kGenericRead | os::kGenericWrite, 0, os::kCreateNew);
  }
  if (file == os::kInvalidFile) throw EFCreateError(CannotCreateFileMessage(target, os::LastError()));

  const bool written = size <= 0 || os::WriteFile(file, data, size) == size;
  const bool flushed = written && os::FlushFile(file);
  os::CloseFile(file);
  if (!written || !flushed) {
    os::RemoveFile(temporary);
    throw EWriteError("Stream write error");
  }
  if (!os::ReplaceFileWith(target, temporary)) {
    const std::uint32_t code = os::LastError();
    os::RemoveFile(temporary);
    throw EFCreateError(CannotCreateFileMessage(target, code));
  }
}
