#pragma once

// Running a command-line tool and collecting what it prints, without a shell.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Quandril::Platform {

// A tool that hangs must not hold a scan for ever, yet a slow one (a large listing) must finish.
inline constexpr std::chrono::milliseconds defaultRunLimit = std::chrono::minutes(10);

// Starts `program` (a path; no search) with `arguments`, standard input from /dev/null, standard
// error to /dev/null, and the environment and working folder of this process. Reads standard output
// to its end, then waits for the program. Answers the bytes printed when it exits with status 0;
// absent when it cannot be started, exits otherwise, or is still running when `limit` has passed,
// in which case it is killed together with everything it started in its process group.
std::optional<std::string> runProcess(const std::string& program, const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds limit = defaultRunLimit);

// Starts `program` (a path; no search) with `arguments`, standard input, output and error on
// /dev/null, and waits for it as long as it takes (a password prompt may wait on the user). True
// when it exits with status 0.
bool runToEnd(const std::string& program, const std::vector<std::string>& arguments);

// A regular file (a link is followed) that this process may execute.
bool isExecutableFile(const std::string& path);

} // namespace Quandril::Platform
