// Runs another program of the build as a child process, so a test can check what a whole
// process does: its exit code, the files it leaves, how it ends when its window is closed.
//
//   ChildProcess child(program, directory);     // started at once
//   child.CloseWindows();                       // as the user's close box
//   std::optional<int> code = child.Wait(30);   // no value: still running after 30 s
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

class ChildProcess {
 public:
  // Starts `program` with no arguments in `workingDirectory`; Started() tells whether it ran.
  ChildProcess(const std::filesystem::path& program,
               const std::filesystem::path& workingDirectory);
  // Kills the child when it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const;
  // Waits at most `timeoutSeconds` for the child to end; its exit code, or no value.
  std::optional<int> Wait(double timeoutSeconds);
  // Closes the child's windows as the user would (on Linux the terminal's close: SIGTERM).
  void CloseWindows();
  void Kill();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Starts `program`, waits at most `timeoutSeconds` and returns its exit code; no value when it
// did not start or did not end in time (it is then killed).
std::optional<int> RunChildProcess(const std::filesystem::path& program,
                                   const std::filesystem::path& workingDirectory,
                                   double timeoutSeconds);
