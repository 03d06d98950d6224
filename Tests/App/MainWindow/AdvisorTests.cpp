// The settings advisor (what it reads from the settings tool and Steam's library list, and that a
// tool which hangs never holds up the window) and the first-run sheet (its two states, the
// once-a-second access check, and that it is shown once).

#include <QtTest>

#include <condition_variable>
#include <mutex>

#include <QMimeData>
#include <QPushButton>
#include <QTimer>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/MainWindow/Advisor.h"
#include "QuandrilApp/MainWindow/FirstRun.h"
#include "QuandrilApp/MainWindow/MainWindow.h"
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

using Output = std::optional<std::string>;

// A settings tool that answers `output`, or, while held, waits until let go.
struct FakeTool {
    std::mutex lock;
    std::condition_variable changed;
    Output output;
    bool held = false;
    int calls = 0;
    std::vector<std::string> arguments;

    void letGo()
    {
        std::lock_guard guard(lock);
        held = false;
        changed.notify_all();
    }
};

Advisor::Runner runnerOf(const std::shared_ptr<FakeTool>& tool)
{
    return [tool](const std::vector<std::string>& arguments) {
        std::unique_lock guard(tool->lock);
        ++tool->calls;
        tool->arguments = arguments;
        tool->changed.wait(guard, [&] { return !tool->held; });
        return tool->output;
    };
}

const QString advisorHead = "@presenting | " + Advisor::headline + " | ";
const QString accessGranted = "(checkmark.circle.fill green) | Full Disk Access | [Open Privacy & Security] | Granted. "
                              "Gorrin can see everything, including what's tucked inside other apps' folders. | ";
const QString trashOff = "(circle secondary) | Empty the Trash automatically | [Open Finder Settings] | Off: the Trash "
                         "only empties when you empty it. Gorrin's own \"last run\" bar tells you what's in there. | ";
const QString trashOn = "(checkmark.circle.fill green) | Empty the Trash automatically | [Open Finder Settings] | On: "
                        "items older than 30 days are removed on their own. | ";
const QString steamOne = "(circle secondary) | Steam's default library | [Open Steam] | Only one Steam library is set "
                         "up. If you have an external drive, Steam → Settings → Storage can add it. | ";
const QString steamMore = "(checkmark.circle.fill green) | Steam's default library | [Open Steam] | More than one "
                          "Steam library is set up; make sure new installs default to the one with room. | ";
const QString mail = "Mail attachments | [Open Mail] | Mail's own downloads can grow for years. Gorrin leaves Mail's "
                     "store alone (it's never touched), but Mail → Settings → Accounts has a \"Remove attachments\" "
                     "age limit.";

// The advisor over the fixture's machine once its readings are in.
std::unique_ptr<AdvisorView> advisor(ServicesFixture& f, const std::shared_ptr<FakeTool>& tool)
{
    auto view = std::make_unique<AdvisorView>(f.services(), runnerOf(tool));
    showAt(*view, 700, 900);
    if (!tool->held)
        (void)waitUntil([&] { return view->pendingReadings() == 0; });
    return view;
}

} // namespace

Q_DECLARE_METATYPE(Output)

class AdvisorTests : public QObject {
    Q_OBJECT

private slots:
    // The settings tool's answer: exactly "1" once trimmed is on; anything else, and no answer
    // (a missing tool, a key never set), is off. Steam's list counts its non-empty library paths,
    // at least one; without the list there is no Steam row.
    void rowsFromReadings_data()
    {
        QTest::addColumn<Output>("output");
        QTest::addColumn<QByteArray>("steam"); // "-": no library list
        QTest::addColumn<QString>("shown");
        const QByteArray two
            = "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/me/.steam\"\n\t}\n\t\"1\"\n"
              "\t{\n\t\t\"path\"\t\t\"/media/games/Steam\"\n\t}\n}\n";
        QTest::newRow("1 and a line break, two libraries") << Output("1\n") << two << trashOn + steamMore;
        QTest::newRow("0, one library") << Output("0") << QByteArray("\"path\" \"/home/me/.steam\"")
                                        << trashOff + steamOne;
        QTest::newRow("no tool, no path entry")
            << Output() << QByteArray("\"libraryfolders\" {}") << trashOff + steamOne;
        QTest::newRow("10, an empty path and a real one")
            << Output("10") << QByteArray("\"path\" \"\"\n\"path\"  \"/x\"") << trashOff + steamOne;
        QTest::newRow("empty output, no library list") << Output("") << QByteArray("-") << trashOff;
        QTest::newRow("a library list that isn't text") << Output() << QByteArray("\"path\" \"\xff\xfe\"") << trashOff;
    }

    void rowsFromReadings()
    {
        QFETCH(Output, output);
        QFETCH(QByteArray, steam);
        QFETCH(QString, shown);
        ServicesFixture f;
        if (steam != "-")
            f.machine().text(Advisor::steamLibraryFile, steam.toStdString());
        auto tool = std::make_shared<FakeTool>();
        tool->output = output;
        auto view = advisor(f, tool);
        QCOMPARE(shownText(view.get()), advisorHead + accessGranted + shown + mail);
        QCOMPARE(tool->arguments, (std::vector<std::string> { "read", "com.apple.finder", "FXRemoveOldTrashItems" }));
        // Steam, Mail and the file manager's stand-in open by name; the system settings link is
        // no web page and opens nothing.
        for (QPushButton* button : view->buttons())
            button->click();
        const QStringList apps = shown.contains("Steam") ? QStringList { "Finder", "Steam", "Mail" }
                                                         : QStringList { "Finder", "Mail" };
        QCOMPARE(f.apps.opened, apps);
        QVERIFY(f.urls.opened.isEmpty());
    }

    // The real runner: what a tool prints when it ends well; nothing when it can't start, fails,
    // or is still running at the limit (then it is killed). Only the hanging tool meets a short
    // limit; a busy machine may take longer than that to start the others.
    void processRunner_data()
    {
        QTest::addColumn<QString>("script"); // run by /bin/sh
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<Output>("output");
        QTest::newRow("prints 1") << "echo 1" << 20'000 << Output("1\n");
        QTest::newRow("key not set") << "echo 1; exit 1" << 20'000 << Output();
        QTest::newRow("hangs") << "echo 1; sleep 600" << 300 << Output();
    }

    void processRunner()
    {
        QFETCH(QString, script);
        QFETCH(int, limitMs);
        QFETCH(Output, output);
        const std::vector<std::string> words { "-c", script.toStdString() };
        const auto run = Advisor::processRunner("/bin/sh", std::chrono::milliseconds(limitMs));
        QCOMPARE(run(words), output);
        QCOMPARE(Advisor::runDefaults(run, words), output ? std::optional<QString>("1") : std::nullopt);
    }

    // A tool that hangs: the window shows the Trash row off and answers at once; the answer shows
    // when it comes, and an answer for a view that is gone is dropped.
    void hungToolNeverHoldsTheWindow()
    {
        ServicesFixture f;
        f.modelFixture.access->granted = false;
        auto tool = std::make_shared<FakeTool>();
        tool->held = true;
        tool->output = "1";
        auto view = advisor(f, tool);
        QVERIFY(view->pendingReadings() > 0);
        QVERIFY(shownText(view.get())
                    .contains("Not granted. Gorrin still works, but some folders will show as "
                              "unreadable. | "
                              + trashOff));
        auto gone = std::make_unique<AdvisorView>(f.services(), runnerOf(tool));
        gone.reset();
        tool->letGo();
        QVERIFY(waitUntil([&] { return view->pendingReadings() == 0; }));
        QCOMPARE(view->state(), (Advisor::State { false, 30, std::nullopt }));
        QVERIFY(waitUntil([&] { return tool->calls >= 3; }));
        QVERIFY(f.settle());
    }

    // The first-run sheet in its two states; while it is on screen without access it checks once
    // a second, switches to granted the first time access is there and then stops checking; it
    // never switches back, and closing it stops the check.
    void firstRunWatch()
    {
        ServicesFixture f;
        f.modelFixture.access->granted = false;
        QWidget window;
        showAt(window, 700, 500);
        FirstRunSheet sheet(f.services(), true, &window);
        QVERIFY(!sheet.watching());
        sheet.open();
        QVERIFY(sheet.watching());
        const QString never = FirstRunSheet::accessLine
            + " | Never: Photos, Mail, Messages, Keychains, or anything "
              "still running. iCloud only if you switch it on. | ";
        QCOMPARE(
            shownText(&sheet),
            "@concerned | " + never
                + "Full Disk Access | Not granted yet. I'll only look — nothing happens until "
                  "you say so. | [Open Full Disk Access Settings…] | Switch Gorrin on there. Not in the list? Drag this "
                  "icon into it. I'll notice by myself. | [Start]");
        QCOMPARE(sheet.accessLabel()->property("symbol").toString(), QStringLiteral("exclamationmark.circle"));
        QCOMPARE(sheet.watch()->interval(), 1000);
        sheet.settingsButton()->click();
        QVERIFY(f.urls.opened.isEmpty());
        const auto dragged = std::unique_ptr<QMimeData>(AppIconDrag::dragData());
        QCOMPARE(dragged->urls(), QList<QUrl> { QUrl::fromLocalFile(QCoreApplication::applicationFilePath()) });

        f.modelFixture.access->granted = true;
        QVERIFY(waitUntil([&] { return sheet.hasAccess(); }));
        QVERIFY(!sheet.watching());
        f.modelFixture.access->granted = false;
        QCOMPARE(shownText(&sheet), "@idle | " + never + "Full Disk Access | Granted. | [Start]");
        QCOMPARE(sheet.accessLabel()->property("tone").toString(), QStringLiteral("green"));

        sheet.close();
        sheet.open();
        QVERIFY(!sheet.hasAccess() && sheet.watching());
        sheet.reject();
        QVERIFY(!sheet.watching());
    }

    // At common font sizes the sheet grows to its wrapped lines, with or without access.
    void firstRunFitsItsText_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("granted");
        for (const int points : { 9, 11, 13 })
            for (const bool granted : { false, true })
                QTest::addRow("%d pt, %s", points, granted ? "granted" : "not granted") << points << granted;
    }

    void firstRunFitsItsText()
    {
        QFETCH(int, points);
        QFETCH(bool, granted);
        AppFontSize font(points);
        ServicesFixture f;
        f.modelFixture.access->granted = granted;
        QWidget window;
        showAt(window, 920, 660);
        FirstRunSheet sheet(f.services(), granted, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QCOMPARE(cutOff(&sheet).join('\n'), QString());
        sheet.reject();
    }

    // The main window shows one sheet at a time while first run hasn't been seen; Return starts,
    // and however the sheet closes, first run counts as seen.
    void firstRunShownOnce_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Start by Return") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }

    void firstRunShownOnce()
    {
        QFETCH(int, key);
        ServicesFixture f;
        MainWindow window(f.services());
        showAt(window, 920, 660);
        window.hide();
        window.show();
        const auto sheets = window.findChildren<FirstRunSheet*>();
        QCOMPARE(sheets.size(), 1);
        FirstRunSheet* sheet = sheets.front();
        QVERIFY(sheet->isVisible() && sheet->hasAccess() && !sheet->watching());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        // Centred on the window, also once the window has moved (a window manager places it
        // after it comes on screen).
        const auto centres = [&] { return QList<QPoint> { sheet->geometry().center(), window.geometry().center() }; };
        QCOMPARE(centres().front(), centres().back());
        window.move(window.pos() + QPoint(60, 40));
        QCOMPARE(centres().front(), centres().back());
        QTest::keyClick(sheet, Qt::Key(key));
        QVERIFY(!sheet->isVisible());
        QCOMPARE(f.preferences()->boolean(Keys::hasSeenFirstRun, false), true);
        QVERIFY(waitUntil([&] { return window.findChildren<FirstRunSheet*>().isEmpty(); }));
        window.hide();
        window.show();
        QVERIFY(window.findChildren<FirstRunSheet*>().isEmpty());
        QVERIFY(f.settle());
    }
};

QTEST_MAIN(AdvisorTests)
#include "AdvisorTests.moc"
