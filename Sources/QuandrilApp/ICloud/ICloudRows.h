#pragma once

// The rows of the iCloud results list under each section's SelectAllHeader. None keeps a selection
// of its own: what the user has chosen is the model's set of iCloud item ids, which the checkboxes
// and headings change directly and every row reads again whenever the model announces a change of
// it.
//
// - CopyGroupRow: copies of one file: name, "<n> × <size>", which copy stays and where, a note when
//   only the size matched, and one CloudItemRow per copy offered.
// - CloudItemRow: one iCloud file with its checkbox, its path, whether it is on this Mac, and its
//   caution when it has one.

#include <string>
#include <vector>

#include <QWidget>

#include "QuandrilCore/ICloud/ICloud.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace Quandril::App {

class ElidingLabel;
class Model;
class SymbolLabel;

class CloudItemRow : public QWidget {
    Q_OBJECT
public:
    CloudItemRow(Model& model, CloudItem item, bool showName, QWidget* parent = nullptr);

    const CloudItem& item() const { return item_; }
    QCheckBox* checkBox() const { return check_; }
    // The texts shown, top to bottom, left to right: name and size only with showName, the whole
    // path, where the file is, and the caution when there is one.
    QStringList texts() const;
    ElidingLabel* pathLabel() const { return path_; }
    SymbolLabel* cautionLabel() const { return caution_; }

private:
    void refresh();

    Model& model_;
    CloudItem item_;
    bool showName_;
    QCheckBox* check_;
    QLabel* name_ = nullptr;
    ElidingLabel* path_;
    QLabel* size_ = nullptr;
    QLabel* where_;
    SymbolLabel* caution_ = nullptr;
};

class CopyGroupRow : public QWidget {
    Q_OBJECT
public:
    CopyGroupRow(Model& model, CopyGroup group, QWidget* parent = nullptr);

    const CopyGroup& group() const { return group_; }
    // Name, "<n> × <size>", the "Stays:" line and the names note when shown.
    QStringList texts() const;
    const std::vector<CloudItemRow*>& itemRows() const { return rows_; }

private:
    CopyGroup group_;
    QLabel* name_;
    QLabel* count_;
    ElidingLabel* stays_;
    QLabel* namesNote_ = nullptr;
    std::vector<CloudItemRow*> rows_;
};

} // namespace Quandril::App
