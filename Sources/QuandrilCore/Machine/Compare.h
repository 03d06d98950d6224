#pragma once

// Whether one tree is a full copy of another, and SHA-256 digests of files.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "QuandrilCore/Values/Json.h"

namespace Quandril {

struct TreeDiff {
    std::int64_t files = 0;
    std::int64_t onlyHere = 0;
    std::int64_t onlyThere = 0;
    std::int64_t differing = 0;
    bool checksummed = false;

    bool identical() const { return onlyHere == 0 && onlyThere == 0 && differing == 0; }
};

Json::Value toJson(const TreeDiff& diff);
void decode(const Json::Value& value, TreeDiff& out);

// The regular files of a tree by relative path ("a/b.txt"), with their sizes.
struct FileList {
    std::map<std::string, std::int64_t> sizes;
    // True when some entry could not be read or was held by the privacy fence, so the list may be
    // missing files. A tree with gaps is never taken for a complete copy.
    bool incomplete = false;
};

FileList fileSizes(const std::string& folder);

// "here" is the first path, "there" the second.
TreeDiff compareTrees(const std::string& here, const std::string& there, bool checksums);

// Like compareTrees, and also says whether either side could not be read completely.
struct TreeComparison {
    TreeDiff diff;
    bool incomplete = false;
};
TreeComparison compareTreesFully(const std::string& here, const std::string& there, bool checksums);

// 64 lower-case hex digits, or absent when the path is not a regular file or any read fails.
std::optional<std::string> sha256(const std::string& path);

} // namespace Quandril
