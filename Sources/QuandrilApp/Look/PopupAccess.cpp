#include "QuandrilApp/Look/PopupAccess.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>

namespace Quandril::App::Look {

namespace {

constexpr const char* panelProperty = "accessiblePopupPanel";

// The open parentless popups, in the order the application holds its top-level widgets.
QObjectList openPopups()
{
    QObjectList out;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->windowType() == Qt::Popup && window->isVisible() && !window->parentWidget())
            out << window;
    return out;
}

class ApplicationWithPopups : public QAccessibleApplication {
public:
    int childCount() const override { return QAccessibleApplication::childCount() + int(openPopups().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows)
            return QAccessibleApplication::child(index);
        const QObjectList popups = openPopups();
        index -= windows;
        return index < popups.size() ? QAccessible::queryAccessibleInterface(popups.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const int found = QAccessibleApplication::indexOfChild(child);
        if (found >= 0 || !child)
            return found;
        const int popup = int(openPopups().indexOf(child->object()));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + popup;
    }
};

QAccessibleInterface* makeInterface(const QString& className, QObject* object)
{
    if (object == qApp && className == QLatin1String("QApplication"))
        return new ApplicationWithPopups;
    if (object && object->isWidgetType() && object->property(panelProperty).toBool()
        && className == QLatin1String(object->metaObject()->className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void reachOpenPopups()
{
    static bool installed = false;
    if (installed || !qApp)
        return;
    installed = true;
    QAccessible::installFactory(makeInterface);
    // One made before this (the first query makes it) would hide ours.
    QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(qApp);
    if (existing && !dynamic_cast<ApplicationWithPopups*>(existing))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}

void exposePopupPanel(QWidget& panel)
{
    reachOpenPopups();
    panel.setProperty(panelProperty, true);
}

} // namespace Quandril::App::Look
