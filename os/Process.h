// The running process: its executable, the local clock, thread ids, COM and leaving.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// The full path of the running executable (on Linux with backslashes as on Windows, so that
// path rules written for Windows hold on both targets).
std::u16string ExecutablePath();

// The local clock as a date-time: days since 30 December 1899 00:00, the fraction being the time
// of day, with millisecond resolution.
double LocalNow();

// The calling thread's id as the operating system numbers it.
std::uint32_t CurrentThreadId();

// Starts and stops COM on the calling thread; true when the start succeeded (also when COM was
// already started). On Linux there is no COM and both do nothing.
bool ComInitialize();
void ComUninitialize();

// Ends the process at once with the exit code, without waiting for other threads and without
// running the destructors of static objects.
[[noreturn]] void ExitProcessNow(int exitCode);

}  // namespace os
