#pragma once

// What History's readers share about trusting the file they read: whose it is, and why a file
// that is there gives nothing.

#include <string>

#include <sys/stat.h>

namespace Quandril::History::File {

// Why the history file isn't to be trusted, for the end of a sentence; empty when it is ours.
std::string untrusted(const struct stat& info);
// Why a history file that is there gives nothing to read; empty when there is no file. `error` is
// why opening or reading it failed.
std::string whyUnread(const std::string& file, int error);
// A file an earlier version or a loose umask left open to others is made the user's alone, while
// it still is the file that was read.
void makePrivate(const std::string& file, const struct stat& read);

} // namespace Quandril::History::File
