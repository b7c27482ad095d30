#include "tests/support/ChildProcess.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

std::optional<int> RunChildProcess(const std::filesystem::path& program,
                                   const std::filesystem::path& workingDirectory,
                                   double timeoutSeconds) {
#ifdef _WIN32
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, workingDirectory.wstring().c_str(), &startup, &process)) {
    return std::nullopt;
  }
  CloseHandle(process.hThread);
  std::optional<int> result;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds * 1000)) ==
      WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result = static_cast<int>(code);
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  CloseHandle(process.hProcess);
  return result;
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  const std::string path = program.string();
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return std::nullopt;
  // A blocking wait on a thread of its own, so the time limit needs no polling.
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  int status = 0;
  std::thread waiter([&] {
    int s = 0;
    waitpid(pid, &s, 0);
    std::lock_guard<std::mutex> lock(mutex);
    status = s;
    done = true;
    ended.notify_all();
  });
  bool inTime = false;
  {
    std::unique_lock<std::mutex> lock(mutex);
    inTime = ended.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return done; });
  }
  if (!inTime) kill(pid, SIGKILL);
  waiter.join();
  if (!inTime) return std::nullopt;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
#endif
}
