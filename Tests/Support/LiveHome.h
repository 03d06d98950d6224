#pragma once

// A live machine whose home is a temporary folder, for tests that share the Trash with the desktop's
// other Trash clients (Support/TrashClient.h): those run on the same environment.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/Mac.h"
#include "Support/FakeMachine.h"
#include "Support/SystemState.h"

namespace Quandril::Testing {

#define NEEDS_TRASH_CLI()                                                                                              \
    if (!::Quandril::Testing::haveTool("trash-put") || !::Quandril::Testing::haveTool("trash-list")                    \
        || !::Quandril::Testing::haveTool("trash-restore"))                                                            \
    GTEST_SKIP() << "trash-cli isn't installed (scripts/install-deps installs it)"

// What Put Back says after the path of an item that isn't in the Trash any more.
inline const std::string goneFromTrash
    = " isn't there any more (the Trash was emptied, or the parked copy was deleted).";

struct LiveHome {
    TempDir dir;
    ScopedEnv home { "HOME", dir.path() + "/home" };
    ScopedEnv data;
    Mac mac { "", dir.path() + "/home", std::nullopt };

    // `dataHome`, when given, is $XDG_DATA_HOME below the temporary folder.
    explicit LiveHome(const std::optional<std::string>& dataHome = std::nullopt);

    std::string at(const std::string& rest) const { return dir.path() + "/home/" + rest; }
    std::string trash() const;

    // Trashed as a clean-up does, and recorded in History under `id`: `ago` back in time (the Trash's
    // record too), on a line that notes what the item is as the cleaner's lines do, or not as older
    // lines didn't.
    std::string trashed(const std::string& id, const std::string& path, std::chrono::seconds ago = {},
                        bool noted = false) const;

    // The places trash-list names below the temporary folder or `also`, sorted.
    std::vector<std::string> listed(const std::string& also = "/nowhere/") const;

    // The Trash's record of an item in a Trash's files folder.
    static std::string recordOf(const std::string& trashed);
};

// Empties a Trash as trash-empty would, without touching any other Trash.
void emptyTrash(const std::string& trash);

} // namespace Quandril::Testing
