#include <QtTest>

#include <limits>

#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Look/GoalPicker.h"
#include "Support/FakeMachine.h"
#include "Support/ScriptedEngine.h"

using namespace Quandril;
using namespace Quandril::App;

namespace {

using Changes = std::function<void(Finding&)>;

std::set<std::string> idSet(const QString& list)
{
    std::set<std::string> out;
    for (const QString& id : list.split(',', Qt::SkipEmptyParts))
        out.insert(id.toStdString());
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Changes)

class FreeUpLogicTests : public QObject {
    Q_OBJECT

private slots:
    // The status icon marks exactly the findings the clean-up leaves to the user; the lines under
    // the reason follow the caution, blocked, unsure and steps fields.
    void rowIconAndMarks_data()
    {
        QTest::addColumn<Changes>("change");
        QTest::addColumn<QString>("shown"); // icon | marks (symbol tone text) | open button
        const auto handOff = [](std::optional<std::string> app, std::optional<std::string> steps,
                                std::optional<bool> linkable) {
            return Action(Action::Kind::handOff, std::nullopt, std::nullopt, app, steps, std::nullopt, linkable);
        };
        QTest::newRow("trashed: carried out") << Changes([](Finding&) {}) << "- |  | -";
        QTest::newRow("blocked and unsure")
            << Changes([](Finding& f) {
                   f.blockedBy = "Quit Mail first.";
                   f.unsure = true;
               })
            << "pause.circle | pause.circle orange Quit Mail first.; questionmark.circle secondary Whose this is isn't "
               "certain, so Gorrin won't touch it. Look inside first. | -";
        QTest::newRow("caution on a deletion") << Changes([](Finding& f) {
            f.action = Action::delete_();
            f.caution = "Logs since May.";
        }) << "- | exclamationmark.triangle orange Logs since May. | -";
        QTest::newRow("linkable hand-off, nothing more")
            << Changes([&](Finding& f) { f.action = handOff({}, {}, true); }) << "- |  | -";
        QTest::newRow("hand-off with an app, no steps")
            << Changes([&](Finding& f) { f.action = handOff("Steam", {}, {}); }) << "arrow.right.circle |  | Steam";
        QTest::newRow("hand-off with steps, linkable false")
            << Changes([&](Finding& f) { f.action = handOff({}, "Uninstall it in the app.", false); })
            << "arrow.right.circle | arrow.right.circle secondary Uninstall it in the app. | -";
        QTest::newRow("review of a copy") << Changes([](Finding& f) {
            f.action = Action::review();
            f.duplicateOf = "other";
        }) << "- |  | -";
        QTest::newRow("review") << Changes([](Finding& f) { f.action = Action::review(); }) << "eye |  | -";
        QTest::newRow("steps ignored unless handed off") << Changes([](Finding& f) {
            f.action = Action(Action::Kind::trash, std::nullopt, std::nullopt, "Mail", "Steps.");
        }) << "- |  | -";
    }

    void rowIconAndMarks()
    {
        QFETCH(Changes, change);
        QFETCH(QString, shown);
        Finding finding = AppTesting::finding("a", 100);
        change(finding);
        QStringList marks;
        for (const auto& mark : FreeUpLogic::marks(finding))
            marks << mark.symbol + " " + toneName(mark.tone) + " " + mark.text;
        const QString icon = FreeUpLogic::statusSymbol(finding);
        const QString app = FreeUpLogic::openAppName(finding);
        QCOMPARE((icon.isEmpty() ? "-" : icon) + " | " + marks.join("; ") + " | " + (app.isEmpty() ? "-" : app), shown);
    }

    // Sums stop at the ends of the 64-bit range; choices the report no longer holds never reach
    // a clean-up.
    void sumsSaturateAndStaleChoicesDrop()
    {
        constexpr auto most = std::numeric_limits<std::int64_t>::max();
        constexpr auto least = std::numeric_limits<std::int64_t>::min();
        const Finding big = AppTesting::finding("big", most);
        const Finding more = AppTesting::finding("more", 5);
        const Finding owed = AppTesting::finding("owed", least);
        const Finding less = AppTesting::finding("less", -5);
        QCOMPARE(FreeUpLogic::totalBytes({ &big, &more, &more }), most);
        QCOMPARE(FreeUpLogic::totalBytes({ &owed, &less }), least);

        ScanReport report;
        report.findings = { AppTesting::finding("c", 1), AppTesting::finding("b", 2), AppTesting::finding("c", 3) };
        const std::optional<ScanReport> current = report;
        QCOMPARE(FreeUpLogic::chosenInReport(current, idSet("a,b,c")), (std::vector<std::string> { "c", "b" }));
        QVERIFY(FreeUpLogic::freeUpEnabled(current, idSet("a,b"), false));
        QVERIFY(!FreeUpLogic::freeUpEnabled(current, idSet("a,b"), true));
        QVERIFY(!FreeUpLogic::freeUpEnabled(current, idSet("a,gone"), false));
        QVERIFY(!FreeUpLogic::freeUpEnabled(std::nullopt, idSet("b"), false));
        QVERIFY(FreeUpLogic::chosenInReport(std::nullopt, idSet("b")).empty());
    }

    // "Good to know": the notes as written, then one sentence for the folders a cloud drive syncs.
    void noteLines_data()
    {
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QStringList>("skipped"); // path=why
        QTest::addColumn<QStringList>("lines");
        const QString synced = QStringLiteral("never looked into: iCloud Drive");
        QTest::newRow("neither") << QStringList() << QStringList { "~/Secret=a path you added" } << QStringList();
        QTest::newRow("notes only") << QStringList { "Mail is open.", "<b>x</b>" } << QStringList()
                                    << QStringList { "Mail is open.", "<b>x</b>" };
        QTest::newRow("three synced folders, in report order")
            << QStringList {}
            << QStringList { "~/Desktop=" + synced, "~/Other=needs Full Disk Access", "~/Documents=" + synced,
                             "~/Downloads=never looked into: Dropbox" }
            << QStringList { "Not looked into, because iCloud or another cloud drive syncs them: ~/Desktop, "
                             "~/Documents, ~/Downloads." };
        QTest::newRow("the reason must begin so, in these capitals")
            << QStringList { "A note." }
            << QStringList { "~/A=it was never looked into", "~/B=Never looked into: iCloud Drive" }
            << QStringList { "A note." };
    }

    void noteLines()
    {
        QFETCH(QStringList, notes);
        QFETCH(QStringList, skipped);
        QFETCH(QStringList, lines);
        Testing::FakeMachine machine;
        const Mac mac = machine.mac();
        ScanReport report;
        for (const QString& note : notes)
            report.notes.push_back(note.toStdString());
        for (const QString& entry : skipped)
            report.skipped.push_back(
                { mac.path(entry.section('=', 0, 0).toStdString()), entry.section('=', 1).toStdString() });
        QCOMPARE(FreeUpLogic::noteLines(report, mac), lines);
    }

    // A typed goal is stored exactly as typed when it parses; anything else is refused.
    void customGoals()
    {
        const std::pair<QString, bool> rows[] { { "60GB", true },  { " 60 gb ", true }, { "60", true },
                                                { "15%", true },   { "lots", false },   { "0GB", false },
                                                { "100%", false }, { "", false },       { "99999999999TB", false } };
        for (const auto& [typed, accepted] : rows)
            QVERIFY2(GoalPickerLogic::acceptedCustom(typed) == (accepted ? std::optional(typed) : std::nullopt),
                     qPrintable("typed: \"" + typed + "\""));
    }
};

QTEST_MAIN(FreeUpLogicTests)
#include "FreeUpLogicTests.moc"
