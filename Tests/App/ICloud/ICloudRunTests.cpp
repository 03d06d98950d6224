// Cleanups of the iCloud section run end to end onto a fake drive: the confirmation sheet that asks
// before anything starts, parking the chosen files on the drive chosen, and a stop that waits for
// the file in hand.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollArea>

#include <filesystem>
#include <future>

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
#include "Support/ServicesFixture.h"
#include "Support/SignalRecorder.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

using namespace Quandril::AppTesting::CloudSection;

class ICloudRunTests : public QObject {
    Q_OBJECT

private slots:
    void confirmationSheetAsksBeforeStarting()
    {
        Section s;
        ICloudResults& results = s.shown();
        Model& model = s.model();
        model.setCloudSelected({ s.id(clip), s.id(beach), "gone" });
        results.startButton()->click();
        CloudConfirmSheet* sheet = results.sheet();
        QVERIFY(sheet && sheet->isVisible() && results.confirming());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(QStringList({ sheet->titleText(), sheet->summaryText() }) + sheet->listed()
                     + QStringList { sheet->explanationText() },
                 QStringList({
                     "Take 906 KB out of iCloud?",
                     "2 files. 900 KB has to be downloaded first, 5 GB at a time, so your Mac never runs low.",
                     "900 KB | iCloud Drive/Videos/Été à la plage.mov",
                     "6 KB | iCloud Drive/Photos/Summer/clip.mov",
                     "Each file is checked byte for byte (against the copy that stays, for a copy), copied to Backup "
                     "and checked again, and only then removed from iCloud, which removes it from all your devices. "
                     "It waits on Backup in \"Removed from iCloud\" until you delete that folder; History can put it "
                     "back.",
                 }));

        // Cautioned items: "Start" follows the agreement, and Return only works while it is enabled.
        QVERIFY(sheet->agreement()->isVisibleTo(sheet));
        QStringList starts { QString::number(sheet->startButton()->isEnabled()) };
        sheet->agreement()->click();
        starts << QString::number(sheet->startButton()->isEnabled());
        sheet->agreement()->click();
        starts << QString::number(sheet->startButton()->isEnabled());
        QCOMPARE(starts.join(','), QStringLiteral("0,1,0"));
        QTest::keyClick(sheet, Qt::Key_Return);
        QVERIFY(sheet->isVisible());

        // Escape cancels: nothing starts, the choice stays, and a new sheet starts unagreed.
        sheet->agreement()->click();
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!results.confirming() && !results.sheet());
        QCOMPARE(model.cloudSelected().size(), std::size_t(3));
        results.startButton()->click();
        sheet = results.sheet();
        QVERIFY(!sheet->agreed() && !sheet->startButton()->isEnabled());

        // Without a cautioned item there is nothing to agree to.
        model.setCloudSelected({ s.id(reportCopy) });
        QVERIFY(!sheet->agreement()->isVisibleTo(sheet) && sheet->startButton()->isEnabled());
        QCOMPARE(sheet->summaryText(),
                 QStringLiteral("1 file. 0 KB has to be downloaded first, 5 GB at a time, so "
                                "your Mac never runs low."));
        s.engine().hold(EngineCall::cleanCloud);
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!results.sheet() && !results.confirming());
        QVERIFY(s.engine().waitForCalls(EngineCall::cleanCloud, 1));
        const CloudOptions options = *s.engine().calls(EngineCall::cleanCloud).front().cloudOptions;
        QCOMPARE(QString::fromStdString(options.drive) + ' ' + QString::number(options.chunkBytes) + ' '
                     + QString::number(options.agreed),
                 QStringLiteral("Backup 5000000000 0"));
        s.engine().release(EngineCall::cleanCloud);
        QVERIFY(s.f.settle());
    }

    void parksTheChosenFilesOnTheDriveChosen()
    {
        // Two drives of one name: the files go to the one picked, not to its namesake.
        Section s({ "Backup@/Volumes/Backup", "Backup@/Volumes/Backup 1" });
        std::vector<std::string> lines;
        cleanThroughTheEngine(s, lines);
        ICloudResults& results = s.shown();
        Model& model = s.model();
        QStringList progress;
        connect(&model, &Model::changed, &results, [&] {
            if (results.footerShown() == Footer::working)
                progress << results.progressText();
        });

        pick(results.parkPicker(), 1);
        for (auto* header : results.headers())
            header->button()->click();
        startAgreed(results);
        QVERIFY(s.f.settle());

        QCOMPARE(s.engine().calls(EngineCall::cleanCloud).front().cloudOptions->drive, s.at("/Volumes/Backup 1"));
        QStringList expected { QStringLiteral("Working…") };
        for (const auto& line : lines)
            expected << QString::fromStdString(line);
        const auto withoutRepeats = [](QStringList list) {
            list.erase(std::unique(list.begin(), list.end()), list.end());
            return list;
        };
        QCOMPARE(withoutRepeats(progress), withoutRepeats(expected));
        QVERIFY(lines.size() >= 4);

        namespace fs = std::filesystem;
        const std::string parked = "/Volumes/Backup 1/Removed from iCloud/iCloud Drive/";
        for (const auto* rest :
             { "Old/Report copy.pdf", "Photos/Summer/clip.mov", "Videos/Été à la plage.mov", "Backups/Disk image.dmg" })
            QVERIFY2(fs::exists(s.at(parked + rest)), rest);
        QVERIFY(!fs::exists(s.at("/Volumes/Backup/Removed from iCloud")));
        QVERIFY(!fs::exists(s.at(beach)) && fs::exists(s.at(report)));

        QVERIFY(results.resultsBar()->isVisibleTo(&results));
        QCOMPARE(results.resultsBar()->summaryText(), QStringLiteral("Last run: 4 of 4 out of iCloud, 1 MB"));
        QCOMPARE(results.resultsBar()->lines().size(), 4);
        // Four lines scroll within the band's three.
        QVERIFY(results.resultsBar()->list()->height() < results.resultsBar()->linesBox()->sizeHint().height());
        for (const auto& line : results.resultsBar()->lines())
            QVERIFY2(line.startsWith("checkmark.circle primary | "), qPrintable(line));
        QVERIFY(!model.cloudProgress() && results.progressText().isEmpty());
        QVERIFY(model.cloudSelected().empty());
        QCOMPARE(results.headers().size(), std::size_t(0)); // the scan after the run finds nothing left to offer

        results.resultsBar()->dismissButton()->click();
        QVERIFY(model.cloudResults().empty() && !results.resultsBar()->isVisibleTo(&results));
    }

    void stopsAfterTheFileInHand()
    {
        Section s;
        std::vector<std::string> lines;
        Gate gate;
        // The engine waits at its first "Checking" line until the test has pressed stop.
        cleanThroughTheEngine(s, lines, [&](const std::string& line) {
            if (line.starts_with("Checking"))
                gate.waited.wait();
        });
        ICloudResults& results = s.shown();
        Model& model = s.model();
        model.setCloudSelected({ s.id(beach), s.id(image) });
        startAgreed(results);
        QVERIFY(waitUntil([&] { return results.progressText().startsWith("Checking"); }));
        const QString inHand = results.progressText().mid(int(std::strlen("Checking ")));
        results.stopButton()->click();
        gate.open();
        QVERIFY(s.f.settle());

        const bool imageInHand = inHand == "Disk image.dmg";
        const QString other = imageInHand ? QStringLiteral("Été à la plage.mov") : QStringLiteral("Disk image.dmg");
        const std::string left = imageInHand ? beach : image;
        const QString bar = results.resultsBar()->lines().join('\n');
        QVERIFY2(results.resultsBar()->summaryText().startsWith("Last run: 1 of 2"),
                 qPrintable(results.resultsBar()->summaryText()));
        QCOMPARE(bar.count(stopped), 1);
        QVERIFY(bar.contains("hand.raised orange | " + other + ": " + stopped));
        QVERIFY(std::filesystem::exists(s.at(left)));
        QCOMPARE(model.cloudSelected(), std::set<std::string> { s.id(left) });
    }
};

QTEST_MAIN(ICloudRunTests)
#include "ICloudRunTests.moc"
