// A scratch directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>

#include "support/Strings.h"

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path with a trailing separator, and the path of a name inside it.
  WideString Dir() const;
  WideString Path(const WideString& name) const { return Dir() + name; }
  std::filesystem::path FsPath(const WideString& name) const { return root_ / name; }

 private:
  std::filesystem::path root_;
};

// The whole content of a file, or "<missing>" when it cannot be read.
AnsiString ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const AnsiString& bytes);
