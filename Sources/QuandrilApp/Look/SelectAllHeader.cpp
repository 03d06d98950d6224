#include "QuandrilApp/Look/SelectAllHeader.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

bool SelectAllHeader::allChosen(const std::vector<std::string>& ids, const std::set<std::string>& selected)
{
    return std::all_of(ids.begin(), ids.end(), [&](const std::string& id) { return selected.count(id) != 0; });
}

QString SelectAllHeader::buttonTitle(const std::vector<std::string>& ids, const std::set<std::string>& selected)
{
    return allChosen(ids, selected) ? QStringLiteral("Select none") : QStringLiteral("Select all");
}

std::set<std::string> SelectAllHeader::afterClick(const std::vector<std::string>& ids, std::set<std::string> selected)
{
    if (allChosen(ids, selected)) {
        for (const std::string& id : ids)
            selected.erase(id);
    } else {
        selected.insert(ids.begin(), ids.end());
    }
    return selected;
}

SelectAllHeader::SelectAllHeader(Model& model, Selection selection, const QString& title, const QString& amount,
                                 std::vector<std::string> ids, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , selection_(selection)
    , ids_(std::move(ids))
    , title_(Look::plainLabel(title, this, true))
    , amount_(Look::plainLabel(amount, this))
    , button_(Look::linkButton(QString(), this))
{
    // A long title wraps, so a narrow window or a large font never widens the list past its view.
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(title_, 1);
    row->addWidget(amount_, 0, Qt::AlignTop);
    row->addWidget(button_, 0, Qt::AlignTop);
    Look::applyHeadingLook(this);

    connect(button_, &QPushButton::clicked, this, [this] {
        // Decided again against the choice as it is at the click.
        auto after = afterClick(ids_, selected());
        if (selection_ == Selection::findings)
            model_.setSelected(std::move(after));
        else
            model_.setCloudSelected(std::move(after));
    });
    connect(&model_, selection_ == Selection::findings ? &Model::selectionChanged : &Model::cloudSelectionChanged, this,
            &SelectAllHeader::refresh);
    refresh();
}

QString SelectAllHeader::titleText() const
{
    return title_->text();
}

QString SelectAllHeader::amountText() const
{
    return amount_->text();
}

const std::set<std::string>& SelectAllHeader::selected() const
{
    return selection_ == Selection::findings ? model_.selected() : model_.cloudSelected();
}

void SelectAllHeader::refresh()
{
    button_->setText(buttonTitle(ids_, selected()));
}

} // namespace Quandril::App
