// Runs another program of the build as a child process and waits for its exit code, so a test
// can check what a whole process does (its exit code, the files it leaves).
#pragma once

#include <filesystem>
#include <optional>

// Starts `program` with no arguments in `workingDirectory`, waits at most `timeoutSeconds` and
// returns its exit code; no value when it did not end in time (it is then killed).
std::optional<int> RunChildProcess(const std::filesystem::path& program,
                                   const std::filesystem::path& workingDirectory,
                                   double timeoutSeconds);
