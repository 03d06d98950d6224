#include "QuandrilApp/ICloud/ICloudRows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;

namespace {

// A file's name, wrapped over as many lines as it needs (inside a word too) rather than widening
// the page.
QLabel* nameLabel(const QString& name, QWidget* parent)
{
    auto* label = new ElidingLabel(name, parent);
    label->setWrapsAnywhere();
    Look::setTextStyle(label, TextStyle::body, QFont::Medium);
    return label;
}

} // namespace

// ---- CloudItemRow ----

CloudItemRow::CloudItemRow(Model& model, CloudItem item, bool showName, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , item_(std::move(item))
    , showName_(showName)
    , check_(new QCheckBox(this))
    , path_(new ElidingLabel(Logic::shownPath(item_.path, model.cloudRoots(), model.mac()), Qt::ElideMiddle, this))
    , where_(Look::plainLabel(Logic::whereLine(item_), this, true))
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
        name_ = nameLabel(Logic::fileName(item_.path), this);
        first->addWidget(name_);
        Look::setTextStyle(path_, TextStyle::caption);
        Look::setTone(path_, Tone::secondary);
    } else {
        Look::setTextStyle(path_, TextStyle::callout);
    }
    first->addWidget(path_, 1);
    if (showName_) {
        size_ = Look::plainLabel(AppFormat::bytes(item_.bytes, model.preferences()), this);
        first->addWidget(size_);
    } else {
        first->addStretch(0);
    }
    lines->addLayout(first);

    Look::setTextStyle(where_, TextStyle::caption);
    Look::setTone(where_, Tone::secondary);
    lines->addWidget(where_);
    if (item_.caution) {
        caution_ = new SymbolLabel(QStringLiteral("exclamationmark.triangle"), QString::fromStdString(*item_.caution),
                                   this, true);
        Look::setTextStyle(caution_, TextStyle::caption);
        Look::setTone(caution_, Tone::orange);
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
    , name_(nameLabel(QString::fromStdString(group_.name), this))
    , count_(Look::plainLabel(Logic::copiesCount(group_, model.preferences()), this))
    , stays_(new ElidingLabel(Logic::staysLine(group_, model.cloudRoots(), model.mac()), Qt::ElideMiddle, this))
{
    auto* lines = new QVBoxLayout(this);
    lines->setContentsMargins(0, 4, 0, 4);
    lines->setSpacing(4);

    auto* first = new QHBoxLayout;
    first->addWidget(name_, 1);
    first->addWidget(count_);
    lines->addLayout(first);

    Look::setTextStyle(stays_, TextStyle::caption);
    Look::setTone(stays_, Tone::secondary);
    lines->addWidget(stays_);
    if (!group_.sameName) {
        namesNote_ = Look::plainLabel(Logic::differentNames, this, true);
        Look::setTextStyle(namesNote_, TextStyle::caption);
        Look::setTone(namesNote_, Tone::secondary);
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
