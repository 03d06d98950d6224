#include <QtTest>

#include <condition_variable>
#include <limits>
#include <mutex>

#include <QComboBox>
#include <QGlyphRun>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTextLayout>

#include "QuandrilApp/Findings/ConfirmSheet.h"
#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/ICloud/ICloudResults.h"
#include "QuandrilApp/ICloud/ICloudView.h"
#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/MainWindow/Advisor.h"
#include "QuandrilApp/MainWindow/DrivesView.h"
#include "QuandrilApp/MainWindow/HistoryView.h"
#include "QuandrilApp/MainWindow/MainWindow.h"
#include "QuandrilApp/MainWindow/OverviewView.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Settings/SettingsPane.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"
#include "Support/SignalRecorder.h"
#include "Support/ViewText.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

using Setup = std::function<void(ServicesFixture&)>;

// Scans of the fake machine find these findings on its startup drive.
void finds(ServicesFixture& f, std::vector<Finding> findings, std::vector<std::string> notes = {})
{
    f.modelFixture.engine->onScan = [findings, notes](const Mac& mac, const Catalog&, const ScanOptions&) {
        ScanReport report = reportWith(mac, findings);
        for (Finding& finding : report.findings)
            finding.drive = mac.drives().front().path;
        report.notes = notes;
        return report;
    };
}

void scanNow(ServicesFixture& f)
{
    f.services().model.scan();
    f.settle();
}

// The detail's class, or a placeholder's text.
QString sectionOf(const QWidget* detail)
{
    if (const auto* label = qobject_cast<const QLabel*>(detail))
        return "placeholder " + label->text();
    return detail ? QString(detail->metaObject()->className()).section("::", -1) : QStringLiteral("?");
}

// Picks the entry as the user would.
void pick(QComboBox* picker, int index)
{
    picker->setCurrentIndex(index);
    emit picker->activated(index);
}

// How many connections listen to the preferences' change signal.
struct Listeners : QObject {
    static int of(const Preferences& preferences)
    {
        return (preferences.*(&Listeners::receivers))(SIGNAL(changed(QString)));
    }
};

// Holds a call until the test opens it, or for a generous while at most, so a call made where it
// shouldn't be ends the test with a failure rather than a hang.
class Gate {
public:
    void pass()
    {
        std::unique_lock lock(lock_);
        changed_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
        passed_ = true;
    }
    void open()
    {
        std::lock_guard lock(lock_);
        open_ = true;
        changed_.notify_all();
    }
    bool passed() const
    {
        std::lock_guard lock(lock_);
        return passed_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
    bool passed_ = false;
};

// The characters, other than ASCII, that the app's texts and the rules catalog show inline.
const QString inlineSymbols = QStringLiteral("→…—×·±ⓘ⋮ß");

} // namespace

Q_DECLARE_METATYPE(Setup)
using ViewState = std::function<QString(QWidget*)>;
using ViewChange = std::function<void(ServicesFixture&, QWidget*)>;
Q_DECLARE_METATYPE(ViewState)
Q_DECLARE_METATYPE(ViewChange)

class MainWindowTests : public QObject {
    Q_OBJECT

private slots:
    // Years of History take long to read: the window shows while it is still being read (here the
    // read waits until the test lets it go), its History section says it is reading, and the
    // entries come in once it is read, which happens off the GUI thread.
    void showsBeforeHistoryIsRead()
    {
        ServicesFixture f;
        ScriptedEngine& engine = *f.modelFixture.engine;
        auto gate = std::make_shared<Gate>();
        engine.onHistory = [gate](const Mac&) {
            gate->pass();
            return History::Loaded { { historyEntry("old", TimePoint(std::chrono::seconds(1'700'000'000))) }, {} };
        };
        f.preferences()->setString(Keys::mainSection, "history");
        f.modelFixture.start();
        MainWindow window(f.services());
        showAt(window, 920, 660);
        QVERIFY(window.isVisible());
        QVERIFY2(!gate->passed(), "History was read before the window showed");
        auto* history = qobject_cast<HistoryView*>(window.detail());
        QVERIFY(history);
        QCOMPARE(shownText(history), HistoryView::readingText);

        gate->open();
        QVERIFY(waitUntil([&] { return history->showsList(); }));
        QVERIFY(shownText(history).startsWith("Title of old | "));
        QCOMPARE(engine.count(EngineCall::history), 1);
        QVERIFY(!engine.calls(EngineCall::history).front().onGuiThread);
        QVERIFY(f.settle());
    }

    // The stored section is read exactly; reading it, and showing the section, write nothing.
    void showsTheStoredSection_data()
    {
        QTest::addColumn<QString>("stored"); // "-": nothing stored
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("row");
        QTest::newRow("nothing stored") << "-"
                                        << "OverviewView" << 0;
        QTest::newRow("findings") << "findings"
                                  << "FreeUpView" << 1;
        QTest::newRow("drives") << "drives"
                                << "DrivesView" << 2;
        QTest::newRow("iCloud") << "iCloud"
                                << "ICloudView" << 3;
        QTest::newRow("history") << "history"
                                 << "HistoryView" << 4;
        QTest::newRow("advisor") << "advisor"
                                 << "AdvisorView" << 5;
        QTest::newRow("icloud in lower case") << "icloud"
                                              << "OverviewView" << 0;
        QTest::newRow("Overview capitalised") << "Overview"
                                              << "OverviewView" << 0;
    }

    void showsTheStoredSection()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(int, row);
        ServicesFixture f;
        if (stored != "-")
            f.preferences()->setString(Keys::mainSection, stored);
        QSignalSpy writes(&f.preferences().get(), &Preferences::changed);
        MainWindow window(f.services());
        showAt(window, 920, 660);
        QCOMPARE(sectionOf(window.detail()), shown);
        QCOMPARE(window.sidebar()->currentRow(), row);
        QCOMPARE(window.sidebar()->item(row)->data(Qt::UserRole + 1).toString(),
                 symbol(allMainSections[std::size_t(row)]));
        QCOMPARE(writes.size(), 0);
        QCOMPARE(f.preferences()->stored(Keys::mainSection).value_or(QStringLiteral("-")).toString(), stored);
        QVERIFY(f.settle());
    }

    // The sidebar, a cleared selection and the Overview's buttons store the section; the window
    // follows the stored value.
    void choicesStoreTheSection()
    {
        ServicesFixture f;
        f.preferences()->setString(Keys::mainSection, "bogus");
        MainWindow window(f.services());
        showAt(window, 920, 660);
        // stored value, the window's section, the detail shown, the sidebar's row
        const auto state = [&] {
            return QString("%1 %2 %3 %4")
                .arg(f.preferences()->stored(Keys::mainSection).value_or(QStringLiteral("-")).toString(),
                     rawValue(window.section()), sectionOf(window.detail()))
                .arg(window.sidebar()->currentRow());
        };
        window.sidebar()->setCurrentRow(4);
        QCOMPARE(state(), "history history HistoryView 4");
        window.sidebar()->clearSelection();
        QCOMPARE(state(), "overview overview OverviewView 0");
        qobject_cast<OverviewView*>(window.detail())->buttons().at(1)->click();
        QCOMPARE(state(), "drives drives DrivesView 2");
        f.preferences()->setString(Keys::mainSection, "iCloud");
        QCOMPARE(state(), "iCloud iCloud ICloudView 3");
        QVERIFY(f.settle());
    }

    // Coming on screen without a report starts one scan; again while it runs, or with a report,
    // none. The first-run sheet is asked for while "hasSeenFirstRun" is false.
    void comingOnScreen()
    {
        ServicesFixture f;
        f.modelFixture.access->granted = false;
        auto& engine = *f.modelFixture.engine;
        engine.hold(EngineCall::scan);
        MainWindow window(f.services());
        QList<bool> sheets;
        window.setFirstRunPresenter([&](MainWindow&, bool hasAccess) { sheets.append(hasAccess); });
        showAt(window, 920, 660);
        QVERIFY(engine.waitForCalls(EngineCall::scan, 1));
        window.hide();
        f.modelFixture.access->granted = true;
        window.show();
        engine.release(EngineCall::scan);
        QVERIFY(f.settle());
        window.hide();
        f.preferences()->setBoolean(Keys::hasSeenFirstRun, true);
        window.show();
        QVERIFY(f.settle());
        QCOMPARE(engine.count(EngineCall::scan), 1);
        QCOMPARE(sheets, (QList<bool> { false, true }));
    }

    // The Overview's texts: the headline follows the drive status and goal, the report line the
    // last scan, the Trash line the status.
    void overviewTexts_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("shown");
        const QString buttons = "[See findings] | [Drives and goals] | [Mac settings advisor]";
        const QString idle = "@idle | I looked. Nothing needs freeing right now — you're ahead of your goal. | ";
        const QString gauge = "Macintosh HD | 100 GB free of 500 GB | ";
        const QString met = idle + gauge + "Goal met: 50 GB free. | " + buttons;
        const auto goal = [](const char* goal) {
            return Setup([goal](ServicesFixture& f) {
                f.preferences()->setString(Keys::goal(f.services().model.status().drives.front().path), goal);
            });
        };
        const auto scanFinding = [](std::vector<Finding> findings) {
            return Setup([findings](ServicesFixture& f) {
                finds(f, findings);
                scanNow(f);
            });
        };
        QTest::newRow("scanning before any report") << Setup([](ServicesFixture& f) {
            f.modelFixture.engine->hold(EngineCall::scan);
            f.services().model.scan();
        }) << met + " | @scanning | Let me see what's actually using your space. This takes about a minute.";
        QTest::newRow("no report, no scan") << Setup([](ServicesFixture&) {}) << met;
        QTest::newRow("nothing found, goal met")
            << scanFinding({}) << met + " | I looked. Nothing needs freeing right now — you're ahead of your goal.";
        QTest::newRow("one finding is still findings")
            << scanFinding({ finding("a", 4'000'000'000) }) << met + " | 1 findings, 4 GB worth looking at.";
        QTest::newRow("short of a share goal")
            << goal("30%")
            << "@presenting | You're 50 GB short of your goal. Here are the safest ways to close that gap. | " + gauge
                + "50 GB short of the goal (30% of the drive free). | " + buttons;
        QTest::newRow("exactly at the goal")
            << goal("20%") << idle + gauge + "Goal met: 20% of the drive free. | " + buttons;
        QTest::newRow("no goal") << goal("") << idle + gauge + "No goal set. | " + buttons;
        QTest::newRow("sums stop at the limit, Trash shows")
            << Setup([](ServicesFixture& f) {
                   finds(f, { finding("a", std::numeric_limits<std::int64_t>::max()), finding("b", 7) });
                   scanNow(f);
                   ScanReport status = f.services().model.status();
                   status.trashBytes = 3'000'000'000;
                   f.services().model.setStatus(status);
               })
            << met + " | 2 findings, " + AppFormat::bytes(std::numeric_limits<std::int64_t>::max(), SizeUnits::decimal)
                + " worth looking at. | (trash secondary) | The Trash holds 3 GB; emptying it frees that.";
        QTest::newRow("no drives") << Setup([](ServicesFixture& f) { f.services().model.setStatus({}); })
                                   << idle + buttons;
    }

    void overviewTexts()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, shown);
        ServicesFixture f;
        setup(f);
        OverviewView view(f.services(), {});
        QCOMPARE(shownText(&view), shown);
        f.modelFixture.engine->release(EngineCall::scan);
        QVERIFY(f.settle());
    }

    // Overview and Drives read the drives again when they come on screen; each drive gets a card,
    // and a goal chosen in one card changes that card alone.
    void drivesCards()
    {
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        Model& model = f.services().model;
        const int readings = f.modelFixture.engine->count(EngineCall::status);
        DrivesView drives(f.services());
        showAt(drives, 700, 600);
        OverviewView overview(f.services(), {});
        showAt(overview, 700, 600);
        QVERIFY(waitUntil([&] { return f.modelFixture.engine->count(EngineCall::status) == readings + 2; }));
        QVERIFY(f.settle());
        QCOMPARE(shownText(&drives),
                 QStringLiteral("Macintosh HD | 100 GB free of 500 GB | Goal met: 50 GB free. | Keep free | [50 GB] | "
                                "<Custom, e.g. 60GB> | Backup | 1500 GB free of 2000 GB | No goal set. | Keep free | "
                                "[No goal] | <Custom, e.g. 60GB>"));
        drives.cards().at(1).goalPicker->menu()->actions().at(2)->trigger(); // 50 GB
        drives.cards().at(0).goalPicker->menu()->actions().at(8)->trigger(); // 30% of the drive
        QCOMPARE(drives.cards().at(0).gauge->verdictText() + " | " + drives.cards().at(1).gauge->verdictText(),
                 "50 GB short of the goal (30% of the drive free). | Goal met: 50 GB free.");
        QCOMPARE(overview.texts().headlineSlot, GorrinSlot::presenting);

        model.setStatus({});
        QCOMPARE(drives.cards().size(), std::size_t(0));
        QCOMPARE(shownText(&drives), QString());
    }

    // The window is "main", opens at 920 × 660 and is never smaller than 760 × 540; whichever
    // section shows, the window keeps its size, and a view with more than fits is never cut
    // short (it scrolls).
    void sizeHoldsInEverySection_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<int>("points"); // the app's font size; 0: as it is
        QTest::addColumn<QSize>("kept");
        QTest::newRow("default") << QSize() << 0 << QSize(920, 660);
        QTest::newRow("smaller than the least") << QSize(300, 200) << 0 << QSize(760, 540);
        QTest::newRow("larger") << QSize(1100, 800) << 0 << QSize(1100, 800);
        QTest::newRow("the least, at a large font") << QSize(760, 540) << 14 << QSize(760, 540);
    }

    void sizeHoldsInEverySection()
    {
        QFETCH(QSize, asked);
        QFETCH(int, points);
        QFETCH(QSize, kept);
        const QFont appFont = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(appFont); });
        if (points > 0) {
            QFont large = appFont;
            large.setPointSize(points);
            QApplication::setFont(large);
        }
        ServicesFixture f;
        f.machine().drive("Backup with a long name that asks for room", "/Volumes/Backup", 2'000'000'000'000,
                          1'500'000'000'000);
        std::vector<Finding> many;
        for (int i = 0; i < 40; ++i)
            many.push_back(finding("f" + std::to_string(i), 1'000'000'000 + i));
        finds(f, many, { "A note long enough to need more than one line in the narrowest window the app allows." });
        scanNow(f);
        f.preferences()->setBoolean(Keys::icloudEnabled, true);
        MainWindow window(f.services());
        if (asked.isValid())
            window.resize(asked);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList sizes, expected;
        for (const auto section : allMainSections) {
            f.preferences()->setString(Keys::mainSection, rawValue(section));
            QVERIFY(f.settle());
            // The layouts that the last answers asked for.
            QVERIFY(waitForLayout(&window));
            const QWidget* view = window.detail();
            const bool cut = view->width() < view->minimumSizeHint().width()
                || view->height() < view->minimumSizeHint().height();
            sizes << QStringLiteral("%1 %2×%3").arg(rawValue(section)).arg(window.width()).arg(window.height())
                    + (cut ? " cut" : "");
            expected << QStringLiteral("%1 %2×%3").arg(rawValue(section)).arg(kept.width()).arg(kept.height());
        }
        QCOMPARE(sizes, expected);
        QCOMPARE(window.objectName() + QStringLiteral(" %1×%2").arg(window.minimumWidth()).arg(window.minimumHeight()),
                 QStringLiteral("main 760×540"));
        // Every section's title fits in the sidebar.
        QVERIFY(window.sidebar()->viewport()->width() >= window.sidebar()->sizeHintForColumn(0));
    }

    // What a view chose is its own: closing the window and opening it again shows each section
    // as a fresh view of the model, at the place and size it had.
    void reopeningStartsViewsAfresh_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<ViewChange>("change");
        QTest::addColumn<ViewState>("state");
        QTest::newRow("findings: the drive picked") << "findings" << ViewChange([](ServicesFixture& f, QWidget* view) {
            qobject_cast<FreeUpView*>(view)->pickDrive(f.machine().at("/Volumes/Backup"));
        }) << ViewState([](QWidget* view) {
            const auto drive = qobject_cast<FreeUpView*>(view)->drive();
            return drive ? QString::fromStdString(drive->name) : QStringLiteral("-");
        });
        QTest::newRow("iCloud: drive and chunk") << "iCloud" << ViewChange([](ServicesFixture&, QWidget* view) {
            ICloudResults* results = qobject_cast<ICloudView*>(view)->results();
            pick(results->parkPicker(), results->parkPicker()->currentIndex() == 0 ? 1 : 0);
            pick(results->chunkPicker(), 2);
        }) << ViewState([](QWidget* view) {
            const ICloudResults* results = qobject_cast<ICloudView*>(view)->results();
            return QString::fromStdString(results->drive()) + " " + QString::number(results->chunk());
        });
        // The reading of Steam's list is in after the first showing; a fresh view hasn't one yet.
        QTest::newRow("advisor: the last reading") << "advisor" << ViewChange([](ServicesFixture&, QWidget*) {})
                                                   << ViewState([](QWidget* view) { return shownText(view); });
    }

    void reopeningStartsViewsAfresh()
    {
        QFETCH(QString, section);
        QFETCH(ViewChange, change);
        QFETCH(ViewState, state);
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        f.machine().drive("Photos", "/Volumes/Photos", 2'000'000'000'000, 1'000'000'000'000);
        f.machine().text(Advisor::steamLibraryFile, "\"path\" \"/home/me/.steam\"");
        f.preferences()->setBoolean(Keys::icloudEnabled, true);
        f.preferences()->setString(Keys::mainSection, section);
        finds(f, { finding("a", 4'000'000'000) });
        scanNow(f);
        MainWindow window(f.services());
        // Read before any answer of the views' own work is in.
        window.show();
        const QString fresh = state(window.detail());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        change(f, window.detail());
        QVERIFY(f.settle());
        QVERIFY2(state(window.detail()) != fresh, qPrintable(fresh));
        window.move(40, 30);
        window.resize(1000, 700);
        const QRect placed = window.frameGeometry();
        window.close();
        window.show();
        QCOMPARE(state(window.detail()), fresh);
        QCOMPARE(window.frameGeometry(), placed);
        QVERIFY(f.settle());
    }

    // The model is the one listener of the preferences: with every section and every settings pane
    // built, a goal typed in a picker reaches the views as one step of the model, so each view
    // refreshes (and reads the goal) once.
    void viewsFollowTheModelAlone()
    {
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'500'000'000'000);
        finds(f, { finding("a", 4'000'000'000) });
        scanNow(f);
        f.preferences()->setBoolean(Keys::icloudEnabled, true);
        AppServices& services = f.services();
        MainWindow window(services);
        window.show();
        std::vector<std::unique_ptr<QWidget>> views;
        views.emplace_back(new OverviewView(services, [](MainSection) {}));
        auto* freeUp = new FreeUpView(services);
        views.emplace_back(freeUp);
        views.emplace_back(new DrivesView(services));
        views.emplace_back(new ICloudView(services.model));
        views.emplace_back(new HistoryView(services));
        views.emplace_back(new ConfirmSheet(services));
        SettingsScene scene(services);
        scene.show();
        for (const SettingsPane pane : allSettingsPanes)
            views.emplace_back(SettingsScene::makePane(pane, services));
        for (const auto& view : views)
            view->show();
        QVERIFY(f.settle());
        QCOMPARE(Listeners::of(services.preferences), 1);

        GoalPicker* picker = freeUp->findChild<GoalPicker*>();
        QVERIFY(picker);
        SignalRecorder recorder(&services.model);
        QTest::keyClicks(picker->customField(), QStringLiteral("60GB"));
        QTest::keyClick(picker->customField(), Qt::Key_Return);
        QCOMPARE(recorder.names(), (QStringList { "preferenceChanged", "settingsChanged", "changed" }));
        QCOMPARE(services.preferences.string(Keys::goal(picker->drive().path)), QStringLiteral("60GB"));
        QVERIFY(f.settle());
    }

    // Symbols written inline in the texts draw with a glyph of some installed font, never as the
    // missing-glyph box (scripts/install-deps installs the fonts that hold them).
    void inlineSymbolsHaveGlyphs()
    {
        QString missing;
        for (const QChar symbol : inlineSymbols) {
            QTextLayout layout(QString(symbol), QApplication::font());
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun& run : layout.glyphRuns())
                if (run.glyphIndexes().contains(0))
                    missing += symbol;
        }
        QCOMPARE(missing, QString());
    }

    // Texts from data are shown as written in every section, never as rich text.
    void dataIsPlainText()
    {
        ServicesFixture f;
        Finding bold = finding("bold", 4'000'000'000);
        bold.title = "<b>x</b>";
        bold.reason = "<i>why</i>";
        bold.caution = "<u>careful</u>";
        bold.action = Action(Action::Kind::handOff, std::nullopt, std::nullopt, "<b>App</b>", "<b>steps</b>");
        finds(f, { bold }, { "<b>note</b>" });
        scanNow(f);
        MainWindow window(f.services());
        showAt(window, 920, 1400);
        QStringList seen;
        for (const auto section : allMainSections) {
            f.preferences()->setString(Keys::mainSection, rawValue(section));
            QVERIFY(waitForLayout(&window));
            for (const QLabel* label : window.findChildren<QLabel*>()) {
                QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->text()));
                seen << label->text();
            }
        }
        for (const char* text : { "<b>x</b>", "<i>why</i>", "<u>careful</u>", "<b>steps</b>", "<b>note</b>" })
            QVERIFY2(seen.contains(QString::fromUtf8(text)), text);
        QVERIFY(f.settle());
    }
};

QTEST_MAIN(MainWindowTests)
#include "MainWindowTests.moc"
