#include "Support/OrdinaryUser.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "Support/Unprivileged.h"

namespace Quandril::AppTesting {

namespace {

// Whether a user who owns none of the folders from `path` up to the root may pass through them all.
bool othersMayEnter(const QString& path)
{
    for (QDir dir(QFileInfo(path).absoluteFilePath());; dir.cdUp()) {
        struct stat status {};
        if (::stat(QFile::encodeName(dir.path()).constData(), &status) != 0 || (status.st_mode & S_IXOTH) == 0)
            return false;
        if (dir.isRoot())
            return true;
    }
}

} // namespace

void runRowAsOrdinaryUser()
{
    const QString base = othersMayEnter(QDir::tempPath()) ? QDir::tempPath() : QStringLiteral("/tmp");
    QTemporaryDir home(base + QStringLiteral("/ordinary-user-XXXXXX"));
    QVERIFY2(home.isValid(), qPrintable(home.errorString()));
    const QByteArray homePath = QFile::encodeName(home.path());
    QVERIFY2(::chown(homePath.constData(), Testing::ordinaryUid, Testing::ordinaryGid) == 0,
             qPrintable("can't give " + home.path() + " to uid " + QString::number(Testing::ordinaryUid)));

    // The platform the tests run on stays; root's own folders are no business of the child's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         { "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME" })
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("TMPDIR"), home.path());

    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(home.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("setpriv"),
                { QStringLiteral("--reuid=%1").arg(Testing::ordinaryUid),
                  QStringLiteral("--regid=%1").arg(Testing::ordinaryGid), QStringLiteral("--clear-groups"),
                  QStringLiteral("--"), QCoreApplication::applicationFilePath(), function + ':' + tag,
                  QStringLiteral("-o"), QStringLiteral("-,txt") });
    QVERIFY2(child.waitForStarted(), qPrintable("can't run setpriv: " + child.errorString()));
    const bool finished = child.waitForFinished(300'000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    const QString says = "\nuid " + QString::number(Testing::ordinaryUid) + " ran " + function + '(' + tag
        + ") and said:\n" + output;
    QVERIFY2(finished, qPrintable("no end within five minutes" + says));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable("exit code " + QString::number(child.exitCode()) + says));
    // A row skipped or never found there would pass unseen.
    const QString row = "::" + function + '(' + tag + ')';
    const QStringList lines = output.split('\n');
    QVERIFY2(std::any_of(lines.begin(), lines.end(),
                         [&](const QString& line) { return line.startsWith("PASS   : ") && line.endsWith(row); }),
             qPrintable("the row did not pass there" + says));
}

} // namespace Quandril::AppTesting
