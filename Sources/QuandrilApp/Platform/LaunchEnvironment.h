#pragma once

// The environment names the folders where the app, and Qt before it, make their own: the runtime
// folder ($XDG_RUNTIME_DIR) and the temporary folder ($TMPDIR). A value that would have them made in
// the current folder, at the top of the disk or where someone else could reach them is put right
// here, before anything reads it. Plain C++: it runs before QApplication exists.

#include <string_view>

namespace Quandril::App::LaunchEnvironment {

// An absolute path with no ".." among its names: what it names doesn't depend on the links met on
// the way, and no text comparison mistakes "/.." for anything but the top.
bool isPlainAbsolute(std::string_view path);

// A folder of ours that nobody else can reach: a plain absolute path naming a folder itself (no
// link), owned by the effective user, closed to group and others, and writable.
bool isPrivateFolder(const char* path);

// A temporary folder fit to hold private folders of ours: a plain absolute path other than "/"
// naming a folder of ours or of root's that others may write only when it is sticky.
bool isTemporaryFolder(const char* path);

// Unsets $XDG_RUNTIME_DIR unless it is a private folder (the system makes it; nothing here ever
// does) and $TMPDIR unless it is a temporary folder, so that both fall back to their defaults. Call
// first in main(), while no other thread reads the environment.
void makeSafe();

} // namespace Quandril::App::LaunchEnvironment
