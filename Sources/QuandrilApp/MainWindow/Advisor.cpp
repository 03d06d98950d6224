#include "QuandrilApp/MainWindow/Advisor.h"

#include <algorithm>
#include <limits>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

#include "QuandrilApp/Look/FlowLayout.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/AppLauncher.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril::App {

namespace Advisor {

namespace {

// A library list is a few hundred bytes; anything past this is not one.
constexpr std::size_t steamFileCap = 4 * 1024 * 1024;

} // namespace

Runner processRunner(std::string program, std::chrono::milliseconds limit)
{
    return [program = std::move(program), limit](const std::vector<std::string>& arguments) {
        return Platform::runProcess(program, arguments, limit);
    };
}

std::optional<QString> runDefaults(const Runner& run, const std::vector<std::string>& arguments)
{
    if (!run)
        return std::nullopt;
    std::optional<std::string> output;
    try {
        output = run(arguments);
    } catch (...) {
        return std::nullopt;
    }
    if (!output)
        return std::nullopt;
    return QString::fromUtf8(output->data(), static_cast<qsizetype>(output->size())).trimmed();
}

std::optional<int> trashAutoDelete(const std::optional<QString>& output)
{
    if (output && *output == QStringLiteral("1"))
        return 30;
    return std::nullopt;
}

int steamLibraries(const QString& text)
{
    static const QRegularExpression entry(QStringLiteral("\"path\"\\s*\"[^\"]+\""));
    qsizetype count = 0;
    for (auto it = entry.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return static_cast<int>(std::clamp<qsizetype>(count, 1, std::numeric_limits<int>::max()));
}

State load(const Mac& mac, const AccessProbe& access, const Runner& run)
{
    State state;
    state.fullDiskAccess = access.hasFullDiskAccess();
    state.trashAutoDelete = trashAutoDelete(runDefaults(run, { "read", "com.apple.finder", "FXRemoveOldTrashItems" }));
    const auto bytes = Platform::readFile(mac.path(steamLibraryFile), nullptr, { .maxBytes = steamFileCap });
    if (bytes && Platform::isValidUTF8(*bytes))
        state.steamLibraries = steamLibraries(QString::fromStdString(*bytes));
    return state;
}

std::vector<Row> rows(const State& state)
{
    std::vector<Row> out;
    out.push_back({ QStringLiteral("Full Disk Access"), state.fullDiskAccess,
                    state.fullDiskAccess
                        ? QStringLiteral(
                            "Granted. Gorrin can see everything, including what's tucked inside other apps' folders.")
                        : QStringLiteral("Not granted. Gorrin still works, but some folders will show as unreadable."),
                    QStringLiteral("Open Privacy & Security"), Row::Opens::privacySettings });
    out.push_back(
        { QStringLiteral("Empty the Trash automatically"), state.trashAutoDelete.has_value(),
          state.trashAutoDelete
              ? QStringLiteral("On: items older than %1 days are removed on their own.").arg(*state.trashAutoDelete)
              : QStringLiteral("Off: the Trash only empties when you empty it. Gorrin's own \"last run\" bar "
                               "tells you what's in there."),
          QStringLiteral("Open Finder Settings"), Row::Opens::finderSettings });
    if (state.steamLibraries) {
        const bool several = *state.steamLibraries >= 2;
        out.push_back({ QStringLiteral("Steam's default library"), several,
                        several
                            ? QStringLiteral("More than one Steam library is set up; make sure new installs default "
                                             "to the one with room.")
                            : QStringLiteral("Only one Steam library is set up. If you have an external drive, "
                                             "Steam → Settings → Storage can add it."),
                        QStringLiteral("Open Steam"), Row::Opens::steam });
    }
    out.push_back({ QStringLiteral("Mail attachments"), std::nullopt,
                    QStringLiteral("Mail's own downloads can grow for years. Gorrin leaves Mail's store alone (it's "
                                   "never touched), but Mail → Settings → Accounts has a \"Remove attachments\" age "
                                   "limit."),
                    QStringLiteral("Open Mail"), Row::Opens::mail });
    return out;
}

} // namespace Advisor

AdvisorView::AdvisorView(AppServices& services, Advisor::Runner runner, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , runner_(std::move(runner))
{
    QVBoxLayout* column = Look::scrollingColumn(this);
    column->setSpacing(16);
    auto* headline = new GorrinLine(GorrinSlot::presenting, Advisor::headline, Qt::AlignTop, column->parentWidget());
    Look::setTextStyle(headline, TextStyle::title3);
    column->addWidget(headline);
    rowsColumn_ = new QVBoxLayout;
    rowsColumn_->setSpacing(16);
    column->addLayout(rowsColumn_);
    column->addStretch(1);

    // Until the first reading is in: access as the probe says, nothing else known.
    Advisor::State first;
    first.fullDiskAccess = services_.model.accessProbe()->hasFullDiskAccess();
    present(first);
    load();
}

std::vector<QPushButton*> AdvisorView::buttons() const
{
    std::vector<QPushButton*> out;
    for (int i = 0; i < rowsColumn_->count(); ++i)
        if (QWidget* card = rowsColumn_->itemAt(i)->widget())
            out.push_back(card->findChild<QPushButton*>());
    return out;
}

void AdvisorView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        load();
}

void AdvisorView::load()
{
    const std::uint64_t asked = ++asked_;
    ++pending_;
    TaskPool::start([mac = services_.model.mac(), access = services_.model.accessProbe(), run = runner_,
                     view = QPointer<AdvisorView>(this), asked] {
        Advisor::State state = Advisor::load(mac, *access, run);
        // Back on the GUI thread, where the view lives and is checked.
        QMetaObject::invokeMethod(
            qApp,
            [view, asked, state] {
                if (!view)
                    return;
                --view->pending_;
                if (asked == view->asked_)
                    view->present(state);
            },
            Qt::QueuedConnection);
    });
}

void AdvisorView::present(const Advisor::State& state)
{
    state_ = state;
    while (QLayoutItem* item = rowsColumn_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Advisor::Row& row : Advisor::rows(state_)) {
        auto* card = new Card;
        auto* stack = new QVBoxLayout(card);
        stack->setContentsMargins(14, 14, 14, 14);
        stack->setSpacing(6);

        // The button keeps to the right, on the title's line while both fit and on one of its own
        // below it where a large font or a narrow window leaves no room.
        auto* first = new FlowLayout;
        auto* heading = new QHBoxLayout;
        if (row.on) {
            heading->addWidget(*row.on ? new SymbolView(QStringLiteral("checkmark.circle.fill"), Tone::green, 16, card)
                                       : new SymbolView(QStringLiteral("circle"), Tone::secondary, 16, card),
                               0, Qt::AlignVCenter);
        }
        auto* title = Look::plainLabel(row.title, card);
        Look::setTextStyle(title, TextStyle::body, QFont::Medium);
        heading->addWidget(title, 0, Qt::AlignVCenter);
        first->addLayoutItem(heading);
        auto* button = Look::linkButton(Look::buttonText(row.buttonTitle), card);
        if (row.opens == Advisor::Row::Opens::privacySettings)
            button->setToolTip(QStringLiteral("This system has no Full Disk Access list to open."));
        connect(button, &QPushButton::clicked, this, [this, opens = row.opens] { open(opens); });
        first->addWidget(button);
        stack->addLayout(first);

        auto* detail = Look::plainLabel(row.detail, card, true);
        Look::setTextStyle(detail, TextStyle::callout);
        Look::setTone(detail, Tone::secondary);
        stack->addWidget(detail);
        rowsColumn_->addWidget(card);
    }
}

void AdvisorView::open(Advisor::Row::Opens place)
{
    switch (place) {
    case Advisor::Row::Opens::privacySettings:
        // Only secure web pages are opened; the system settings link is not one, so nothing opens.
        services_.urls.open(QUrl(Advisor::privacySettingsLink));
        break;
    case Advisor::Row::Opens::finderSettings:
        services_.apps.openApp(QStringLiteral("Finder"));
        break;
    case Advisor::Row::Opens::steam:
        services_.apps.openApp(QStringLiteral("Steam"));
        break;
    case Advisor::Row::Opens::mail:
        services_.apps.openApp(QStringLiteral("Mail"));
        break;
    }
}

} // namespace Quandril::App
