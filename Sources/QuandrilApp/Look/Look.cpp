#include "QuandrilApp/Look/Look.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace Look {

namespace {

QString styleName(TextStyle style)
{
    switch (style) {
    case TextStyle::body:
        return QStringLiteral("body");
    case TextStyle::headline:
        return QStringLiteral("headline");
    case TextStyle::subheadline:
        return QStringLiteral("subheadline");
    case TextStyle::callout:
        return QStringLiteral("callout");
    case TextStyle::caption:
        return QStringLiteral("caption");
    case TextStyle::header:
        return QStringLiteral("header");
    case TextStyle::title2:
        return QStringLiteral("title2");
    case TextStyle::title3:
        return QStringLiteral("title3");
    }
    return QStringLiteral("body");
}

QFont font(TextStyle style, std::optional<QFont::Weight> weight)
{
    // Always from the application's font, so that styling a widget twice never compounds.
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10;
    qreal scale = 1;
    QFont::Weight own = QFont::Normal;
    switch (style) {
    case TextStyle::body:
        break;
    case TextStyle::headline:
        own = QFont::DemiBold;
        break;
    case TextStyle::subheadline:
        scale = 0.92;
        own = QFont::DemiBold;
        break;
    case TextStyle::callout:
        scale = 0.96;
        break;
    case TextStyle::caption:
        scale = 0.85;
        break;
    case TextStyle::header:
        scale = 0.9;
        own = QFont::DemiBold;
        break;
    case TextStyle::title2:
        scale = 1.45;
        own = QFont::Bold;
        break;
    case TextStyle::title3:
        scale = 1.25;
        break;
    }
    font.setPointSizeF(base * scale);
    font.setWeight(weight.value_or(own));
    return font;
}

} // namespace

void setTextStyle(QWidget* widget, TextStyle style, std::optional<QFont::Weight> weight)
{
    widget->setFont(font(style, weight));
    widget->setProperty("textStyle", styleName(style));
}

void setTone(QWidget* widget, Tone tone)
{
    QPalette palette = widget->palette();
    const QColor color = Symbols::toneColor(tone, widget->parentWidget() ? widget->parentWidget()->palette() : palette);
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(role, color);
    widget->setPalette(palette);
    widget->setProperty("tone", toneName(tone));
}

void applyHeadingLook(QWidget* heading)
{
    setTextStyle(heading, TextStyle::subheadline);
    setTone(heading, Tone::secondary);
    heading->setContentsMargins(heading->contentsMargins() + QMargins(0, 8, 0, 0));
    heading->setProperty("heading", true);
}

QLabel* plainLabel(const QString& text, QWidget* parent, bool wrap)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    return label;
}

QString buttonText(const QString& text)
{
    QString out = text;
    return out.replace(QLatin1Char('&'), QLatin1String("&&"));
}

void styleAsLink(QPushButton* button)
{
    static const QString look = QStringLiteral(
        "QPushButton { border: none; padding: 0px; background: transparent; color: palette(link); text-align: left; }"
        "QPushButton:disabled { color: palette(mid); }"
        "QPushButton:focus { text-decoration: underline; }");
    button->setStyleSheet(look);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    // A link never takes Return from a dialog's default button.
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    button->setProperty("look", QStringLiteral("link"));
}

QPushButton* linkButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    styleAsLink(button);
    return button;
}

QIcon symbolIcon(const QString& symbol, const QColor& color, int side, const QColor& selected)
{
    const auto draw = [&symbol, side](qreal ratio, const QColor& in) {
        QPixmap pixmap(QSize(side, side) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        Symbols::paint(painter, QRectF(0, 0, side, side), symbol, in);
        painter.end();
        return pixmap;
    };
    QIcon icon;
    for (const qreal ratio : { 1.0, 2.0 }) {
        icon.addPixmap(draw(ratio, color), QIcon::Normal);
        if (selected.isValid())
            icon.addPixmap(draw(ratio, selected), QIcon::Selected);
    }
    return icon;
}

void setButtonSymbol(QAbstractButton* button, const QString& symbol, int side)
{
    if (button->property("symbol").toString() == symbol && !button->icon().isNull() == !symbol.isEmpty())
        return;
    button->setProperty("symbol", symbol);
    if (symbol.isEmpty()) {
        button->setIcon(QIcon());
        return;
    }
    if (side <= 0)
        side = QFontMetrics(button->font()).height();
    // Drawn in the enabled colour; the icon greys itself while the button is disabled.
    button->setIcon(symbolIcon(symbol, button->palette().color(QPalette::Active, QPalette::ButtonText), side));
    button->setIconSize(QSize(side, side));
}

void fitColumn(const QList<QWidget*>& cells)
{
    if (cells.isEmpty())
        return;
    const QFontMetrics metrics = cells.front()->fontMetrics();
    int width = metrics.horizontalAdvance(QStringLiteral("000 MB"));
    for (const QWidget* cell : cells)
        width = qMax(width, cell->sizeHint().width());
    width += metrics.horizontalAdvance(QStringLiteral("MM"));
    for (QWidget* cell : cells)
        cell->setFixedWidth(width);
}

QWidget* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, Symbols::toneColor(Tone::tertiary, QApplication::palette()));
    line->setPalette(palette);
    return line;
}

namespace {

// A scroll area that never scrolls sideways can't be narrower than what it holds, or the right of
// its rows would be cut; it asks for their least width, and asks again when they change.
class ColumnScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;

    QSize minimumSizeHint() const override
    {
        QSize least = QScrollArea::minimumSizeHint();
        if (const QWidget* rows = widget()) {
            int width = rows->minimumSizeHint().expandedTo(rows->minimumSize()).width() + 2 * frameWidth();
            if (verticalScrollBar()->isVisibleTo(this))
                width += verticalScrollBar()->sizeHint().width();
            least.setWidth(qMax(least.width(), width));
        }
        return least;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
};

} // namespace

QScrollArea* scrollArea(QWidget* parent)
{
    auto* scroll = new ColumnScrollArea(parent);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return scroll;
}

QVBoxLayout* scrollingColumn(QWidget* view)
{
    auto* outer = new QVBoxLayout(view);
    outer->setContentsMargins(0, 0, 0, 0);
    QScrollArea* scroll = scrollArea(view);
    outer->addWidget(scroll);
    auto* body = new QWidget(scroll);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(24, 24, 24, 24);
    // The body needs its layout before the scroll area takes it.
    scroll->setWidget(body);
    return column;
}

} // namespace Look

// ---- ElidingLabel ----

namespace {

// The least width of a line that shortens with "…": the whole text or a few letters, whichever is less.
int shortestElided(const QFontMetrics& metrics, const QString& text)
{
    return qMin(metrics.horizontalAdvance(text) + 2, metrics.horizontalAdvance(QStringLiteral("…")) * 6);
}

// Lays `layout` out in lines of `width`, between words where it can and anywhere else where it
// must; returns the height of its lines.
qreal wrapAnywhere(QTextLayout& layout, qreal width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax<qreal>(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

} // namespace

ElidingLabel::ElidingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

ElidingLabel::ElidingLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : ElidingLabel(text, parent)
{
    setElideMode(mode);
}

void ElidingLabel::setText(const QString& text)
{
    QLabel::setText(text);
    if (elide_ != Qt::ElideNone)
        keepWholeText();
}

void ElidingLabel::keepWholeText()
{
    setToolTip(text());
    setAccessibleName(text());
}

void ElidingLabel::setElideMode(Qt::TextElideMode mode)
{
    elide_ = mode;
    if (mode != Qt::ElideNone) {
        setWordWrap(false);
        keepWholeText();
        // One line never grows taller where a layout has height to spare.
        setSizePolicy(sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    }
    updateGeometry();
    update();
}

void ElidingLabel::setWrapsAnywhere()
{
    elide_ = Qt::ElideNone;
    wrapsAnywhere_ = true;
    setWordWrap(true); // height for width, from wrappedHeight()
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    updateGeometry();
    update();
}

int ElidingLabel::wrappedHeight(int width) const
{
    QTextLayout layout(text(), font());
    return qCeil(wrapAnywhere(layout, width));
}

int ElidingLabel::heightForWidth(int width) const
{
    if (!wrapsAnywhere_)
        return QLabel::heightForWidth(width);
    const QMargins margins = contentsMargins();
    return margins.top() + margins.bottom()
        + qMax(fontMetrics().height(), wrappedHeight(width - margins.left() - margins.right()));
}

QString ElidingLabel::shownText() const
{
    if (elide_ == Qt::ElideNone)
        return text();
    return fontMetrics().elidedText(text(), elide_, contentsRect().width());
}

QSize ElidingLabel::minimumSizeHint() const
{
    if (wrapsAnywhere_) {
        // A few letters wide and a line high: the layout asks heightForWidth() for the lines the
        // text needs at the width it gets (the height of the narrowest width would hold every
        // list of such labels taller than its lines).
        const QMargins margins = contentsMargins();
        const int least = margins.left() + margins.right() + shortestElided(fontMetrics(), text());
        return { least, heightForWidth(QWIDGETSIZE_MAX) };
    }
    const QSize label = QLabel::minimumSizeHint();
    if (elide_ == Qt::ElideNone)
        return label;
    const QMargins margins = contentsMargins();
    return { margins.left() + margins.right() + shortestElided(fontMetrics(), text()), label.height() };
}

void ElidingLabel::paintEvent(QPaintEvent* event)
{
    if (wrapsAnywhere_) {
        const QRect area = contentsRect();
        QTextLayout layout(text(), font());
        wrapAnywhere(layout, area.width());
        QPainter painter(this);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
        layout.draw(&painter, area.topLeft());
        return;
    }
    if (elide_ == Qt::ElideNone) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(QStyle::visualAlignment(layoutDirection(), alignment())),
                          palette(), isEnabled(), shownText(), foregroundRole());
}

// ---- SymbolView ----

SymbolView::SymbolView(const QString& symbol, Tone tone, int side, QWidget* parent)
    : QWidget(parent)
    , tone_(tone)
{
    setFixedSize(side, side);
    setSymbol(symbol, tone);
}

void SymbolView::setSymbol(const QString& symbol, Tone tone)
{
    symbol_ = symbol;
    tone_ = tone;
    setProperty("symbol", symbol);
    setProperty("tone", toneName(tone));
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Symbols::paint(painter, QRectF(rect()), symbol_, Symbols::toneColor(tone_, QApplication::palette()));
}

// ---- SymbolLabel ----

namespace {
constexpr int symbolGap = 6;
}

SymbolLabel::SymbolLabel(const QString& symbol, const QString& text, QWidget* parent, bool wrap)
    : ElidingLabel(text, parent)
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
    ElidingLabel::paintEvent(event);
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

// ---- Backgrounds ----

void Card::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Symbols::toneColor(Tone::quaternary, QApplication::palette());
    fill.setAlphaF(fill.alphaF() * 0.25f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(shape, fill);
}

void Band::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QColor fill = Symbols::toneColor(Tone::quaternary, palette());
    fill.setAlphaF(fill.alphaF() * 0.5f);
    painter.fillRect(rect(), fill);
    painter.end();
    QFrame::paintEvent(event);
}

void GroupBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Symbols::toneColor(Tone::quaternary, palette()), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace Quandril::App
