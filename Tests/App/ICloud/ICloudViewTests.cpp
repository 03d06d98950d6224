// The iCloud section over its fake machine (Support/CloudSection.h): the intro and its switch, the
// results list with its headings, the footer's cases and the appear steps.

#include <QtTest>

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>

#include <filesystem>
#include <future>
#include <stdexcept>

#include "QuandrilApp/ICloud/CloudConfirmSheet.h"
#include "QuandrilApp/ICloud/CloudResultsBar.h"
#include "QuandrilApp/ICloud/ICloudResults.h"
#include "QuandrilApp/ICloud/ICloudRows.h"
#include "QuandrilApp/ICloud/ICloudView.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/SelectAllHeader.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/CloudSection.h"
#include "Support/CommaLocale.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"
#include "Support/SignalRecorder.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

using namespace Quandril::AppTesting::CloudSection;

class ICloudViewTests : public QObject {
    Q_OBJECT

private slots:
    void introTurnsCleanupOnThenScans()
    {
        Section s;
        ICloudView view(s.model());
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QVERIFY(view.intro() && !view.results());
        QCOMPARE(
            view.intro()->texts(),
            QStringList({
                "icloud.slash iCloud cleanup is off",
                "Gorrin leaves iCloud alone unless you turn this on. With it on:",
                "list.bullet.rectangle It reads iCloud's list of files (names, sizes, and whether each is on this Mac). "
                "Nothing is downloaded to look.",
                "square.on.square It finds copies of the same file, and your biggest files. You choose what goes.",
                "arrow.down.circle Chosen files are downloaded a few GB at a time, so your Mac never runs low, and checked "
                "byte for byte.",
                "externaldrive Each is copied to your drive and checked again, then removed from iCloud. Nothing is simply "
                "deleted: it waits on the drive in \"Removed from iCloud\" until you delete that folder, and History can "
                "put it back.",
                "Removing a file from iCloud removes it from all your devices, which is why every one waits on your drive "
                "first.",
                "Turn on iCloud cleanup",
            }));

        // Stored before the announcement, announced before the scan: the results view appears at
        // once and its own appear step and the button ask for one scan between them.
        Model& model = s.model();
        SignalRecorder recorder(&model, [&] {
            return QStringLiteral("stored=%1 shows=%2 scanning=%3")
                .arg(model.preferences().boolean(Keys::icloudEnabled, false))
                .arg(view.results() ? "results" : "intro")
                .arg(model.cloudScanning());
        });
        s.engine().hold(EngineCall::scanCloud);
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(recorder.entries(),
                 QStringList({
                     "preferenceChanged stored=1 shows=intro scanning=0",
                     "settingsChanged stored=1 shows=intro scanning=0",
                     "cloudBusyChanged stored=1 shows=results scanning=1",
                     "changed stored=1 shows=results scanning=1",
                     "changed stored=1 shows=results scanning=1",
                 }));
        QVERIFY(view.results() && !view.results()->showsList());
        QCOMPARE(view.results()->findChild<QLabel*>("reading")->text(),
                 QStringLiteral("Reading iCloud's list of files and looking for copies on your drives. Nothing is "
                                "downloaded."));
        QCOMPARE(headerOf(*view.results()), QStringLiteral("(busy) 0 turnOff=1"));
        s.engine().release(EngineCall::scanCloud);
        QVERIFY(s.f.settle());
        QVERIFY(view.results()->showsList());
        QCOMPARE(s.engine().count(EngineCall::scanCloud), 1);
    }

    // A scan that throws says why where the reading line was, or over an earlier scan in place of
    // its totals; "Scan again" stays at hand and starts another.
    void aFailedScanSaysWhy()
    {
        Section s;
        const auto working = s.engine().onScanCloud;
        s.engine().onScanCloud = [](const Mac&) -> CloudScan { throw std::runtime_error("iCloud went away"); };
        ICloudResults& results = s.shown();
        const QString failed
            = "The iCloud scan didn't finish. iCloud went away. Press \"Scan again\" to try once more.";
        const auto shown = [&] {
            return QStringList { headerOf(results), results.totalsText(), results.showsList() ? "list" : "no list",
                                 results.findChild<QLabel*>("reading")->text() };
        };
        QCOMPARE(shown(), (QStringList { "Scan again 1 turnOff=1", "", "no list", failed }));
        s.engine().onScanCloud = working;
        results.scanButton()->click();
        QVERIFY(s.f.settle());
        QVERIFY(results.showsList() && !results.totalsText().contains("didn't finish"));
        s.engine().onScanCloud = [](const Mac&) -> CloudScan { throw std::runtime_error("iCloud went away"); };
        results.scanButton()->click();
        QVERIFY(s.f.settle());
        QCOMPARE(shown().mid(0, 3), (QStringList { "Scan again 1 turnOff=1", failed, "list" }));
    }

    void followsTheSwitchWhenTheModelAnnouncesIt()
    {
        Section s({ "Backup@/Volumes/Backup", "Photos@/Volumes/Photos" });
        Model& model = s.model();
        model.preferences().setString(Keys::defaultMoveToDrive, QStringLiteral("Photos"));
        ICloudView view(model);
        view.show();

        // Whoever writes the switch, the model announces it.
        model.preferences().setBoolean(Keys::icloudEnabled, true);
        QVERIFY(view.results());
        QCOMPARE(view.results()->drive(), s.at("/Volumes/Photos"));
        QVERIFY(s.f.settle());

        // Choices made, then off and on again: a new view with the starting values.
        auto& first = *view.results();
        pick(first.parkPicker(), 0);
        pick(first.chunkPicker(), 2);
        QCOMPARE(first.drive(), s.at("/Volumes/Backup"));
        QCOMPARE(first.chunk(), 10'000'000'000);
        first.turnOffButton()->click();
        QVERIFY(view.intro() && !model.cloudScan());
        view.intro()->turnOnButton()->click();
        QVERIFY(s.f.settle());
        auto& second = *view.results();
        QCOMPARE(second.drive(), s.at("/Volumes/Photos"));
        QCOMPARE(second.chunk(), 5'000'000'000);
        QVERIFY(!second.confirming());
        QCOMPARE(footerOf(second), QStringLiteral("park=Photos (400 GB free) chunk=5 GB chosen= selectNone=0 start=0"));
    }

    void appearsWithOneScanAndTheDefaultDrive()
    {
        Section s;
        Model& model = s.model();
        model.preferences().setBoolean(Keys::icloudEnabled, true);
        s.engine().hold(EngineCall::scanCloud);
        ICloudResults results(model);
        QCOMPARE(results.drive(), std::string()); // chosen only when shown
        results.show();
        QVERIFY(s.engine().waitForCalls(EngineCall::scanCloud, 1));
        QCOMPARE(results.drive(), s.at("/Volumes/Backup"));
        results.hide();
        results.show(); // shown again while the scan runs: no second scan
        s.engine().release(EngineCall::scanCloud);
        QVERIFY(s.f.settle());
        QCOMPARE(s.engine().count(EngineCall::scanCloud), 1);
        results.hide();
        results.show(); // shown with a scan: none
        QCOMPARE(s.engine().count(EngineCall::scanCloud), 1);
    }

    void headerGroupsTheFileCountByLocale_data()
    {
        QTest::addColumn<bool>("commaLocale");
        QTest::addColumn<QString>("totals");
        QTest::newRow("English") << false << "12 GB in 12,345 files; 3 GB of it is stored on this Mac.";
        QTest::newRow("German") << true << "12 GB in 12.345 files; 3 GB of it is stored on this Mac.";
    }

    void headerGroupsTheFileCountByLocale()
    {
        QFETCH(bool, commaLocale);
        QFETCH(QString, totals);
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        std::optional<CommaLocale> german;
        if (commaLocale)
            german.emplace();
        Section s;
        s.engine().onScanCloud = [](const Mac&) {
            CloudScan scan = cloudScanWith({ "i1" }, 40'000'000);
            scan.files = 12'345;
            scan.bytes = 12'000'000'000;
            scan.onMacBytes = 3'000'000'000;
            return scan;
        };
        ICloudResults& results = s.shown();
        QCOMPARE(results.totalsText(), totals);
        std::set<std::string> many;
        for (int i = 0; i < 1234; ++i)
            many.insert("gone-" + std::to_string(i));
        s.model().setCloudSelected(many);
        QCOMPARE(results.chosenText(), QStringLiteral("1234 chosen, 0 KB")); // plain digits
        german.reset();
        QLocale::setDefault(before);
    }

    void listsCopiesAndBigFilesWithTheirHeadings()
    {
        Section s;
        ICloudResults& results = s.shown();
        Model& model = s.model();

        QStringList shown;
        for (const auto* header : results.headers())
            shown << header->titleText() + " | " + header->amountText() + " | " + header->button()->text();
        for (const auto* group : results.groupRows()) {
            shown << group->texts().join(" | ");
            for (const auto* row : group->itemRows())
                shown << "  " + row->texts().join(" | ");
        }
        for (const auto* row : results.bigFileRows())
            shown << row->texts().join(" | ");
        const QString onlyHere = "exclamationmark.triangle Afterwards it's no longer in iCloud: the copy moved to your "
                                 "drive is the only one.";
        QCOMPARE(
            shown,
            QStringList({
                "Copies of the same file | up to 9 KB | Select all",
                "Biggest files in iCloud (move them to your drive) | up to 1 MB | Select all",
                "other.mov | 1 × 6 KB | Stays: ~/Movies/other.mov (on this Mac) | Same size, different names: the "
                "byte-for-byte check decides.",
                "  iCloud Drive/Photos/Summer/clip.mov | On this Mac | exclamationmark.triangle Afterwards it's no longer "
                "in iCloud: the copy on this Mac is the one that stays.",
                "Report.pdf | 1 × 3 KB | Stays: iCloud Drive/Taxes/Report.pdf (in iCloud)",
                "  iCloud Drive/Old/Report copy.pdf | On this Mac",
                "Été à la plage.mov | iCloud Drive/Videos/Été à la plage.mov | 900 KB | Only in iCloud: downloaded when "
                "its turn comes | "
                    + onlyHere,
                "Disk image.dmg | iCloud Drive/Backups/Disk image.dmg | 400 KB | Only in iCloud: downloaded when its turn "
                "comes | "
                    + onlyHere,
            }));
        QVERIFY(!results.nothingFoundRow());

        // A big file's box, then the copies' heading twice: only the heading's own ids come and go.
        auto* copies = results.headers()[0];
        auto* big = results.bigFileRows()[0];
        big->checkBox()->click();
        copies->button()->click();
        const std::set<std::string> all { s.id(clip), s.id(reportCopy), s.id(beach) };
        QCOMPARE(model.cloudSelected(), all);
        QCOMPARE(copies->button()->text(), QStringLiteral("Select none"));
        QCOMPARE(results.headers()[1]->button()->text(), QStringLiteral("Select all"));
        QVERIFY(results.groupRows()[0]->itemRows()[0]->checkBox()->isChecked());
        QCOMPARE(results.chosenText(), QStringLiteral("3 chosen, 909 KB"));
        copies->button()->click();
        QCOMPARE(model.cloudSelected(), std::set<std::string> { s.id(beach) });
        big->checkBox()->click();
        QVERIFY(model.cloudSelected().empty());
        QCOMPARE(results.chosenText(), QString());

        // A narrow row keeps the path's start and end and the whole text.
        auto* path = big->pathLabel();
        path->resize(90, path->height());
        QCOMPARE(path->text(), QStringLiteral("iCloud Drive/Videos/Été à la plage.mov"));
        QVERIFY2(path->shownText().contains(QChar(0x2026)) && path->shownText().startsWith("iC")
                     && path->shownText().endsWith(".mov"),
                 qPrintable(path->shownText()));
        QCOMPARE(path->accessibleName(), path->text());
    }

    // Paths show against the iCloud folders the scan read, not against what the disk holds when a
    // row is drawn: here the folder the scan walked is not on disk (any more).
    void pathsShowAgainstTheFoldersTheScanRead()
    {
        Section s({ "Backup@/Volumes/Backup" }, false);
        s.engine().onScanCloud = [](const Mac& mac) {
            CloudScan scan;
            scan.roots = { mac.path(cloud) };
            CloudItem item;
            item.path = mac.path(cloud + "/Films/a.mov");
            item.id = ICloud::itemID(item.path);
            item.bytes = 2'000'000;
            scan.biggest = { item };
            scan.files = 1;
            scan.bytes = item.bytes;
            return scan;
        };
        ICloudResults& results = s.shown();
        QCOMPARE(results.bigFileRows().size(), std::size_t(1));
        QCOMPARE(results.bigFileRows()[0]->pathLabel()->text(), QStringLiteral("iCloud Drive/Films/a.mov"));
    }

    void listShowsOnlyTheSectionsItHas_data()
    {
        QTest::addColumn<QStringList>("files"); // display paths; "~" ones are on the Mac
        QTest::addColumn<QString>("shown");
        QTest::newRow("copies only") << QStringList { QString::fromStdString(report),
                                                      QString::fromStdString(reportCopy) }
                                     << "Copies of the same file";
        QTest::newRow("big files only") << QStringList { QString::fromStdString(beach) }
                                        << "Biggest files in iCloud (move them to your drive)";
        QTest::newRow("neither") << QStringList {} << "No copies or big files found in iCloud.";
    }

    void listShowsOnlyTheSectionsItHas()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, shown);
        Section s({}, false);
        for (const auto& file : files)
            s.f.machine().file(file.toStdString(), file.endsWith(".mov") ? 900'000 : 3000);
        ICloudResults& results = s.shown();
        QStringList got;
        for (const auto* header : results.headers())
            got << header->titleText();
        if (results.nothingFoundRow())
            got << results.nothingFoundRow()->text();
        QCOMPARE(got.join(" + "), shown);
    }

    // The footer's pickers and actions share a line while they fit; in a window too narrow for
    // that, the actions move to a line below, still at the trailing edge, and nothing is cut off.
    void footerFlowsOntoTwoLinesWhenNarrow_data()
    {
        QTest::addColumn<bool>("narrow");
        QTest::newRow("wide") << false;
        QTest::newRow("narrow") << true;
    }
    void footerFlowsOntoTwoLinesWhenNarrow()
    {
        QFETCH(bool, narrow);
        Section s;
        ICloudResults& results = s.shown();
        s.model().setCloudSelected({ s.id(beach) });
        QWidget* window = results.window();
        window->resize(narrow ? window->minimumSizeHint().width() : 1400, 700);
        QVERIFY(waitForLayout(window));

        QCOMPARE(results.footerShown(), CloudResultsLogic::Footer::choose);
        const QWidget* pickers = results.parkPicker()->parentWidget();
        const QWidget* actions = results.startButton()->parentWidget();
        const QRect pickersAt(pickers->mapTo(window, QPoint()), pickers->size());
        const QRect actionsAt(actions->mapTo(window, QPoint()), actions->size());
        QCOMPARE(actionsAt.top() > pickersAt.bottom(), narrow);
        QCOMPARE(actions->geometry().right(), actions->parentWidget()->layout()->contentsRect().right());
        QCOMPARE((cutOff(window) + overlappingTexts(window)).join(" | "), QString());
    }

    // The pickers take the room they ask for at any font, however wide the window: what no longer
    // fits on one line moves to the next, and nothing is squeezed below its own width or past the
    // footer's edges.
    void footerGivesEveryControlItsWidth_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("narrow");
        for (const int points : { 9, 11, 13 }) {
            QTest::addRow("%d pt, narrow", points) << points << true;
            QTest::addRow("%d pt, wide", points) << points << false;
        }
    }
    void footerGivesEveryControlItsWidth()
    {
        QFETCH(int, points);
        QFETCH(bool, narrow);
        const AppFontSize font(points);
        Section s;
        ICloudResults& results = s.shown();
        s.model().setCloudSelected({ s.id(beach) });
        QWidget* window = results.window();
        QVERIFY(waitForLayout(window));
        window->resize(narrow ? window->minimumSizeHint().width() : 1400, 700);
        QVERIFY(waitForLayout(window));

        const QWidget* footer = results.parkPicker()->parentWidget()->parentWidget()->parentWidget();
        QStringList wrong;
        for (const QWidget* widget : footer->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(footer) || widget->isWindow())
                continue;
            const auto* label = qobject_cast<const QLabel*>(widget);
            const auto* button = qobject_cast<const QAbstractButton*>(widget);
            const QString text = label ? label->text() : button ? button->text() : widget->accessibleName();
            const QString name = QStringLiteral("%1 \"%2\"").arg(widget->metaObject()->className(), text);
            // A flowing row is as wide as its lines, not as its one-line hint.
            const bool flows = widget->layout() && widget->layout()->hasHeightForWidth();
            if (!flows && widget->width() < widget->sizeHint().width())
                wrong << name + " narrower than it asks";
            if (!footer->rect().contains(QRect(widget->mapTo(footer, QPoint()), widget->size())))
                wrong << name + " past the footer";
        }
        QCOMPARE(wrong.join(" | "), QString());
    }

    // Assistive tools hear the footer's pickers by their labels, with the item shown as the value,
    // and can still open their lists; the sheet the footer opens has a name.
    void footerPickersAreNamedByTheirLabels()
    {
        Section s;
        ICloudResults& results = s.shown();
        s.model().setCloudSelected({ s.id(beach) });
        pick(results.parkPicker(), 0);
        QStringList heard;
        for (QComboBox* picker : { results.parkPicker(), results.chunkPicker() }) {
            QAccessibleInterface* access = QAccessible::queryAccessibleInterface(picker);
            QVERIFY(access && access->actionInterface());
            heard << QStringLiteral("%1 = %2 (%3)")
                         .arg(access->text(QAccessible::Name), access->text(QAccessible::Value))
                         .arg(access->role() == QAccessible::ComboBox ? "combo box" : "other");
            access->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
            QTRY_VERIFY(picker->view()->isVisible());
            picker->hidePopup();
            QTRY_VERIFY(!picker->view()->isVisible());
        }
        results.startButton()->click();
        QAccessibleInterface* sheet = QAccessible::queryAccessibleInterface(results.sheet());
        QVERIFY(sheet);
        heard << QStringLiteral("%1 (%2)").arg(sheet->text(QAccessible::Name),
                                               sheet->role() == QAccessible::Dialog ? "dialog" : "other");
        QCOMPARE(heard,
                 QStringList({ "Park on = Backup (400 GB free) (combo box)", "A chunk at a time = 5 GB (combo box)",
                               "Download and clean up (dialog)" }));
    }

    void footerFollowsTheModel()
    {
        Section s;
        Model& model = s.model();
        ScanReport alone = model.status();
        std::erase_if(alone.drives, [](const DriveInfo& drive) { return !drive.isStartup; });
        const ScanReport withDrive = model.status();
        model.setStatus(alone);
        ICloudResults& results = s.shown();
        QStringList seen { footerOf(results) };

        model.setCloudSelected({ s.id(beach) });
        seen << footerOf(results); // chosen files wait for a drive
        model.setStatus(withDrive);
        seen << footerOf(results); // a drive shows up: no choice made for the user
        pick(results.parkPicker(), 0);
        seen << footerOf(results);

        // A run: "Working…" until its first line, then the line; the stop button stays enabled.
        Gate gate;
        ICloud::Progress firstRunsProgress;
        s.engine().onCleanCloud = [&](const std::vector<std::string>& ids, const CloudScan&,
                                      const ICloud::Progress& progress, const ICloud::Stop& stop) {
            firstRunsProgress = progress;
            progress("Chunk 1 of 1: downloading 900 KB");
            gate.waited.wait();
            const auto status = stop() ? CleanResult::Status::refused : CleanResult::Status::done;
            std::vector<CleanResult> out;
            for (const auto& id : ids)
                out.push_back({ id, "Été à la plage.mov", status, "Parked.", 900'000, {} });
            return out;
        };
        s.engine().hold(EngineCall::cleanCloud);
        model.cleanCloud(results.drive(), results.chunk(), true);
        seen << footerOf(results) + " | " + headerOf(results);
        s.engine().release(EngineCall::cleanCloud);
        QVERIFY(waitUntil([&] { return results.progressText() != QStringLiteral("Working…"); }));
        results.stopButton()->click();
        results.stopButton()->click();
        QVERIFY(model.cloudStop().isOn());
        seen << footerOf(results);
        s.engine().hold(EngineCall::scanCloud); // the scan that follows the run waits, so it shows
        gate.open();
        QVERIFY(waitUntil([&] { return !model.cloudRunning(); }));
        seen << footerOf(results) + " | " + headerOf(results);
        s.engine().release(EngineCall::scanCloud);
        QVERIFY(s.f.settle());

        // A line of a finished run arrives late: it is not shown, now or during the next run.
        firstRunsProgress("Copying Été à la plage.mov to Backup");
        QCoreApplication::processEvents();
        seen << footerOf(results);
        QVERIFY(!model.cloudProgress());

        QCOMPARE(
            seen,
            QStringList({
                "plug in",
                "plug in",
                "park=- chunk=5 GB chosen=1 chosen, 900 KB selectNone=1 start=0",
                "park=Backup (400 GB free) chunk=5 GB chosen=1 chosen, 900 KB selectNone=1 start=1",
                "working: Working… | Scan again 0 turnOff=0",
                "working: Chunk 1 of 1: downloading 900 KB",
                "park=Backup (400 GB free) chunk=5 GB chosen=1 chosen, 900 KB selectNone=1 start=1 | (busy) 0 turnOff=1",
                "park=Backup (400 GB free) chunk=5 GB chosen=1 chosen, 900 KB selectNone=1 start=1",
            }));
    }
};

QTEST_MAIN(ICloudViewTests)
#include "ICloudViewTests.moc"
