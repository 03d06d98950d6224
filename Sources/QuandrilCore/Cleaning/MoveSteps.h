#pragma once

// What the cleaner's two roads to a drive share (the move of one's own files, CleanerMoves.cpp, and
// the move that leaves links, CleanerLinkMoves.cpp): the checked copy into its place under a partial
// name, the partial copies killed moves left, and the sentences both say.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::MoveSteps {

inline constexpr const char* noDrive = "Say which drive to move it to.";

std::string noRoom(const DriveInfo& drive);
std::string alreadyThere(const Mac& mac, const std::string& place);
// A drive unmounted since it was chosen leaves its mount point behind as a bare folder of the
// startup drive: nothing more goes there.
std::string gone(const DriveInfo& drive);

// A copy that got its place while the drive was unmounted landed in that bare folder, on the startup
// drive: it is ours and goes again. What to say then about the item (`stays`, ending in a full
// stop); nothing when the copy is on the drive.
std::optional<std::string> strayCopy(FileOps& files, const DriveInfo& drive, const std::string& place, const Mac& mac,
                                     const std::string& stays);

// How a copy into its place ended when it didn't get there.
struct CopyTrouble {
    enum class Kind { inTheWay, unfinished, differs, taken, stopped } kind;
    std::string description;         // the error in words; empty when the copy differs
    std::optional<std::string> left; // our partial copy, when it couldn't be removed
    bool mounted = false;            // it stays because a drive is mounted inside it
};

// Copies `item` under a partial name beside `place`, checks it file by file and renames it to
// `place` without replacing anything: `place` never holds an incomplete copy, not even after a
// crash, and a copy that fails or differs goes again rather than keep the drive full and stand in
// a retry's way. Whatever stood in the partial copy's own way is not ours and stays. `stop` is heeded
// between the copy's and the check's entries and chunks: the partial copy goes, and the item stays.
std::optional<CopyTrouble> copyIntoPlace(FileOps& files, const std::string& item, const std::string& place,
                                         const std::function<bool()>& stop);

// Said when a stop came before anything of the finding moved; its bytes are 0, as nothing came back.
CleanResult stoppedBeforeAnything(const Finding& finding);

// ", and the partial copy is at …" when the trouble left one; empty otherwise.
std::string partialLeft(const Mac& mac, const CopyTrouble& trouble);

// The partial copies killed moves left that stay when a move reclaims them, a drive being mounted
// inside each: the move says so beside its own outcome, which they don't change.
class KeptPartials {
public:
    // Reclaims the partial copies in `folder` (see Platform::reclaimPartials) and returns the bytes freed.
    std::int64_t reclaim(const std::string& folder, bool remove);
    CleanResult told(CleanResult result, const Mac& mac) const;

private:
    std::vector<std::string> paths_;
};

// The drive as a move into `folder` sees it: the partial copies that killed moves left there are
// gone (in a dry run only counted), and the room they took is free.
DriveInfo reclaimingPartials(DriveInfo drive, const std::string& folder, const CleanOptions& options,
                             KeptPartials& kept);

// A copy made inside its own original would copy itself over and over until the path got too long.
std::optional<std::string> copiedIntoItself(const Mac& mac, const std::string& item, const std::string& place);

} // namespace Quandril::MoveSteps
