#include <QtTest>

#include <QSystemTrayIcon>

#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/MenuLabel.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// "symbol | used share | warning | text", "-" where a part is absent.
QString describe(const MenuLabel::Content& content)
{
    return (content.symbol.isEmpty() ? QStringLiteral("-") : content.symbol) + " | "
        + (content.used ? QString::number(*content.used) : QStringLiteral("-")) + " | "
        + (content.warning ? "warning" : "-") + " | " + (content.text.isEmpty() ? QStringLiteral("-") : content.text);
}

ScanReport statusWith(std::int64_t total, std::int64_t free, std::int64_t strictFree, bool startup = true)
{
    ScanReport status;
    status.drives.push_back(DriveInfo { "Data", "/data", false, 1'000'000'000'000, 1, 1 });
    status.drives.push_back(DriveInfo { "Macintosh HD", "/", startup, total, free, strictFree });
    return status;
}

} // namespace

class MenuLabelTests : public QObject {
    Q_OBJECT

private slots:
    void contentForEveryStyle()
    {
        struct Row {
            const char* name;
            const char* style;
            qint64 total, free;
            bool underGoal;
            const char* expected;
            const char* source = "finder";
            const char* units = "decimal";
            bool startup = true;
        };
        std::vector<Row> rows {
            { "bar, goal met", "bar", 1000, 250, false, "- | 0.75 | - | 0 KB" },
            { "bar, under the goal", "bar", 1000, 250, true, "- | 0.75 | warning | 0 KB" },
            { "bar, free equal to the total", "bar", 1000, 1000, false, "- | 0 | - | 1 KB" },
            { "bar, free above the total", "bar", 1000, 3000, false, "- | -2 | - | 3 KB" },
            { "bar, nothing free", "bar", 1000, 0, false, "- | 1 | - | 0 KB" },
            { "bar, a total of 0 counts as 1", "bar", 0, 0, false, "- | 1 | - | 0 KB" },
            { "bar, binary units", "bar", 500'000'000'000, 3 * 1024 * 1024, false, "- | 0.999994 | - | 3 MiB", "finder",
              "binary" },
            { "bar, strict count", "bar", 500'000'000'000, 100'000'000'000, true, "- | 0.9 | warning | 50 GB",
              "strict" },
            { "percent, 12.5 rounds up", "percent", 1000, 125, false, "internaldrive | - | - | 13% free" },
            { "percent, 12.4 rounds down", "percent", 1000, 124, false, "internaldrive | - | - | 12% free" },
            { "percent, nothing free", "percent", 1000, 0, false, "internaldrive | - | - | 0% free" },
            { "percent, all free", "percent", 1000, 1000, false, "internaldrive | - | - | 100% free" },
            { "percent, under the goal", "percent", 1000, 125, true, "exclamationmark.triangle | - | - | 13% free" },
            { "percent, strict count", "percent", 1000, 125, false, "internaldrive | - | - | 6% free", "strict" },
            { "percent, a total of 0", "percent", 0, 5, false, "internaldrive | - | - | 500% free" },
            { "percent, beyond 64 bits", "percent", 1, int64Max, false,
              "internaldrive | - | - | 9223372036854775807% free" },
            { "icon, goal met", "icon", 1000, 125, false, "internaldrive | - | - | -" },
            { "icon, under the goal", "icon", 1000, 125, true, "exclamationmark.triangle | - | - | -" },
        };
        for (const char* style : { "bar", "percent", "icon" })
            rows.push_back({ "no startup drive", style, 1000, 125, true, "internaldrive | - | - | -", "finder",
                             "decimal", false });
        QStringList got, expected;
        for (const Row& row : rows) {
            // The strict count is half the Finder's in every row.
            const auto content = MenuLabel::content(statusWith(row.total, row.free, row.free / 2, row.startup),
                                                    row.underGoal, *gaugeStyleFromRaw(row.style),
                                                    *freeSpaceSourceFromRaw(row.source), *sizeUnitsFromRaw(row.units));
            const QString name = QString::fromUtf8(row.name) + " (" + row.style + "): ";
            got << name + describe(content);
            expected << name + row.expected;
        }
        QCOMPARE(got, expected);
    }

    void followsTheModelAndTheDisplaySettingsAndAnswersTheAppRequests()
    {
        AppTesting::ServicesFixture f;
        AppServices& services = f.services();
        AppSignals requests;
        AppDelegate delegate(services, requests);
        QStringList opened;
        MenuLabel label(services, requests, delegate, { [&] { opened << "main"; }, [&] { opened << "settings"; } });
        const QSystemTrayIcon& tray = label.trayIcon();

        // The fake startup drive: 100 GB free of 500 GB, above the 50 GB default goal.
        QCOMPARE(describe(label.shown()), QStringLiteral("- | 0.8 | - | 100 GB"));
        QCOMPARE(tray.toolTip(), QStringLiteral("100 GB"));
        QVERIFY(!tray.icon().isNull());

        Preferences& preferences = services.preferences;
        preferences.setString(QString(Keys::gaugeStyle), QStringLiteral("percent"));
        QCOMPARE(tray.toolTip(), QStringLiteral("20% free"));
        preferences.setString(Keys::goal(services.model.status().startup()->path), QStringLiteral("30%"));
        services.model.announceChange();
        QCOMPARE(describe(label.shown()), QStringLiteral("exclamationmark.triangle | - | - | 20% free"));
        preferences.setString(QString(Keys::gaugeStyle), QStringLiteral("icon"));
        QCOMPARE(tray.toolTip(), QStringLiteral("Gorrin"));
        // A stored style that is none of the three reads as the bar.
        preferences.setString(QString(Keys::gaugeStyle), QStringLiteral("Percent"));
        QCOMPARE(describe(label.shown()), QStringLiteral("- | 0.8 | warning | 100 GB"));
        preferences.setString(QString(Keys::sizeUnits), QStringLiteral("binary"));
        QCOMPARE(tray.toolTip(), QStringLiteral("93.1 GiB"));

        emit requests.showWindow();
        emit requests.showSettings();
        QCOMPARE(opened, QStringList({ "main", "settings" }));
        // Asking for the main window makes the app a regular one.
        QCOMPARE(delegate.activationPolicy(), ActivationPolicy::regular);
    }
};

QTEST_MAIN(MenuLabelTests)
#include "MenuLabelTests.moc"
