#include "os/Files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "os/CodePage.h"

namespace os {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::atomic<WriteFaultHook> writeFault{nullptr};

}  // namespace

std::uint32_t LastError() { return GetLastError(); }

FileHandle OpenOrCreateFile(const std::u16string& name, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition) {
  HANDLE h = CreateFileW(W(name), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
  return reinterpret_cast<FileHandle>(h);
}

std::int64_t ReadFile(FileHandle file, void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (total < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count - total, 1 << 30));
    DWORD n = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(file), bytes + total, chunk, &n, nullptr)) {
      return total > 0 ? total : -1;
    }
    if (n == 0) break;
    total += n;
  }
  return total;
}

std::int64_t WriteFile(FileHandle file, const void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  const auto* bytes = static_cast<const char*>(buffer);
  const std::int64_t requested = count;
  if (const WriteFaultHook hook = writeFault.load()) {
    count = std::clamp<std::int64_t>(hook(count), 0, count);
  }
  while (total < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count - total, 1 << 30));
    DWORD n = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(file), bytes + total, chunk, &n, nullptr)) {
      return total > 0 ? total : -1;
    }
    if (n == 0) break;
    total += n;
  }
  if (total < requested && total == count) {
    SetLastError(ERROR_DISK_FULL);
    return total > 0 ? total : -1;
  }
  return total;
}

void SetWriteFaultHook(WriteFaultHook hook) { writeFault.store(hook); }

std::int64_t SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER pos;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), distance, &pos,
                        static_cast<DWORD>(origin))) {
    return -1;
  }
  return pos.QuadPart;
}

bool SetEndOfFile(FileHandle file) { return ::SetEndOfFile(reinterpret_cast<HANDLE>(file)); }

bool FlushFile(FileHandle file) { return FlushFileBuffers(reinterpret_cast<HANDLE>(file)); }

bool CloseFile(FileHandle file) { return CloseHandle(reinterpret_cast<HANDLE>(file)); }

std::u16string ExpandFileName(const std::u16string& name) {
  if (name.empty()) return name;
  const DWORD n = GetFullPathNameW(W(name), 0, nullptr, nullptr);
  if (n == 0) return name;
  std::u16string full(n, u'\0');
  const DWORD m =
      GetFullPathNameW(W(name), n, reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (m == 0 || m >= n) return name;
  full.resize(m);
  return full;
}

bool ReplaceFileWith(const std::u16string& target, const std::u16string& replacement) {
  // A read-only target refuses to be replaced, as it refuses to be written.
  const DWORD attributes = GetFileAttributesW(W(target));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return MoveFileExW(W(replacement), W(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool RemoveFile(const std::u16string& name) { return DeleteFileW(W(name)); }

bool FileExists(const std::u16string& name) {
  const DWORD attributes = GetFileAttributesW(W(name));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::u16string& name) {
  const DWORD attributes = GetFileAttributesW(W(name));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectory(const std::u16string& name) { return CreateDirectoryW(W(name), nullptr); }

std::string ErrorText(std::uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string wide;
  if (n > 0 && text != nullptr) wide.assign(reinterpret_cast<char16_t*>(text), n);
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == u'\r' || wide.back() == u'\n' || wide.back() == u' ')) {
    wide.pop_back();
  }
  return WideToAnsi(wide);
}

}  // namespace os
