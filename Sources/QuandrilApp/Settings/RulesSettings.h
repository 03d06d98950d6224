#pragma once

// The Never Touch pane: adding and removing the user's own never-touch paths (kept by the model),
// and, read-only, the catalog's built-in never-touch paths and the places it knows.

#include <functional>
#include <optional>

#include <QLineEdit>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

class QPushButton;

namespace Quandril::App {

// The field for a path. A file or folder dragged in from the file manager arrives as its URL;
// the field takes it as the item's local path (percent escapes decoded), which is what protects
// it. Text typed or dropped as text stays exactly as it is.
class ProtectedPathField : public QLineEdit {
    Q_OBJECT
public:
    explicit ProtectedPathField(QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

class RulesSettings : public SettingsForm {
    Q_OBJECT
public:
    // Asks the user for one file or folder; absent when cancelled.
    using Chooser = std::function<std::optional<QString>(QWidget* parent)>;

    explicit RulesSettings(AppServices& services, QWidget* parent = nullptr);

    // Tests stand in for the file dialog.
    void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
    // The file dialog: files and folders alike, one item.
    static std::optional<QString> chooseFileOrFolder(QWidget* parent);

    // The field's text without the spaces and tabs at either end (line breaks and inner blanks stay).
    static QString trimmed(const QString& text);

private:
    void choose();
    void add();
    void showAdded();

    AppServices& services_;
    Chooser chooser_ = chooseFileOrFolder;
    ProtectedPathField* field_ = nullptr;
    QPushButton* add_ = nullptr;
    SettingsSection* added_ = nullptr;
};

} // namespace Quandril::App
