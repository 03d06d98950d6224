#pragma once

// Showing an item selected in its folder in the file manager. The item itself is never opened:
// opening would start whatever program the desktop links to its type.

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace Quandril::App {

class Reveal {
public:
    virtual ~Reveal() = default;

    // Shows `path` in the file manager. A path that isn't absolute is refused (false) and nothing
    // is shown; otherwise true, and the showing itself is best effort.
    virtual bool reveal(const QString& path) = 0;
};

// The file manager's org.freedesktop.FileManager1.ShowItems on the session bus; where none
// answers, the folder that holds the item (or the nearest folder above it that still exists) is
// opened instead.
class FileManagerReveal : public QObject, public Reveal {
    Q_OBJECT
public:
    explicit FileManagerReveal(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    bool reveal(const QString& path) override;

    // The folder to open when no file manager shows the item.
    static QString fallbackFolder(const QString& path);

protected:
    virtual void openFolder(const QString& folder);

private:
    QDBusConnection bus_;
};

} // namespace Quandril::App
