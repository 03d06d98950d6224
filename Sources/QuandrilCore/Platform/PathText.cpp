#include "QuandrilCore/Platform/PathText.h"

#include <algorithm>

#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril::Platform {

std::string composed(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return nfc(text);
    }
    return std::string(text);
}

bool below(std::string_view path, std::string_view folder)
{
    return path.size() > folder.size() && path[folder.size()] == '/' && path.starts_with(folder);
}

bool atOrBelow(std::string_view path, std::string_view folder)
{
    return path == folder || below(path, folder);
}

bool atOrBelowAny(std::string_view path, const std::vector<std::string>& folders)
{
    for (const auto& folder : folders) {
        if (atOrBelow(path, folder))
            return true;
    }
    return false;
}

bool overlaps(std::string_view a, std::string_view b)
{
    return a == b || below(a, b) || below(b, a);
}

bool inside(std::string_view path, std::string_view folder)
{
    // The top folder's text already ends in "/", yet every other absolute path lies inside it.
    if (folder == "/")
        return path.size() > 1 && path.front() == '/';
    return below(path, folder);
}

bool within(std::string_view path, std::string_view folder)
{
    return path == folder || inside(path, folder);
}

std::string lastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string_view lastName(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string parentOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string joinPath(std::string_view folder, std::string_view rest)
{
    while (!folder.empty() && folder.back() == '/')
        folder.remove_suffix(1);
    while (!rest.empty() && rest.front() == '/')
        rest.remove_prefix(1);
    return std::string(folder) + "/" + std::string(rest);
}

std::string lexicallyNormal(std::string_view path)
{
    std::vector<std::string_view> names;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto name = path.substr(0, slash);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    if (names.empty())
        return "/";
    std::string out;
    for (auto name : names) {
        out += '/';
        out += name;
    }
    return out;
}

bool isLexicallyNormal(std::string_view path)
{
    if (path == "/")
        return true;
    if (path.empty() || path.front() != '/' || path.back() == '/')
        return false;
    // Every name is checked: none may be empty, "." or "..".
    for (std::size_t start = 1; start <= path.size();) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const auto name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == "..")
            return false;
        start = end + 1;
    }
    return true;
}

bool hasParentName(std::string_view path)
{
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

std::string hexUnescaped(std::string_view text, std::string_view lead)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t at = i + lead.size();
        if (!lead.empty() && text.substr(i).starts_with(lead) && at + 1 < text.size() && digit(text[at]) >= 0
            && digit(text[at + 1]) >= 0) {
            out.push_back(static_cast<char>(digit(text[at]) * 16 + digit(text[at + 1])));
            i = at + 1;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

} // namespace Quandril::Platform
