#pragma once

// The real gorrin ended while it works, each scenario checked whole: its autopilot deleting a large
// set of caches, or one cache too large to go in a moment, and History's Put Back of files copied
// back across file systems. Each takes the way the app is ended as its input; tests give the cases.
// Each records its failures with Qt Test's checks: the test function ends after calling one.

namespace Quandril::AppTesting {

enum class Ending {
    sigterm,               // the session's end
    sigint,                // Ctrl+C in the terminal it was started from
    quit,                  // the app's own Quit, pressed on the keyboard
    displayGone,           // the X server gone (a logout that ends it first, or its crash)
    displayGoneWithSigterm // both at once, as when the whole session is ended together
};

// Whether the ending needs the app on a private X server.
bool needsDisplay(Ending ending);

// The autopilot's clean-up of many small caches, ended between folders: the app ends by itself,
// each folder is whole or gone, and History holds exactly the bytes of those gone.
void endCleanUpBetweenItems(Ending ending);

// One large cache, ended part-way and the app slowed: whole or in part, what left the disk is what
// History says left it.
void endCleanUpMidItem(Ending ending);

// Files put back from a Trash on another file system (each a copy), ended once one is back whole:
// every file back is whole and named in History, no part of a copy is left, the rest stay in the
// Trash and History still names them.
void endPutBack(Ending ending);

} // namespace Quandril::AppTesting
