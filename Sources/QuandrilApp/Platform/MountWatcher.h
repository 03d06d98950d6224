#pragma once

// Tells when a volume is mounted. The kernel's mount table (/proc/self/mountinfo) flags every
// change as an exceptional condition on the open file; each flag re-reads the table, and a mount
// that wasn't there before is a new volume.

#include <QObject>
#include <QSet>
#include <QString>

class QSocketNotifier;

namespace Quandril::App {

// What the rest of the app listens to. Tests emit mounted() on a plain instance.
class MountWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // One or more volumes were mounted since the last change.
    void mounted();
};

class MountInfoWatcher final : public MountWatcher {
    Q_OBJECT
public:
    explicit MountInfoWatcher(const QString& mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QObject* parent = nullptr);
    ~MountInfoWatcher() override;

    // Whether the table could be opened; when not, nothing is ever reported.
    bool isWatching() const;

public slots:
    // Reads the table again and emits mounted() when it holds a mount it didn't hold before.
    void check();

private:
    QSet<QString> readMounts() const;

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QSet<QString> mounts_;
};

} // namespace Quandril::App
