#pragma once

// A list section's heading: its title, what the section amounts to, and "Select all" / "Select
// none" for every item of the section. It keeps no selection of its own: a click changes the
// model's choice of findings or of iCloud items directly, and the heading reads that choice again
// whenever the model announces a change of it.

#include <set>
#include <string>
#include <vector>

#include <QWidget>

class QLabel;
class QPushButton;

namespace Quandril::App {

class Model;

class SelectAllHeader : public QWidget {
    Q_OBJECT
public:
    // Which of the model's choices the heading changes.
    enum class Selection { findings, iCloud };

    SelectAllHeader(Model& model, Selection selection, const QString& title, const QString& amount,
                    std::vector<std::string> ids, QWidget* parent = nullptr);

    const std::vector<std::string>& ids() const { return ids_; }
    QString titleText() const;
    QString amountText() const;
    QPushButton* button() const { return button_; }

    // Whether every id is chosen (true for a heading without ids).
    static bool allChosen(const std::vector<std::string>& ids, const std::set<std::string>& selected);
    // "Select none" when all are chosen, else "Select all".
    static QString buttonTitle(const std::vector<std::string>& ids, const std::set<std::string>& selected);
    // The choice after a click: the heading's ids all removed when all were chosen, else all added.
    // Ids the heading doesn't cover stay as they are.
    static std::set<std::string> afterClick(const std::vector<std::string>& ids, std::set<std::string> selected);

private:
    const std::set<std::string>& selected() const;
    void refresh();

    Model& model_;
    Selection selection_;
    std::vector<std::string> ids_;
    QLabel* title_;
    QLabel* amount_;
    QPushButton* button_;
};

} // namespace Quandril::App
