#include "QuandrilCore/Scanning/PathGuard.h"

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/Report.h"
#include "QuandrilCore/Scanning/Scanner.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

namespace Quandril {

namespace {

// A composed and a decomposed spelling of one accented name must meet the same rule, so every
// comparison runs on composed text; a rule for "/" holds every absolute path.
using Platform::composed;
using Platform::inside;
using Platform::isLexicallyNormal;
using Platform::lexicallyNormal;

// A path pasted with its line break still names the place without it.
std::string_view withoutTrailingLineBreaks(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<std::string> resolved(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
}

// Where a lexically normal path really is: its nearest folder that can be resolved, every link on
// the way resolved, followed by the rest of the path, so a rule for something not made yet still
// meets it behind a linked folder. Nothing for a path the privacy fence holds: resolving it would
// open the folders that must stay shut.
std::optional<std::string> realPlace(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return std::nullopt;
    std::string head = path;
    std::string rest;
    for (;;) {
        if (auto real = resolved(head))
            return *real == "/" && !rest.empty() ? rest : *real + rest;
        if (head == "/")
            return std::nullopt;
        const auto slash = head.rfind('/');
        rest.insert(0, head, slash);
        head.resize(slash == 0 ? 1 : slash);
    }
}

} // namespace

std::string PathGuard::entryPath(std::string_view entry, const Mac& mac)
{
    const std::string_view named = withoutTrailingLineBreaks(entry);
    if (named.empty())
        return mac.path("/");
    if (named == "~")
        return mac.home + std::string(entry.substr(1));
    if (named.starts_with("~/") || named.starts_with("/"))
        return mac.path(entry);
    return mac.home + "/" + std::string(entry);
}

std::vector<PathGuard::Rule> PathGuard::userRules(const std::vector<ProtectedPath>& entries, const Mac& mac)
{
    std::vector<Rule> rules;
    rules.reserve(entries.size());
    for (const auto& entry : entries)
        rules.push_back({ entryPath(entry.path, mac), entry.why });
    return rules;
}

void PathGuard::add(const std::string& path, const std::string& why)
{
    // The text with its line breaks is kept too: a name may really end in one.
    std::vector<std::string> paths;
    const auto keep = [&](std::string place) {
        if (std::find(paths.begin(), paths.end(), place) == paths.end())
            paths.push_back(std::move(place));
    };
    std::vector<std::string_view> texts { withoutTrailingLineBreaks(path) };
    if (texts.front().size() != path.size())
        texts.push_back(path);
    for (std::string_view text : texts) {
        std::string named = lexicallyNormal(text);
        std::optional<std::string> real = realPlace(named);
        keep(std::move(named));
        if (real)
            keep(std::move(*real));
    }
    for (auto& place : paths)
        rules_.push_back({ std::move(place), why });
}

PathGuard::PathGuard(const Catalog& catalog, const Mac& mac, const std::vector<Rule>& extra)
{
    for (const auto& record : catalog.protected_)
        add(entryPath(record.path, mac), record.why);
    for (const auto& folder : mac.cloud)
        add(folder.path, folder.name);
    for (const auto& rule : extra)
        add(rule.path, rule.why);

    for (const auto& record : catalog.protectedSuffixes)
        suffixes_.push_back({ record.path, record.why });

    composedRules_.reserve(rules_.size());
    for (const auto& rule : rules_)
        composedRules_.push_back(composed(rule.path));
    composedSuffixes_.reserve(suffixes_.size());
    for (const auto& suffix : suffixes_)
        composedSuffixes_.push_back(composed(suffix.suffix));
}

std::optional<std::string> PathGuard::protection(std::string_view path, bool includingContents) const
{
    std::string p = composed(path);
    // A path asked about as written, and as the place it names.
    std::optional<std::string> named;
    if (p.starts_with('/') && !isLexicallyNormal(p))
        named = lexicallyNormal(p);
    const auto matches = [&](const std::string& text, const std::string& rule) {
        return text == rule || inside(text, rule) || (includingContents && inside(rule, text));
    };
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const std::string& rule = composedRules_[i];
        if (matches(p, rule) || (named && matches(*named, rule)))
            return rules_[i].why;
    }

    if (suffixes_.empty())
        return std::nullopt;
    std::vector<std::string_view> names;
    std::string_view rest = p;
    while (!rest.empty()) {
        auto slash = rest.find('/');
        auto name = rest.substr(0, slash);
        if (!name.empty())
            names.push_back(name);
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    for (std::size_t i = 0; i < suffixes_.size(); ++i) {
        for (auto name : names) {
            if (name.ends_with(composedSuffixes_[i]))
                return suffixes_[i].why;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PathGuard::nameProtection(std::string_view name) const
{
    if (suffixes_.empty())
        return std::nullopt;
    const std::string n = composed(name);
    for (std::size_t i = 0; i < suffixes_.size(); ++i) {
        if (n.ends_with(composedSuffixes_[i]))
            return suffixes_[i].why;
    }
    return std::nullopt;
}

bool PathGuard::throughLink(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return false; // a path that cannot be resolved counts as its own resolution
    return path != resolved;
}

std::vector<std::string> PathGuard::protectedInside(std::string_view folder) const
{
    std::string f = composed(folder);
    if (f.starts_with('/') && !isLexicallyNormal(f))
        f = lexicallyNormal(f);
    std::vector<std::string> reasons;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (inside(composedRules_[i], f))
            reasons.push_back(rules_[i].why);
    }
    return uniqued(reasons);
}

} // namespace Quandril
