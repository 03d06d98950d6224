#include "QuandrilApp/Settings/SettingsForm.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

// A label's style and tone; no tone leaves the normal text colour.
void applyStyle(QLabel* label, TextStyle style, std::optional<Tone> tone)
{
    Look::setTextStyle(label, style);
    if (tone)
        Look::setTone(label, *tone);
    else
        label->setProperty("tone", toneName(Tone::primary));
}

} // namespace

SettingsSection::SettingsSection(const QString& header, QWidget* parent)
    : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (!header.isEmpty()) {
        QLabel* title = SettingsUi::label(header, TextStyle::header, Tone::secondary);
        title->setContentsMargins(10, 0, 10, 0);
        column->addWidget(title);
    }
    box_ = new GroupBox(this);
    // A section without rows shows only its header.
    box_->hide();
    rows_ = new QVBoxLayout(box_);
    rows_->setContentsMargins(14, 10, 14, 10);
    rows_->setSpacing(8);
    column->addWidget(box_);
}

void SettingsSection::addRow(QWidget* row)
{
    rows_->addWidget(row);
    box_->show();
}

void SettingsSection::insertRow(int index, QWidget* row)
{
    rows_->insertWidget(index, row);
    box_->show();
}

void SettingsSection::clear()
{
    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    box_->hide();
}

SettingsForm::SettingsForm(QWidget* parent)
    : QScrollArea(parent)
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* body = new QWidget;
    body->setAutoFillBackground(false);
    column_ = new QVBoxLayout(body);
    column_->setContentsMargins(20, 8, 20, 20);
    column_->setSpacing(18);
    column_->addStretch(1);
    setWidget(body);
    body->installEventFilter(this);
    viewport()->setAutoFillBackground(false);
}

QSize SettingsForm::minimumSizeHint() const
{
    const QSize scrolling = QScrollArea::minimumSizeHint();
    const QWidget* body = widget();
    if (!body)
        return scrolling;
    const int bar = verticalScrollBar()->sizeHint().width();
    return { body->minimumSizeHint().width() + 2 * frameWidth() + bar, scrolling.height() };
}

void SettingsForm::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    fitHeight();
}

bool SettingsForm::eventFilter(QObject* watched, QEvent* event)
{
    // Rows come and go (a status, an added path): the height follows, and the window hears of
    // the width they need.
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        fitHeight();
        updateGeometry();
    }
    return QScrollArea::eventFilter(watched, event);
}

void SettingsForm::fitHeight()
{
    QWidget* body = widget();
    if (!body || !body->layout())
        return;
    const int width = viewport()->width();
    body->setMinimumHeight(body->layout()->hasHeightForWidth() ? body->layout()->totalHeightForWidth(width) : 0);
}

SettingsSection* SettingsForm::addSection(const QString& header)
{
    auto* section = new SettingsSection(header, widget());
    column_->insertWidget(column_->count() - 1, section);
    return section;
}

void SettingsForm::addLoose(QWidget* widget)
{
    widget->setParent(this->widget());
    column_->insertWidget(column_->count() - 1, widget);
}

namespace SettingsUi {

QLabel* label(const QString& text, TextStyle style, std::optional<Tone> tone, bool wrap)
{
    QLabel* label = Look::plainLabel(text, nullptr, wrap);
    applyStyle(label, style, tone);
    return label;
}

QLabel* note(const QString& text)
{
    return label(text, TextStyle::caption, Tone::secondary);
}

QWidget* symbolLine(const QString& symbol, const QString& text, TextStyle style, std::optional<Tone> tone)
{
    auto* line = new SymbolLabel(symbol, text, nullptr, true);
    applyStyle(line, style, tone);
    return line;
}

QWidget* labelled(const QString& text, QWidget* control)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    QLabel* name = label(text, TextStyle::body, {}, false);
    name->setBuddy(control);
    layout->addWidget(name);
    layout->addStretch(1);
    layout->addWidget(control);
    return row;
}

bool sameDrives(const std::vector<DriveInfo>& a, const std::vector<DriveInfo>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const DriveInfo& x, const DriveInfo& y) {
        return x.path == y.path && x.name == y.name && x.isStartup == y.isStartup;
    });
}

void bindToggle(QCheckBox* toggle, Model& model, const QString& key)
{
    Preferences& preferences = model.preferences();
    const auto show = [toggle, &preferences, key] {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(preferences.booleanValue(key));
    };
    show();
    QObject::connect(toggle, &QCheckBox::clicked, toggle,
                     [&preferences, key](bool on) { preferences.setBoolean(key, on); });
    QObject::connect(&model, &Model::preferenceChanged, toggle, [show, key](const QString& changed) {
        if (changed == key)
            show();
    });
}

void bindChoice(QComboBox* picker, Model& model, const QString& key, int unknownIndex)
{
    Preferences& preferences = model.preferences();
    const auto show = [picker, &preferences, key, unknownIndex] {
        const QSignalBlocker blocker(picker);
        const int index = picker->findData(preferences.stringValue(key));
        picker->setCurrentIndex(index >= 0 ? index : unknownIndex);
    };
    show();
    QObject::connect(picker, &QComboBox::activated, picker, [picker, &preferences, key](int index) {
        preferences.setString(key, picker->itemData(index).toString());
    });
    QObject::connect(&model, &Model::preferenceChanged, picker, [show, key](const QString& changed) {
        if (changed == key)
            show();
    });
}

} // namespace SettingsUi

} // namespace Quandril::App
