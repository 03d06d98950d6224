#include "Support/ViewText.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QTest>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Look/RowList.h"
#include "Support/LayoutFit.h"

namespace Quandril::AppTesting {

namespace {

void visit(const QWidget* widget, const QWidget* root, QStringList& out);

void visitLayout(const QLayout* layout, const QWidget* root, QStringList& out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* child = item->widget())
            visit(child, root, out);
        else if (QLayout* inner = item->layout())
            visitLayout(inner, root, out);
    }
}

void visit(const QWidget* widget, const QWidget* root, QStringList& out)
{
    if (widget != root && !widget->isVisibleTo(root))
        return;
    if (const auto* image = qobject_cast<const App::GorrinImage*>(widget)) {
        out << "@" + App::rawValue(image->slot());
        return;
    }
    if (const auto* symbol = qobject_cast<const App::SymbolView*>(widget)) {
        out << "(" + symbol->symbol() + " " + toneName(symbol->tone()) + ")";
        return;
    }
    if (qobject_cast<const App::Spinner*>(widget)) {
        out << QStringLiteral("(busy)");
        return;
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (!label->text().isEmpty())
            out << label->text();
        return;
    }
    if (const auto* check = qobject_cast<const QCheckBox*>(widget)) {
        out << (check->isChecked() ? QStringLiteral("[x]") : QStringLiteral("[ ]")) + check->text();
        return;
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        QString title = button->text();
        for (const auto* spinner : button->findChildren<App::Spinner*>())
            if (spinner->isVisibleTo(root))
                title = QStringLiteral("(busy)");
        title.replace(QLatin1String("&&"), QLatin1String("&"));
        out << "[" + title + "]" + (button->isEnabled() ? QString() : QStringLiteral("-"));
        return;
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        out << "{" + combo->currentText() + "}";
        return;
    }
    if (const auto* field = qobject_cast<const QLineEdit*>(widget)) {
        out << "<" + (field->text().isEmpty() ? field->placeholderText() : field->text()) + ">";
        return;
    }
    if (const auto* list = qobject_cast<const App::RowList*>(widget)) {
        for (const int index : list->builtRows())
            visit(list->builtRow(index), root, out);
        return;
    }
    if (const auto* scroll = qobject_cast<const QScrollArea*>(widget)) {
        if (scroll->widget())
            visit(scroll->widget(), root, out);
        return;
    }
    if (const auto* stack = qobject_cast<const QStackedWidget*>(widget)) {
        if (stack->currentWidget())
            visit(stack->currentWidget(), root, out);
        return;
    }
    if (const auto* splitter = qobject_cast<const QSplitter*>(widget)) {
        for (int i = 0; i < splitter->count(); ++i)
            visit(splitter->widget(i), root, out);
        return;
    }
    if (widget->layout()) {
        visitLayout(widget->layout(), root, out);
        return;
    }
    for (const QObject* child : widget->children())
        if (const auto* childWidget = qobject_cast<const QWidget*>(child); childWidget && !childWidget->isWindow())
            visit(childWidget, root, out);
}

} // namespace

QStringList visibleTexts(const QWidget* root)
{
    QStringList out;
    visit(root, root, out);
    return out;
}

QString shownText(const QWidget* root)
{
    return visibleTexts(root).join(QStringLiteral(" | "));
}

void showAt(QWidget& widget, int width, int height)
{
    widget.resize(width, height);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget) || !waitForLayout(&widget))
        QTest::qFail("the window was not shown and laid out in time", __FILE__, __LINE__);
}

} // namespace Quandril::AppTesting
