#include "QuandrilApp/Look/ComboAccess.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>

namespace Quandril::App::Look {

namespace {

constexpr const char* namedProperty = "accessibleNameByLabel";

// What Qt's own combo box interface offers, with the label as the name.
class NamedPicker : public QAccessibleWidget {
public:
    explicit NamedPicker(QComboBox* picker)
        : QAccessibleWidget(picker, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return picker()->accessibleName();
        if (kind == QAccessible::Value)
            return picker()->currentText();
        return QAccessibleWidget::text(kind);
    }

    int childCount() const override { return 1; }

    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == picker()->view() ? 0 : -1;
    }

    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override
    {
        return { QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction() };
    }

    void doAction(const QString& action) override
    {
        if (action != QAccessibleActionInterface::showMenuAction()
            && action != QAccessibleActionInterface::pressAction())
            return QAccessibleWidget::doAction(action);
        // showPopup() returns at once: the list stays open without holding the caller.
        if (picker()->view()->isVisible())
            picker()->hidePopup();
        else
            picker()->showPopup();
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QComboBox* picker() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* makeInterface(const QString& className, QObject* object)
{
    // Asked for the object's own class first, then its bases: answering the first keeps a
    // subclass's interface of its own out of the way only where the picker was named here.
    auto* picker = qobject_cast<QComboBox*>(object);
    if (picker && picker->property(namedProperty).toBool()
        && className == QLatin1String(object->metaObject()->className()))
        return new NamedPicker(picker);
    return nullptr;
}

} // namespace

void nameByLabel(QComboBox& picker, const QString& label)
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(makeInterface);
    }
    picker.setProperty(namedProperty, true);
    picker.setAccessibleName(label);
    // An interface made before the property was set (a tool already listening) would keep Qt's
    // naming: it goes, and the next query makes ours.
    QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(&picker);
    if (existing && !dynamic_cast<NamedPicker*>(existing))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}

} // namespace Quandril::App::Look
