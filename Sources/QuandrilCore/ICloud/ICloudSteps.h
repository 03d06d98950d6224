#pragma once

// Small pieces the iCloud scan, cleanup and parking share: path pieces, and results that always
// carry the item's id, name and size.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QuandrilCore/ICloud/ICloud.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::ICloudSteps {

using Saturating::most;

inline bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

inline bool endsWith(std::string_view text, std::string_view ending)
{
    return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

// Strictly inside the folder.
inline bool below(std::string_view path, std::string_view folder)
{
    return path.size() > folder.size() && startsWith(path, folder) && path[folder.size()] == '/';
}

inline std::string_view lastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

inline std::string parentOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

// A name's extension follows its last dot; a leading or trailing dot starts none.
inline std::pair<std::string_view, std::string_view> splitExtension(std::string_view name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return { name, {} };
    return { name.substr(0, dot), name.substr(dot + 1) };
}

// How a root is named in shown and parked paths.
inline std::string rootLabel(std::string_view root)
{
    if (endsWith(root, "com~apple~CloudDocs"))
        return "iCloud Drive";
    return std::string(lastComponent(root));
}

// The first root the path lies below, or nothing.
inline const std::string* rootOf(std::string_view path, const std::vector<std::string>& roots)
{
    for (const auto& root : roots) {
        if (below(path, root))
            return &root;
    }
    return nullptr;
}

// What is strictly free on the startup drive now; 0 when there is none.
inline std::int64_t startupFree(const Mac& mac)
{
    for (const auto& drive : mac.drives()) {
        if (drive.isStartup)
            return drive.strictFreeBytes;
    }
    return 0;
}

inline CleanResult outcome(const CloudItem& item, CleanResult::Status status, std::string detail,
                           std::vector<Relocation> relocated = {})
{
    return CleanResult { item.id,    std::string(lastComponent(item.path)),
                         status,     std::move(detail),
                         item.bytes, std::move(relocated) };
}

using History::unrecordable;

} // namespace Quandril::ICloudSteps
