#pragma once

// Starting the app when the user logs in. The desktop's autostart folder holds one entry of ours,
// gorrin.desktop; the registration lives there only, so a change made in the desktop's own
// settings shows the next time anyone asks.

#include <QString>

#include <optional>

namespace Quandril::App {

class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Whether the app starts at login.
    virtual bool isEnabled() const = 0;
    // Make the app start at login, or stop it; on failure, one sentence saying why.
    virtual std::optional<QString> register_() = 0;
    virtual std::optional<QString> unregister() = 0;
};

// The XDG autostart entry <autostart folder>/gorrin.desktop.
class AutostartLoginItem final : public LoginItem {
public:
    // `folder` defaults to autostartFolder(), `executable` to this program's own path.
    explicit AutostartLoginItem(QString folder = {}, QString executable = {});

    bool isEnabled() const override;
    std::optional<QString> register_() override;
    std::optional<QString> unregister() override;

    QString entryPath() const;

    // "autostart" in AppFolders::configHome(); empty when there is no home to hold it.
    static QString autostartFolder();

private:
    QString folder_;
    QString executable_;
};

} // namespace Quandril::App
