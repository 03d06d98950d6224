#include "Support/AccessibleTree.h"

#include <QApplication>
#include <QMetaEnum>

namespace Quandril::AppTesting {

namespace {

void describe(QAccessibleInterface* node, int depth, QStringList& out)
{
    if (!node || node->state().invisible)
        return;
    QString line = QString(depth * 2, QLatin1Char(' '))
        + QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role())) + QLatin1Char(' ')
        + node->text(QAccessible::Name);
    if (QAccessibleActionInterface* actions = node->actionInterface(); actions && !actions->actionNames().isEmpty())
        line += QStringLiteral(" [") + actions->actionNames().join(QLatin1Char(',')) + QLatin1Char(']');
    out << line;
    for (int i = 0; i < node->childCount(); ++i)
        describe(node->child(i), depth + 1, out);
}

} // namespace

QAccessibleInterface* applicationChild(const QObject* object)
{
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    if (!application)
        return nullptr;
    for (int i = 0; i < application->childCount(); ++i) {
        QAccessibleInterface* child = application->child(i);
        if (child && child->object() == object) {
            const bool backAgain = child->parent() && child->parent()->object() == qApp
                && application->indexOfChild(child) == i;
            return backAgain ? child : nullptr;
        }
    }
    return nullptr;
}

QStringList accessibleTree(QAccessibleInterface* root)
{
    QStringList out;
    describe(root, 0, out);
    return out;
}

} // namespace Quandril::AppTesting
