// The confirmation sheet of a clean-up: how chosen findings split between the app and the user,
// the sentences, sums and enabling, the drive picker, and what "Free up" hands to the model.

#include <QtTest>

#include <limits>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "QuandrilApp/Findings/ConfirmLogic.h"
#include "QuandrilApp/Findings/ConfirmSheet.h"
#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/ServicesFixture.h"
#include "Support/ViewText.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;
namespace Logic = Quandril::App::ConfirmLogic;
using Kind = Action::Kind;

namespace {

using Change = std::function<void(Finding&)>;

Finding made(std::string id, std::int64_t bytes, const Change& change)
{
    Finding out = finding(std::move(id), bytes);
    change(out);
    return out;
}

Finding movie(std::int64_t bytes = 1000)
{
    return made("movie", bytes, [](Finding& f) { f.action = Action(Kind::move); });
}

QString joined(const auto& ids)
{
    QStringList out;
    for (const auto& id : ids)
        out << QString::fromStdString(id);
    return out.join(',');
}

// A fake machine whose scans find the given findings, with external drives of these names at
// /Volumes/<name>, or, `apart`, at /media/disk<n>/<name> (so names may repeat).
struct Scene {
    std::vector<Finding> found;
    ServicesFixture f;

    explicit Scene(const QStringList& names, bool apart = false)
    {
        std::int64_t free = 900'000'000'000;
        for (int i = 0; i < names.size(); ++i) {
            const std::string name = names[i].toStdString();
            f.machine().drive(name, (apart ? "/media/disk" + std::to_string(i) : std::string("/Volumes")) + "/" + name,
                              2'000'000'000'000, free -= 100'000'000'000);
        }
    }

    Model& model() { return f.services().model; }
    ScriptedEngine& engine() { return *f.modelFixture.engine; }

    // Scans once, then chooses these ids.
    void scanAndChoose(std::vector<Finding> findings, std::set<std::string> chosen)
    {
        found = std::move(findings);
        engine().onScan = [this](const Mac& mac, const Catalog&, const ScanOptions&) { return reportWith(mac, found); };
        engine().onClean = [](const std::vector<std::string>& ids, const CleanOptions&) {
            std::vector<CleanResult> out;
            for (const auto& id : ids)
                out.push_back(result(id, CleanResult::Status::done, "Done.", 1));
            return out;
        };
        model().scan();
        QVERIFY(f.settle());
        model().setSelected(std::move(chosen));
    }

    std::string drivePath(const std::string& mount) const { return f.modelFixture.machine.root() + mount; }
};

} // namespace

Q_DECLARE_METATYPE(Change)

class ConfirmSheetTests : public QObject {
    Q_OBJECT

private slots:
    // Each kind of finding and flag: on which side it lands, its sentence, whether its caution is
    // listed and whether it needs a drive.
    void splitsEveryKind_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("expected");
        const QString trash = "canDo | Moved to the Trash.";
        const QString decide = "forYou | Yours to decide: Show in Finder, then move or keep it.";
        const QString handOff = "canDo | Copied to the drive and checked file by file; the original goes to the Trash "
                                "and a link takes its place, so %1 still find the sounds while the drive is plugged "
                                "in. Quit Logic first. If macOS asks for your password, that's for a folder it "
                                "protects. | drive";
        QTest::newRow("delete") << Change([](Finding& f) { f.action = Action(Kind::delete_); }) << trash;
        QTest::newRow("trash, moves set: no drive") << Change([](Finding& f) { f.action.moves = true; }) << trash;
        QTest::newRow("command") << Change([](Finding& f) {
            f.action = Action(Kind::command, std::vector<std::string> { "xcrun", "simctl", "delete", "unavailable" });
        }) << "canDo | Cleared with its own tool: xcrun simctl delete unavailable";
        QTest::newRow("command without words")
            << Change([](Finding& f) { f.action = Action(Kind::command); }) << "canDo | Cleared with its own tool: ";
        QTest::newRow("move, moves absent") << Change([](Finding& f) { f.action = Action(Kind::move); })
                                            << "canDo | Copied to the drive, checked file by file, then the Mac's "
                                               "copy goes to the Trash. | drive";
        QTest::newRow("linkable hand-off") << Change([](Finding& f) {
            f.action = Action(Kind::handOff, std::nullopt, std::nullopt, "Logic Pro", "Steps.", std::nullopt, true);
            f.owner = "Logic Pro and GarageBand";
        }) << handOff.arg("Logic Pro and GarageBand");
        QTest::newRow("linkable hand-off without owner") << Change([](Finding& f) {
            f.action = Action(Kind::handOff);
            f.action.linkable = true;
        }) << handOff.arg("its apps");
        QTest::newRow("hand-off with steps") << Change([](Finding& f) {
            f.action = Action(Kind::handOff, std::nullopt, std::nullopt, "Steam", "Uninstall it in Steam.");
        }) << "forYou | Uninstall it in Steam.";
        QTest::newRow("hand-off, linkable false") << Change([](Finding& f) {
            f.action = Action(Kind::handOff);
            f.action.linkable = false;
        }) << "forYou | Its own app moves or prunes it.";
        QTest::newRow("review of a copy") << Change([](Finding& f) {
            f.action = Action::review();
            f.duplicateOf = "original";
        }) << "canDo | The copy on the drive stays; this one goes to the Trash after a byte-for-byte check.";
        QTest::newRow("review, still in use")
            << Change([](Finding& f) {
                   f.action = Action::review();
                   f.getBack = "Still in use: opened this month.";
               })
            << "forYou | You're working in it this month, so leave it where it is: moving a folder you work in breaks "
               "the apps and projects that point into it.";
        QTest::newRow("review") << Change([](Finding& f) { f.action = Action::review(); }) << decide;
        QTest::newRow("blocked and unsure: blocked first") << Change([](Finding& f) {
            f.blockedBy = "Xcode is open.";
            f.unsure = true;
        }) << "forYou | Xcode is open. Quit it, scan again, and it can go.";
        QTest::newRow("unsure move")
            << Change([](Finding& f) {
                   f.action = Action(Kind::move);
                   f.unsure = true;
               })
            << "forYou | Whose this is isn't certain. Look inside (Show in Finder) before deciding; if it's yours to "
               "drop, move it to the Trash yourself.";
        QTest::newRow("caution on one the app does")
            << Change([](Finding& f) { f.caution = "Careful."; }) << trash + " | cautioned";
        QTest::newRow("caution on one left to the user") << Change([](Finding& f) {
            f.caution = "Careful.";
            f.action = Action::review();
        }) << decide;
    }

    void splitsEveryKind()
    {
        QFETCH(Change, change);
        QFETCH(QString, expected);
        ScanReport report;
        report.findings = { made("x", 1000, change) };
        const auto split = Logic::split(report, { "x" });
        QCOMPARE(split.chosen.size(), std::size_t(1));
        const Finding& one = split.chosen.front();
        const bool mine = split.canDo.size() == 1;
        QCOMPARE(split.forYou.size(), std::size_t(mine ? 0 : 1));
        QCOMPARE(Logic::actsItself(one), mine);
        QCOMPARE((mine ? "canDo | " + Logic::what(one) : "forYou | " + Logic::howToDo(one))
                     + (split.cautioned.empty() ? "" : " | cautioned") + (split.needsDrive ? " | drive" : ""),
                 expected);
    }

    // Largest first, equal sizes in report order; ids the report lacks are skipped; the sums and
    // the title hold at the 64-bit limit.
    void orderSumsAndTitle()
    {
        constexpr auto most = std::numeric_limits<std::int64_t>::max();
        const auto left = [](std::string id) {
            return made(std::move(id), most, [](Finding& f) { f.action = Action::review(); });
        };
        ScanReport report;
        report.findings = { finding("c", 100),    finding("a", 300),      finding("b", 100), finding("d", 300),
                            finding("big", most), finding("also-big", 5), left("left"),      left("left-too") };
        const auto format = [](std::int64_t n) { return AppFormat::bytes(n, SizeUnits::decimal); };

        auto split = Logic::split(report, { "a", "b", "c", "d", "gone" });
        QStringList got { joined(Logic::request(split, false, {}, "").ids), Logic::title(split, format) };
        split = Logic::split(report, { "big", "also-big", "left", "left-too" });
        got << QString::number(split.canDoBytes) << QString::number(split.forYouBytes) << Logic::title(split, format)
            << Logic::forYouHeading(split, format);
        split = Logic::split(report, { "left" });
        got << Logic::title(split, format) << QString::number(Logic::canFreeUp(split, ""))
            << QString::number(Logic::split(std::nullopt, { "a" }).chosen.size());
        QCOMPARE(got,
                 (QStringList { "a,d,c,b", "Free up " + format(800) + "?", QString::number(most), QString::number(most),
                                "Free up " + format(most) + "?",
                                "For you to do (" + format(most) + "): Gorrin leaves these alone",
                                "Nothing here Gorrin can do itself", "0", "0" }));
    }

    // The sheet over the findings view: what it lists, that "Free up" passes only what the app
    // does, largest first, with the agreement and the drive, and leaves the rest chosen.
    void freesUpWhatTheAppCanDo()
    {
        Scene scene({ "Backup" });
        Finding small = finding("small", 2'000'000'000), film = movie(9'000'000'000);
        Finding steam = finding("steam", 5'000'000'000), busy = finding("busy", 1'000'000'000);
        small.title = "Old caches";
        small.caution = "Some apps sign you out.";
        film.title = "Movies";
        steam.title = "A game";
        steam.action = Action(Kind::handOff, std::nullopt, std::nullopt, "Steam", "Uninstall it in Steam.");
        busy.title = "Busy cache";
        busy.blockedBy = "Xcode is open.";
        busy.caution = "Not listed.";
        scene.scanAndChoose({ small, film, steam, busy }, { "small", "movie", "steam", "busy" });

        FreeUpView view(scene.f.services());
        showAt(view, 760, 900);
        view.confirm();
        ConfirmSheet* sheet = view.confirmSheet();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(shownText(sheet),
                 QStringLiteral(
                     "Free up 11 GB? | 9 GB | Movies | Copied to the drive, checked file by file, then the "
                     "Mac's copy goes to the Trash. | 2 GB | Old caches | Moved to the Trash. | For you to do "
                     "(6 GB): Gorrin leaves these alone | 5 GB | A game | Uninstall it in Steam. | [Open "
                     "Steam] | 1 GB | Busy cache | Xcode is open. Quit it, scan again, and it can go. | Move "
                     "your files to | {Backup (800 GB free)} | Old caches: Some apps sign you out. | [ ]I've "
                     "read these and still want them done | ")
                     + Logic::trashNote + " | [Cancel] | [Free up]");

        // A caution not agreed to doesn't hold "Free up" back. Escape and closing the window change
        // nothing; the next sheet starts unagreed.
        QVERIFY(sheet->freeUpButton()->isEnabled());
        sheet->agreement()->click();
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(waitUntil([&] { return !view.confirmSheet(); }));
        view.confirm();
        view.confirmSheet()->close();
        QVERIFY(waitUntil([&] { return !view.confirmSheet(); }));
        view.confirm();
        sheet = view.confirmSheet();
        QVERIFY(!sheet->agreed() && !sheet->agreement()->isChecked());
        QCOMPARE(scene.engine().count(EngineCall::clean), 0);

        sheet->agreement()->click();
        QTest::keyClick(sheet, Qt::Key_Return);
        QVERIFY(!sheet->isVisible());
        QVERIFY(scene.f.settle());
        QVERIFY(!view.confirmSheet());
        const auto calls = scene.engine().calls(EngineCall::clean);
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(joined(calls.front().ids), QStringLiteral("movie,small"));
        QVERIFY(calls.front().cleanOptions->includeCautioned);
        QCOMPARE(calls.front().cleanOptions->moveTo, std::optional<std::string>("Backup"));
        QCOMPARE(joined(scene.model().selected()), QStringLiteral("busy,steam"));
    }

    // Before anything is done the note says whether History will offer Put Back for it, and why
    // not when the engine won't use the history file, or the file can't take a line now (asked
    // off the GUI thread at each opening).
    void noteSaysWhetherHistoryKeepsIt_data()
    {
        QTest::addColumn<QString>("whyNot");
        QTest::addColumn<QString>("lineWhyNot");
        QTest::addColumn<QString>("note");
        QTest::newRow("History in use") << ""
                                        << "" << Logic::trashNote;
        QTest::newRow("another user's file")
            << "the History file belongs to another user, so Gorrin won't use it"
            << "you don't have permission to write the History file"
            << "Things go to the Trash, where Put Back works. History won't list them or offer Put Back for them: "
               "the History file belongs to another user, so Gorrin won't use it. The space comes back when you "
               "empty the Trash; Gorrin never empties it for you.";
        QTest::newRow("a read-only disk")
            << ""
            << "the History file is on a read-only disk"
            << "Things go to the Trash, where Put Back works. History won't list them or offer Put Back for them: "
               "the History file is on a read-only disk. The space comes back when you empty the Trash; Gorrin "
               "never empties it for you.";
    }

    void noteSaysWhetherHistoryKeepsIt()
    {
        QFETCH(QString, whyNot);
        QFETCH(QString, lineWhyNot);
        QFETCH(QString, note);
        Scene scene({});
        scene.engine().onHistory = [why = whyNot.toStdString()](const Mac&) { return History::Loaded { {}, why }; };
        scene.engine().onHistoryLine = [why = lineWhyNot.toStdString()](const Mac&) { return why; };
        scene.scanAndChoose({ finding("cache", 500) }, { "cache" });
        QCOMPARE(scene.model().historyWhyNot(), whyNot.toStdString());
        ConfirmSheet sheet(scene.f.services());
        QVERIFY(scene.engine().waitForCalls(EngineCall::historyLine, 1));
        QTRY_VERIFY2(shownText(&sheet).endsWith(" | " + note + " | [Cancel] | [Free up]"),
                     qPrintable(shownText(&sheet)));
        const auto asked = scene.engine().calls(EngineCall::historyLine);
        QCOMPARE(asked.size(), std::size_t(1));
        QVERIFY(!asked.front().onGuiThread);
    }

    // Assistive tools hear Findings' pickers by their labels, with the item shown as the value, and
    // the sheet by its name.
    void pickersAndTheSheetAreNamed()
    {
        Scene scene({ "Backup" });
        scene.scanAndChoose({ movie() }, { "movie" });
        FreeUpView view(scene.f.services());
        ConfirmSheet sheet(scene.f.services());
        QStringList heard;
        for (QWidget* widget : std::initializer_list<QWidget*> { view.drivePicker(), sheet.drivePicker(), &sheet }) {
            QAccessibleInterface* access = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(access);
            const QString role = access->role() == QAccessible::ComboBox ? "combo box"
                : access->role() == QAccessible::Dialog                  ? "dialog"
                                                                         : "other";
            heard << role + ": " + access->text(QAccessible::Name) + " = " + access->text(QAccessible::Value);
        }
        QCOMPARE(heard,
                 QStringList({ "combo box: Drive = " + view.drivePicker()->currentText(),
                               "combo box: Move your files to = " + sheet.drivePicker()->currentText(),
                               "dialog: Free up = " }));
    }

    // The drive picker starts from the stored default when it is plugged in, else the first
    // external drive, else none; a drive the user picked stays picked while the model changes.
    void drivePreset_data()
    {
        QTest::addColumn<QStringList>("drives");
        QTest::addColumn<QString>("stored"); // "-": nothing stored
        QTest::addColumn<QString>("preset"); // the picked drive's name, "" for none
        QTest::newRow("stored default") << QStringList { "Backup", "Archive" } << "Archive"
                                        << "Archive";
        QTest::newRow("stored drive not plugged in") << QStringList { "Backup", "Archive" } << "Gone"
                                                     << "Backup";
        QTest::newRow("empty stored value") << QStringList { "Backup", "Archive" } << ""
                                            << "Backup";
        QTest::newRow("nothing stored") << QStringList { "Backup" } << "-"
                                        << "Backup";
        QTest::newRow("no external drive") << QStringList {} << "Backup"
                                           << "";
    }

    void drivePreset()
    {
        QFETCH(QStringList, drives);
        QFETCH(QString, stored);
        QFETCH(QString, preset);
        Scene scene(drives);
        if (stored != "-")
            scene.f.preferences()->setString(Keys::defaultMoveToDrive, stored);
        scene.scanAndChoose({ movie(), finding("cache", 500) }, { "movie", "cache" });
        QSignalSpy writes(&scene.f.preferences().get(), &Preferences::changed);

        ConfirmSheet sheet(scene.f.services());
        const std::string presetPath = preset.isEmpty() ? "" : scene.drivePath("/Volumes/" + preset.toStdString());
        QCOMPARE(sheet.drivePath(), presetPath);
        QCOMPARE(sheet.drivePicker()->count(), int(drives.size()));
        QCOMPARE(sheet.freeUpButton()->isEnabled(), !preset.isEmpty());
        if (drives.size() < 2)
            return;

        // The user picks the last drive; new readings of the drives and a new selection keep it.
        sheet.drivePicker()->activated(int(drives.size()) - 1);
        ScanReport status = scene.model().status();
        status.drives.back().freeBytes = 5'000'000'000;
        scene.model().setStatus(status);
        scene.model().setSelected({ "movie" });
        QCOMPARE(sheet.drivePath(), scene.drivePath("/Volumes/" + drives.last().toStdString()));
        QCOMPARE(sheet.drivePicker()->currentText(), drives.last() + " (5 GB free)");
        QCOMPARE(writes.size(), 0);

        // Out of view and back: the preset runs again.
        scene.model().setSelected({ "cache" });
        QVERIFY(!sheet.pickerRow()->isVisibleTo(&sheet));
        scene.model().setSelected({ "movie" });
        QCOMPARE(sheet.drivePath(), presetPath);
    }

    // Two external drives of one name: each entry stands for its own drive, the engine is given
    // the path of the one picked, and the engine's own lookup finds exactly that drive.
    void sameNamedDrivesGoByPath_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("picked");
        QTest::addColumn<bool>("byPath");
        QTest::newRow("unique names: by name") << QStringList { "Backup", "Archive" } << 1 << false;
        QTest::newRow("same name, first") << QStringList { "Backup", "Backup" } << 0 << true;
        QTest::newRow("same name, second") << QStringList { "Backup", "Backup" } << 1 << true;
    }

    void sameNamedDrivesGoByPath()
    {
        QFETCH(QStringList, names);
        QFETCH(int, picked);
        QFETCH(bool, byPath);
        Scene scene(names, true);
        scene.scanAndChoose({ movie() }, { "movie" });

        ConfirmSheet sheet(scene.f.services());
        sheet.drivePicker()->activated(picked);
        const DriveInfo chosen = scene.model().externals()[std::size_t(picked)];
        sheet.freeUpButton()->click();
        QVERIFY(scene.f.settle());
        const auto calls = scene.engine().calls(EngineCall::clean);
        QCOMPARE(calls.size(), std::size_t(1));
        const auto moveTo = calls.front().cleanOptions->moveTo;
        QCOMPARE(moveTo, std::optional<std::string>(byPath ? chosen.path : chosen.name));
        const auto target = Cleaner::targetDrive(*scene.model().report(), moveTo);
        QVERIFY(target);
        QCOMPARE(target->path, chosen.path);
    }
};

QTEST_MAIN(ConfirmSheetTests)
#include "ConfirmSheetTests.moc"
