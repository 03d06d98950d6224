#include "QuandrilCore/Machine/PrivacyFence.h"

#include "QuandrilCore/Platform/PathText.h"

namespace Quandril {

namespace {

constexpr const char* guardedNames[] = {
    "Desktop",
    "Documents",
    "Downloads",
    "Library/Containers",
    "Library/Group Containers",
    "Library/Mail",
    "Library/Messages",
    "Library/Safari",
    "Library/Calendars",
    "Library/Reminders",
    "Library/HomeKit",
    "Pictures/Photos Library.photoslibrary",
};

// Roots are matched as text, exactly as registered.
using Platform::below;

} // namespace

PrivacyFence& PrivacyFence::shared()
{
    static PrivacyFence fence;
    return fence;
}

std::vector<std::string> PrivacyFence::guardedRoots(const std::string& home)
{
    std::vector<std::string> roots;
    for (const char* name : guardedNames)
        roots.push_back(home + "/" + name);
    return roots;
}

Platform::Token PrivacyFence::begin(std::vector<std::string> roots)
{
    auto token = Platform::Token::random();
    if (!roots.empty()) {
        std::lock_guard guard(lock_);
        registrations_[token] = std::move(roots);
    }
    return token;
}

void PrivacyFence::end(const Platform::Token& token)
{
    std::lock_guard guard(lock_);
    registrations_.erase(token);
}

std::vector<std::string> PrivacyFence::active() const
{
    std::lock_guard guard(lock_);
    std::vector<std::string> roots;
    for (const auto& [token, list] : registrations_)
        roots.insert(roots.end(), list.begin(), list.end());
    return roots;
}

bool PrivacyFence::isFenced(std::string_view path) const
{
    std::lock_guard guard(lock_);
    for (const auto& [token, list] : registrations_)
        for (const auto& root : list)
            if (path == root || below(path, root))
                return true;
    return false;
}

bool PrivacyFence::blocks(std::string_view path) const
{
    std::lock_guard guard(lock_);
    for (const auto& [token, list] : registrations_)
        for (const auto& root : list)
            if (below(path, root))
                return true;
    return false;
}

PrivacyFence::Registration::Registration(PrivacyFence& fence, std::vector<std::string> roots)
    : fence_(fence)
    , token_(fence.begin(std::move(roots)))
{
}

PrivacyFence::Registration::~Registration()
{
    fence_.end(token_);
}

} // namespace Quandril
