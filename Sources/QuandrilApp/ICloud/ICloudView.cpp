#include "QuandrilApp/ICloud/ICloudView.h"

#include <functional>

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "QuandrilApp/ICloud/ICloudResults.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Sheet.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

QString parkedFolderName()
{
    return QString::fromUtf8(ICloud::parkedFolder.data(), qsizetype(ICloud::parkedFolder.size()));
}

} // namespace

// ---- ICloudIntro ----

ICloudIntro::ICloudIntro(Model& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , content_(new QWidget)
    , turnOn_(new QPushButton(QStringLiteral("Turn on iCloud cleanup"), content_))
{
    auto* stack = new QVBoxLayout(content_);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(14);
    content_->setMaximumWidth(640);

    auto* title = new SymbolLabel(QStringLiteral("icloud.slash"), QStringLiteral("iCloud cleanup is off"), content_);
    Look::setTextStyle(title, TextStyle::title2);
    stack->addWidget(title);
    stack->addWidget(Look::plainLabel(QStringLiteral("Gorrin leaves iCloud alone unless you turn this on. With it on:"),
                                      content_, true));

    auto* pointsBox = new QWidget(content_);
    auto* points = new QVBoxLayout(pointsBox);
    points->setContentsMargins(0, 0, 0, 0);
    points->setSpacing(8);
    const std::pair<QString, QString> lines[] = {
        { QStringLiteral("It reads iCloud's list of files (names, sizes, and whether each is on this Mac). Nothing is "
                         "downloaded to look."),
          QStringLiteral("list.bullet.rectangle") },
        { QStringLiteral("It finds copies of the same file, and your biggest files. You choose what goes."),
          QStringLiteral("square.on.square") },
        { QStringLiteral("Chosen files are downloaded a few GB at a time, so your Mac never runs low, and checked byte "
                         "for byte."),
          QStringLiteral("arrow.down.circle") },
        { QStringLiteral("Each is copied to your drive and checked again, then removed from iCloud. Nothing is simply "
                         "deleted: it waits on the drive in \"")
              + parkedFolderName() + QStringLiteral("\" until you delete that folder, and History can put it back."),
          QStringLiteral("externaldrive") },
    };
    for (const auto& [text, symbol] : lines)
        points->addWidget(new SymbolLabel(symbol, text, pointsBox, true));
    Look::setTone(pointsBox, Tone::secondary);
    for (auto* point : pointsBox->findChildren<SymbolLabel*>())
        Look::setTone(point, Tone::secondary);
    stack->addWidget(pointsBox);

    auto* warning = Look::plainLabel(QStringLiteral("Removing a file from iCloud removes it from all your "
                                                    "devices, which is why every one waits on your drive first."),
                                     content_, true);
    Look::setTextStyle(warning, TextStyle::callout);
    stack->addWidget(warning);
    turnOn_->setDefault(true);
    stack->addWidget(turnOn_, 0, Qt::AlignLeft);
    stack->addStretch(1);

    QScrollArea* scroll = Look::scrollArea(this);
    auto* frame = new QWidget;
    auto* frameRow = new QHBoxLayout(frame);
    frameRow->setContentsMargins(0, 0, 0, 0);
    // A column at most 640 wide at the leading edge; a wider window leaves the rest empty.
    content_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    frameRow->addWidget(content_, 1);
    frameRow->addStretch(0);
    scroll->setWidget(frame);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(scroll);

    connect(turnOn_, &QPushButton::clicked, this, &ICloudIntro::turnOn);
    Sheet::returnKeys(this, [this] { turnOn_->click(); });
}

QStringList ICloudIntro::texts() const
{
    QStringList texts;
    const std::function<void(const QLayout*)> read = [&](const QLayout* layout) {
        for (int i = 0; i < layout->count(); ++i) {
            const QWidget* widget = layout->itemAt(i)->widget();
            if (const auto* line = qobject_cast<const SymbolLabel*>(widget))
                texts << line->symbol() + ' ' + line->text();
            else if (const auto* label = qobject_cast<const QLabel*>(widget))
                texts << label->text();
            else if (const auto* button = qobject_cast<const QPushButton*>(widget))
                texts << button->text();
            else if (widget && widget->layout())
                read(widget->layout());
        }
    };
    read(content_->layout());
    return texts;
}

void ICloudIntro::turnOn()
{
    // Stored first: the scan's guard reads the stored switch.
    model_.setCloudEnabled(true);
    model_.scanCloud();
}

// ---- ICloudView ----

ICloudView::ICloudView(Model& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , layout_(new QVBoxLayout(this))
{
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(&model_, &Model::changed, this, &ICloudView::follow);
    follow();
}

ICloudIntro* ICloudView::intro() const
{
    return intro_;
}

ICloudResults* ICloudView::results() const
{
    return results_;
}

void ICloudView::follow()
{
    const bool on = model_.cloudEnabled();
    if (on ? bool(results_) : bool(intro_))
        return;
    // The old view may be the one whose button led here: it goes once its click is over.
    for (QWidget* old : { static_cast<QWidget*>(intro_.data()), static_cast<QWidget*>(results_.data()) }) {
        if (!old)
            continue;
        old->hide();
        layout_->removeWidget(old);
        old->deleteLater();
    }
    intro_ = nullptr;
    results_ = nullptr;
    QWidget* next = nullptr;
    if (on)
        next = results_ = new ICloudResults(model_, std::string(), CloudResultsLogic::defaultChunk, false, this);
    else
        next = intro_ = new ICloudIntro(model_, this);
    layout_->addWidget(next);
    next->show();
}

} // namespace Quandril::App
