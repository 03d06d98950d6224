#include <limits>
#include <vector>

#include <QtTest>

#include "QuandrilApp/Settings/AppSettings.h"
#include "Support/CommaLocale.h"
#include "Support/TempPreferences.h"

using namespace Quandril::App;
using Quandril::AppTesting::CommaLocale;
using Quandril::AppTesting::TempPreferences;

namespace {

constexpr qint64 most = std::numeric_limits<qint64>::max();

struct BytesRow {
    const char* units; // stored under "sizeUnits"; nullptr: nothing stored
    qint64 count;
    const char* text;
};

const std::vector<BytesRow>& bytesTable()
{
    static const std::vector<BytesRow> rows {
        { nullptr, 1'500'000'000, "1.5 GB" },
        { "decimal", 0, "0 KB" },
        { "decimal", -5'000'000, "0 KB" },
        { "decimal", 999'999, "999 KB" },
        { "decimal", 999'500'000, "1000 MB" },
        { "decimal", 1'250'000'000, "1.2 GB" },
        { "decimal", 99'950'000'000, "100 GB" },
        { "decimal", most, "9223372037 GB" },
        { "Binary", 1'500'000'000, "1.5 GB" },
        { "furlongs", 1'500'000'000, "1.5 GB" },
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
    return rows;
}

QString formatted(Preferences& preferences, const BytesRow& row)
{
    if (row.units)
        preferences.setString(QStringLiteral("sizeUnits"), QString::fromLatin1(row.units));
    else
        preferences.remove(QStringLiteral("sizeUnits"));
    return AppFormat::bytes(row.count, preferences);
}

} // namespace

class AppFormatTests : public QObject {
    Q_OBJECT

private slots:
    void bytes_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < bytesTable().size(); ++i) {
            const BytesRow& row = bytesTable()[i];
            QTest::addRow("%s %lld", row.units ? row.units : "(nothing)", row.count) << static_cast<int>(i);
        }
    }

    void bytes()
    {
        QFETCH(int, index);
        TempPreferences preferences;
        const BytesRow& row = bytesTable()[static_cast<std::size_t>(index)];
        QCOMPARE(formatted(*preferences, row), QString::fromUtf8(row.text));
    }

    void bytesIgnoreACommaDecimalLocale()
    {
        CommaLocale german;
        QVERIFY2(german.cLibraryUsesComma(), "the German locale could not be switched on");
        QCOMPARE(QLocale().toString(1.5), QStringLiteral("1,5"));
        TempPreferences preferences;
        for (const BytesRow& row : bytesTable())
            QCOMPARE(formatted(*preferences, row), QString::fromUtf8(row.text));
    }

    // Only an exact raw value selects a case; anything else is the first case.
    void storedChoices_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("reads");
        auto row = [](const char* key, QVariant stored, const char* reads) {
            QTest::addRow("%s=%s", key, qPrintable(stored.toString())) << QString::fromLatin1(key) << stored
                                                                       << QString::fromLatin1(reads);
        };
        row("freeSpaceSource", QStringLiteral("strict"), "strict");
        row("freeSpaceSource", QStringLiteral("STRICT"), "finder");
        row("freeSpaceSource", QString(), "finder");
        row("freeSpaceSource", QVariant(), "finder");
        row("freeSpaceSource", true, "finder");
        row("sizeUnits", QStringLiteral("binary"), "binary");
        row("sizeUnits", QStringLiteral("Binary"), "decimal");
        row("sizeUnits", QStringLiteral("decimal"), "decimal");
        row("gaugeStyle", QStringLiteral("percent"), "percent");
        row("gaugeStyle", QStringLiteral("icon"), "icon");
        row("gaugeStyle", QStringLiteral("Icon"), "bar");
        row("gaugeStyle", QVariant(), "bar");
    }

    void storedChoices()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QString, reads);
        TempPreferences preferences;
        if (stored.isValid())
            preferences->set(key, stored);
        const QString read = key == "freeSpaceSource" ? rawValue(AppFormat::freeSpaceSource(*preferences))
            : key == "sizeUnits"                      ? rawValue(AppFormat::sizeUnits(*preferences))
                                                      : rawValue(AppFormat::gaugeStyle(*preferences));
        QCOMPARE(read, reads);
    }
};

QTEST_GUILESS_MAIN(AppFormatTests)
#include "AppFormatTests.moc"
