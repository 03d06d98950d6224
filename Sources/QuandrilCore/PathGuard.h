#pragma once

// The never-touch rules of one moment: the catalog's protected paths and name endings, the folders
// a cloud service syncs, and the paths the user protected. Immutable once built.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Quandril {

struct Catalog;
struct Mac;

class PathGuard {
public:
    struct Rule {
        std::string path; // a real path
        std::string why;

        friend bool operator==(const Rule&, const Rule&) = default;
    };

    struct Suffix {
        std::string suffix;
        std::string why;

        friend bool operator==(const Suffix&, const Suffix&) = default;
    };

    // `extra` paths must already be real paths of the machine.
    PathGuard(const Catalog& catalog, const Mac& mac, const std::vector<Rule>& extra = {});

    const std::vector<Rule>& rules() const { return rules_; }
    const std::vector<Suffix>& suffixes() const { return suffixes_; }

    // The reason the path must not be touched, or nothing. With `includingContents`, a rule that
    // lies inside the path protects the path too.
    std::optional<std::string> protection(std::string_view path, bool includingContents) const;

    // Whether the file system resolves the path to another text (a link, "." or ".." on the way).
    static bool throughLink(const std::string& path);

    // The reasons of the rules strictly inside the folder, each once, in rule order.
    std::vector<std::string> protectedInside(std::string_view folder) const;

private:
    std::vector<Rule> rules_;
    std::vector<Suffix> suffixes_;
    // The same texts in composed form, index for index, for the comparisons.
    std::vector<std::string> composedRules_;
    std::vector<std::string> composedSuffixes_;
};

} // namespace Quandril
