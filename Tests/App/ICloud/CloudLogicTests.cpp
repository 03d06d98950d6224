// What the iCloud section derives from the model's values, without a window: the list's sections
// and their headings (whose rule the findings' tier headings share), the chosen amount, the drive
// to park on, the sheet's contents and the results bar's summary. Sums that would leave the 64-bit
// range are held at its end.

#include <QtTest>

#include <limits>

#include "QuandrilApp/ICloud/CloudConfirmModel.h"
#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Look/SelectAllHeader.h"
#include "Support/TempPreferences.h"

using namespace Quandril;
using namespace Quandril::App;
namespace Logic = CloudResultsLogic;
using Status = CleanResult::Status;

Q_DECLARE_METATYPE(CloudScan)
Q_DECLARE_METATYPE(std::optional<CloudScan>)
Q_DECLARE_METATYPE(std::vector<CleanResult>)

namespace {

constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();

CloudItem item(const std::string& id, std::int64_t bytes, bool onMac = false, std::optional<std::string> caution = {})
{
    const std::string path = "/Users/me/Library/Mobile Documents/com~apple~CloudDocs/" + id + ".bin";
    return { id, path, bytes, onMac, {}, {}, std::move(caution) };
}

CopyGroup group(std::int64_t bytes, std::vector<CloudItem> items)
{
    return { {}, bytes, "/keep/" + std::to_string(bytes), "iCloud", std::move(items), false };
}

CloudScan scan(std::vector<CopyGroup> groups, std::vector<CloudItem> biggest)
{
    return { {}, 0, 0, 0, std::move(groups), std::move(biggest), 0 };
}

template <typename Ids = std::set<std::string>>
Ids idsOf(const QStringList& list)
{
    Ids out;
    for (const auto& id : list)
        out.insert(out.end(), id.toStdString());
    return out;
}

QString joined(const auto& ids)
{
    QStringList out;
    for (const auto& id : ids)
        out << QString::fromStdString(id);
    return out.join(',');
}

QString shown(const std::optional<Logic::Section>& section)
{
    return section ? section->title + " | " + joined(section->ids) + " | " + QString::number(section->bytes)
                   : QStringLiteral("-");
}

// "name@path" per drive.
std::vector<DriveInfo> drives(const QStringList& entries)
{
    std::vector<DriveInfo> out;
    for (const auto& entry : entries) {
        const auto at = entry.lastIndexOf('@');
        out.push_back({ entry.left(at).toStdString(), entry.mid(at + 1).toStdString(), false, 1'000'000'000'000,
                        500'000'000'000, 400'000'000'000 });
    }
    return out;
}

const CloudScan mixed = scan({ group(1000, { item("a1", 1000), item("a2", 1000) }), group(500, { item("b1", 500) }) },
                             { item("c1", 3000), item("c2", 2000) });

} // namespace

class CloudLogicTests : public QObject {
    Q_OBJECT

private slots:
    void listSections_data()
    {
        QTest::addColumn<CloudScan>("scan");
        QTest::addColumn<QString>("copies");
        QTest::addColumn<QString>("biggest");
        QTest::newRow("copies and big files") << mixed << "Copies of the same file | a1,a2,b1 | 2500"
                                              << "Biggest files in iCloud (move them to your drive) | c1,c2 | 5000";
        QTest::newRow("only copies") << scan({ group(7, { item("a", 7) }) }, {}) << "Copies of the same file | a | 7"
                                     << "-";
        QTest::newRow("only big files") << scan({}, { item("c", 9) }) << "-"
                                        << "Biggest files in iCloud (move them to your drive) | c | 9";
        QTest::newRow("neither") << scan({}, {}) << "-"
                                 << "-";
        QTest::newRow("sums held at the limit")
            << scan({ group(most / 2 + 1, { item("a", 1), item("b", 1) }), group(5, { item("c", 5) }) },
                    { item("d", most), item("e", 1) })
            << "Copies of the same file | a,b,c | " + QString::number(most)
            << "Biggest files in iCloud (move them to your drive) | d,e | " + QString::number(most);
    }

    void listSections()
    {
        QFETCH(CloudScan, scan);
        QFETCH(QString, copies);
        QFETCH(QString, biggest);
        QCOMPARE(shown(Logic::copiesSection(scan)), copies);
        QCOMPARE(shown(Logic::biggestSection(scan)), biggest);
    }

    void selectAllHeading_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("shown"); // the button's title | the choice after a click
        QTest::newRow("no ids: all of nothing is chosen, and a click changes nothing")
            << QStringList {} << QStringList { "x" } << "Select none | x";
        QTest::newRow("some chosen: a click adds the rest")
            << QStringList { "a", "b", "c" } << QStringList { "a", "x" } << "Select all | a,b,c,x";
        QTest::newRow("all chosen: a click removes only the heading's own")
            << QStringList { "a", "b" } << QStringList { "a", "b", "x" } << "Select none | x";
        QTest::newRow("duplicates collapse") << QStringList { "a", "a" } << QStringList { "a" } << "Select none | ";
        QTest::newRow("none chosen") << QStringList { "a" } << QStringList {} << "Select all | a";
        QTest::newRow("none of two chosen") << QStringList { "a", "b" } << QStringList {} << "Select all | a,b";
    }

    // The title reads "Select none" exactly when all the heading's ids are chosen; a click clears or
    // fills the section, decided against the choice at the click, and never touches other ids.
    void selectAllHeading()
    {
        QFETCH(QStringList, ids);
        QFETCH(QStringList, selected);
        QFETCH(QString, shown);
        const auto own = idsOf<std::vector<std::string>>(ids);
        QCOMPARE(SelectAllHeader::buttonTitle(own, idsOf(selected)) + " | "
                     + joined(SelectAllHeader::afterClick(own, idsOf(selected))),
                 shown);
    }

    void chosenAmount_data()
    {
        QTest::addColumn<std::optional<CloudScan>>("scan");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("line");
        QTest::newRow("ids the scan doesn't hold count but add nothing")
            << std::optional(mixed) << QStringList { "a1", "c1", "gone" } << "3 chosen, 4 KB";
        QTest::newRow("without a scan nothing adds")
            << std::optional<CloudScan>() << QStringList { "a1" } << "1 chosen, 0 KB";
        QTest::newRow("an id listed twice counts its first item once")
            << std::optional(scan({ group(4000, { item("a", 4000) }) }, { item("a", 9000) })) << QStringList { "a" }
            << "1 chosen, 4 KB";
        QTest::newRow("held at the limit") << std::optional(scan({}, { item("a", most), item("b", most) }))
                                           << QStringList { "a", "b" } << "2 chosen, 9223372037 GB";
    }

    void chosenAmount()
    {
        QFETCH(std::optional<CloudScan>, scan);
        QFETCH(QStringList, selected);
        QFETCH(QString, line);
        AppTesting::TempPreferences preferences;
        QCOMPARE(Logic::chosenLine(scan, idsOf(selected), *preferences), line);
    }

    void parkTarget_data()
    {
        QTest::addColumn<QStringList>("externals");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("target"); // shown | argument
        const QStringList twins { "Backup@/Volumes/Backup", "Backup@/Volumes/Backup 1" };
        QTest::newRow("a name of its own is passed as the name")
            << QStringList { "Backup@/Volumes/Backup", "Photos@/Volumes/Photos" } << "/Volumes/Photos"
            << "Photos | Photos";
        QTest::newRow("the first of two drives of one name goes by its path") << twins << "/Volumes/Backup"
                                                                              << "Backup | /Volumes/Backup";
        QTest::newRow("the second of two drives of one name goes by its path") << twins << "/Volumes/Backup 1"
                                                                               << "Backup | /Volumes/Backup 1";
        QTest::newRow("names alike once composed are shared")
            << QStringList { "Caf\u00e9@/Volumes/a", "Cafe\u0301@/Volumes/b" } << "/Volumes/b"
            << "Cafe\u0301 | /Volumes/b";
        QTest::newRow("a name that is another drive's path is shared")
            << QStringList { "/Volumes/Other@/Volumes/A", "Other@/Volumes/Other" } << "/Volumes/A"
            << "/Volumes/Other | /Volumes/A";
        QTest::newRow("names that differ in case are not shared")
            << QStringList { "backup@/Volumes/backup", "Backup@/Volumes/Backup" } << "/Volumes/Backup"
            << "Backup | Backup";
        QTest::newRow("a drive no longer plugged in goes by its path")
            << QStringList { "Backup@/Volumes/Backup" } << "/Volumes/Gone"
            << "/Volumes/Gone | /Volumes/Gone";
    }

    void parkTarget()
    {
        QFETCH(QStringList, externals);
        QFETCH(QString, chosen);
        QFETCH(QString, target);
        const auto got = Logic::parkTarget(drives(externals), chosen.toStdString());
        QCOMPARE(QString::fromStdString(got.shown) + " | " + QString::fromStdString(got.argument), target);
    }

    void presetDrive_data()
    {
        QTest::addColumn<QString>("stored"); // "-": nothing stored
        QTest::addColumn<QStringList>("externals");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("preset");
        const QStringList two { "Backup@/Volumes/Backup", "Photos@/Volumes/Photos" };
        QTest::newRow("the default drive is plugged in") << "Photos" << two << ""
                                                         << "/Volumes/Photos";
        QTest::newRow("the first of two of the default's name")
            << "Photos" << QStringList { "Backup@/Volumes/B", "Photos@/Volumes/P1", "Photos@/Volumes/P2" } << ""
            << "/Volumes/P1";
        QTest::newRow("the default isn't plugged in") << "Archive" << two << ""
                                                      << "/Volumes/Backup";
        QTest::newRow("an empty default") << "" << two << ""
                                          << "/Volumes/Backup";
        QTest::newRow("no default") << "-" << two << ""
                                    << "/Volumes/Backup";
        QTest::newRow("no external drive") << "Photos" << QStringList {} << ""
                                           << "";
        QTest::newRow("a drive already chosen stays") << "Photos" << two << "/Volumes/Backup"
                                                      << "/Volumes/Backup";
    }

    void presetDrive()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, externals);
        QFETCH(QString, chosen);
        QFETCH(QString, preset);
        const auto defaultName = stored == "-" ? std::nullopt : std::optional<QString>(stored);
        QCOMPARE(QString::fromStdString(Logic::presetDrive(chosen.toStdString(), drives(externals), defaultName)),
                 preset);
    }

    void confirmSheetContents_data()
    {
        QTest::addColumn<CloudScan>("scan");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("shown"); // ids listed | title | summary | caution | start without, with agreement
        const auto shown = [](const char* ids, const char* taken, const char* toDownload, const char* rest) {
            return QStringLiteral("%1 | Take %2 out of iCloud? | %3 has to be downloaded first, 2 GB at a time, so "
                                  "your Mac never runs low. | %4")
                .arg(ids, taken, toDownload, rest);
        };
        const CloudScan sizes = scan({ group(1000, { item("a", 1000), item("b", 3000, true) }) },
                                     { item("c", 1000), item("d", 3000) });
        QTest::newRow("largest first, equal sizes in the order collected")
            << sizes << QStringList { "a", "b", "c", "d" } << shown("b,d,a,c", "8 KB", "4 files. 5 KB", "0 | 1,1");
        QTest::newRow("one file") << sizes << QStringList { "c" } << shown("c", "1 KB", "1 file. 1 KB", "0 | 1,1");
        QTest::newRow("nothing chosen") << sizes << QStringList {} << shown("", "0 KB", "0 files. 0 KB", "0 | 1,1");
        QTest::newRow("all on the Mac, and an id the scan no longer holds")
            << sizes << QStringList { "b", "gone" } << shown("b", "3 KB", "1 file. 0 KB", "0 | 1,1");
        QTest::newRow("a caution waits for the agreement")
            << scan({}, { item("x", 2000), item("y", 5000, false, "Careful.") }) << QStringList { "x", "y" }
            << shown("y,x", "7 KB", "2 files. 7 KB", "1 | 0,1");
        QTest::newRow("sums held at the limit")
            << scan({}, { item("x", most), item("y", most) }) << QStringList { "x", "y" }
            << shown("x,y", "9223372037 GB", "2 files. 9223372037 GB", "0 | 1,1");
    }

    void confirmSheetContents()
    {
        QFETCH(CloudScan, scan);
        QFETCH(QStringList, selected);
        QFETCH(QString, shown);
        AppTesting::TempPreferences preferences;
        const auto model = CloudConfirmModel::build(scan, idsOf(selected));
        QStringList ids;
        for (const auto& chosen : model.chosen)
            ids << QString::fromStdString(chosen.id);
        QCOMPARE(QStringList({ ids.join(','), model.title(*preferences), model.summary(2'000'000'000, *preferences),
                               QString::number(model.anyCaution),
                               QString::number(model.canStart(false)) + ',' + QString::number(model.canStart(true)) })
                     .join(" | "),
                 shown);
        QCOMPARE(CloudConfirmModel::build(std::nullopt, idsOf(selected)).chosen.size(), std::size_t(0));
    }

    void resultsBar_data()
    {
        QTest::addColumn<std::vector<CleanResult>>("results");
        QTest::addColumn<QStringList>("shown"); // the summary, then "<symbol> <tone> | <text>" per line
        QTest::newRow("two of three moved") << std::vector<CleanResult> {
            { "1", "a.mov", Status::done, "Parked.", 1'000'000'000, {} },
            { "2", "b.mov", Status::refused, "Say which drive.", 5'000'000'000, {} },
            { "3", "c.mov", Status::done, "Parked.", 2'000'000'000, {} },
        } << QStringList { "Last run: 2 of 3 out of iCloud, 3 GB", "checkmark.circle primary | a.mov: Parked.", "hand.raised orange | b.mov: Say which drive.", "checkmark.circle primary | c.mov: Parked." };
        QTest::newRow("nothing moved; failed and would-do bytes never count") << std::vector<CleanResult> {
            { "1", "a", Status::failed, "Couldn't copy it.", 7'000'000'000, {} },
            { "2", "b", Status::wouldDo, "Would park it.", 1'000, {} },
        } << QStringList { "Last run: 0 of 2 out of iCloud, 0 KB", "hand.raised orange | a: Couldn't copy it.", "hand.raised orange | b: Would park it." };
        QTest::newRow("held at the limit") << std::vector<CleanResult> {
            { "1", "a", Status::done, "Parked.", most, {} },
            { "2", "b", Status::done, "Parked.", most, {} },
        } << QStringList { "Last run: 2 of 2 out of iCloud, 9223372037 GB", "checkmark.circle primary | a: Parked.", "checkmark.circle primary | b: Parked." };
    }

    void resultsBar()
    {
        QFETCH(std::vector<CleanResult>, results);
        QFETCH(QStringList, shown);
        AppTesting::TempPreferences preferences;
        QStringList got { Logic::summaryLine(results, *preferences) };
        for (const auto& result : results) {
            const auto line = Logic::resultLine(result);
            got << line.symbol + ' ' + toneName(line.tone) + " | " + line.text;
        }
        QCOMPARE(got, shown);
    }
};

QTEST_MAIN(CloudLogicTests)
#include "CloudLogicTests.moc"
