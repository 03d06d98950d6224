#include "QuandrilApp/MainWindow/HistoryView.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/RowList.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

QString text(std::string_view value)
{
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

// The locale's long date without the weekday and with the month's short name: "Jan 5, 2025",
// "5. Jan. 2025".
QString abbreviatedDateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

// The locale's short time without seconds (some locales' short form carries them).
QString shortenedTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
    format.remove(seconds);
    return format.trimmed();
}

} // namespace

QString HistoryView::dateText(TimePoint at)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
        + locale.toString(local.time(), shortenedTimeFormat(locale));
}

QString HistoryView::detailLine(const HistoryEntry& entry, const Preferences& preferences)
{
    const QString dot = QStringLiteral(" · ");
    return dateText(entry.at) + dot + AppFormat::bytes(entry.bytes, preferences) + dot + text(rawValue(entry.action));
}

HistoryView::Trailing HistoryView::trailing(const HistoryEntry& entry, bool offersPutBack)
{
    if (entry.isUndone())
        return Trailing::putBackDone;
    return offersPutBack ? Trailing::putBack : Trailing::none;
}

QString HistoryView::refusedText(const std::string& whyNot)
{
    return QStringLiteral("History can't be shown: ") + text(whyNot) + QStringLiteral(".");
}

HistoryView::HistoryView(AppServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , pages_(new QStackedWidget(this))
    , empty_(new QWidget(pages_))
    , emptySentence_(Look::plainLabel(emptyText, empty_, true))
    , list_(new RowList(pages_))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(pages_);

    auto* emptyColumn = new QVBoxLayout(empty_);
    emptyColumn->addStretch(1);
    emptySentence_->setAlignment(Qt::AlignCenter);
    Look::setTone(emptySentence_, Tone::secondary);
    emptyColumn->addWidget(emptySentence_);
    emptyColumn->addStretch(1);
    pages_->addWidget(empty_);
    pages_->addWidget(list_);

    connect(&services_.model, &Model::historyChanged, this, &HistoryView::rebuild);
    connect(&services_.model, &Model::displayChanged, this, &HistoryView::rebuild);
    // The list lays its rows out before these reach us, so its built rows are those of the new place.
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, &HistoryView::askForOlderAtEnd);
    connect(list_->verticalScrollBar(), &QScrollBar::rangeChanged, this, &HistoryView::askForOlderAtEnd);
    rebuild();
}

HistoryView::~HistoryView() = default;

bool HistoryView::showsList() const
{
    return pages_->currentWidget() == list_;
}

void HistoryView::rebuild()
{
    // Rows are made from a copy, so a reload of History never changes an entry under a row. What
    // each row offers was read with History, off the GUI thread.
    auto entries = std::make_shared<const std::vector<HistoryEntry>>(services_.model.history());
    auto offers = std::make_shared<const std::vector<bool>>(services_.model.putBackOffered());
    shown_ = entries;
    // A refused history file gives no entries; saying why keeps it from passing for one never used.
    const std::string& whyNot = services_.model.historyWhyNot();
    if (!services_.model.historyRead())
        emptySentence_->setText(readingText);
    else
        emptySentence_->setText(whyNot.empty() ? emptyText : refusedText(whyNot));
    pages_->setCurrentWidget(entries->empty() || !whyNot.empty() ? empty_ : list_);
    std::vector<RowList::Row> looks(entries->size(), RowList::Row { 48, false, false });
    list_->setRows(std::move(looks), [this, entries, offers](int index) {
        const auto at = std::size_t(index);
        return new HistoryRow(services_, (*entries)[at], at < offers->size() && (*offers)[at]);
    });
    askForOlderAtEnd();
}

void HistoryView::askForOlderAtEnd()
{
    const int count = list_->count();
    if (count > 0 && showsList() && list_->builtRow(count - 1) && services_.model.historyHasOlder())
        services_.model.showOlderHistory();
}

// ---- HistoryRow ----

HistoryRow::HistoryRow(AppServices& services, HistoryEntry entry, bool offersPutBack, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , entry_(std::move(entry))
    , trailing_(HistoryView::trailing(entry_, offersPutBack))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);

    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    auto* title = Look::plainLabel(text(entry_.title), this);
    Look::setTextStyle(title, TextStyle::body, QFont::Medium);
    words->addWidget(title);
    auto* detail = Look::plainLabel(HistoryView::detailLine(entry_, services_.preferences), this);
    Look::setTextStyle(detail, TextStyle::caption);
    Look::setTone(detail, Tone::secondary);
    words->addWidget(detail);
    row->addLayout(words, 1);

    switch (trailing_) {
    case HistoryView::Trailing::putBackDone: {
        auto* done = Look::plainLabel(QStringLiteral("Put back"), this);
        Look::setTone(done, Tone::secondary);
        row->addWidget(done, 0, Qt::AlignVCenter);
        break;
    }
    case HistoryView::Trailing::putBack:
        button_ = new QPushButton(QStringLiteral("Put Back"), this);
        button_->setAutoDefault(false);
        row->addWidget(button_, 0, Qt::AlignVCenter);
        connect(button_, &QPushButton::clicked, this, [this] {
            // The model ignores an id already on its way; the button says so first.
            if (!services_.model.puttingBack().count(entry_.id))
                services_.model.undo(entry_.id);
        });
        connect(&services_.model, &Model::puttingBackChanged, this, &HistoryRow::refresh);
        refresh();
        break;
    case HistoryView::Trailing::none:
        break;
    }
}

void HistoryRow::refresh()
{
    if (button_)
        button_->setEnabled(!services_.model.puttingBack().count(entry_.id));
}

} // namespace Quandril::App
