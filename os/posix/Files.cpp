#include "os/Files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "os/posix/PosixPaths.h"

namespace os {
namespace {

thread_local std::uint32_t lastError = 0;
std::atomic<WriteFaultHook> writeFault{nullptr};

std::string NativeName(const std::u16string& name) { return posix::NativePath(name); }

bool Fail(int error) {
  lastError = static_cast<std::uint32_t>(error);
  return false;
}

// A file without any write permission bit stands for a file with the read-only attribute: it
// refuses writers, root included, as it does on Windows.
bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

// True when another opener holds the file in a way that forbids replacing it.
bool IsHeldOpen(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

}  // namespace

std::uint32_t LastError() { return lastError; }

FileHandle OpenOrCreateFile(const std::u16string& name, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition) {
  const std::string path = NativeName(name);
  int flags = O_CLOEXEC;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & kGenericWrite) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (disposition == kCreateAlways) flags |= O_CREAT;
  if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
  if (write && IsReadOnlyFile(path)) {
    Fail(EACCES);
    return kInvalidFile;
  }
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    Fail(errno);
    return kInvalidFile;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    Fail(EISDIR);
    return kInvalidFile;
  }
  // Windows sharing, modelled with advisory locks: an opener that lets others write, or only
  // reads while letting others read, shares the lock; every other opener holds it alone.
  const bool sharedLock = (share & kShareWrite) != 0 || (!write && (share & kShareRead) != 0);
  if (flock(fd, (sharedLock ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    close(fd);
    Fail(errno == EWOULDBLOCK ? EBUSY : errno);
    return kInvalidFile;
  }
  // Truncation waits until the lock is held, so a refused create leaves the file as it was.
  if (disposition == kCreateAlways && ftruncate(fd, 0) != 0) {
    const int error = errno;
    close(fd);
    Fail(error);
    return kInvalidFile;
  }
  return fd;
}

std::int64_t ReadFile(FileHandle file, void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (total < count) {
    const ssize_t n =
        read(static_cast<int>(file), bytes + total, static_cast<size_t>(count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
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
    const ssize_t n =
        write(static_cast<int>(file), bytes + total, static_cast<size_t>(count - total));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return total > 0 ? total : -1;
    }
    total += n;
  }
  if (total < requested) {
    Fail(ENOSPC);
    return total > 0 ? total : -1;
  }
  return total;
}

void SetWriteFaultHook(WriteFaultHook hook) { writeFault.store(hook); }

std::int64_t SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::kBegin     ? SEEK_SET
                     : origin == SeekOrigin::kCurrent ? SEEK_CUR
                                                      : SEEK_END;
  const off_t pos = lseek(static_cast<int>(file), static_cast<off_t>(offset), whence);
  if (pos < 0) {
    Fail(errno);
    return -1;
  }
  return pos;
}

bool SetEndOfFile(FileHandle file) {
  const off_t pos = lseek(static_cast<int>(file), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(static_cast<int>(file), pos) != 0) return Fail(errno);
  return true;
}

bool FlushFile(FileHandle file) {
  if (fsync(static_cast<int>(file)) != 0) return Fail(errno);
  return true;
}

bool CloseFile(FileHandle file) {
  if (close(static_cast<int>(file)) != 0) return Fail(errno);
  return true;
}

std::u16string ExpandFileName(const std::u16string& name) {
  std::string path = NativeName(name);
  if (path.empty()) return name;
  if (path[0] != '/') {
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return name;
    path = std::string(cwd.data()) + "/" + path;
  }
  // Collapse ".", ".." and repeated separators as the full-path expansion on Windows does.
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full;
  for (const std::string& part : parts) {
    full += '/';
    full += part;
  }
  if (full.empty()) full.push_back('/');
  return posix::WidePath(full);
}

bool ReplaceFileWith(const std::u16string& target, const std::u16string& replacement) {
  const std::string targetPath = NativeName(target);
  if (IsReadOnlyFile(targetPath)) return Fail(EACCES);
  if (IsHeldOpen(targetPath)) return Fail(EBUSY);
  if (rename(NativeName(replacement).c_str(), targetPath.c_str()) != 0) {
    return Fail(errno);
  }
  return true;
}

bool RemoveFile(const std::u16string& name) {
  if (unlink(NativeName(name).c_str()) != 0) return Fail(errno);
  return true;
}

bool FileExists(const std::u16string& name) {
  struct stat st {};
  return stat(NativeName(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::u16string& name) {
  struct stat st {};
  return stat(NativeName(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::u16string& name) {
  if (mkdir(NativeName(name).c_str(), 0777) != 0) return Fail(errno);
  return true;
}

std::string ErrorText(std::uint32_t code) {
  char buffer[256];
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text;
}

}  // namespace os
