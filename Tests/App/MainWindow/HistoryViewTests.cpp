// What comes after a clean-up: the results bar of the findings view, and History with Put Back.

#include <QtTest>

#include <filesystem>
#include <limits>

#include <QLabel>
#include <QPushButton>

#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/Findings/ResultsBar.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Look/RowList.h"
#include "QuandrilApp/MainWindow/HistoryView.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "Support/ScriptedEngine.h"
#include "Support/ServicesFixture.h"
#include "Support/ViewText.h"

using namespace Quandril;
using namespace Quandril::App;
using namespace Quandril::AppTesting;

namespace {

using Status = CleanResult::Status;

QString decimal(std::int64_t bytes)
{
    return AppFormat::bytes(bytes, SizeUnits::decimal);
}

Relocation moved(std::string from, std::string to, std::optional<bool> parked = std::nullopt)
{
    return Relocation { std::move(from), std::move(to), std::nullopt, parked };
}

HistoryEntry entry(std::string id, std::vector<Relocation> relocated, std::optional<bool> undone = std::nullopt)
{
    HistoryEntry out = historyEntry(std::move(id), TimePoint(std::chrono::seconds(1'700'000'000)));
    out.relocated = std::move(relocated);
    out.undone = undone;
    return out;
}

std::vector<HistoryRow*> builtRows(const HistoryView& view)
{
    std::vector<HistoryRow*> rows;
    for (const int index : view.list()->builtRows())
        rows.push_back(qobject_cast<HistoryRow*>(view.list()->builtRow(index)));
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Quandril::CleanResult>)
Q_DECLARE_METATYPE(Quandril::HistoryEntry)

class HistoryViewTests : public QObject {
    Q_OBJECT

private slots:
    // Every result gets its line; the mascot speaks only when bytes came back; the sum holds at
    // the 64-bit limit; "Dismiss" empties the results and the findings view then hides the bar.
    void resultsBar_data()
    {
        QTest::addColumn<std::vector<CleanResult>>("results");
        QTest::addColumn<QString>("mascot"); // "" for none
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("one of each") << std::vector<CleanResult> { result("a", Status::done, "Moved.", 2'000'000'000),
                                                                   result("b", Status::wouldDo, "Would move.", 7),
                                                                   result("c", Status::refused, "", 7),
                                                                   result("d", Status::failed, "Broke.", 7) }
                                     << "Done. 2 GB back, all of it reversible from History."
                                     << QStringList { "checkmark.circle primary | Title of a: Moved.",
                                                      "eye orange | Title of b: Would move.",
                                                      "hand.raised orange | Title of c: ",
                                                      "xmark.octagon orange | Title of d: Broke." };
        CleanResult unrecorded = result("b", Status::done,
                                        "Moved. It isn't in History, so Put Back can't undo it: the disk is full.",
                                        1'000'000'000);
        unrecorded.notInHistory = true;
        QTest::newRow("one done not in History")
            << std::vector<CleanResult> { result("a", Status::done, "Moved.", 2'000'000'000), unrecorded }
            << "Done. 3 GB back. Not all of it is in History; the lines below say why."
            << QStringList { "checkmark.circle primary | Title of a: Moved.",
                             "checkmark.circle primary | Title of b: " + QString::fromStdString(unrecorded.detail) };
        QTest::newRow("none done in History")
            << std::vector<CleanResult> { unrecorded, result("c", Status::refused, "No.", 5) }
            << "Done. 1 GB back. None of it is in History; the lines below say why."
            << QStringList { "checkmark.circle primary | Title of b: " + QString::fromStdString(unrecorded.detail),
                             "hand.raised orange | Title of c: No." };
        QTest::newRow("all refused") << std::vector<CleanResult> { result("a", Status::refused, "No.", 9) } << ""
                                     << QStringList { "hand.raised orange | Title of a: No." };
        QTest::newRow("done, 0 bytes") << std::vector<CleanResult> { result("a", Status::done, "Done.", 0) } << ""
                                       << QStringList { "checkmark.circle primary | Title of a: Done." };
        const auto most = std::numeric_limits<std::int64_t>::max();
        QTest::newRow("sum at the limit")
            << std::vector<CleanResult> { result("a", Status::done, "x", most), result("b", Status::done, "y", most) }
            << "Done. " + decimal(most) + " back, all of it reversible from History."
            << QStringList { "checkmark.circle primary | Title of a: x", "checkmark.circle primary | Title of b: y" };
    }

    void resultsBar()
    {
        QFETCH(std::vector<CleanResult>, results);
        QFETCH(QString, mascot);
        QFETCH(QStringList, lines);
        ServicesFixture f;
        Model& model = f.services().model;
        FreeUpView view(f.services());
        showAt(view, 760, 900);
        QVERIFY(!view.resultsSlot()->isVisible());
        model.setLastResults(results);
        auto* bar = view.resultsSlot()->findChild<ResultsBar*>();
        QVERIFY(bar && view.resultsSlot()->isVisible());
        QCOMPARE(bar->lines(), lines);
        QCOMPARE(bar->mascotLine() ? bar->mascotLine()->label()->text() : QString(), mascot);
        if (bar->mascotLine())
            QCOMPARE(bar->mascotLine()->image()->slot(), GorrinSlot::done);
        QCOMPARE(visibleTexts(bar).mid(0, 2), (QStringList { "Last run", "[Dismiss]" }));
        bar->dismissButton()->click();
        QVERIFY(model.lastResults().empty());
        QVERIFY(!view.resultsSlot()->isVisible());
        QVERIFY(f.settle());
    }

    // The row's end: "Put back" once put back, the button where the engine can bring something
    // back from a Trash or a parking folder, else nothing.
    void trailingStates_data()
    {
        QTest::addColumn<HistoryEntry>("line");
        QTest::addColumn<int>("trailing");
        const auto none = int(HistoryView::Trailing::none);
        const auto button = int(HistoryView::Trailing::putBack);
        const auto done = int(HistoryView::Trailing::putBackDone);
        // Paths are completed with the fake machine's root in the test.
        const Relocation trashed = moved("/Users/me/x", "/Users/me/.Trash/x");
        const std::string onDrive = "/Volumes/Backup/Moved from Mac/x";
        QTest::newRow("in the Trash") << entry("a", { trashed }) << button;
        QTest::newRow("put back") << entry("a", { trashed }, true) << done;
        QTest::newRow("undone false") << entry("a", { trashed }, false) << button;
        QTest::newRow("deleted for good") << entry("a", {}) << none;
        QTest::newRow("on a drive, not parked") << entry("a", { moved("/Users/me/x", onDrive) }) << none;
        QTest::newRow("parked on a drive") << entry("a", { moved("/Users/me/x", onDrive, true) }) << button;
        QTest::newRow("one of several qualifies")
            << entry("a", { moved("/Users/me/y", "/Volumes/Backup/y"), trashed }) << button;
    }

    void trailingStates()
    {
        QFETCH(HistoryEntry, line);
        QFETCH(int, trailing);
        ServicesFixture f;
        f.machine().drive("Backup", "/Volumes/Backup", 2'000'000'000'000, 1'000'000'000'000);
        for (Relocation& relocation : line.relocated) {
            relocation.from = f.machine().root() + relocation.from;
            relocation.to = f.machine().root() + relocation.to;
        }
        f.modelFixture.engine->onHistory = [line](const Mac&) { return History::Loaded { { line }, {} }; };
        HistoryView view(f.services());
        showAt(view, 700, 400);
        const auto rows = builtRows(view);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(int(rows.front()->trailing()), trailing);
        const QString detail = HistoryView::detailLine(line, f.preferences().get());
        const QString ends[] = { "", " | [Put Back]", " | Put back" }; // by Trailing
        QCOMPARE(shownText(&view), "Title of a | " + detail + ends[trailing]);
        QVERIFY(detail.endsWith(" · " + decimal(1000) + " · trash"));
    }

    // What a row offers is what the model read with History in its task; building and scrolling
    // the rows looks at no Trash folder or drive. A later reading replaces what the rows offer.
    void rowsOfferWhatTheModelRead()
    {
        ServicesFixture f;
        ScriptedEngine& engine = *f.modelFixture.engine;
        const std::string trash = f.machine().root() + "/Users/me/.Trash/x";
        std::vector<HistoryEntry> lines { entry("gone", {}), entry("trashed", { moved("/x", trash) }) };
        engine.onHistory = [&lines](const Mac&) { return History::Loaded { lines, {} }; };
        // Scripted against what the disk would say: the entry deleted for good is offered.
        std::string offered = "gone";
        engine.onPutBackOffers = [&offered](const std::vector<HistoryEntry>& entries, const Mac&) {
            std::vector<bool> out;
            for (const HistoryEntry& one : entries)
                out.push_back(one.id == offered);
            return out;
        };
        const auto shown = [](const HistoryView& view) {
            QStringList out;
            for (const HistoryRow* row : builtRows(view))
                out << QString::fromStdString(row->entry().id) + (row->putBackButton() ? " [Put Back]" : "");
            return out.join(", ");
        };
        Model& model = f.services().model;
        const int readings = engine.count(EngineCall::putBackOffers);
        HistoryView view(f.services());
        showAt(view, 700, 400);
        QCOMPARE(shown(view), "trashed, gone [Put Back]");

        offered = "trashed";
        engine.onClean = [](const std::vector<std::string>& ids, const CleanOptions&) {
            return std::vector { result(ids.front(), Status::done) };
        };
        model.clean({ "a" }, false, std::nullopt);
        QVERIFY(f.settle());
        QCOMPARE(shown(view), "trashed [Put Back], gone");
        const auto calls = engine.calls(EngineCall::putBackOffers);
        QCOMPARE(int(calls.size()), readings + 1);
        QVERIFY(!calls.back().onGuiThread);
    }

    // No list without entries: the design's sentence for a History really empty, and why when the
    // engine won't use the history file (scripted, then the real engine over a folder in its
    // place). A later reading the engine uses brings the list back.
    void emptyOrRefused_data()
    {
        QTest::addColumn<QString>("whyNot"); // scripted; "" for the real engine
        QTest::addColumn<bool>("folderInItsPlace");
        QTest::addColumn<QString>("shown");
        const QString refused = "History can't be shown: the History file belongs to another user, so Gorrin "
                                "won't use it.";
        QTest::newRow("nothing done yet") << "" << false << HistoryView::emptyText;
        QTest::newRow("another user's file")
            << "the History file belongs to another user, so Gorrin won't use it" << false << refused;
        // A file that can't be read, or isn't a plain file, says why as a refused one does.
        QTest::newRow("a file that can't be read")
            << "you don't have permission to read the History file" << false
            << "History can't be shown: you don't have permission to read the History file.";
        QTest::newRow("a folder in the file's place, real engine")
            << "" << true << "History can't be shown: the History file is a folder.";
    }

    void emptyOrRefused()
    {
        QFETCH(QString, whyNot);
        QFETCH(bool, folderInItsPlace);
        QFETCH(QString, shown);
        ServicesFixture f;
        ScriptedEngine& engine = *f.modelFixture.engine;
        if (!whyNot.isEmpty())
            engine.onHistory = [why = whyNot.toStdString()](const Mac&) { return History::Loaded { {}, why }; };
        if (folderInItsPlace)
            QVERIFY(std::filesystem::create_directories(History::path(f.machine().mac())));
        HistoryView view(f.services());
        showAt(view, 700, 400);
        QVERIFY(!view.showsList());
        QCOMPARE(shownText(&view), shown);

        engine.onHistory = [](const Mac&) { return History::Loaded { { entry("a", {}) }, {} }; };
        engine.onUndo = [](const std::string& id) { return result(id, Status::refused); };
        f.services().model.undo("a");
        QVERIFY(f.settle());
        QVERIFY(view.showsList());
        QCOMPARE(shownText(&view), "Title of a | " + HistoryView::detailLine(entry("a", {}), f.preferences().get()));
    }

    // End to end on a fake machine: two clean-ups put a cache in the Trash, History offers both
    // lines back; while the put-back runs both buttons of the finding are disabled and presses ask
    // for nothing more; the newest item returns to its place, and every line of the finding then
    // reads "Put back".
    void putBackRestores()
    {
        ServicesFixture f;
        Model& model = f.services().model;
        const std::string file = f.machine().at("~/Library/Caches/old/a.bin");
        for (int run = 0; run < 2; ++run) {
            f.machine().file("~/Library/Caches/old/a.bin", 4000);
            model.scan();
            QVERIFY(f.settle());
            model.clean({ model.report()->findings.at(0).id }, false, std::nullopt);
            QVERIFY(f.settle());
            QVERIFY(!QFile::exists(QString::fromStdString(file)));
        }
        const std::string id = model.history().front().id;

        HistoryView view(f.services());
        showAt(view, 700, 400);
        auto rows = builtRows(view);
        QCOMPARE(rows.size(), std::size_t(2));
        QVERIFY(rows[0]->putBackButton()->isEnabled() && rows[1]->putBackButton()->isEnabled());

        f.modelFixture.engine->hold(EngineCall::undo);
        rows[1]->putBackButton()->click();
        QVERIFY(f.modelFixture.engine->waitForCalls(EngineCall::undo, 1));
        QVERIFY(!rows[0]->putBackButton()->isEnabled() && !rows[1]->putBackButton()->isEnabled());
        rows[0]->putBackButton()->click();
        rows[1]->putBackButton()->click();
        model.undo(id);
        f.modelFixture.engine->release(EngineCall::undo);
        QVERIFY(f.settle());
        QCOMPARE(f.modelFixture.engine->count(EngineCall::undo), 1);
        QVERIFY(QFile::exists(QString::fromStdString(file)));
        QCOMPARE(model.lastResults().size(), std::size_t(1));
        QCOMPARE(model.lastResults().front().status, Status::done);

        rows = builtRows(view);
        QCOMPARE(rows.size(), std::size_t(3));
        for (const HistoryRow* row : rows)
            QCOMPARE(row->trailing(), HistoryView::Trailing::putBackDone);
    }
};

QTEST_MAIN(HistoryViewTests)
#include "HistoryViewTests.moc"
