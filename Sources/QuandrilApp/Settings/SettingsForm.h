#pragma once

// What every settings pane is made of: a form of grouped sections filling the detail column (it
// scrolls when taller), each section a rounded box of rows under an optional plain header, and
// notes below their controls in a small, fainter type. There is no Save button: controls write
// their preference when the user acts on them (clicked, activated), never when the pane sets
// them, and follow later writes of their key by anyone.
//
// Every label shows its text as plain text and keeps its look in two dynamic properties, so tests
// can read what a person sees: "textStyle" (body, caption, callout, headline, header, title2) and
// "tone" (the name of its Tone).

#include <optional>
#include <vector>

#include <QScrollArea>
#include <QString>
#include <QWidget>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilCore/Values/Model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QVBoxLayout;

namespace Quandril::App {

class Model;
class Preferences;

// One group of rows: its header (if any) above a rounded box.
class SettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSection(const QString& header, QWidget* parent = nullptr);

    void addRow(QWidget* row);
    void insertRow(int index, QWidget* row);
    // Removes and deletes every row.
    void clear();

private:
    QWidget* box_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
};

class SettingsForm : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsForm(QWidget* parent = nullptr);

    // As wide as the widest row that cannot wrap, with room for the scroll bar: the form only
    // scrolls up and down, so what is narrower would be cut off.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // A new section below the others; no header when `header` is empty.
    SettingsSection* addSection(const QString& header = {});
    // A widget standing on its own between sections.
    void addLoose(QWidget* widget);

private:
    // Gives the form the height its wrapped texts need at the width shown.
    void fitHeight();

    QVBoxLayout* column_ = nullptr;
};

namespace SettingsUi {

// A plain-text label in a style and tone (none for the normal text colour); wraps when `wrap`.
QLabel* label(const QString& text, TextStyle style, std::optional<Tone> tone = std::nullopt, bool wrap = true);
// The note below a control: caption size, secondary colour.
QLabel* note(const QString& text);
// A symbol and a text side by side, both in `tone` (none for the normal text colour).
QWidget* symbolLine(const QString& symbol, const QString& text, TextStyle style, std::optional<Tone> tone);
// A control with its label on the left, as a form lays pickers out.
QWidget* labelled(const QString& text, QWidget* control);
// Whether two lists name the same drives in the same order (paths, names, which is the startup
// drive), whatever their readings: a pane showing `b` then has nothing to rebuild for `a`.
bool sameDrives(const std::vector<DriveInfo>& a, const std::vector<DriveInfo>& b);

// Shows the stored Boolean `key` (its default when none) and writes it when the user clicks.
void bindToggle(QCheckBox* toggle, Model& model, const QString& key);
// A picker whose entries hold stored texts as their data: shows the entry holding the stored
// text (the key's default when none is stored), or the entry at `unknownIndex` (-1: none) when no
// entry holds it; writes the entry's text when the user picks one. An unknown stored text stays
// stored.
void bindChoice(QComboBox* picker, Model& model, const QString& key, int unknownIndex);

} // namespace SettingsUi

} // namespace Quandril::App
