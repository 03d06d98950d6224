#include "QuandrilApp/ICloudRows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "QuandrilApp/CloudLook.h"
#include "QuandrilApp/CloudResultsLogic.h"
#include "QuandrilApp/Model.h"
#include "QuandrilApp/Settings/AppSettings.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;
using CloudLook::Type;

namespace {

QFont medium(QFont font)
{
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

// ---- SelectAllHeader ----

SelectAllHeader::SelectAllHeader(Model& model, const QString& title, std::vector<std::string> ids, std::int64_t bytes,
                                 QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , ids_(std::move(ids))
    , title_(CloudLook::plainLabel(title, this))
    , amount_(CloudLook::plainLabel(QStringLiteral("up to ") + AppFormat::bytes(bytes, model.preferences()), this))
    , button_(CloudLook::linkButton(QString(), this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(title_);
    row->addStretch(1);
    row->addWidget(amount_);
    row->addWidget(button_);
    CloudLook::applyHeadingLook(this);

    connect(button_, &QPushButton::clicked, this, [this] {
        // The rule is taken again against the selection as it is at the click.
        model_.setCloudSelected(Logic::afterSelectAll(ids_, model_.cloudSelected()));
    });
    connect(&model_, &Model::cloudSelectionChanged, this, &SelectAllHeader::refresh);
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

void SelectAllHeader::refresh()
{
    button_->setText(Logic::selectAllLabel(ids_, model_.cloudSelected()));
}

// ---- CloudItemRow ----

CloudItemRow::CloudItemRow(Model& model, CloudItem item, bool showName, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , item_(std::move(item))
    , showName_(showName)
    , check_(new QCheckBox(this))
    , path_(new ElidedLabel(Logic::shownPath(item_.path, model.mac()), Qt::ElideMiddle, this))
    , where_(CloudLook::plainLabel(Logic::whereLine(item_), this))
{
    check_->setAccessibleName(Logic::fileName(item_.path));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(check_, 0, Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    auto* first = new QHBoxLayout;
    if (showName_) {
        name_ = CloudLook::plainLabel(Logic::fileName(item_.path), this);
        name_->setFont(medium(name_->font()));
        first->addWidget(name_);
        CloudLook::setType(path_, Type::caption);
        CloudLook::setTone(path_, QStringLiteral("secondary"));
    } else {
        CloudLook::setType(path_, Type::callout);
    }
    first->addWidget(path_, 1);
    if (showName_) {
        size_ = CloudLook::plainLabel(AppFormat::bytes(item_.bytes, model.preferences()), this);
        first->addWidget(size_);
    } else {
        first->addStretch(0);
    }
    lines->addLayout(first);

    CloudLook::setType(where_, Type::caption);
    CloudLook::setTone(where_, QStringLiteral("secondary"));
    lines->addWidget(where_);
    if (item_.caution) {
        caution_ = new SymbolLabel(QStringLiteral("exclamationmark.triangle"), QString::fromStdString(*item_.caution),
                                   this, true);
        CloudLook::setType(caution_, Type::caption);
        CloudLook::setTone(caution_, QStringLiteral("orange"));
        lines->addWidget(caution_);
    }
    row->addLayout(lines, 1);

    connect(check_, &QCheckBox::clicked, this, [this](bool on) {
        auto selected = model_.cloudSelected();
        if (on)
            selected.insert(item_.id);
        else
            selected.erase(item_.id);
        model_.setCloudSelected(std::move(selected));
    });
    connect(&model_, &Model::cloudSelectionChanged, this, &CloudItemRow::refresh);
    refresh();
}

QStringList CloudItemRow::texts() const
{
    QStringList texts;
    if (name_)
        texts << name_->text();
    texts << path_->text();
    if (size_)
        texts << size_->text();
    texts << where_->text();
    if (caution_)
        texts << caution_->symbol() + QStringLiteral(" ") + caution_->text();
    return texts;
}

void CloudItemRow::refresh()
{
    check_->setChecked(model_.cloudSelected().count(item_.id) != 0);
}

// ---- CopyGroupRow ----

CopyGroupRow::CopyGroupRow(Model& model, CopyGroup group, QWidget* parent)
    : QWidget(parent)
    , group_(std::move(group))
    , name_(CloudLook::plainLabel(QString::fromStdString(group_.name), this))
    , count_(CloudLook::plainLabel(Logic::copiesCount(group_, model.preferences()), this))
    , stays_(new ElidedLabel(Logic::staysLine(group_, model.mac()), Qt::ElideMiddle, this))
{
    auto* lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 4, 0, 4);
    lines->setSpacing(4);

    auto* first = new QHBoxLayout;
    name_->setFont(medium(name_->font()));
    first->addWidget(name_);
    first->addStretch(1);
    first->addWidget(count_);
    lines->addLayout(first);

    CloudLook::setType(stays_, Type::caption);
    CloudLook::setTone(stays_, QStringLiteral("secondary"));
    lines->addWidget(stays_);
    if (!group_.sameName) {
        namesNote_ = CloudLook::plainLabel(Logic::differentNames, this, true);
        CloudLook::setType(namesNote_, Type::caption);
        CloudLook::setTone(namesNote_, QStringLiteral("secondary"));
        lines->addWidget(namesNote_);
    }
    for (const CloudItem& item : group_.items) {
        auto* row = new CloudItemRow(model, item, false, this);
        rows_.push_back(row);
        lines->addWidget(row);
    }
}

QStringList CopyGroupRow::texts() const
{
    QStringList texts { name_->text(), count_->text(), stays_->text() };
    if (namesNote_)
        texts << namesNote_->text();
    return texts;
}

} // namespace Quandril::App
