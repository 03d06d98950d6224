#include "QuandrilApp/CloudLook.h"

#include <QEvent>
#include <QFontMetrics>
#include <QAbstractButton>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QtMath>

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace CloudLook {

QFont font(const QFont& base, Type type)
{
    QFont font = base;
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    switch (type) {
    case Type::body: break;
    case Type::headline: font.setWeight(QFont::Bold); break;
    case Type::subheadline:
        font.setPointSizeF(size * 0.92);
        font.setWeight(QFont::DemiBold);
        break;
    case Type::callout: font.setPointSizeF(size * 0.94); break;
    case Type::caption: font.setPointSizeF(size * 0.85); break;
    case Type::title2:
        font.setPointSizeF(size * 1.45);
        font.setWeight(QFont::Bold);
        break;
    }
    return font;
}

void setType(QWidget* widget, Type type)
{
    widget->setFont(font(widget->font(), type));
}

void setTone(QWidget* widget, const QString& tone)
{
    QPalette palette = widget->palette();
    const QColor color = Symbols::toneColor(tone, widget->parentWidget() ? widget->parentWidget()->palette() : palette);
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(role, color);
    widget->setPalette(palette);
    widget->setProperty("tone", tone);
}

void applyHeadingLook(QWidget* heading)
{
    heading->setFont(font(heading->font(), Type::subheadline));
    setTone(heading, QStringLiteral("secondary"));
    heading->setContentsMargins(heading->contentsMargins() + QMargins(0, 8, 0, 0));
    heading->setProperty("heading", true);
}

QPushButton* linkButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    button->setPalette(palette);
    button->setProperty("style", QStringLiteral("link"));
    return button;
}

void setButtonSymbol(QAbstractButton* button, const QString& symbol)
{
    if (button->property("symbol").toString() == symbol && !button->icon().isNull() == !symbol.isEmpty())
        return;
    button->setProperty("symbol", symbol);
    if (symbol.isEmpty()) {
        button->setIcon(QIcon());
        return;
    }
    const int side = QFontMetrics(button->font()).height();
    const qreal ratio = button->devicePixelRatioF();
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    // Drawn in the enabled colour; the icon greys itself while the button is disabled.
    const QColor color = button->palette().color(QPalette::Active, QPalette::ButtonText);
    Symbols::paint(painter, QRectF(1, 1, side - 2, side - 2), symbol, color);
    painter.end();
    button->setIcon(QIcon(pixmap));
    button->setIconSize(QSize(side, side));
}

QLabel* plainLabel(const QString& text, QWidget* parent, bool wrap)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    return label;
}

} // namespace CloudLook

// ---- SymbolLabel ----

namespace {
constexpr int symbolGap = 6;
}

SymbolLabel::SymbolLabel(const QString& symbol, const QString& text, QWidget* parent, bool wrap)
    : QLabel(text, parent)
{
    setProperty("symbol", symbol);
    setTextFormat(Qt::PlainText);
    setWordWrap(wrap);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    leaveRoomForSymbol();
}

void SymbolLabel::leaveRoomForSymbol()
{
    setContentsMargins(QFontMetrics(font()).height() + symbolGap, 0, 0, 0);
}

void SymbolLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    QPainter painter(this);
    const int side = QFontMetrics(font()).height();
    Symbols::paint(painter, QRectF(1, 1, side - 2, side - 2), symbol(), palette().color(QPalette::WindowText));
}

void SymbolLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        leaveRoomForSymbol();
    QLabel::changeEvent(event);
}

// ---- ElidedLabel ----

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QWidget(parent)
    , mode_(mode)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == text_ && !text.isEmpty())
        return;
    text_ = text;
    setAccessibleName(text);
    setToolTip(text);
    updateGeometry();
    update();
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text_, mode_, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return { metrics.horizontalAdvance(text_) + 2, metrics.height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return { qMin(metrics.horizontalAdvance(text_) + 2, metrics.horizontalAdvance(QStringLiteral("…")) * 6),
             metrics.height() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

// ---- Spinner ----

Spinner::Spinner(int side, QWidget* parent)
    : QWidget(parent)
    , timer_(new QTimer(this))
{
    setFixedSize(side, side);
    setAccessibleName(QStringLiteral("In progress"));
    setProperty("progress", true);
    timer_->setInterval(90);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 8;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const qreal outer = width() / 2.0 - 1;
    const qreal inner = outer * 0.45;
    QColor color = palette().color(QPalette::WindowText);
    for (int spoke = 0; spoke < 8; ++spoke) {
        const qreal angle = spoke * M_PI / 4;
        const int age = (step_ - spoke + 8) % 8;
        color.setAlphaF(float(1.0 - age * 0.11));
        painter.setPen(QPen(color, qMax(1.5, width() / 9.0), Qt::SolidLine, Qt::RoundCap));
        const QPointF direction(qSin(angle), -qCos(angle));
        painter.drawLine(centre + direction * inner, centre + direction * outer);
    }
}

void Spinner::showEvent(QShowEvent* event)
{
    timer_->start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    timer_->stop();
    QWidget::hideEvent(event);
}

} // namespace Quandril::App
