#pragma once

// Stand-ins for the desktop services, for tests of the views and the model that use them. They
// record what they were asked and answer what the test sets. MountWatcher and WakeWatcher need no
// fake: a test emits mounted() / woke() on a plain instance.

#include "QuandrilApp/Platform/AppLauncher.h"
#include "QuandrilApp/Platform/LoginItem.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Reveal.h"

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QMetaObject>
#include <QPair>
#include <QPointer>
#include <QStringList>

namespace Quandril::AppTesting {

// Answers asynchronously, like the desktop, so tests see the same order as the app does.
class FakeNotifier final : public Quandril::App::Notifier {
public:
    QList<QPair<QString, QString>> posted; // title, body
    QList<Options> requests;
    Quandril::App::NotificationAuth auth = Quandril::App::NotificationAuth::authorized;

    void notify(const QString& title, const QString& body) override { posted.append({ title, body }); }

    void requestAuthorization(Options options, QObject* context, std::function<void()> done) override
    {
        requests.append(options);
        if (done)
            QMetaObject::invokeMethod(context ? context : qApp, std::move(done), Qt::QueuedConnection);
    }

    void readAuthorization(QObject* context, std::function<void(Quandril::App::NotificationAuth)> done) override
    {
        QMetaObject::invokeMethod(
            context ? context : qApp, [done = std::move(done), auth = auth] { done(auth); }, Qt::QueuedConnection);
    }
};

class FakeLoginItem final : public Quandril::App::LoginItem {
public:
    bool enabled = false;
    // When set, register and unregister fail with it and change nothing.
    std::optional<QString> failure;
    QList<bool> changes; // each register (true) / unregister (false) asked for

    bool isEnabled() const override { return enabled; }
    std::optional<QString> register_() override { return change(true); }
    std::optional<QString> unregister() override { return change(false); }

private:
    std::optional<QString> change(bool on)
    {
        changes.append(on);
        if (!failure)
            enabled = on;
        return failure;
    }
};

class FakeReveal final : public Quandril::App::Reveal {
public:
    QStringList revealed;
    bool reveal(const QString& path) override
    {
        if (!QDir::isAbsolutePath(path))
            return false;
        revealed.append(path);
        return true;
    }
};

class FakeAppLauncher final : public Quandril::App::AppLauncher {
public:
    QStringList opened;
    // Names of applications that aren't installed: tryOpenApp answers false for them.
    QStringList missing;
    void openApp(const QString& name) override { opened.append(name); }
    void tryOpenApp(const QString& name, QObject* context, std::function<void(bool)> done) override
    {
        opened.append(name);
        QMetaObject::invokeMethod(
            context ? context : qApp,
            [done = std::move(done), ok = !missing.contains(name)] {
                if (done)
                    done(ok);
            },
            Qt::QueuedConnection);
    }
};

} // namespace Quandril::AppTesting
