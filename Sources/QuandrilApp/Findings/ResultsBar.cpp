#include "QuandrilApp/Findings/ResultsBar.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App {

std::int64_t ResultsBar::freedBytes(const std::vector<CleanResult>& results)
{
    std::int64_t freed = 0;
    for (const CleanResult& result : results)
        if (result.status == CleanResult::Status::done)
            freed = Saturating::add(freed, result.bytes);
    return freed;
}

QString ResultsBar::doneLine(const std::vector<CleanResult>& results, const Preferences& preferences)
{
    std::size_t done = 0, unrecorded = 0;
    for (const CleanResult& result : results) {
        if (result.status != CleanResult::Status::done)
            continue;
        ++done;
        if (result.notInHistory.value_or(false))
            ++unrecorded;
    }
    const QString amount = QStringLiteral("Done. ") + AppFormat::bytes(freedBytes(results), preferences);
    if (unrecorded == 0)
        return amount + QStringLiteral(" back, all of it reversible from History.");
    return amount
        + (unrecorded == done ? QStringLiteral(" back. None of it is in History; the lines below say why.")
                              : QStringLiteral(" back. Not all of it is in History; the lines below say why."));
}

ResultLine ResultsBar::line(const CleanResult& result)
{
    const QString text = QString::fromStdString(result.title) + QStringLiteral(": ")
        + QString::fromStdString(result.detail);
    const Tone orange = Tone::orange;
    switch (result.status) {
    case CleanResult::Status::done:
        return { text, QStringLiteral("checkmark.circle"), Tone::primary };
    case CleanResult::Status::wouldDo:
        return { text, QStringLiteral("eye"), orange };
    case CleanResult::Status::refused:
        return { text, QStringLiteral("hand.raised"), orange };
    case CleanResult::Status::failed:
        return { text, QStringLiteral("xmark.octagon"), orange };
    }
    return { text, QString(), orange };
}

ResultsBar::ResultsBar(Model& model, QWidget* parent)
    : ResultsBand(parent)
    , model_(model)
{
    setTitle(QStringLiteral("Last run"));
    connect(dismissButton(), &QPushButton::clicked, this, [this] { model_.setLastResults({}); });
    connect(&model_, &Model::resultsChanged, this, &ResultsBar::refresh);
    connect(&model_, &Model::displayChanged, this, &ResultsBar::refresh);
    refresh();
}

void ResultsBar::refresh()
{
    const auto& results = model_.lastResults();
    delete mascot_;
    mascot_ = nullptr;

    if (freedBytes(results) > 0) {
        mascot_ = new GorrinLine(GorrinSlot::done, doneLine(results, model_.preferences()), Qt::AlignVCenter, this);
        body()->addWidget(mascot_);
        mascot_->show();
    }
    std::vector<ResultLine> shown;
    for (const CleanResult& result : results)
        shown.push_back(line(result));
    setLines(shown);
}

} // namespace Quandril::App
