// Windows on screens that differ from the test machine's: CTest runs these tests once on each
// screen of Support/Screens (1440 × 900 at 1×, 1.25× and 1.5×, and 960 × 600), the screen under
// test being the primary one, and each test at texts of 9, 11 and 13 points and at what a desktop
// whose fonts have 144 dots per inch makes of Qt's 9 (13.5).

#include <QtTest>

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>

#include "QuandrilApp/Findings/ConfirmSheet.h"
#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/ICloud/CloudConfirmSheet.h"
#include "QuandrilApp/ICloud/ICloudResults.h"
#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/ResultsBand.h"
#include "QuandrilApp/Look/ScreenFit.h"
#include "QuandrilApp/MainWindow/MainWindow.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/MenuLabel.h"
#include "QuandrilApp/Shell/MenuView.h"
#include "Support/CloudSection.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

const QString dockerCaution = "Volumes inside it may hold databases or files you made in containers.";

// Many findings on the startup drive, every third with the Docker leftovers' caution; the scan
// finds them and a clean-up does each.
void findMany(ServicesFixture& f, int count)
{
    std::vector<Finding> found;
    for (int i = 0; i < count; ++i) {
        Finding each = finding("f" + std::to_string(i), std::int64_t(1'000'000'000) * (i + 1));
        if (i % 3 == 0) {
            each.title = "Docker Desktop leftovers";
            each.caution = dockerCaution.toStdString();
        }
        found.push_back(each);
    }
    auto& engine = *f.modelFixture.engine;
    engine.onScan = [found](const Mac& mac, const Catalog&, const ScanOptions&) {
        ScanReport report = reportWith(mac, found);
        for (Finding& each : report.findings)
            each.drive = mac.drives().front().path;
        return report;
    };
    engine.onClean = [](const std::vector<std::string>& ids, const CleanOptions&) {
        std::vector<CleanResult> out;
        for (const auto& id : ids)
            out.push_back(result(id, CleanResult::Status::done, "Moved to the Trash.", 1'000'000'000));
        return out;
    };
    f.services().model.scan();
    QVERIFY(f.settle());
}

std::vector<std::string> ids(int count)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back("f" + std::to_string(i));
    return out;
}

// Whether the widget shows, wholly within its window.
QString inView(const QWidget* widget)
{
    const QRect at(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
    return widget->isVisible() && widget->window()->rect().contains(at) ? "in view" : "out of view";
}

QString sizeText(QSize size)
{
    return QStringLiteral("%1×%2").arg(size.width()).arg(size.height());
}

// The scroll areas whose bars show, by class.
QStringList scrolling(const QWidget* window)
{
    QStringList out;
    for (const QScrollBar* bar : window->findChildren<QScrollBar*>())
        if (bar->isVisible() && bar->parentWidget() && bar->parentWidget()->parentWidget())
            out << QString(bar->parentWidget()->parentWidget()->metaObject()->className()).section("::", -1);
    return out;
}

// The scroll areas that scroll sideways, by class.
QStringList sideways(const QWidget* window)
{
    QStringList out;
    for (const QAbstractScrollArea* area : window->findChildren<QAbstractScrollArea*>())
        if (area->isVisible() && area->horizontalScrollBar()->isVisible())
            out << QString(area->metaObject()->className()).section("::", -1);
    return out;
}

// Controls of `root` that show less than their whole text: a button narrower than it asks, a
// picker whose field is narrower than the item it shows, a control past a side of the view of
// the scroll area it lies in.
QStringList controlsCut(const QWidget* root)
{
    QStringList out;
    for (const QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            if (!button->text().isEmpty() && button->width() < button->sizeHint().width())
                out << "\"" + button->text() + "\" narrower than it asks";
        } else if (const auto* picker = qobject_cast<const QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(picker);
            option.currentText = picker->currentText();
            const QRect field = picker->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                                QStyle::SC_ComboBoxEditField, picker);
            if (field.width() < picker->fontMetrics().horizontalAdvance(picker->currentText()))
                out << "picker \"" + picker->currentText() + "\" cut";
        }
        if (!qobject_cast<const QPushButton*>(widget) && !qobject_cast<const QComboBox*>(widget))
            continue;
        for (const QWidget* up = widget->parentWidget(); up && up != root; up = up->parentWidget()) {
            const auto* area = qobject_cast<const QAbstractScrollArea*>(up);
            if (!area)
                continue;
            const int left = widget->mapTo(area->viewport(), QPoint(0, 0)).x();
            if (left < 0 || left + widget->width() > area->viewport()->width())
                out << QString(widget->metaObject()->className()) + " past its scroll area's side";
            break;
        }
    }
    return out;
}

// The rows of a confirmation sheet's list whose amount comes within two pixels of the name
// after it ("210 MBOllama models").
QStringList amountsTouchingNames(const QWidget* sheet)
{
    QStringList out;
    for (const QLabel* amount : sheet->findChildren<QLabel*>()) {
        const QString text = amount->text();
        if (!amount->isVisible() || !(text.endsWith(" KB") || text.endsWith(" MB") || text.endsWith(" GB")))
            continue;
        const int textEnd = amount->mapTo(sheet, QPoint(amount->contentsRect().left(), 0)).x()
            + amount->fontMetrics().horizontalAdvance(text);
        const QPoint middle = amount->mapTo(sheet, QPoint(0, amount->height() / 2));
        for (const QLabel* other : sheet->findChildren<QLabel*>()) {
            if (other == amount || !other->isVisible() || other->text().isEmpty())
                continue;
            const QRect at(other->mapTo(sheet, QPoint(0, 0)), other->size());
            if (at.top() <= middle.y() && at.bottom() >= middle.y() && at.left() >= middle.x()
                && at.left() - textEnd < 3)
                out << text + other->text();
        }
    }
    return out;
}

// The result lines that the band's end cuts through a line of text: the band's list may end between
// two result lines or between two lines of one, never across one.
QStringList linesSliced(const ResultsBand* band)
{
    QStringList out;
    const QWidget* view = band->list()->viewport();
    for (const ElidingLabel* line : band->linesBox()->findChildren<ElidingLabel*>()) {
        const QRect shown = QRect(line->mapTo(view, QPoint(0, 0)), line->size()) & view->rect();
        // Lines of text a fraction of a pixel high may round either way.
        const int lineHeight = line->heightForWidth(QWIDGETSIZE_MAX);
        const int into = shown.height() % lineHeight;
        if (!shown.isEmpty() && shown.height() < line->height() && into > 1 && into < lineHeight - 1)
            out << QStringLiteral("\"%1\" cut %2 px into its %3 px")
                       .arg(line->text())
                       .arg(shown.height())
                       .arg(line->height());
    }
    return out;
}

} // namespace

class WindowsOnScreenTests : public QObject {
    Q_OBJECT

    static void fonts()
    {
        QTest::addColumn<qreal>("points");
        for (const qreal points : { 9.0, 11.0, 13.0, 13.5 })
            QTest::addRow("%g pt", points) << points;
    }

private slots:
    // The main window opens at 920 × 660 and is never smaller than 760 × 540 where the screen has
    // room, and less where it hasn't, its frame wholly on the screen. The Findings page keeps its
    // bars in view, before and after a clean-up, and only its list scrolls.
    void mainWindowFitsTheScreen_data() { fonts(); }
    void mainWindowFitsTheScreen()
    {
        QFETCH(qreal, points);
        const AppFontSize font(points);
        ServicesFixture f;
        findMany(f, 40);
        f.preferences()->setString(Keys::mainSection, "findings");
        f.preferences()->setBoolean(Keys::hasSeenFirstRun, true);
        MainWindow window(f.services());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window) && waitForLayout(&window));

        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QMargins frame = ScreenFit::frameOf(window);
        auto* page = qobject_cast<FreeUpView*>(window.detail());
        QVERIFY(page);
        const auto state = [&] {
            return QStringLiteral("%1, at least %2, %3, \"Free up…\" %4, results %5, scrolling: %6")
                .arg(sizeText(window.size()), sizeText(window.minimumSize()),
                     area.contains(window.frameGeometry()) ? "on screen" : "off screen", inView(page->freeUpButton()),
                     page->resultsSlot()->isVisible() ? inView(page->resultsSlot()) : "none",
                     scrolling(&window).join(' '));
        };
        const QString fitted = sizeText(ScreenFit::within({ 920, 660 }, area, frame)) + ", at least "
            + sizeText(ScreenFit::within({ 760, 540 }, area, frame)) + ", on screen, \"Free up…\" in view, ";
        QCOMPARE(state(), fitted + "results none, scrolling: RowList");

        f.services().model.setSelected({ "f0", "f1", "f2" });
        f.services().model.clean(ids(3), true, std::nullopt);
        QVERIFY(f.settle() && waitForLayout(&window));
        QCOMPARE(state(), fitted + "results in view, scrolling: RowList");
    }

    // Every section at the narrowest main window, filled as it is in use: two drives, a goal with
    // routes, findings chosen and the results of a clean-up whose lines wrap. Nothing scrolls
    // sideways or is cut, and the results band ends between lines of text.
    void sectionsFitTheNarrowestWindow_data()
    {
        QTest::addColumn<qreal>("points");
        QTest::addColumn<QString>("section");
        for (const qreal points : { 9.0, 11.0, 13.0, 13.5 })
            for (const char* section : { "overview", "findings", "advisor" })
                QTest::addRow("%g pt, %s", points, section) << points << QString::fromLatin1(section);
    }
    void sectionsFitTheNarrowestWindow()
    {
        QFETCH(qreal, points);
        QFETCH(QString, section);
        const AppFontSize font(points);
        ServicesFixture f;
        f.machine().drive("WalkDrive", "/Volumes/WalkDrive", 1'000'000'000'000, 400'000'000'000);
        findMany(f, 40);
        f.modelFixture.engine->onClean = [](const std::vector<std::string>& ids, const CleanOptions&) {
            std::vector<CleanResult> out;
            for (const auto& id : ids)
                out.push_back(result(id, CleanResult::Status::done,
                                     "Moved to the Trash; the space comes back when the Trash is emptied.",
                                     1'000'000'000));
            return out;
        };
        Model& model = f.services().model;
        f.preferences()->setString(Keys::goal(model.status().drives.front().path), "90%");
        f.preferences()->setString(Keys::mainSection, section);
        f.preferences()->setBoolean(Keys::hasSeenFirstRun, true);
        model.clean(ids(6), true, std::nullopt);
        QVERIFY(f.settle());
        model.setSelected({ "f10", "f11" });
        MainWindow window(f.services());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window) && f.settle());
        window.resize(window.minimumSize());
        QVERIFY(waitForLayout(&window));

        QStringList wrong = sideways(&window) + controlsCut(&window) + cutOff(&window);
        if (auto* page = qobject_cast<FreeUpView*>(window.detail())) {
            const auto* band = page->resultsSlot()->findChild<ResultsBand*>();
            QVERIFY(band && band->isVisible() && band->list()->height() < band->linesBox()->height());
            wrong += linesSliced(band);
            // With nothing chosen the footer's two buttons fit beside its line, and share a line.
            model.setSelected({});
            QVERIFY(waitForLayout(&window));
            if (page->selectAllButton()->y() != page->freeUpButton()->y())
                wrong << "\"Select all\" and \"Free up…\" on lines of their own";
        }
        QCOMPARE(wrong.join("\n"), QString());
    }

    // No text of the confirmation sheet lies over another or is cut short, and the sheet stays
    // on the screen of the window it opens over.
    void confirmSheetTextsStandApart_data() { fonts(); }
    void confirmSheetTextsStandApart()
    {
        QFETCH(qreal, points);
        const AppFontSize font(points);
        ServicesFixture f;
        findMany(f, 6);
        f.services().model.setSelected({ "f0", "f1", "f2", "f3", "f4", "f5" });
        f.preferences()->setBoolean(Keys::hasSeenFirstRun, true);
        MainWindow window(f.services());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ConfirmSheet sheet(f.services(), &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet) && waitForLayout(&sheet));
        QCOMPARE((overlappingTexts(&sheet) + cutOff(&sheet) + amountsTouchingNames(&sheet)).join(" | "), QString());
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(sheet.frameGeometry()));
    }

    // The iCloud page at the narrowest main window: nothing scrolls sideways (a long file name
    // included), no button or picker is cut (the drive picker shows its whole item), and its
    // confirmation sheet shows every line whole with the amounts apart from the names.
    void iCloudPageFitsTheNarrowestWindow_data() { fonts(); }
    void iCloudPageFitsTheNarrowestWindow()
    {
        QFETCH(qreal, points);
        const AppFontSize font(points);
        using namespace CloudSection;
        Section s({ "WalkDrive@/Volumes/WalkDrive" });
        // A big file whose name alone is wider than the narrowest page.
        const std::string longName = cloud + "/Backups/Disk image from the old Mac, kept until the move is done.dmg";
        s.f.machine().sparse(longName, 700'000);
        Model& model = s.model();
        model.preferences().setString(Keys::mainSection, "iCloud");
        model.preferences().setBoolean(Keys::hasSeenFirstRun, true);
        model.preferences().setBoolean(Keys::icloudEnabled, true);
        MainWindow window(s.f.services());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window) && s.f.settle());
        window.resize(window.minimumSize());
        auto* results = window.detail()->findChild<ICloudResults*>();
        QVERIFY(results);
        model.setCloudSelected({ s.id(beach), s.id(image) });
        pick(results->parkPicker(), 0);
        QVERIFY(waitForLayout(&window));
        QCOMPARE(results->parkPicker()->currentText(), "WalkDrive (400 GB free)");
        QCOMPARE((sideways(&window) + controlsCut(&window) + cutOff(&window)).join("\n"), QString());

        results->startButton()->click();
        CloudConfirmSheet* sheet = results->sheet();
        QVERIFY(sheet && QTest::qWaitForWindowExposed(sheet) && waitForLayout(sheet));
        QCOMPARE((cutOff(sheet) + overlappingTexts(sheet) + amountsTouchingNames(sheet)).join(" | "), QString());
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(sheet->frameGeometry()));
        sheet->reject();
    }

    // A drive's goal line that wraps once the menu is open takes the lines it needs.
    void menuLinesWrapWhole_data() { fonts(); }
    void menuLinesWrapWhole()
    {
        QFETCH(qreal, points);
        const AppFontSize font(points);
        ServicesFixture f;
        auto status = std::make_shared<ScanReport>();
        status->drives = { DriveInfo { "Macintosh HD", "/", true, 500'000'000'000, 60'000'000'000, 60'000'000'000 } };
        f.modelFixture.engine->onStatus = [status](const Mac&) { return *status; };
        f.preferences()->setString(Keys::goal("/"), "10%");
        AppSignals requests;
        AppDelegate delegate(f.services(), requests);
        MenuView menu(f.services(), delegate, Scenes { [] {}, [] {} });
        menu.popUp(
            QRect(QGuiApplication::primaryScreen()->availableGeometry().topRight() - QPoint(40, 0), QSize(22, 22)));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QCOMPARE(menu.gauges().at(0)->verdictText(), "Goal met: 10% of the drive free.");
        status->drives[0].freeBytes = status->drives[0].strictFreeBytes = 37'900'000'000;
        f.services().model.refreshStatus();
        QVERIFY(f.settle() && waitForLayout(&menu));
        QCOMPARE(menu.gauges().at(0)->verdictText(), "12.1 GB short of the goal (10% of the drive free).");
        QCOMPARE((cutOff(&menu) + overlappingTexts(&menu)).join(" | "), QString());
    }

    // The tray's picture is drawn at the screen's pixel ratio, not scaled from another one.
    void trayIconAtTheScreensRatio()
    {
        const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
        MenuLabel::Content content;
        content.used = 0.6;
        content.warning = true;
        const QIcon icon = MenuLabel::icon(content, Qt::black);
        const QImage drawn = MenuLabel::picture(content, Qt::black, 22, ratio);
        QCOMPARE(icon.pixmap(QSize(22, 22), ratio).toImage().convertToFormat(drawn.format()), drawn);
    }

    // Settings keeps its width at the default font whichever pane shows first.
    void settingsKeepsItsWidth()
    {
        QStringList widths, expected;
        for (const auto pane : allSettingsPanes) {
            ServicesFixture f;
            f.preferences()->setString(QString(Keys::settingsPane), rawValue(pane));
            SettingsScene scene(f.services());
            scene.show();
            QVERIFY(QTest::qWaitForWindowExposed(&scene) && waitForLayout(&scene));
            widths << rawValue(pane) + " " + sizeText(scene.size());
            expected << rawValue(pane) + " 720×540";
            QVERIFY(f.settle());
        }
        QCOMPARE(widths, expected);
    }
};

QTEST_MAIN(WindowsOnScreenTests)
#include "WindowsOnScreenTests.moc"
