#pragma once

// The History section: every action the app carried out, newest first, as the model holds it.
// Each row shows the title, when it happened, its size and what kind of action it was, and at its
// end "Put back" for what has been put back, a "Put Back" button for what the engine can bring
// back from the Trash or from a drive it was parked on, or nothing. A put-back runs in the model;
// its button is disabled while that finding's put-back runs or waits, so a second press does
// nothing. An empty History shows one centred sentence instead of the list; a history file the
// engine won't use or can't read shows, in its place, why. Until the model has read History the
// section says "Reading History…".
//
// The list builds only the rows in view, and the model holds only the newest entries: when the
// list's last row comes into view and the file holds older ones, the model is asked for a page
// more.

#include <memory>
#include <string>
#include <vector>

#include <QPushButton>
#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Cleaning/Cleaner.h"

class QLabel;
class QStackedWidget;

namespace Quandril::App {

class Preferences;
class RowList;

class HistoryView : public QWidget {
    Q_OBJECT
public:
    explicit HistoryView(AppServices& services, QWidget* parent = nullptr);
    ~HistoryView() override;

    // When it happened, in the user's locale: the date abbreviated, the time without seconds.
    static QString dateText(TimePoint at);
    // "<date> · <bytes> · <action>", the action by its raw name.
    static QString detailLine(const HistoryEntry& entry, const Preferences& preferences);

    // What a row ends with.
    enum class Trailing {
        none,        // nothing of it can be brought back
        putBack,     // the "Put Back" button
        putBackDone, // "Put back": it has been put back
    };
    // `offersPutBack`: what the model read with History (Model::putBackOffered).
    static Trailing trailing(const HistoryEntry& entry, bool offersPutBack);

    static inline const QString emptyText = QStringLiteral(
        "Nothing done yet. Everything Gorrin does shows up here, with Put Back.");
    static inline const QString readingText = QStringLiteral("Reading History…");
    // What stands where the list would be when the engine won't use or can't read the history
    // file: "History can't be shown: <the engine's reason>."
    static QString refusedText(const std::string& whyNot);

    RowList* list() const { return list_; }
    bool showsList() const;

private:
    void rebuild();
    // Asks the model for older entries once the list's last row is built (in view or near it).
    void askForOlderAtEnd();

    AppServices& services_;
    std::shared_ptr<const std::vector<HistoryEntry>> shown_;
    QStackedWidget* pages_;
    QWidget* empty_;
    QLabel* emptySentence_;
    RowList* list_;
};

// One entry of History. Keeps a copy of its entry; its button follows the model's put-backs.
class HistoryRow : public QWidget {
    Q_OBJECT
public:
    HistoryRow(AppServices& services, HistoryEntry entry, bool offersPutBack, QWidget* parent = nullptr);

    const HistoryEntry& entry() const { return entry_; }
    HistoryView::Trailing trailing() const { return trailing_; }
    // Null unless the row offers Put Back.
    QPushButton* putBackButton() const { return button_; }

private:
    void refresh();

    AppServices& services_;
    HistoryEntry entry_;
    HistoryView::Trailing trailing_;
    QPushButton* button_ = nullptr;
};

} // namespace Quandril::App
