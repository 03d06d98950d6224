#include "Support/ModelFixture.h"

#include <QDeadlineTimer>
#include <QTest>

#include "QuandrilApp/Model/TaskPool.h"

namespace Quandril::AppTesting {

ModelFixture::ModelFixture() = default;

ModelFixture::~ModelFixture()
{
    // Let tasks held by a test finish before the machine they read is removed.
    for (EngineCall kind :
         { EngineCall::scan, EngineCall::clean, EngineCall::undo, EngineCall::scanCloud, EngineCall::cleanCloud,
           EngineCall::status, EngineCall::history, EngineCall::putBackOffers })
        engine->release(kind);
    model.reset();
    App::TaskPool::shared().waitForDone(20000);
}

App::Model& ModelFixture::make()
{
    App::Model& made = start();
    waitUntil([&made] { return made.historyRead(); });
    return made;
}

App::Model& ModelFixture::start()
{
    model.reset();
    App::ModelServices services;
    services.engine = engine;
    services.access = access;
    services.clock = clock;
    model = std::make_unique<App::Model>(machine.mac(), *preferences, services);
    return *model;
}

bool ModelFixture::settle(int timeoutMs)
{
    return waitUntil(
        [this] {
            const App::Model& m = *model;
            return !m.scanning() && !m.cleaning() && !m.cloudScanning() && !m.cloudRunning() && m.puttingBack().empty()
                && !App::TaskPool::busy();
        },
        timeoutMs);
}

namespace {

QString joined(const std::set<std::string>& ids)
{
    QStringList out;
    for (const auto& id : ids)
        out << QString::fromStdString(id);
    return out.join(QLatin1Char(','));
}

QString joined(const std::vector<CleanResult>& results)
{
    QStringList out;
    for (const auto& result : results)
        out << QString::fromStdString(result.id + ":" + std::string(rawValue(result.status)));
    return out.join(QLatin1Char(','));
}

} // namespace

QString publishedState(const App::Model& m)
{
    QStringList history;
    for (const auto& entry : m.history())
        history << QString::fromStdString(entry.id);
    if (!m.historyWhyNot().empty())
        history << QStringLiteral("(refused)");
    auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    return QStringList {
        "report=" + (m.report() ? QString::number(m.report()->findings.size()) : QStringLiteral("-")),
        "status=" + QString::number(m.status().trashBytes),
        "scanning=" + flag(m.scanning()),
        "selected=" + joined(m.selected()),
        "results=" + joined(m.lastResults()),
        "cleaning=" + flag(m.cleaning()),
        "history=" + history.join(QLatin1Char(',')),
        "putting=" + joined(m.puttingBack()),
        "cloudScan=" + (m.cloudScan() ? QString::number(m.cloudScan()->items().size()) : QStringLiteral("-")),
        "cloudScanning=" + flag(m.cloudScanning()),
        "cloudSelected=" + joined(m.cloudSelected()),
        "cloudRunning=" + flag(m.cloudRunning()),
        "progress=" + (m.cloudProgress() ? QString::fromStdString(*m.cloudProgress()) : QStringLiteral("-")),
        "cloudResults=" + joined(m.cloudResults()),
    }
        .join(QLatin1Char(' '));
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents();
        // Twice, around the outcomes a task may have posted just before it finished.
        if (done()) {
            QCoreApplication::processEvents();
            if (done())
                return true;
        }
        if (deadline.hasExpired())
            return false;
        QTest::qWait(1);
    }
}

} // namespace Quandril::AppTesting
