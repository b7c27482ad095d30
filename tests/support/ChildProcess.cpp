#include "tests/support/ChildProcess.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#ifdef _WIN32

struct ChildProcess::State {
  PROCESS_INFORMATION process{};
  bool started = false;
  std::optional<int> exitCode;
};

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::filesystem::path& workingDirectory)
    : state_(std::make_unique<State>()) {
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  state_->started =
      CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, workingDirectory.wstring().c_str(), &startup, &state_->process);
  if (state_->started) CloseHandle(state_->process.hThread);
}

ChildProcess::~ChildProcess() {
  if (!state_->started) return;
  if (!state_->exitCode) Kill();
  CloseHandle(state_->process.hProcess);
}

bool ChildProcess::Started() const { return state_->started; }

std::optional<int> ChildProcess::Wait(double timeoutSeconds) {
  if (!state_->started) return std::nullopt;
  if (state_->exitCode) return state_->exitCode;
  if (WaitForSingleObject(state_->process.hProcess, static_cast<DWORD>(timeoutSeconds * 1000)) ==
      WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(state_->process.hProcess, &code);
    state_->exitCode = static_cast<int>(code);
  }
  return state_->exitCode;
}

namespace {

BOOL CALLBACK CloseWindowOfProcess(HWND window, LPARAM processId) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(processId) && IsWindowVisible(window)) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

void ChildProcess::CloseWindows() {
  if (!state_->started) return;
  EnumWindows(CloseWindowOfProcess, static_cast<LPARAM>(state_->process.dwProcessId));
}

void ChildProcess::Kill() {
  if (!state_->started || state_->exitCode) return;
  TerminateProcess(state_->process.hProcess, 1);
  WaitForSingleObject(state_->process.hProcess, INFINITE);
  state_->exitCode = 1;
}

#else

struct ChildProcess::State {
  pid_t pid = 0;
  bool started = false;
  // A blocking waitpid runs on a thread of its own, so waits with a time limit need no polling.
  std::thread waiter;
  std::mutex mutex;
  std::condition_variable ended;
  std::optional<int> exitCode;
};

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::filesystem::path& workingDirectory)
    : state_(std::make_unique<State>()) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  const std::string path = program.string();
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  // The child starts with no signal blocked, whatever this process blocks (the application
  // blocks its close signals for the thread that waits for them).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  state_->started =
      posix_spawn(&state_->pid, path.c_str(), &actions, &attributes, argv, environ) == 0;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (!state_->started) return;
  State* state = state_.get();
  state_->waiter = std::thread([state] {
    int status = 0;
    while (waitpid(state->pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    state->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    state->ended.notify_all();
  });
}

ChildProcess::~ChildProcess() {
  if (!state_->started) return;
  Kill();
  state_->waiter.join();
}

bool ChildProcess::Started() const { return state_->started; }

std::optional<int> ChildProcess::Wait(double timeoutSeconds) {
  if (!state_->started) return std::nullopt;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->ended.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                         [this] { return state_->exitCode.has_value(); });
  return state_->exitCode;
}

void ChildProcess::CloseWindows() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->started && !state_->exitCode) kill(state_->pid, SIGTERM);
}

void ChildProcess::Kill() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->started && !state_->exitCode) kill(state_->pid, SIGKILL);
}

#endif

std::optional<int> RunChildProcess(const std::filesystem::path& program,
                                   const std::filesystem::path& workingDirectory,
                                   double timeoutSeconds) {
  ChildProcess child(program, workingDirectory);
  std::optional<int> code = child.Wait(timeoutSeconds);
  if (!code) child.Kill();
  return code;
}
