#include "QuandrilApp/Settings/SettingsForm.h"

#include <QCheckBox>
#include <QEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/CloudLook.h"
#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace {

// The rounded box behind a section's rows.
class SectionBox : public QWidget {
public:
    explicit SectionBox(QWidget* parent)
        : QWidget(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(box, palette().color(QPalette::Base));
        QColor edge = palette().color(QPalette::WindowText);
        edge.setAlphaF(0.12f);
        painter.setPen(edge);
        painter.drawPath(box);
    }
};

QString styleName(SettingsUi::TextStyle style)
{
    using enum SettingsUi::TextStyle;
    switch (style) {
    case body: return QStringLiteral("body");
    case caption: return QStringLiteral("caption");
    case callout: return QStringLiteral("callout");
    case headline: return QStringLiteral("headline");
    case header: return QStringLiteral("header");
    case title: return QStringLiteral("title");
    }
    return QStringLiteral("body");
}

void applyStyle(QWidget* widget, SettingsUi::TextStyle style, const QString& tone)
{
    using enum SettingsUi::TextStyle;
    QFont font = widget->font();
    const qreal size = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
    case body: break;
    case caption: font.setPointSizeF(size * 0.85); break;
    case callout: font.setPointSizeF(size * 0.95); break;
    case headline: font.setWeight(QFont::DemiBold); break;
    case header:
        font.setPointSizeF(size * 0.9);
        font.setWeight(QFont::DemiBold);
        break;
    case title:
        font.setPointSizeF(size * 1.45);
        font.setWeight(QFont::Bold);
        break;
    }
    widget->setFont(font);
    widget->setProperty("textStyle", styleName(style));
    widget->setProperty("tone", tone.isEmpty() ? QStringLiteral("primary") : tone);
    if (!tone.isEmpty()) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, Symbols::toneColor(tone, palette));
        widget->setPalette(palette);
    }
}

} // namespace

SettingsSection::SettingsSection(const QString& header, QWidget* parent)
    : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (!header.isEmpty()) {
        QLabel* title = SettingsUi::label(header, SettingsUi::TextStyle::header, QStringLiteral("secondary"));
        title->setContentsMargins(10, 0, 10, 0);
        column->addWidget(title);
    }
    box_ = new SectionBox(this);
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

void SettingsForm::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    fitHeight();
}

bool SettingsForm::eventFilter(QObject* watched, QEvent* event)
{
    // Rows come and go (a status, an added path): the height follows.
    if (watched == widget() && event->type() == QEvent::LayoutRequest)
        fitHeight();
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

QLabel* label(const QString& text, TextStyle style, const QString& tone, bool wrap)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    applyStyle(label, style, tone);
    return label;
}

QLabel* note(const QString& text)
{
    return label(text, TextStyle::caption, QStringLiteral("secondary"));
}

QPushButton* linkButton(const QString& text)
{
    auto* button = new QPushButton(text);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setProperty("look", QStringLiteral("link"));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    button->setPalette(palette);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px 0px; text-align: left; }"));
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

QWidget* symbolLine(const QString& symbol, const QString& text, TextStyle style, const QString& tone)
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

void bindToggle(QCheckBox* toggle, Preferences& preferences, const QString& key, bool fallback)
{
    const auto show = [toggle, &preferences, key, fallback] {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(preferences.boolean(key, fallback));
    };
    show();
    QObject::connect(toggle, &QCheckBox::clicked, toggle, [&preferences, key](bool on) { preferences.setBoolean(key, on); });
    QObject::connect(&preferences, &Preferences::changed, toggle, [show, key](const QString& changed) {
        if (changed == key)
            show();
    });
}

void bindChoice(QComboBox* picker, Preferences& preferences, const QString& key, const QString& fallback,
                int unknownIndex)
{
    const auto show = [picker, &preferences, key, fallback, unknownIndex] {
        const QSignalBlocker blocker(picker);
        const int index = picker->findData(preferences.string(key, fallback));
        picker->setCurrentIndex(index >= 0 ? index : unknownIndex);
    };
    show();
    QObject::connect(picker, &QComboBox::activated, picker, [picker, &preferences, key](int index) {
        preferences.setString(key, picker->itemData(index).toString());
    });
    QObject::connect(&preferences, &Preferences::changed, picker, [show, key](const QString& changed) {
        if (changed == key)
            show();
    });
}

} // namespace SettingsUi

} // namespace Quandril::App
