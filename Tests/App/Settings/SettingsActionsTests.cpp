// What the settings panes do beyond storing a choice: the update check run by hand, the user's
// never-touch paths (typed, chosen, dropped), revealing files, and resetting every setting.

#include <QtTest>

#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Reveal.h"
#include "QuandrilApp/Settings/AdvancedSettings.h"
#include "QuandrilApp/Settings/RulesSettings.h"
#include "QuandrilApp/Settings/UpdatesSettings.h"
#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/LayoutFit.h"
#include "Support/ServicesFixture.h"
#include "Support/WidgetTranscript.h"

using namespace Quandril;
using namespace Quandril::App;
using AppTesting::ServicesFixture;
using AppTesting::transcript;
using Outcome = UpdateFetcher::Outcome;

Q_DECLARE_METATYPE(Quandril::App::UpdateFetcher::Outcome)

namespace {

void showAndSettle(QWidget& widget, ServicesFixture& f)
{
    widget.resize(530, 1200);
    widget.show();
    QVERIFY(f.settle());
    QVERIFY(AppTesting::waitForLayout(&widget));
}

QPushButton* button(QWidget& pane, const QString& text)
{
    for (QPushButton* b : pane.findChildren<QPushButton*>())
        if (b->text() == text && b->isVisibleTo(&pane))
            return b;
    return nullptr;
}

// What the pane shows once widgets added to it meanwhile have been shown.
QStringList seen(QWidget& pane)
{
    if (!AppTesting::waitForLayout(&pane))
        return { QStringLiteral("(never came to rest)") };
    return transcript(&pane);
}

// The lines below the running version: the check's result.
QStringList resultLines(QWidget& pane)
{
    const QStringList all = seen(pane);
    return all.mid(all.indexOf("caption/secondary: This version: 0.1.0") + 1);
}

// The user's entries as stored: "path" per entry, each "why" checked to be the model's.
QStringList storedPaths(const Model& model, const QString& home)
{
    QStringList out;
    for (const ProtectedPath& entry : model.extraProtected()) {
        if (entry.why != "a path you added")
            out << "unexpected why: " + QString::fromStdString(entry.why);
        const QString path = QString::fromStdString(entry.path);
        out << (path.startsWith(home + "/") ? "<home>" + path.mid(home.size()) : path);
    }
    return out;
}

// Records every path it is asked to show, absolute or not.
class AskedReveal final : public Reveal {
public:
    QStringList asked;
    bool reveal(const QString& path) override
    {
        asked << path;
        return true;
    }
};

void dropOn(QWidget* target, QMimeData& data)
{
    const QPoint at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

class SettingsActionsTests : public QObject {
    Q_OBJECT

private slots:
    void updateCheckShowsItsOutcome_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("shown");
        const auto file = [](const char* json) { return Outcome::received(QByteArray(json)); };
        const QString link = "link: Open the download page";
        QTest::newRow("newer, with notes")
            << file(
                   "{\"version\":\"0.2\",\"url\":\"https:\\/\\/gorrin.example\\/get\",\"notes\":\"Faster <b>scans</b>.\"}")
            << "symbol: arrow.up.circle.fill/accent\naccent: Gorrin 0.2 is out.\ncaption/secondary: Faster <b>scans</b>.\n"
                + link;
        QTest::newRow("newer, no notes") << file(
            "{\"version\":\"1\",\"url\":\"https:\\/\\/gorrin.example\\/get\",\"notes\":null}")
                                         << "symbol: arrow.up.circle.fill/accent\naccent: Gorrin 1 is out.\n" + link;
        QTest::newRow("up to date") << file("{\"version\":\"0.1.0\",\"url\":\"https:\\/\\/gorrin.example\\/get\"}")
                                    << "symbol: checkmark.circle/secondary\nsecondary: You're up to date.";
        QTest::newRow("download failed") << Outcome::failed("Host gorrin.example not found")
                                         << "symbol: exclamationmark.triangle/orange\n"
                                            "caption/orange: Couldn't check: Host gorrin.example not found";
        QTest::newRow("a script for a link") << file("{\"version\":\"9\",\"url\":\"javascript:alert(1)\"}")
                                             << "symbol: exclamationmark.triangle/orange\n"
                                                "caption/orange: The version file didn't have a usable link.";
    }

    // While a check runs the button is off and the last result stays; the new one replaces it.
    // Only an https page with a host is ever opened, and nothing is stored.
    void updateCheckShowsItsOutcome()
    {
        QFETCH(Outcome, outcome);
        QFETCH(QString, shown);
        ServicesFixture f;
        QSignalSpy writes(&f.services().preferences, &Preferences::changed);
        UpdatesSettings pane(f.services());
        showAndSettle(pane, f);
        QCOMPARE(resultLines(pane), QStringList());

        button(pane, "Check Now")->click();
        QCOMPARE(f.updates.requested, QList<QUrl> { QUrl("https://gorrin.example/version.json") });
        QVERIFY(seen(pane).contains("button: Check Now (disabled)"));
        QVERIFY(seen(pane).contains("busy"));
        QCOMPARE(f.updates.answer(outcome), 1);
        QCOMPARE(resultLines(pane).join('\n'), shown);
        if (QPushButton* open = button(pane, "Open the download page")) {
            open->click();
            QCOMPARE(f.urls.opened, QList<QUrl> { QUrl("https://gorrin.example/get") });
        }

        button(pane, "Check Now")->click();
        QVERIFY(!button(pane, "Check Now")->isEnabled());
        QCOMPARE(resultLines(pane).join('\n'), shown);
        QCOMPARE(f.updates.answer(Outcome::failed("Timed out")), 1);
        QCOMPARE(resultLines(pane).mid(1), QStringList { "caption/orange: Couldn't check: Timed out" });
        QVERIFY(!seen(pane).contains("busy"));
        QCOMPARE(writes.count(), 0);
    }

    // A pane closed while its check runs takes the answer with it.
    void aClosedPaneDropsItsCheck()
    {
        ServicesFixture f;
        auto pane = std::make_unique<UpdatesSettings>(f.services());
        button(*pane, "Check Now")->click();
        QCOMPARE(f.updates.waiting(), 1);
        pane.reset();
        QCOMPARE(f.updates.answer(Outcome::received("{\"version\":\"9\",\"url\":\"https:\\/\\/gorrin.example\"}")), 0);
        QVERIFY(!f.services().preferences.contains(QString(Keys::availableUpdate)));
    }

    void addingNeverTouchPaths_data()
    {
        // Each column lists its texts with "|" between them: the texts "Add" is pressed with, the
        // paths stored, the rows shown.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("under the home folder") << "Documents/Taxes"
                                               << "<home>/Documents/Taxes"
                                               << "~/Documents/Taxes";
        QTest::newRow("blanks and tabs at the ends") << " \t~/Music \t"
                                                     << "~/Music"
                                                     << "~/Music";
        QTest::newRow("the same text twice") << "~/Music|~/Music"
                                             << "~/Music"
                                             << "~/Music";
        QTest::newRow("one place, two spellings") << "~/Music|<home>/Music"
                                                  << "~/Music|<home>/Music"
                                                  << "~/Music|~/Music";
        QTest::newRow("outside the home folder") << "/Volumes/Backup/Photos"
                                                 << "/Volumes/Backup/Photos"
                                                 << "/Volumes/Backup/Photos";
        QTest::newRow("a file URL typed stays as typed") << "file:///tmp/x"
                                                         << "<home>/file:///tmp/x"
                                                         << "~/file:///tmp/x";
    }

    // "Add" stores the trimmed text through the model and empties the field, also for a duplicate.
    void addingNeverTouchPaths()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        ServicesFixture f;
        const QString home = QString::fromStdString(f.machine().home());
        RulesSettings pane(f.services());
        showAndSettle(pane, f);
        auto* field = pane.findChild<QLineEdit*>();
        for (QString text : typed.split('|')) {
            // Typed: a tab key would move the focus, so the text goes in as one insertion.
            field->insert(text.replace("<home>", home));
            button(pane, "Add")->click();
            QCOMPARE(field->text(), QString());
        }
        QCOMPARE(storedPaths(f.services().model, home).join('|'), stored);
        QStringList rows = seen(pane);
        rows = rows.mid(rows.indexOf("header: Protected by you") + 1);
        rows = rows.mid(0, rows.indexOf("header: Never touched, built in (0)"));
        rows.removeAll("link: Remove");
        QCOMPARE(rows.join('|'), shown);
    }

    // Blanks alone leave "Add" off; "Remove" takes exactly one path and the list is stored.
    void removingNeverTouchPaths()
    {
        ServicesFixture f;
        Model& model = f.services().model;
        const QString home = QString::fromStdString(f.machine().home());
        model.addProtectedPath("~/Music");
        model.addProtectedPath(home.toStdString() + "/Music");
        RulesSettings pane(f.services());
        showAndSettle(pane, f);
        pane.findChild<QLineEdit*>()->insert(" \t ");
        QVERIFY(!button(pane, "Add")->isEnabled());

        button(pane, "Remove")->click();
        QCOMPARE(storedPaths(model, home), QStringList { "<home>/Music" });
        QVERIFY(AppTesting::waitUntil([&] { return seen(pane).count("link: Remove") == 1; }));
        button(pane, "Remove")->click();
        QVERIFY(AppTesting::waitUntil([&] { return !seen(pane).contains("header: Protected by you"); }));
        QCOMPARE(AppTesting::storedValue(model.preferences(), QString(Keys::extraProtected)), "data:[]");
    }

    // A file or folder dragged in arrives as its local path; other drops leave the field alone.
    // "Choose…" fills the field and adds nothing.
    void pathsDroppedOrChosen()
    {
        ServicesFixture f;
        RulesSettings pane(f.services());
        showAndSettle(pane, f);
        auto* field = pane.findChild<QLineEdit*>();

        QMimeData file;
        file.setUrls({ QUrl::fromLocalFile("/home/me/My Taxes/Ümlaut 100%.pdf") });
        file.setText("file:///home/me/My%20Taxes/%C3%9Cmlaut%20100%25.pdf");
        dropOn(field, file);
        QCOMPARE(field->text(), QString("/home/me/My Taxes/Ümlaut 100%.pdf"));

        QMimeData web;
        web.setUrls({ QUrl("https://example.org/a") });
        dropOn(field, web);
        QMimeData two;
        two.setUrls({ QUrl::fromLocalFile("/a"), QUrl::fromLocalFile("/b") });
        dropOn(field, two);
        QCOMPARE(field->text(), QString("/home/me/My Taxes/Ümlaut 100%.pdf"));
        button(pane, "Add")->click();
        QCOMPARE(storedPaths(f.services().model, QString::fromStdString(f.machine().home())),
                 QStringList { "/home/me/My Taxes/Ümlaut 100%.pdf" });

        std::optional<QString> answer = "/Volumes/Backup/Keep";
        pane.setChooser([&answer](QWidget*) { return answer; });
        button(pane, "Choose…")->click();
        QCOMPARE(field->text(), QString("/Volumes/Backup/Keep"));
        answer.reset();
        button(pane, "Choose…")->click();
        QCOMPARE(field->text(), QString("/Volumes/Backup/Keep"));
        QCOMPARE(f.services().model.extraProtected().size(), std::size_t(1));
    }

    // The dialog takes a folder picked with its button instead of opening it, and a file as well.
    void theDialogTakesFilesAndFolders()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("Taxes"));
        QFile notes(dir.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        for (const QString name : { "Taxes", "notes.txt" }) {
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                dialog->setDirectory(dir.path());
                dialog->selectFile(name);
                QMetaObject::invokeMethod(dialog, "accept");
            });
            QCOMPARE(RulesSettings::chooseFileOrFolder(nullptr), std::optional(dir.filePath(name)));
        }
    }

    void advancedRevealsItsFiles_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("revealed");
        QTest::newRow("in the app's folder")
            << "/Applications/X.app/Contents/Resources"
            << "/Applications/X.app/Contents/Resources/engine/bin/quandril"
            << QStringList { "/Applications/X.app/Contents/Resources/engine/bin/quandril" };
        // The placeholder is no path: nothing is handed to the file manager.
        QTest::newRow("no folder") << ""
                                   << "not found" << QStringList();
    }

    void advancedRevealsItsFiles()
    {
        QFETCH(QString, folder);
        QFETCH(QString, shown);
        QFETCH(QStringList, revealed);
        ServicesFixture f;
        AskedReveal reveal;
        AppServices& s = f.services();
        AppServices services { s.model, s.preferences, s.urls, reveal, s.apps, s.notifier, s.loginItem, s.updates };
        AdvancedSettings pane(services, folder);
        showAndSettle(pane, f);
        QCOMPARE(
            transcript(&pane).join('\n'),
            "header: The command-line tool\n" + shown + "\nlink: Reveal in Finder"
                + (folder.isEmpty() ? " (disabled)" : "")
                + "\ncaption/secondary: Everything the app can do, `quandril` can do from a terminal — scan, plan, "
                  "clean, undo — with --json for scripting.\n"
                  "header: History\nlink: Reveal logs\n"
                  "header: Reset\nbutton: Reset all settings…\ncaption/secondary: Goals, the never-touch "
                  "additions, autopilot, notifications — everything in Settings goes back to its defaults. "
                  "History stays as it is.");
        button(pane, "Reveal in Finder")->click();
        QCOMPARE(reveal.asked, revealed);
        reveal.asked.clear();
        button(pane, "Reveal logs")->click();
        QCOMPARE(reveal.asked,
                 QStringList { QString::fromStdString(f.machine().home())
                               + "/Library/Application Support/Quandril/history.jsonl" });
    }

    // Return, Escape and Cancel change nothing: Cancel is the default button. Only a click on Reset
    // removes every stored setting (registered defaults stay in force) and the user's never-touch
    // paths, and leaves History alone.
    void resetClearsEverySetting()
    {
        ServicesFixture f;
        f.machine().text("~/Library/Application Support/Quandril/history.jsonl", "a line the reset must not touch\n");
        AppServices& services = f.services();
        Preferences& preferences = services.preferences;
        Model& model = services.model;
        // As the app does at launch.
        for (const Keys::Default& entry : Keys::registeredAtLaunch)
            preferences.registerDefault(entry);
        const std::vector<std::pair<QString, QVariant>> settings {
            { QString(Keys::notificationsEnabled), false }, { QString(Keys::settingsPane), "advanced" },
            { QString(Keys::gaugeStyle), "percent" },       { QString(Keys::autopilotEnabled), true },
            { QString(Keys::autoCheckForUpdates), true },   { Keys::goal(f.machine().root()), QString() }
        };
        for (const auto& [key, value] : settings)
            QVERIFY(preferences.set(key, value));
        model.addProtectedPath("~/Music");
        const auto history = model.history().size();
        const auto stored = [&] {
            QStringList out;
            for (const auto& [key, value] : settings)
                out << key + "=" + AppTesting::storedValue(preferences, key);
            out << "extraProtected=" + AppTesting::storedValue(preferences, QString(Keys::extraProtected));
            return out.join(' ').replace(QString::fromStdString(f.machine().root()), "<root>");
        };
        const QString before = stored();

        AdvancedSettings pane(services, {});
        showAndSettle(pane, f);
        for (const QString answer : { "Return", "Escape", "Cancel", "Reset" }) {
            button(pane, "Reset all settings…")->click();
            QMessageBox* box = pane.confirmation();
            QVERIFY(box);
            QCOMPARE(box->text() + " | " + box->informativeText(),
                     "Reset all settings? | This clears everything in Settings and goes back to the defaults. It "
                     "doesn't touch your Mac or anything already in History.");
            if (answer == "Return" || answer == "Escape") {
                QVERIFY(QTest::qWaitForWindowExposed(box));
                QTest::keyClick(box->focusWidget() ? box->focusWidget() : box,
                                answer == "Return" ? Qt::Key_Return : Qt::Key_Escape);
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer)
                    b->click();
            QVERIFY(AppTesting::waitUntil([&] { return !pane.confirmation(); }));
            QCOMPARE(stored(),
                     answer != "Reset" ? before
                                       : "notificationsEnabled=- settingsPane=- gaugeStyle=- autopilotEnabled=- "
                                         "autoCheckForUpdates=- goal:<root>=- extraProtected=-");
        }
        QCOMPARE(preferences.boolean(QString(Keys::notificationsEnabled)), std::optional(true));
        QCOMPARE(preferences.boolean(QString(Keys::autoCheckForUpdates)), std::nullopt);
        QVERIFY(model.extraProtected().empty());
        QCOMPARE(model.goal(model.status().drives.front())->description(), "50 GB");
        QCOMPARE(model.history().size(), history);
        QCOMPARE(QString::fromStdString(Testing::readFile(f.machine().at(std::string(History::displayPath)))),
                 "a line the reset must not touch\n");
    }
};

QTEST_MAIN(SettingsActionsTests)
#include "SettingsActionsTests.moc"
