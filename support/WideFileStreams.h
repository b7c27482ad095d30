// File streams named by UTF-16 names: the name goes unchanged to the operating system, never
// through the ANSI code page.
#pragma once

#include <cstdint>

#include "os/Files.h"
#include "support/Streams.h"
#include "support/Strings.h"

// Open mode that creates a new file or truncates an existing one, read and write, unshared.
inline constexpr std::uint16_t fmCreate = 0xFFFF;
// Access (bits 0-1) and sharing (bits 4-7) of other open modes.
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

// A stream over an operating-system file handle. Reads and writes report a refusal as 0 bytes.
class THandleStream : public TStream {
 public:
  explicit THandleStream(os::FileHandle handle) : handle_(handle) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Raises EOSError when the system refuses the new end of file.
  void SetSize(std::int64_t size) override;
  os::FileHandle Handle() const { return handle_; }

 protected:
  os::FileHandle handle_;
};

// A file stream opened or created by wide name. Raises EFCreateError "Cannot create file "%s". %s"
// or EFOpenError "Cannot open file "%s". %s" (full path, system error text) on failure.
class TTntFileStream : public THandleStream {
 public:
  TTntFileStream(const WideString& fileName, std::uint16_t mode);
  ~TTntFileStream() override;
  TTntFileStream(const TTntFileStream&) = delete;
  TTntFileStream& operator=(const TTntFileStream&) = delete;
};

// A memory stream that can write its content to a file named by a wide string.
class TTntMemoryStream : public TMemoryStream {
 public:
  // Creates or truncates the file and writes every byte, whatever the position, which stays as
  // it was. Raises EFCreateError, or EWriteError "Stream write error" when the file takes fewer
  // bytes than offered.
  void SaveToFile(const WideString& fileName) const;
};

// Writes `data` to the file `target` without ever leaving it truncated or half written: the bytes
// go to a temporary file beside it, which then replaces `target` in one step. On any failure
// `target` is as it was, the temporary file is gone, and EFCreateError (naming `target`) or
// EWriteError is raised.
void ReplaceFileAtomically(const WideString& target, const void* data, std::int64_t size);

// The messages of the stream failures.
AnsiString CannotCreateFileMessage(const WideString& fileName, std::uint32_t errorCode);
AnsiString CannotOpenFileMessage(const WideString& fileName, std::uint32_t errorCode);
