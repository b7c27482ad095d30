#include "tests/support/TempDir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "taktak-test-" << stamp << "-" << counter++;
  root_ = std::filesystem::temp_directory_path() / name.str();
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Read-only files left by a test must not keep the directory alive.
  for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(root_, ignored);
}

WideString TempDir::Dir() const {
  const std::u16string dir = root_.u16string();
#ifdef _WIN32
  return dir + u"\\";
#else
  return dir + u"/";
#endif
}

AnsiString ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteWholeFile(const std::filesystem::path& path, const AnsiString& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
