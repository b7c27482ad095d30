// Files named by UTF-16 names, with Windows semantics on every target: access, sharing and
// creation disposition are those of CreateFileW, and a backslash separates directories.
// Calls report failure through their result and leave the error code in LastError().
#pragma once

#include <cstdint>
#include <string>

namespace os {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Desired access (CreateFileW's values).
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
// Share mode.
inline constexpr std::uint32_t kShareRead = 1;
inline constexpr std::uint32_t kShareWrite = 2;
// Creation disposition.
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;

enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// The error code of the calling thread's last failed call of this service.
std::uint32_t LastError();

// Opens or creates a file. Returns kInvalidFile on failure. Another open of the same file that
// the share mode does not allow fails with a sharing violation, within this process too.
FileHandle OpenOrCreateFile(const std::u16string& name, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition);

// Reads or writes at the file position; the number of bytes moved, or -1 on failure.
std::int64_t ReadFile(FileHandle file, void* buffer, std::int64_t count);
std::int64_t WriteFile(FileHandle file, const void* buffer, std::int64_t count);

// Moves the file position; the new position, or -1 on failure.
std::int64_t SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin);

// Sets the end of the file at the current position.
bool SetEndOfFile(FileHandle file);

// Flushes the file's data to its storage.
bool FlushFile(FileHandle file);

bool CloseFile(FileHandle file);

// The full path of a name, relative names taken from the current directory; the name itself
// when it cannot be expanded.
std::u16string ExpandFileName(const std::u16string& name);

// Moves `replacement` over `target` in one step: afterwards `target` has the content of
// `replacement`, or, on failure, is unchanged.
bool ReplaceFileWith(const std::u16string& target, const std::u16string& replacement);

bool RemoveFile(const std::u16string& name);

// A fault for tests, in place of a full volume: while a hook is set, every WriteFile asks it how
// many of its `count` bytes may pass; when fewer, WriteFile writes those and then fails with the
// disk-full error. Passing nullptr (the default) removes the fault.
using WriteFaultHook = std::int64_t (*)(std::int64_t count);
void SetWriteFaultHook(WriteFaultHook hook);

// True when a file (not a directory) of that name exists.
bool FileExists(const std::u16string& name);
bool DirectoryExists(const std::u16string& name);
bool MakeDirectory(const std::u16string& name);

// The system's text for an error code of this service, in the ANSI code page, without a
// trailing line break.
std::string ErrorText(std::uint32_t code);

}  // namespace os
