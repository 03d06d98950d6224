#pragma once

// One Gorrin per user. The first launch listens on a local socket in the user's runtime folder; a
// later launch finds it there, asks it to open again, and leaves. A socket left behind by a run
// that crashed is noticed (nobody answers on it) and replaced. Launches that start together take
// turns at this under a lock file beside the socket, so exactly one of them ends up listening.

#include <QObject>
#include <QString>

class QLocalServer;

namespace Quandril::App {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // The socket the app uses: "gorrin-instance" in the user's runtime folder.
    static QString standardName();

    explicit SingleInstance(QString name = standardName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run (it now listens for later launches). False when
    // another one runs: it has been asked to open again, and this process should leave.
    bool claim();

signals:
    // A later launch asked this one to open again.
    void reopened();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace Quandril::App
