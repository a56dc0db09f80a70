// What the test child needs from the operating system, one file per platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace child {

// The program's arguments as UTF-8, without the program's own name. On Windows they come from
// the system's own command-line splitter, so the tests see what that splitter gives back.
std::vector<std::string> Arguments(int argc, char** argv);

// Every entry of the environment as "NAME=value", UTF-8, in the system's order.
std::vector<std::string> Environment();

// Output goes out byte for byte (no line-ending translation).
void UseBinaryOutput();

// Starts this program again with `args`, sharing its standard input, output and error (so the
// new process keeps the pipe of the test open) and staying in the same job or process group.
// Returns the new process's ID, or 0 when it could not start.
std::uint64_t StartSelf(const std::vector<std::string>& args);

// Closes standard output and standard error, so that a reader of them sees their end while the
// program goes on.
void CloseOutput();

// Leaves the caller's session and process group for a new session of its own, as daemons do
// (POSIX); nothing on Windows, where a job holds the process whatever it does.
void NewSession();

}  // namespace child
