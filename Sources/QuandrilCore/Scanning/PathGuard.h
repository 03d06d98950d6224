#pragma once

// The never-touch rules of one moment: the catalog's protected paths and name endings, the folders
// a cloud service syncs, and the paths the user protected. Immutable once built.
//
// A rule protects the place its text names however it is written ("~/Movies/", "~//Movies" and
// "~/x/../Movies" all name ~/Movies) and also where that place really is when a link leads there:
// reading a path differently than the user meant may only ever protect more.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Quandril {

struct Catalog;
struct Mac;
struct ProtectedPath;

class PathGuard {
public:
    struct Rule {
        std::string path; // an absolute path of the machine
        std::string why;

        friend bool operator==(const Rule&, const Rule&) = default;
    };

    struct Suffix {
        std::string suffix;
        std::string why;

        friend bool operator==(const Suffix&, const Suffix&) = default;
    };

    // `extra` paths are absolute paths of the machine (userRules turns the user's entries into them).
    // Each rule's path is taken as the place it names, with trailing line breaks also left out, and
    // where that place really is is added after it when the two differ.
    PathGuard(const Catalog& catalog, const Mac& mac, const std::vector<Rule>& extra = {});

    // The user's never-touch entries, in display form, as rules for `extra`.
    static std::vector<Rule> userRules(const std::vector<ProtectedPath>& entries, const Mac& mac);
    // The machine's path for a never-touch entry in display form: "~" and "~/…" in the home folder,
    // "/…" from the machine's top, a relative path read from the home folder; an entry that names
    // nothing at all protects everything.
    static std::string entryPath(std::string_view entry, const Mac& mac);

    // Every rule as the guard compares it: the paths named and their real places, in source order.
    const std::vector<Rule>& rules() const { return rules_; }
    const std::vector<Suffix>& suffixes() const { return suffixes_; }

    // The reason the path must not be touched, or nothing. With `includingContents`, a rule that
    // lies inside the path protects the path too.
    std::optional<std::string> protection(std::string_view path, bool includingContents) const;
    // The reason of the first name ending that the single name `name` has, or nothing. Inside a
    // folder that protection(folder, true) lets through, no rule can meet an entry: only its name can.
    std::optional<std::string> nameProtection(std::string_view name) const;

    // Whether the file system resolves the path to another text (a link, "." or ".." on the way).
    static bool throughLink(const std::string& path);

    // The reasons of the rules strictly inside the folder, each once, in rule order.
    std::vector<std::string> protectedInside(std::string_view folder) const;

private:
    void add(const std::string& path, const std::string& why);

    std::vector<Rule> rules_;
    std::vector<Suffix> suffixes_;
    // The same texts in composed form, index for index, for the comparisons.
    std::vector<std::string> composedRules_;
    std::vector<std::string> composedSuffixes_;
};

} // namespace Quandril
