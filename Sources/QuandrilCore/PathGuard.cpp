#include "QuandrilCore/PathGuard.h"

#include "QuandrilCore/Catalog.h"
#include "QuandrilCore/Mac.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Report.h"

#include <climits>
#include <cstdlib>

namespace Quandril {

namespace {

// A composed and a decomposed spelling of one accented name must meet the same rule, so every
// comparison runs on composed text; a rule for "/" holds every absolute path.
using Platform::composed;
using Platform::inside;

} // namespace

PathGuard::PathGuard(const Catalog& catalog, const Mac& mac, const std::vector<Rule>& extra)
{
    for (const auto& record : catalog.protected_)
        rules_.push_back({ mac.path(record.path), record.why });
    for (const auto& folder : mac.cloud)
        rules_.push_back({ folder.path, folder.name });
    rules_.insert(rules_.end(), extra.begin(), extra.end());

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
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const std::string& rule = composedRules_[i];
        if (p == rule || inside(p, rule) || (includingContents && inside(rule, p)))
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
    std::vector<std::string> reasons;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (inside(composedRules_[i], f))
            reasons.push_back(rules_[i].why);
    }
    return uniqued(reasons);
}

} // namespace Quandril
