#pragma once

// The process-wide set of folders that must not be opened while a scan runs without access to
// them. Each scan registers its folders under its own token; the fence answers with the union.

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Platform/Token.h"

namespace Quandril {

class PrivacyFence {
public:
    static PrivacyFence& shared();

    // The twelve folders of the home folder that the system guards with a privacy prompt.
    static std::vector<std::string> guardedRoots(const std::string& home);

    Platform::Token begin(std::vector<std::string> roots);
    void end(const Platform::Token& token);

    std::vector<std::string> active() const;
    // Equal to a root or inside one.
    bool isFenced(std::string_view path) const;
    // Strictly inside a root; a root itself is not blocked.
    bool blocks(std::string_view path) const;

    // Ends a registration when it goes out of scope, whatever way the scope is left.
    class Registration {
    public:
        Registration(PrivacyFence& fence, std::vector<std::string> roots);
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

    private:
        PrivacyFence& fence_;
        Platform::Token token_;
    };

private:
    PrivacyFence() = default;

    mutable std::mutex lock_;
    std::map<Platform::Token, std::vector<std::string>> registrations_;
};

} // namespace Quandril
