#include <QtTest>

#include <limits>
#include <stdexcept>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>

#include "QuandrilApp/Findings/FindingRows.h"
#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/Findings/ResultsBar.h"
#include "QuandrilApp/Findings/RoutesSection.h"
#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/RowList.h"
#include "QuandrilApp/Look/SelectAllHeader.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"
#include "Support/ViewText.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

constexpr const char* backupPath = "/Volumes/Backup";

// The view's setting: a fake machine (startup drive 500 GB with 100 GB free, and a Backup drive
// when asked) whose scans find what the test says. Drive "/" in a finding is the startup drive.
struct Scene {
    // What scans find; read by scans still running while the fixture goes, so it goes last.
    std::function<ScanReport(const Mac&)> report;
    ServicesFixture f;

    explicit Scene(bool withBackup = false)
    {
        if (withBackup)
            f.machine().drive("Backup", backupPath, 2'000'000'000'000, 1'500'000'000'000);
    }

    std::string drivePath(const std::string& path) const
    {
        return path == "/" ? f.modelFixture.machine.root() : f.modelFixture.machine.root() + path;
    }

    // Findings on the drive given as "/" or a mount path.
    void finds(std::vector<Finding> findings, std::vector<std::string> notes = {})
    {
        for (Finding& finding : findings)
            finding.drive = drivePath(finding.drive);
        report = [findings, notes](const Mac& mac) {
            ScanReport out = reportWith(mac, findings);
            out.notes = notes;
            return out;
        };
        f.modelFixture.engine->onScan = [this](const Mac& mac, const Catalog&, const ScanOptions&) {
            return report(mac);
        };
    }

    Model& model() { return f.services().model; }
    Preferences& preferences() { return f.services().preferences; }

    // The view on screen once its scan is in.
    std::unique_ptr<FreeUpView> view(bool settle = true)
    {
        auto view = std::make_unique<FreeUpView>(f.services());
        showAt(*view, 760, 2400);
        if (settle && !(f.settle() && waitForLayout(view.get())))
            QTest::qFail("the view did not settle", __FILE__, __LINE__);
        return view;
    }

    QString scanned() { return FreeUpLogic::scannedLine(*model().scannedAt()); }
};

Finding named(const std::string& id, std::int64_t bytes, Tier tier, const std::string& drive = "/")
{
    Finding out = finding(id, bytes, tier, drive);
    out.title = id;
    out.reason = "Why " + id + ".";
    out.getBack = "Back " + id + ".";
    return out;
}

template <typename T>
T* rowOf(FreeUpView& view, FreeUpView::RowKind kind, int nth = 0)
{
    const auto& rows = view.listRows();
    for (int i = 0; i < int(rows.size()); ++i)
        if (rows[std::size_t(i)].kind == kind && nth-- == 0)
            return qobject_cast<T*>(view.list()->showRow(i));
    return nullptr;
}

// The drive shown and the gauge's ("/" for the startup drive), the goal, and the list's rows.
QString shownDrive(Scene& scene, FreeUpView& view)
{
    static const char* const kinds[] = { "routes", "tierHeader", "finding", "asleep", "notes" };
    const auto at = [&](const std::string& path) {
        return QString::fromStdString(path).mid(int(scene.drivePath("").size()));
    };
    QStringList out { at(view.drive()->path) + "/", at(view.gauge()->drive().path) + "/", view.goalPicker()->title() };
    for (const auto& row : view.listRows())
        out << kinds[int(row.kind)];
    return out.join(" | ");
}

// The finding rows in order, each "id [x]" or "id [ ]".
QString rowChecks(FreeUpView& view)
{
    QStringList out;
    for (int nth = 0; auto* row = rowOf<FindingRow>(view, FreeUpView::RowKind::finding, nth); ++nth)
        out << QString::fromStdString(row->finding().id) + (row->checkBox()->isChecked() ? " [x]" : " [ ]");
    return out.join(", ");
}

QString ids(const std::set<std::string>& set)
{
    QStringList out;
    for (const auto& id : set)
        out << QString::fromStdString(id);
    return out.join(',');
}

using Setup = std::function<void(Scene&)>;

} // namespace

Q_DECLARE_METATYPE(Setup)

class FreeUpViewTests : public QObject {
    Q_OBJECT

private slots:
    void textsForEachState_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("settle");
        QTest::addColumn<QString>("shown");
        const QString gauge = "Macintosh HD | 100 GB free of 500 GB | ";
        const QString picker = "Keep free | [50 GB] | <Custom, e.g. 60GB> | ";
        const QString two = "Finder cache | 4 GB | Why Finder cache. | Back Finder cache. | [Show in Finder] | ";
        const QString findings = "Rebuilds itself | 4 GB | [Select all] | [ ] | " + two
            + "Your files | 1 GB | [Select all] | [ ] | (eye secondary) | Old movie | 1 GB | Why Old movie. | "
              "Back Old movie. | [Show in Finder] | ";
        const Setup twoFindings = [](Scene& s) {
            Finding movie = named("Old movie", 1'000'000'000, Tier::personal);
            movie.action = Action::review();
            s.finds({ named("Finder cache", 4'000'000'000, Tier::rebuilds), movie });
        };

        QTest::newRow("no report, scanning") << Setup([](Scene& s) {
            s.finds({});
            s.f.modelFixture.engine->hold(EngineCall::scan);
        }) << false
                                             << gauge + "Goal met: 50 GB free. | " + picker
                + "[(busy)]- | @scanning | Let me see what's actually using your space. This takes about a minute. | "
                  "[Free up…]-";
        QTest::newRow("no rules: the scan says why")
            << Setup([](Scene& s) { s.f.modelFixture.engine->onCatalog = [] { return std::optional<Catalog>(); }; })
            << true
            << gauge + "Goal met: 50 GB free. | " + picker
                + "[Scan again] | @concerned | The scan didn't finish. Couldn't find the rules "
                  "(engine/rules/catalog.json). Pass --catalog <path>. Press \"Scan again\" to try once more. | "
                  "[Free up…]-";
        const Setup scanFails = [](Scene& s) {
            s.f.modelFixture.engine->onScan = [](const Mac&, const Catalog&, const ScanOptions&) -> ScanReport {
                throw std::runtime_error("The disk went away");
            };
        };
        const QString failed = "The scan didn't finish. The disk went away. Press \"Scan again\" to try once more.";
        QTest::newRow("a scan that fails: why, and Scan again")
            << scanFails << true
            << gauge + "Goal met: 50 GB free. | " + picker + "[Scan again] | @concerned | " + failed + " | [Free up…]-";
        QTest::newRow("a scan that fails over a report keeps it") << Setup([twoFindings, scanFails](Scene& s) {
            twoFindings(s);
            s.model().scan();
            s.f.settle();
            scanFails(s);
            s.model().scan();
        }) << true
                                                                  << gauge + "Goal met: 50 GB free. | " + picker
                + "[Scan again] | Ways to 50 GB free (100 GB free now) | "
                  "(checkmark.circle.fill green) | Only what rebuilds itself | +4 GB → 104 GB free | [Choose] | "
                + findings + failed + " | [Select all] | [Free up…]-";
        QTest::newRow("goal met") << twoFindings << true
                                  << gauge + "Goal met: 50 GB free. | " + picker
                + "[Scan again] | Ways to 50 GB free (100 GB free now) | "
                  "(checkmark.circle.fill green) | Only what rebuilds itself | +4 GB → 104 GB free | [Choose] | "
                + findings + "%scanned% | [Select all] | [Free up…]-";
        QTest::newRow("under the goal") << Setup([twoFindings](Scene& s) {
            twoFindings(s);
            s.preferences().setString(Keys::goal(s.drivePath("/")), "103GB");
        }) << true
                                        << gauge
                + "3 GB short of the goal (103 GB free). | Keep free | [103 GB] | <Custom, e.g. 60GB> | "
                  "[Scan again] | Ways to 103 GB free (100 GB free now) | (checkmark.circle.fill green) | "
                  "Only what rebuilds itself | +4 GB → 104 GB free | [Choose] | "
                + findings + "%scanned% | [Select all] | [Free up…]-";
        QTest::newRow("no goal: no routes") << Setup([twoFindings](Scene& s) {
            twoFindings(s);
            s.preferences().setString(Keys::goal(s.drivePath("/")), "");
        }) << true
                                            << gauge
                + "No goal set. | Keep free | [No goal] | <Custom, e.g. 60GB> | [Scan again] | " + findings
                + "%scanned% | [Select all] | [Free up…]-";
        QTest::newRow("nothing on this drive") << Setup([](Scene& s) {
            s.f.machine().drive("Backup", backupPath, 2'000'000'000'000, 1'500'000'000'000);
            s.finds({ named("Backup cache", 4'000'000'000, Tier::rebuilds, backupPath) }, { "Mail is open." });
        }) << true
                                               << gauge + "Goal met: 50 GB free. | Drive | {Macintosh HD} | " + picker
                + "[Scan again] | Ways to 50 GB free (100 GB free now) | (checkmark.circle.fill green) | "
                  "Only what rebuilds itself | +0 KB → 100 GB free | [Choose]- | @asleep | I looked. Nothing needs freeing "
                  "right now — you're ahead of your goal. | Good to know | Mail is open. | %scanned% | [Select all]- | "
                  "[Free up…]-";
        QTest::newRow("no startup drive")
            << Setup([twoFindings](Scene& s) {
                   twoFindings(s);
                   const std::vector<DriveInfo> drives { DriveInfo { "Backup", "/nowhere", false, 10, 5, 5 } };
                   s.f.modelFixture.engine->onStatus = [drives](const Mac&) {
                       ScanReport status;
                       status.drives = drives;
                       return status;
                   };
                   s.report = [first = s.report, drives](const Mac& mac) {
                       ScanReport report = first(mac);
                       report.drives = drives;
                       return report;
                   };
               })
            << true
            << "[Scan again] | @scanning | Let me see what's actually using your space. This takes about a "
               "minute. | %scanned% | [Free up…]-";
    }

    void textsForEachState()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, settle);
        QFETCH(QString, shown);
        Scene scene;
        setup(scene);
        auto view = scene.view(settle);
        if (!settle)
            QVERIFY(scene.f.modelFixture.engine->waitForCalls(EngineCall::scan, 1));
        QVERIFY(waitForLayout(view.get()));
        if (scene.model().scannedAt())
            shown.replace("%scanned%", scene.scanned());
        QCOMPARE(shownText(view.get()), shown);
    }

    // The drive picker lists the drives of the status; the picked drive's gauge, goal, routes and
    // findings show, and "Select all" chooses only its findings. A drive the last scan didn't see
    // gets no routes, whatever its goal. A picked drive that goes shows the startup drive until it
    // comes back.
    void pickedDrive()
    {
        Scene scene(true);
        scene.finds({ named("here", 4'000'000'000, Tier::rebuilds),
                      named("there", 3'000'000'000, Tier::rebuilds, backupPath),
                      named("there too", 2'000'000'000, Tier::personal, backupPath) });
        const std::string backup = scene.drivePath(backupPath);
        scene.preferences().setString(Keys::goal(backup), "10%");
        auto view = scene.view();
        QCOMPARE(view->drivePicker()->count(), 2);
        QCOMPARE(view->drivePicker()->itemText(1), QStringLiteral("Backup"));
        scene.model().setSelected({ "here" });

        view->drivePicker()->setCurrentIndex(1);
        emit view->drivePicker()->activated(1);
        const QString onBackup = "/Volumes/Backup/ | /Volumes/Backup/ | 10% of the drive | ";
        QCOMPARE(shownDrive(scene, *view), onBackup + "routes | tierHeader | finding | tierHeader | finding");
        view->selectAllButton()->click();
        QCOMPARE(ids(scene.model().selected()), QStringLiteral("there,there too"));
        QVERIFY(!view->selectAllButton()->isEnabled());

        // The next scan no longer sees the Backup drive, which a later reading of the drives
        // shows again: no routes for it, whatever its goal.
        auto first = scene.report;
        scene.report = [first, backup](const Mac& mac) {
            ScanReport report = first(mac);
            std::erase_if(report.drives, [&](const DriveInfo& d) { return d.path == backup; });
            std::erase_if(report.findings, [&](const Finding& f) { return f.drive == backup; });
            return report;
        };
        const ScanReport withBoth = scene.model().status();
        scene.model().scan();
        QVERIFY(scene.f.settle());
        const QString onStartup = "/ | / | 50 GB | routes | tierHeader | finding";
        QCOMPARE(shownDrive(scene, *view), onStartup);
        scene.model().setStatus(withBoth);
        QCOMPARE(shownDrive(scene, *view), onBackup + "asleep");

        // Unmounted: the startup drive shows; mounted again: the Backup drive is back.
        ScanReport status = withBoth;
        std::erase_if(status.drives, [&](const DriveInfo& d) { return d.path == backup; });
        scene.model().setStatus(status);
        QCOMPARE(shownDrive(scene, *view), onStartup);
        QVERIFY(!view->drivePicker()->isVisibleTo(view.get()));
        scene.model().setStatus(withBoth);
        QCOMPARE(shownDrive(scene, *view), onBackup + "asleep");
    }

    // "Choose" replaces the selection with exactly the route's findings; the tier header and the
    // rows' checkboxes add and remove, and the footer follows.
    void choosingFindings()
    {
        Scene scene;
        scene.finds({ named("a", 3'000'000'000, Tier::rebuilds), named("b", 2'000'000'000, Tier::rebuilds),
                      named("c", 1'000'000'000, Tier::reinstallable), named("d", 500'000'000, Tier::personal) });
        scene.preferences().setString(Keys::goal(scene.drivePath("/")), "104GB");
        auto view = scene.view();
        auto* routes = rowOf<RoutesSection>(*view, FreeUpView::RowKind::routes);
        QVERIFY(routes);
        QVERIFY(routes->plan().routes.size() >= 2);
        scene.model().setSelected({ "d", "elsewhere" });
        const auto& route = routes->plan().routes.at(1);
        for (int twice = 0; twice < 2; ++twice) {
            routes->chooseButtons().at(1)->click();
            QCOMPARE(scene.model().selected(),
                     (std::set<std::string>(route.findingIDs.begin(), route.findingIDs.end())));
        }

        scene.model().setSelected({ "a", "d" });
        auto* header = rowOf<SelectAllHeader>(*view, FreeUpView::RowKind::tierHeader);
        // What is chosen, what the first tier's header offers and the rows' checkboxes.
        const auto chosen = [&] {
            return ids(scene.model().selected()) + " | " + header->button()->text() + " | " + rowChecks(*view);
        };
        QCOMPARE(chosen(), "a,d | Select all | a [x], b [ ], c [ ], d [x]");
        header->button()->click();
        QCOMPARE(chosen(), "a,b,d | Select none | a [x], b [x], c [ ], d [x]");
        header->button()->click();
        QCOMPARE(chosen(), "d | Select all | a [ ], b [ ], c [ ], d [x]");

        auto* row = rowOf<FindingRow>(*view, FreeUpView::RowKind::finding, 2);
        row->checkBox()->click();
        QCOMPARE(chosen(), "c,d | Select all | a [ ], b [ ], c [x], d [x]");
        QCOMPARE(shownText(view->selectNoneButton()->parentWidget()).section(" | ", 1),
                 QStringLiteral("[Select all] | 2 chosen, 1.5 GB | [Select none] | [Free up…]"));
        row->checkBox()->click();
        QCOMPARE(chosen(), "d | Select all | a [ ], b [ ], c [ ], d [x]");
        view->selectNoneButton()->click();
        QCOMPARE(chosen(), " | Select all | a [ ], b [ ], c [ ], d [ ]");
        QVERIFY(view->selectNoneButton()->isHidden());
    }

    // "Show in Finder" shows each item in its folder, in order; an app that isn't there turns its
    // button into "<app> isn't installed", disabled.
    void findingRowButtons()
    {
        Scene scene;
        Finding game = named("game", 9'000'000'000, Tier::reinstallable);
        game.paths = { "/Users/me/Games/One", "/Users/me/Games/Two & Three" };
        game.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, "Steam & Co");
        Finding mail = named("mail", 1'000'000'000, Tier::reinstallable);
        mail.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, "Mail");
        scene.finds({ game, mail });
        scene.f.apps.missing = { "Steam & Co" };
        auto view = scene.view();
        auto* row = rowOf<FindingRow>(*view, FreeUpView::RowKind::finding);
        row->showInFinder()->click();
        QCOMPARE(scene.f.reveal.revealed, (QStringList { "/Users/me/Games/One", "/Users/me/Games/Two & Three" }));
        QCOMPARE(shownText(row->openApp()), QStringLiteral("[Open Steam & Co]"));
        row->openApp()->click();
        QVERIFY(waitUntil([&] { return row->openApp()->missing(); }));
        QCOMPARE(shownText(row->openApp()), QStringLiteral("[Steam & Co isn't installed]-"));
        auto* other = rowOf<FindingRow>(*view, FreeUpView::RowKind::finding, 1);
        other->openApp()->click();
        QVERIFY(waitUntil([&] { return scene.f.apps.opened.size() == 2; }));
        QVERIFY(waitForLayout(view.get()));
        QCOMPARE(shownText(other->openApp()), QStringLiteral("[Open Mail]"));
    }

    // Return does what "Free up…" does, exactly when it is enabled; Return in the custom goal
    // field only submits the field.
    void returnMatchesFreeUp_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("cleaning");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("nothing chosen") << "" << false << false;
        QTest::newRow("one chosen") << "a" << false << true;
        QTest::newRow("while cleaning") << "a" << true << false;
        QTest::newRow("only gone findings chosen") << "gone" << false << false;
    }

    void returnMatchesFreeUp()
    {
        QFETCH(QString, selected);
        QFETCH(bool, cleaning);
        QFETCH(bool, enabled);
        Scene scene;
        scene.finds({ named("a", 1000, Tier::rebuilds), named("b", 2000, Tier::rebuilds) });
        auto view = scene.view();
        if (cleaning) {
            scene.f.modelFixture.engine->hold(EngineCall::clean);
            scene.model().clean({ "b" }, false, std::nullopt);
            QVERIFY(scene.model().cleaning());
        }
        scene.model().setSelected(selected.isEmpty() ? std::set<std::string>() : std::set { selected.toStdString() });
        QSignalSpy asked(view.get(), &FreeUpView::confirmRequested);
        QCOMPARE(view->freeUpButton()->isEnabled(), enabled);
        for (const QShortcut* key : view->returnKeys())
            QCOMPARE(key->isEnabled(), enabled);
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        QTest::keyClick(view->selectAllButton(), Qt::Key_Return);
        QTest::keyClick(view->goalPicker()->customField(), Qt::Key_Return);
        QCOMPARE(asked.size(), enabled ? 1 : 0);
        if (enabled) {
            QCOMPARE(asked.front().at(0).value<std::vector<std::string>>(), std::vector<std::string> { "a" });
            view->freeUpButton()->click();
            QCOMPARE(asked.size(), 2);
        }
        scene.f.modelFixture.engine->release(EngineCall::clean);
    }

    // A choice that a newer report no longer holds is dropped with the model's pruning, and never
    // reaches a clean-up, even when it is put back by hand.
    void staleSelection()
    {
        Scene scene;
        scene.finds({ named("a", 1000, Tier::rebuilds), named("b", 2000, Tier::rebuilds) });
        auto view = scene.view();
        view->selectAllButton()->click();
        QCOMPARE(ids(scene.model().selected()), QStringLiteral("a,b"));

        scene.finds({ named("b", 2000, Tier::rebuilds), named("c", 3000, Tier::personal) });
        scene.model().scan();
        QVERIFY(scene.f.settle());
        QCOMPARE(ids(scene.model().selected()), QStringLiteral("b"));
        QCOMPARE(rowChecks(*view), QStringLiteral("b [x], c [ ]"));

        scene.model().setSelected({ "a", "b", "c" });
        QSignalSpy asked(view.get(), &FreeUpView::confirmRequested);
        view->confirm();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.front().at(0).value<std::vector<std::string>>(), (std::vector<std::string> { "b", "c" }));
        QCOMPARE(asked.front().at(1).value<DriveInfo>().path, scene.drivePath("/"));
    }

    // Tier totals and the chosen bytes stop at the 64-bit limit instead of wrapping.
    void sumsSaturate()
    {
        Scene scene;
        constexpr auto most = std::numeric_limits<std::int64_t>::max();
        scene.finds({ named("huge", most, Tier::personal), named("more", 5'000'000'000, Tier::personal) });
        scene.preferences().setString(Keys::goal(scene.drivePath("/")), "");
        auto view = scene.view();
        view->selectAllButton()->click();
        const QString limit = AppFormat::bytes(most, scene.preferences());
        QCOMPARE(rowOf<SelectAllHeader>(*view, FreeUpView::RowKind::tierHeader)->amountText(), limit);
        QVERIFY(visibleTexts(view.get()).contains("2 chosen, " + limit));
    }

    // Thousands of findings: only the rows in view are built, any row can be reached, and the
    // rows on screen follow the selection.
    void longListsBuildWhatShows()
    {
        Scene scene;
        std::vector<Finding> many;
        for (int i = 0; i < 2000; ++i)
            many.push_back(named("f" + std::to_string(i), 1000 + i, Tier::rebuilds));
        scene.finds(many);
        auto view = scene.view(false);
        view->resize(760, 700);
        QVERIFY(scene.f.settle());
        QVERIFY(waitForLayout(view.get()));
        QCOMPARE(view->listRows().size(), std::size_t(2 + 2000)); // routes and the tier header too
        QVERIFY(view->list()->builtRows().size() < 60);

        auto* last = qobject_cast<FindingRow*>(view->list()->showRow(int(view->listRows().size()) - 1));
        QVERIFY(last);
        QCOMPARE(last->finding().id, std::string("f1999"));
        QVERIFY(last->isVisible());
        // Scrolling through it all keeps a bounded number of rows built.
        for (int i = 0; i < 2002; i += 40)
            QVERIFY(view->list()->showRow(i)->isVisible());
        QVERIFY(view->list()->builtRows().size() < 200);
        QVERIFY(!view->list()->builtRow(2));

        view->selectAllButton()->click();
        QVERIFY(last->checkBox()->isChecked());
        auto* first = qobject_cast<FindingRow*>(view->list()->showRow(2));
        QCOMPARE(first->finding().id, std::string("f0"));
        QVERIFY(first->checkBox()->isChecked());
    }

    void fitsTheNarrowestWindow_data()
    {
        QTest::addColumn<int>("points");
        for (const int points : { 9, 11, 13 })
            QTest::addRow("%d pt", points) << points;
    }

    // The main window at its narrowest leaves the view 760 less the sidebar. With two drives, a
    // finding chosen and the results of a clean-up of 26 findings, the view asks for no more,
    // nothing passes its edge or is cut unmarked, and the results keep to a few lines that scroll.
    void fitsTheNarrowestWindow()
    {
        QFETCH(int, points);
        constexpr int width = 760 - 190;
        AppFontSize font(points);
        Scene scene(true);
        std::vector<Finding> findings;
        std::vector<CleanResult> results;
        for (int i = 0; i < 26; ++i) {
            const std::string id = "Application Support cache of a long-named helper " + std::to_string(i);
            findings.push_back(named(id, 1'000'000'000 + i, Tier::rebuilds));
            CleanResult& result = results.emplace_back();
            result.id = result.title = id;
            result.status = CleanResult::Status::done;
            result.detail = "Moved to the Trash; the space comes back when the Trash is emptied.";
            result.bytes = 1'000'000'000;
        }
        results.back().title = "~/Library/Containers/com.example.AVeryLongBundleIdentifierWithoutAnyBreaks/Data";
        results.back().status = CleanResult::Status::failed;
        scene.finds(findings);
        scene.preferences().setString(Keys::goal(scene.drivePath("/")), "110GB");
        auto view = scene.view();
        scene.model().setSelected({ findings.front().id });
        scene.model().setLastResults(results);
        showAt(*view, width, 540);

        QVERIFY(view->minimumSizeHint().width() <= width);
        QCOMPARE(view->width(), width);
        QCOMPARE(cutOff(view.get()).join('\n'), QString());
        const auto* bar = view->resultsSlot()->findChild<ResultsBar*>();
        QCOMPARE(bar->lines().size(), 26);
        QVERIFY(bar->list()->height() < bar->linesBox()->height());
        QVERIFY(bar->height() <= view->height() / 3);
        // The path too long for a line wraps inside itself rather than being cut.
        const auto* path = bar->linesBox()->findChildren<ElidingLabel*>().back();
        QCOMPARE(path->shownText(), path->text());
        QVERIFY(path->height() >= path->heightForWidth(path->width()));
    }

    // In the main window at its first width, each result line shows its whole reason, wrapped
    // where it is long, and the lines scroll within the band.
    void resultLinesShowTheirWholeReason()
    {
        AppFontSize font(11);
        Scene scene;
        std::vector<CleanResult> results;
        for (const char* title : { "Xcode caches", "Old iOS backups", "Chrome cache", "Slack cache" }) {
            CleanResult& result = results.emplace_back();
            result.id = result.title = title;
            result.status = CleanResult::Status::done;
            result.notInHistory = true;
            result.detail = "Moved to the Trash; the space comes back when the Trash is emptied. It isn't in "
                            "History: the History file belongs to another user, so Gorrin won't use it.";
            result.bytes = 1'000'000'000;
        }
        scene.model().setLastResults(results);
        auto view = scene.view();
        showAt(*view, 920 - 190, 660);
        QVERIFY(waitForLayout(view.get()));

        const auto* bar = view->resultsSlot()->findChild<ResultsBar*>();
        const auto lines = bar->linesBox()->findChildren<ElidingLabel*>();
        QCOMPARE(lines.size(), qsizetype(4));
        for (const ElidingLabel* line : lines) {
            QVERIFY(line->text().endsWith("so Gorrin won't use it."));
            QCOMPARE(line->shownText(), line->text());
            QVERIFY2(line->height() >= line->heightForWidth(line->width()), qPrintable(line->text()));
            QVERIFY(line->width() <= bar->list()->viewport()->width());
        }
        QCOMPARE(cutOff(view.get()).join('\n'), QString());
        QVERIFY(bar->list()->height() < bar->linesBox()->height());
    }
};

QTEST_MAIN(FreeUpViewTests)
#include "FreeUpViewTests.moc"
