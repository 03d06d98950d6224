#include "Support/LayoutFit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QTest>
#include <QWidget>

#include "QuandrilApp/Look/Look.h"

namespace Quandril::AppTesting {

namespace {

QString named(const QWidget* widget)
{
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    const QString name = QString::fromLatin1(widget->metaObject()->className());
    return text.isEmpty() ? name : name + " \"" + text + "\"";
}

// Whether a label shows less of its text than it has, unmarked.
QString labelCut(const QLabel* label)
{
    if (label->text().isEmpty())
        return {};
    if (const auto* eliding = qobject_cast<const App::ElidingLabel*>(label)) {
        const QString shown = eliding->shownText();
        if (shown != label->text()) {
            if (!shown.contains(QChar(0x2026)))
                return QStringLiteral("shortened without \"…\"");
            if (label->toolTip() != label->text())
                return QStringLiteral("shortened, the tool tip not the whole text");
            return {};
        }
    }
    if (label->wordWrap()) {
        if (label->height() < label->heightForWidth(label->width()))
            return QStringLiteral("lower than its lines");
        if (label->width() < label->minimumSizeHint().width())
            return QStringLiteral("narrower than its longest word");
    } else if (label->contentsRect().width() < label->fontMetrics().horizontalAdvance(label->text())) {
        return QStringLiteral("narrower than its text");
    }
    return {};
}

// The part of `widget` that its parents up to `window` leave in view, in the window's coordinates.
QRect shownRect(const QWidget* widget, const QWidget* window)
{
    QRect shown(widget->mapTo(window, QPoint(0, 0)), widget->size());
    for (const QWidget* parent = widget->parentWidget(); parent && parent != window; parent = parent->parentWidget())
        shown &= QRect(parent->mapTo(window, QPoint(0, 0)), parent->size());
    return shown;
}

// Counts the events delivered to anything, except those that only repaint or tick a timer.
class EventCount final : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::UpdateRequest && type != QEvent::Paint && type != QEvent::Timer)
            ++count;
        return false;
    }
};

// One pass: delivers what waits (the window system's events, posted events), then lays out
// every layout of the window that needs it, parents first. True when the pass found nothing to do.
bool restingPass(QWidget* window)
{
    EventCount delivered;
    QCoreApplication::instance()->installEventFilter(&delivered);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::instance()->removeEventFilter(&delivered);
    bool resting = delivered.count == 0;
    QList<QWidget*> widgets { window };
    widgets += window->findChildren<QWidget*>();
    for (QWidget* widget : widgets)
        if (widget->layout() && widget->isVisible() && widget->window() == window && widget->layout()->activate())
            resting = false;
    return resting;
}

} // namespace

bool waitForLayout(QWidget* window, int timeoutMs)
{
    return QTest::qWaitFor([window] { return restingPass(window); }, timeoutMs);
}

QStringList overlappingTexts(const QWidget* window)
{
    QList<const QWidget*> texts;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(widget);
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        if (widget->isVisibleTo(window) && !widget->isWindow()
            && ((label && !label->text().isEmpty()) || (button && !button->text().isEmpty())))
            texts << widget;
    }
    QStringList out;
    for (qsizetype i = 0; i < texts.size(); ++i)
        for (qsizetype j = i + 1; j < texts.size(); ++j)
            if (shownRect(texts[i], window).intersects(shownRect(texts[j], window)))
                out << named(texts[i]) + QStringLiteral(" over ") + named(texts[j]);
    return out;
}

QStringList cutOff(const QWidget* window)
{
    QStringList out;
    const QRect edges = window->rect();
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window) || widget->isWindow())
            continue;
        const QRect at(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (at.left() < edges.left() || at.right() > edges.right())
            out << named(widget) + QStringLiteral(": past the edge, ") + QString::number(at.left())
                    + QStringLiteral("…") + QString::number(at.right() + 1) + QStringLiteral(" of ")
                    + QString::number(edges.width());
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            if (const QString cut = labelCut(label); !cut.isEmpty())
                out << named(widget) + QStringLiteral(": ") + cut;
    }
    return out;
}

AppFontSize::AppFontSize(qreal points)
    : saved_(QApplication::font())
{
    QFont font = saved_;
    font.setPointSizeF(points);
    QApplication::setFont(font);
}

AppFontSize::~AppFontSize()
{
    QApplication::setFont(saved_);
}

} // namespace Quandril::AppTesting
