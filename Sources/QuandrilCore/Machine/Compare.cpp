#include "QuandrilCore/Machine/Compare.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <fts.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril {

namespace {

constexpr std::size_t chunkBytes = 1 << 20;

struct DigestContext {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~DigestContext() { EVP_MD_CTX_free(context); }
};

std::string hex(const unsigned char* bytes, unsigned length)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
    return text;
}

// Every file read once, the files spread over the engine's worker threads.
std::vector<std::optional<std::string>> digestsOf(const std::vector<std::string>& paths)
{
    return parallelMap(paths, [](const std::string& path) { return sha256(path); });
}

// A missing digest on either side means the contents could not be compared, so the file differs.
bool sameDigest(const std::optional<std::string>& first, const std::optional<std::string>& second, bool& unreadable)
{
    if (!first || !second) {
        unreadable = true;
        return false;
    }
    return *first == *second;
}

} // namespace

Json::Value toJson(const TreeDiff& diff)
{
    Json::Value object = Json::Value::object();
    object["files"] = diff.files;
    object["onlyHere"] = diff.onlyHere;
    object["onlyThere"] = diff.onlyThere;
    object["differing"] = diff.differing;
    object["checksummed"] = diff.checksummed;
    return object;
}

void decode(const Json::Value& value, TreeDiff& out)
{
    Json::expectObject(value);
    out.files = Json::required<std::int64_t>(value, "files");
    out.onlyHere = Json::required<std::int64_t>(value, "onlyHere");
    out.onlyThere = Json::required<std::int64_t>(value, "onlyThere");
    out.differing = Json::required<std::int64_t>(value, "differing");
    out.checksummed = Json::required<bool>(value, "checksummed");
}

FileList fileSizes(const std::string& folder)
{
    FileList list;
    // Trailing slashes would double the separator in every relative path.
    const std::string top = Platform::withoutTrailingSlashes(folder);
    const std::vector<std::string> roots = PrivacyFence::shared().active();
    if (Platform::atOrBelowAny(top, roots)) {
        list.incomplete = true;
        return list;
    }

    // The folder itself may be reached through a link (it was asked for by name); links inside are not followed.
    Platform::TreeWalk walk(top, FTS_NOCHDIR | FTS_PHYSICAL | FTS_COMFOLLOW);
    if (!walk) {
        list.incomplete = true;
        return list;
    }

    const std::size_t prefix = top == "/" ? 1 : top.size() + 1;
    errno = 0;
    while (FTSENT* entry = walk.next()) {
        const std::string_view path(entry->fts_path, entry->fts_pathlen);
        switch (entry->fts_info) {
        case FTS_D:
            if (entry->fts_level > 0 && !roots.empty() && Platform::atOrBelowAny(path, roots)) {
                walk.skip(entry);
                list.incomplete = true;
            }
            break;
        case FTS_DNR:
        case FTS_ERR:
        case FTS_NS:
            list.incomplete = true;
            break;
        case FTS_F: {
            if (entry->fts_level == 0 || std::strcmp(entry->fts_name, ".DS_Store") == 0)
                break;
            if (!roots.empty() && Platform::atOrBelowAny(path, roots)) {
                list.incomplete = true;
                break;
            }
            if (!S_ISREG(entry->fts_statp->st_mode) || path.size() <= prefix)
                break;
            list.sizes[std::string(path.substr(prefix))] = static_cast<std::int64_t>(entry->fts_statp->st_size);
            break;
        }
        default:
            break;
        }
    }
    // The walk ends with errno 0; anything else means it stopped early.
    if (errno != 0)
        list.incomplete = true;
    return list;
}

TreeComparison compareTreesFully(const std::string& here, const std::string& there, bool checksums)
{
    TreeComparison result;
    TreeDiff& diff = result.diff;
    diff.checksummed = checksums;

    if (isDirectory(here) && isDirectory(there)) {
        const FileList mine = fileSizes(here);
        const FileList theirs = fileSizes(there);
        result.incomplete = mine.incomplete || theirs.incomplete;
        diff.files = static_cast<std::int64_t>(mine.sizes.size());
        // Files of equal size on both sides, here's and there's next to each other, hashed all at once.
        std::vector<std::string> toHash;
        for (const auto& [relative, bytes] : mine.sizes) {
            auto match = theirs.sizes.find(relative);
            if (match == theirs.sizes.end())
                ++diff.onlyHere;
            else if (match->second != bytes)
                ++diff.differing;
            else if (checksums) {
                toHash.push_back(here + "/" + relative);
                toHash.push_back(there + "/" + relative);
            }
        }
        const auto digests = digestsOf(toHash);
        for (std::size_t i = 0; i + 1 < digests.size(); i += 2) {
            if (!sameDigest(digests[i], digests[i + 1], result.incomplete))
                ++diff.differing;
        }
        for (const auto& entry : theirs.sizes) {
            if (!mine.sizes.count(entry.first))
                ++diff.onlyThere;
        }
        return result;
    }

    diff.files = 1;
    const auto mySize = size(here);
    const auto theirSize = size(there);
    if (!mySize || !theirSize)
        result.incomplete = true;
    if (mySize != theirSize)
        diff.differing = 1;
    else if (checksums) {
        const auto digests = digestsOf({ here, there });
        if (!sameDigest(digests[0], digests[1], result.incomplete))
            diff.differing = 1;
    }
    return result;
}

TreeDiff compareTrees(const std::string& here, const std::string& there, bool checksums)
{
    return compareTreesFully(here, there, checksums).diff;
}

std::optional<std::string> sha256(const std::string& path)
{
    // Non-blocking so that opening a pipe by mistake cannot hang; it is refused below anyway.
    const Platform::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file)
        return std::nullopt;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;

    DigestContext digest;
    if (!digest.context || EVP_DigestInit_ex(digest.context, EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[chunkBytes]);
    for (;;) {
        ssize_t count = ::read(file.get(), buffer.get(), chunkBytes);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            // A digest of part of the file would pass for the whole.
            return std::nullopt;
        }
        if (count == 0)
            break;
        if (EVP_DigestUpdate(digest.context, buffer.get(), static_cast<std::size_t>(count)) != 1)
            return std::nullopt;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(digest.context, value, &length) != 1)
        return std::nullopt;
    return hex(value, length);
}

} // namespace Quandril
