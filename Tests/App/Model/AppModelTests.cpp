// The model's state, start-up, derived values and never-touch paths.

#include <limits>
#include <unordered_set>

#include <QSignalSpy>
#include <QtTest>

#include "QuandrilApp/Platform/Preferences.h"
#include "Support/ModelFixture.h"
#include "Support/SignalRecorder.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

constexpr qint64 most = std::numeric_limits<qint64>::max();
constexpr qint64 least = std::numeric_limits<qint64>::min();

DriveInfo drive(std::string path, bool startup, std::int64_t total = 1'000'000'000'000,
                std::int64_t free = 100'000'000'000, std::int64_t strictFree = 90'000'000'000)
{
    return DriveInfo { "Drive " + path, std::move(path), startup, total, free, strictFree };
}

ScanReport statusOf(std::vector<DriveInfo> drives)
{
    ScanReport status;
    status.drives = std::move(drives);
    return status;
}

QString goalText(const std::optional<Goal>& goal)
{
    return goal ? QString::fromStdString(goal->description()) : QStringLiteral("none");
}

QString storedProtected(const Preferences& preferences)
{
    auto data = preferences.data(QStringLiteral("extraProtected"));
    return data ? QString::fromUtf8(*data) : QStringLiteral("absent");
}

} // namespace

class AppModelTests : public QObject {
    Q_OBJECT

private slots:
    void startsInOrderWithEmptyState()
    {
        ModelFixture f;
        const Mac mac = f.machine.mac();
        for (const char* id : { "first", "second", "third" })
            History::append(historyEntry(id, f.clock->now()), mac);
        f.preferences->setData(QStringLiteral("extraProtected"), R"([{"path":"~/Keep","why":"mine"}])");
        Model& model = f.make();

        QCOMPARE(f.engine->order(),
                 (std::vector { EngineCall::catalog, EngineCall::status, EngineCall::history,
                                EngineCall::putBackOffers }));
        QCOMPARE(publishedState(model),
                 "report=- status=0 scanning=0 selected= results= cleaning=0 history=third,second,first putting= "
                 "cloudScan=- cloudScanning=0 cloudSelected= cloudRunning=0 progress=- cloudResults=");
        QCOMPARE(jsonText(model.extraProtected()), R"([{"path":"~/Keep","why":"mine"}])");
        QCOMPARE(model.status().drives, mac.drives());
        QVERIFY(model.catalog() && !model.scannedAt() && !model.cloudStop().isOn() && !model.cloudEnabled());
    }

    void goals_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("startup");
        QTest::addColumn<QString>("goal");
        QTest::newRow("startup, nothing stored") << QVariant() << true << "50 GB";
        QTest::newRow("other drive, nothing stored") << QVariant() << false << "none";
        QTest::newRow("startup, no goal chosen") << QVariant(QString()) << true << "none";
        QTest::newRow("share") << QVariant(QStringLiteral(" 20% ")) << true << "20% of the drive";
        QTest::newRow("other drive, bytes") << QVariant(QStringLiteral("1TB")) << false << "1000 GB";
        QTest::newRow("text that doesn't parse: no fallback") << QVariant(QStringLiteral("lots")) << true << "none";
        QTest::newRow("not text: as if nothing stored") << QVariant(qint64(5)) << true << "50 GB";
    }

    void goals()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, startup);
        QFETCH(QString, goal);
        ModelFixture f;
        const DriveInfo asked = drive(startup ? "/" : "/Volumes/Backup HD", startup);
        if (stored.isValid())
            f.preferences->set(QStringLiteral("goal:") + QString::fromStdString(asked.path), stored);
        QCOMPARE(goalText(f.make().goal(asked)), goal);
    }

    void startupShort()
    {
        constexpr qint64 T = 1'000'000'000'000, G = 1'000'000'000;
        const struct {
            const char* row;
            qint64 total, free, strictFree;
            const char* goal; // nullptr: none stored
            const char* source;
            std::optional<std::int64_t> lacking;
        } rows[] = {
            { "share, below", T, 150 * G, 0, "20%", "finder", 50 * G },
            { "share, exactly met", T, 200 * G, 0, "20%", "finder", {} },
            { "strict count", T, 250 * G, 150 * G, "20%", "strict", 50 * G },
            { "Finder's count", T, 250 * G, 150 * G, "20%", "finder", {} },
            { "default goal", T, 20 * G, 0, nullptr, "finder", 30 * G },
            { "no goal", T, 0, 0, "", "finder", {} },
            { "largest drive, nearly all", most, 0, 0, "99.99999999999999%", "finder",
              Goal::parse("99.99999999999999%")->bytes(most) },
            { "held at the limit", T, least, least, "9000000000GB", "finder", most },
        };
        for (const auto& r : rows) {
            ModelFixture f;
            f.engine->onStatus = [r](const Mac&) {
                return statusOf({ drive("/Volumes/X", false), drive("/", true, r.total, r.free, r.strictFree) });
            };
            if (r.goal)
                f.preferences->setString(QStringLiteral("goal:/"), r.goal);
            f.preferences->setString(QStringLiteral("freeSpaceSource"), r.source);
            QCOMPARE(std::pair(r.row, f.make().startupShort().value_or(-1)), std::pair(r.row, r.lacking.value_or(-1)));
        }
    }

    void withoutAStartupDriveNothingIsShortAndExternalsKeepTheirOrder()
    {
        ModelFixture f;
        f.engine->onStatus = [](const Mac&) {
            return statusOf({ drive("/Volumes/A", false), drive("/Volumes/B", false) });
        };
        Model& model = f.make();
        QVERIFY(!model.startupShort());
        model.setStatus(statusOf({ drive("/Volumes/B", false), drive("/", true), drive("/Volumes/A", false) }));
        QCOMPARE(model.externals(), (std::vector { drive("/Volumes/B", false), drive("/Volumes/A", false) }));
        model.setStatus(statusOf({ drive("/", true) }));
        QVERIFY(model.externals().empty());
        // "/" beside a home on a file system of its own is no place to move to.
        model.setStatus(statusOf({ drive("/", false), drive("/home", true), drive("/Volumes/A", false) }));
        QCOMPARE(model.externals(), std::vector { drive("/Volumes/A", false) });

        // One volume read twice is one drive.
        const DriveInfo later = drive("/Volumes/B", false, 1, 2, 3);
        QVERIFY(sameDrive(drive("/Volumes/B", false), later));
        const std::unordered_set<DriveInfo, DriveHash, decltype(&sameDrive)> drives({ drive("/Volumes/B", false),
                                                                                      later },
                                                                                    2, DriveHash(), &sameDrive);
        QCOMPARE(drives.size(), std::size_t(1));
    }

    void selectedBytesCountsKnownFindingsAndStopsAtTheLimit()
    {
        ModelFixture f;
        f.engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) {
            return reportWith(mac, { finding("a", most - 10), finding("b", 100), finding("a", 5) });
        };
        Model& model = f.make();
        model.setSelected({ "b", "ghost" });
        QCOMPARE(model.selectedBytes(), 0); // no report yet
        model.scan();
        QVERIFY(f.settle());
        QCOMPARE(model.selected(), (std::set<std::string> { "b" })); // a chosen id the report lacks is dropped
        QCOMPARE(model.selectedBytes(), 100);
        model.setSelected({ "a", "b", "ghost" });
        QCOMPARE(model.selectedBytes(), most);
    }

    void protectedPaths_data()
    {
        QTest::addColumn<QStringList>("steps"); // "+text" adds, "-path" removes
        QTest::addColumn<QString>("stored");    // HOME stands for the real home folder
        const QString why = QStringLiteral(R"(,"why":"a path you added"})");
        QTest::newRow("relative text is expanded")
            << QStringList { "+Documents/Tax" } << R"([{"path":"HOME/Documents/Tax")" + why + "]";
        QTest::newRow("display path kept") << QStringList { "+~/Music" } << R"([{"path":"~/Music")" + why + "]";
        QTest::newRow("absolute path kept")
            << QStringList { "+/Volumes/B/Keep" } << R"([{"path":"/Volumes/B/Keep")" + why + "]";
        QTest::newRow("added twice, stored once")
            << QStringList { "+~/Music", "+~/Music" } << R"([{"path":"~/Music")" + why + "]";
        QTest::newRow("two forms of one folder are two entries")
            << QStringList { "+~/Music", "+Music" }
            << R"([{"path":"~/Music")" + why + R"(,{"path":"HOME/Music")" + why + "]";
        QTest::newRow("removing keeps the others' order")
            << QStringList { "+~/A", "+~/B", "+~/C", "-~/B" }
            << R"([{"path":"~/A")" + why + R"(,{"path":"~/C")" + why + "]";
        QTest::newRow("removing what isn't there still stores") << QStringList { "-~/Nothing" } << "[]";
        QTest::newRow("empty text adds nothing") << QStringList { "+" } << "absent";
    }

    void protectedPaths()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, stored);
        ModelFixture f;
        Model& model = f.make();
        for (const QString& step : steps) {
            if (step.startsWith('+'))
                model.addProtectedPath(step.mid(1).toStdString());
            else
                model.removeProtectedPath(step.mid(1).toStdString());
        }
        stored.replace("HOME", QString::fromStdString(f.machine.home()));
        QCOMPARE(storedProtected(*f.preferences), stored);
        if (stored != "absent") {
            QCOMPARE(jsonText(model.extraProtected()), stored);
            QCOMPARE(jsonText(f.make().extraProtected()), stored); // read back at the next start
        }
    }

    // Stored paths this version can't read are scanned as none, left alone, and kept aside before
    // the list is first written again.
    void unreadableProtectedPathsAreKeptAside_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("not JSON") << QVariant(QByteArray("[{\"path\""));
        QTest::newRow("not a list of paths") << QVariant(QByteArray(R"([{"path":1}])"));
        QTest::newRow("text, not data") << QVariant(QStringLiteral(R"([{"path":"~/A","why":"x"}])"));
        QTest::newRow("a number") << QVariant(qint64(5));
    }

    void unreadableProtectedPathsAreKeptAside()
    {
        QFETCH(QVariant, stored);
        ModelFixture f;
        f.preferences->set(QStringLiteral("extraProtected"), stored);
        Model& model = f.make();
        model.scan();
        QVERIFY(f.settle());
        QVERIFY(model.extraProtected().empty());
        QVERIFY(f.engine->calls(EngineCall::scan).at(0).scanOptions->extraProtected.empty());
        QCOMPARE(f.preferences->stored(QStringLiteral("extraProtected")), stored);

        model.addProtectedPath("~/Keep");
        model.addProtectedPath("~/More");
        QCOMPARE(f.preferences->stored(QStringLiteral("extraProtected.unreadable")), stored);
        QCOMPARE(storedProtected(*f.preferences),
                 R"([{"path":"~/Keep","why":"a path you added"},{"path":"~/More","why":"a path you added"}])");
    }

    void switchingICloudOffForgetsItsScanAndChoice()
    {
        ModelFixture f;
        f.engine->onScanCloud = [](const Mac&) { return cloudScanWith({ "i1", "i2" }); };
        Model& model = f.make();
        model.setCloudEnabled(true);
        QVERIFY(!model.cloudScanning()); // switching on starts no scan
        model.scanCloud();
        QVERIFY(f.settle());
        model.setCloudSelected({ "i1" });

        SignalRecorder recorder(&model);
        model.setCloudEnabled(true);
        QCOMPARE(publishedState(model).section(' ', 8, 10), "cloudScan=2 cloudScanning=0 cloudSelected=i1");
        model.setCloudEnabled(false);
        QCOMPARE(publishedState(model).section(' ', 8, 10), "cloudScan=- cloudScanning=0 cloudSelected=");
        QCOMPARE(f.preferences->boolean(QStringLiteral("icloudEnabled")), false);
        QCOMPARE(recorder.names(),
                 (QStringList { "preferenceChanged", "settingsChanged", "changed", "preferenceChanged",
                                "cloudScanChanged", "cloudSelectionChanged", "settingsChanged", "changed" }));
    }

    void plansOnlyForTheAskedDrive_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("goal");
        QTest::addColumn<bool>("scanned");
        QTest::addColumn<QString>("planFor");
        // Paths below the fake machine's root, which is the startup drive's path.
        QTest::newRow("startup drive") << ""
                                       << "(none)" << true << "";
        QTest::newRow("external drive") << "/Volumes/Backup"
                                        << "10GB" << true << "/Volumes/Backup";
        QTest::newRow("external drive, decomposed form") << "/Volumes/Cafe\u0301"
                                                         << "10GB" << true << "/Volumes/Caf\u00e9";
        QTest::newRow("a drive the scan didn't see") << "/Volumes/Gone"
                                                     << "10GB" << true << "none";
        QTest::newRow("no goal") << "/Volumes/Backup"
                                 << "" << true << "none";
        QTest::newRow("no scan yet") << ""
                                     << "(none)" << false << "none";
    }

    void plansOnlyForTheAskedDrive()
    {
        QFETCH(QString, drive);
        QFETCH(QString, goal);
        QFETCH(bool, scanned);
        QFETCH(QString, planFor);
        ModelFixture f;
        f.machine.drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'000'000'000);
        f.machine.drive("Caf\u00e9", "/Volumes/Caf\u00e9", 2'000'000'000'000, 1'000'000'000);
        const QString root = QString::fromStdString(f.machine.root());
        drive = root + drive;
        f.engine->onScan = [](const Mac& mac, const Catalog&, const ScanOptions&) { return reportWith(mac, {}); };
        if (goal != "(none)")
            f.preferences->setString("goal:" + drive, goal);
        Model& model = f.make();
        if (scanned) {
            model.scan();
            QVERIFY(f.settle());
        }
        const auto plan = model.plan(::drive(drive.toStdString(), drive == root));
        QCOMPARE(plan ? QString::fromStdString(plan->drive.path) : QStringLiteral("none"),
                 planFor == "none" ? planFor : root + planFor);
    }
};

QTEST_GUILESS_MAIN(AppModelTests)
#include "AppModelTests.moc"
