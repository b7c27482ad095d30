// Shared pieces of the platform tests: a thread with a given body, pumping the main thread's
// messages until a main-thread call flips a flag, and the paths of the helper programs.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "app/platform/Application.h"
#include "app/platform/Threads.h"
#include "os/Process.h"

class TTestThread : public TThread {
 public:
  TTestThread(bool createSuspended, std::function<void()> body, TEvent* destroyed = nullptr)
      : TThread(createSuspended), FBody(std::move(body)), FDestroyed(destroyed) {}
  ~TTestThread() override {
    if (FDestroyed) FDestroyed->SetEvent();
  }

 protected:
  void Execute() override { FBody(); }

 private:
  std::function<void()> FBody;
  TEvent* FDestroyed;
};

// Runs the main thread's message loop steps until the flag is set (by a main-thread call, which
// also wakes the loop).
inline void PumpUntil(const bool& flag) {
  while (!flag) Application().HandleMessage();
}

// A program built beside the running test executable.
inline std::filesystem::path HelperProgram(const std::string& name) {
  std::u16string self = os::ExecutablePath();
#ifdef _WIN32
  const std::filesystem::path path(self);
  return path.parent_path() / (name + ".exe");
#else
  for (char16_t& c : self)
    if (c == u'\\') c = u'/';
  const std::filesystem::path path(self);
  return path.parent_path() / name;
#endif
}
