#include "QuandrilApp/Look/Sheet.h"

#include <QDialog>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

namespace Quandril::App::Sheet {

void setUp(QDialog& sheet, QPushButton& cancel, QPushButton& main)
{
    sheet.setWindowModality(Qt::WindowModal);
    cancel.setAutoDefault(false);
    main.setAutoDefault(false);
    // A disabled default button takes no Return: the sheet's action waits for it.
    main.setDefault(true);
    QObject::connect(&cancel, &QPushButton::clicked, &sheet, &QDialog::reject);
}

void open(QDialog* sheet, const QObject* context, std::function<void()> closed)
{
    QObject::connect(sheet, &QDialog::finished, context,
                     [sheet = QPointer<QDialog>(sheet), closed = std::move(closed)] {
                         if (sheet)
                             sheet->deleteLater();
                         closed();
                     });
    sheet->open();
}

std::vector<QShortcut*> returnKeys(QWidget* scope, std::function<void()> action)
{
    std::vector<QShortcut*> keys;
    for (const auto key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto* shortcut = new QShortcut(QKeySequence(key), scope, nullptr, nullptr, Qt::WindowShortcut);
        shortcut->setAutoRepeat(false);
        QObject::connect(shortcut, &QShortcut::activated, scope, action);
        keys.push_back(shortcut);
    }
    return keys;
}

} // namespace Quandril::App::Sheet
