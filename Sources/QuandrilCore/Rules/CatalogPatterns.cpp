// Path patterns of the rules catalog: "~", "~/…" or a path from the machine's root, where a
// component holding "*" is matched against folder listings and every other component is literal.

#include "QuandrilCore/Rules/Catalog.h"

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Platform/Unicode.h"

#include <algorithm>
#include <fnmatch.h>

namespace Quandril {

namespace {

std::string fullPath(std::string_view pattern, const Mac& mac)
{
    if (pattern == "~")
        return mac.home;
    if (pattern.starts_with("~/"))
        return mac.home + std::string(pattern.substr(1));
    return mac.root + std::string(pattern);
}

bool matches(const std::string& glob, const std::string& name)
{
    // Any answer but 0 (no match, or a pattern fnmatch cannot use) counts as no match.
    return ::fnmatch(glob.c_str(), name.c_str(), 0) == 0;
}

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Unicode order of the composed forms; two spellings of one name fall back to byte order so the
// result never depends on the listing order.
bool unicodeLess(const std::string& a, const std::string& b)
{
    int order = Platform::compareNFC(a, b);
    return order != 0 ? order < 0 : a < b;
}

} // namespace

std::vector<std::string> expand(std::string_view pattern, const Mac& mac)
{
    std::string full = fullPath(pattern, mac);

    if (full.find('*') == std::string::npos) {
        if (exists(full))
            return { full };
        return {};
    }

    std::vector<std::string> bases { std::string() };
    for (const auto& component : components(full)) {
        std::vector<std::string> next;
        if (component.find('*') != std::string::npos) {
            for (const auto& base : bases) {
                std::vector<std::string> kept;
                // listNames gives nothing for an unreadable or fenced folder.
                for (auto& name : listNames(base.empty() ? "/" : base)) {
                    if (!name.starts_with('.') && matches(component, name))
                        kept.push_back(std::move(name));
                }
                std::sort(kept.begin(), kept.end(), unicodeLess);
                for (const auto& name : kept)
                    next.push_back(base + "/" + name);
            }
        } else {
            for (const auto& base : bases) {
                std::string candidate = base + "/" + component;
                if (exists(candidate))
                    next.push_back(std::move(candidate));
            }
        }
        bases = std::move(next);
        if (bases.empty())
            break;
    }
    return bases;
}

bool contains(const std::string& folder, std::string_view glob)
{
    std::string pattern(glob);
    std::vector<std::string> names = listNames(folder);
    for (const auto& name : names) {
        if (matches(pattern, name))
            return true;
    }
    for (const auto& name : names) {
        std::string sub = folder + "/" + name;
        if (!isDirectory(sub))
            continue;
        for (const auto& inner : listNames(sub)) {
            if (matches(pattern, inner))
                return true;
        }
    }
    return false;
}

} // namespace Quandril
