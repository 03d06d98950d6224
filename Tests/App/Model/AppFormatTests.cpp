#include <limits>

#include <QtTest>

#include "QuandrilApp/Model/AppSettings.h"
#include "Support/CommaLocale.h"
#include "Support/TempPreferences.h"

using namespace Quandril::App;
using Quandril::AppTesting::CommaLocale;
using Quandril::AppTesting::TempPreferences;

namespace {

constexpr qint64 most = std::numeric_limits<qint64>::max();

// Every row as "<stored units> <count> → <text>"; nullptr units: nothing stored.
QStringList bytesTable(Preferences* preferences)
{
    struct Row {
        const char* units;
        qint64 count;
        const char* text;
    };
    static const Row rows[] = {
        { nullptr, 1'500'000'000, "1.5 GB" },
        { "Binary", 1'500'000'000, "1.5 GB" },
        { "furlongs", 1'500'000'000, "1.5 GB" },
        { "decimal", 0, "0 KB" },
        { "decimal", -5'000'000, "0 KB" },
        { "decimal", 999'999, "999 KB" },
        { "decimal", 999'500'000, "1000 MB" },
        { "decimal", 1'250'000'000, "1.2 GB" },
        { "decimal", 99'950'000'000, "100 GB" },
        { "decimal", most, "9223372037 GB" },
        { "binary", 0, "0 MiB" },
        { "binary", 524'287, "0 MiB" },
        { "binary", 524'288, "1 MiB" },
        { "binary", 1'048'576, "1 MiB" },
        { "binary", 1'073'741'823, "1024 MiB" },
        { "binary", 1'073'741'824, "1 GiB" },
        { "binary", 1'610'612'736, "1.5 GiB" },
        { "binary", 1'342'177'280, "1.2 GiB" },
        { "binary", 10'737'418'240, "10 GiB" },
        { "binary", 1'099'511'627'776, "1024 GiB" },
        { "binary", -5'000'000, "-5 MiB" },
        { "binary", -2'000'000'000'000, "-1907349 MiB" },
        { "binary", most, "8589934592 GiB" },
    };
    QStringList out;
    for (const Row& row : rows) {
        QString text = QString::fromUtf8(row.text);
        if (preferences) {
            if (row.units)
                preferences->setString(QStringLiteral("sizeUnits"), QString::fromLatin1(row.units));
            else
                preferences->remove(QStringLiteral("sizeUnits"));
            text = AppFormat::bytes(row.count, *preferences);
        }
        out << QStringLiteral("%1 %2 → %3").arg(row.units ? row.units : "(nothing)").arg(row.count).arg(text);
    }
    return out;
}

} // namespace

class AppFormatTests : public QObject {
    Q_OBJECT

private slots:
    // The same texts whether decimals are written with a point or a comma.
    void bytesInEitherLocale()
    {
        TempPreferences preferences;
        QCOMPARE(bytesTable(&*preferences), bytesTable(nullptr));
        CommaLocale german;
        QVERIFY2(german.cLibraryUsesComma(), "the German locale could not be switched on");
        QCOMPARE(QLocale().toString(1.5), QStringLiteral("1,5"));
        QCOMPARE(bytesTable(&*preferences), bytesTable(nullptr));
    }

    // Only an exact raw value selects a case; anything else is the first case.
    void storedChoices()
    {
        const QList<std::tuple<QString, QVariant, QString>> rows {
            { "freeSpaceSource", "strict", "strict" },
            { "freeSpaceSource", "STRICT", "finder" },
            { "freeSpaceSource", QString(), "finder" },
            { "freeSpaceSource", QVariant(), "finder" },
            { "freeSpaceSource", true, "finder" },
            { "sizeUnits", "binary", "binary" },
            { "sizeUnits", "Binary", "decimal" },
            { "sizeUnits", "decimal", "decimal" },
            { "gaugeStyle", "percent", "percent" },
            { "gaugeStyle", "icon", "icon" },
            { "gaugeStyle", "Icon", "bar" },
            { "gaugeStyle", QVariant(), "bar" },
        };
        QStringList got, expected;
        for (const auto& [key, stored, reads] : rows) {
            TempPreferences preferences;
            if (stored.isValid())
                preferences->set(key, stored);
            const QString read = key == "freeSpaceSource" ? rawValue(AppFormat::freeSpaceSource(*preferences))
                : key == "sizeUnits"                      ? rawValue(AppFormat::sizeUnits(*preferences))
                                                          : rawValue(AppFormat::gaugeStyle(*preferences));
            const QString row = key + "=" + stored.toString() + (stored.isValid() ? "" : "(none)") + " → ";
            got << row + read;
            expected << row + reads;
        }
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(AppFormatTests)
#include "AppFormatTests.moc"
