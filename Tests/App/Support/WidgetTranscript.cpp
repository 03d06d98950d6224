#include "Support/WidgetTranscript.h"

#include "QuandrilApp/Platform/Preferences.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>

namespace Quandril::AppTesting {

namespace {

QString disabled(const QWidget* widget)
{
    return widget->isEnabled() ? QString() : QStringLiteral(" (disabled)");
}

QString labelLine(const QLabel* label)
{
    QString style = label->property("textStyle").toString();
    const QString tone = label->property("tone").toString();
    QString tag = style == QLatin1String("body") || style.isEmpty() ? QString() : style;
    if (!tone.isEmpty() && tone != QLatin1String("primary")
        && !(style == QLatin1String("header") && tone == QLatin1String("secondary")))
        tag += (tag.isEmpty() ? QString() : QStringLiteral("/")) + tone;
    return (tag.isEmpty() ? QString() : tag + QStringLiteral(": ")) + label->text();
}

// The line for a widget that is read as a whole, or empty for a plain container.
QString lineFor(const QWidget* widget, bool& whole)
{
    whole = true;
    if (widget->property("goalDrive").isValid())
        return QStringLiteral("goal control: ") + widget->property("goalDrive").toString();
    if (widget->property("symbol").isValid())
        return QStringLiteral("symbol: ") + widget->property("symbol").toString() + QStringLiteral("/")
            + widget->property("tone").toString();
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text().isEmpty() ? QString() : labelLine(label);
    if (auto* toggle = qobject_cast<const QCheckBox*>(widget))
        return (toggle->isChecked() ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + toggle->text()
            + disabled(toggle);
    if (auto* radio = qobject_cast<const QRadioButton*>(widget))
        return (radio->isChecked() ? QStringLiteral("(*) ") : QStringLiteral("( ) ")) + radio->text() + disabled(radio);
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return (button->property("look").toString() == QLatin1String("link") ? QStringLiteral("link: ")
                                                                             : QStringLiteral("button: "))
            + button->text() + disabled(button);
    if (auto* picker = qobject_cast<const QComboBox*>(widget)) {
        QStringList entries;
        for (int i = 0; i < picker->count(); ++i)
            entries << (i == picker->currentIndex() ? QStringLiteral("[%1]").arg(picker->itemText(i))
                                                    : picker->itemText(i));
        return QStringLiteral("picker: ") + entries.join(QStringLiteral(" | ")) + disabled(picker);
    }
    if (auto* field = qobject_cast<const QLineEdit*>(widget))
        return QStringLiteral("field: ") + field->placeholderText() + QStringLiteral("|") + field->text()
            + disabled(field);
    if (qobject_cast<const QProgressBar*>(widget))
        return QStringLiteral("busy");
    if (qobject_cast<const QScrollBar*>(widget))
        return {};
    whole = false;
    return {};
}

void walk(const QWidget* root, const QWidget* widget, QStringList& lines)
{
    QList<const QWidget*> children;
    for (const QObject* child : widget->children())
        if (auto* w = qobject_cast<const QWidget*>(child); w && !w->isWindow() && w->isVisibleTo(root))
            children << w;
    // Top to bottom; widgets whose heights overlap stand on one line, read left to right.
    const auto top = [root](const QWidget* w) { return w->mapTo(root, QPoint(0, 0)).y(); };
    const auto left = [root](const QWidget* w) { return w->mapTo(root, QPoint(0, 0)).x(); };
    std::stable_sort(children.begin(), children.end(),
                     [&](const QWidget* a, const QWidget* b) { return top(a) < top(b); });
    for (qsizetype start = 0; start < children.size();) {
        qsizetype end = start + 1;
        int bottom = top(children[start]) + children[start]->height();
        while (end < children.size() && top(children[end]) < bottom) {
            bottom = std::max(bottom, top(children[end]) + children[end]->height());
            ++end;
        }
        std::stable_sort(children.begin() + start, children.begin() + end,
                         [&](const QWidget* a, const QWidget* b) { return left(a) < left(b); });
        start = end;
    }
    for (const QWidget* child : children) {
        bool whole = false;
        const QString line = lineFor(child, whole);
        if (!line.isEmpty())
            lines << line;
        // A label that draws its symbol beside its text reads as the symbol, then the text.
        if (auto* label = qobject_cast<const QLabel*>(child);
            label && label->property("symbol").isValid() && !label->text().isEmpty())
            lines << labelLine(label);
        if (!whole)
            walk(root, child, lines);
    }
}

} // namespace

QString storedValue(const App::Preferences& preferences, const QString& key)
{
    const auto value = preferences.stored(key);
    if (!value)
        return QStringLiteral("-");
    switch (value->typeId()) {
    case QMetaType::QString:
        return QStringLiteral("text:") + value->toString();
    case QMetaType::Bool:
        return value->toBool() ? QStringLiteral("bool:true") : QStringLiteral("bool:false");
    case QMetaType::LongLong:
        return QStringLiteral("int:") + QString::number(value->toLongLong());
    case QMetaType::Double:
        return QStringLiteral("number:") + QString::number(value->toDouble());
    case QMetaType::QByteArray:
        return QStringLiteral("data:") + QString::fromUtf8(value->toByteArray());
    case QMetaType::QDateTime:
        return QStringLiteral("date:") + value->toDateTime().toString(Qt::ISODateWithMs);
    default:
        return QStringLiteral("other:") + value->toString();
    }
}

QStringList transcript(const QWidget* root)
{
    QStringList lines;
    walk(root, root, lines);
    return lines;
}

} // namespace Quandril::AppTesting
