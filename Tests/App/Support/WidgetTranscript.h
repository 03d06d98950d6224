#pragma once

// What a person sees in a widget tree, one line per visible control or text, top to bottom and
// left to right, for whole-view comparisons:
//
//     "header: Menu bar gauge"                label in a style (and tone, when not the usual one)
//     "caption/secondary: Defaults to …"
//     "[x] Launch Gorrin at login (disabled)"  toggle
//     "(*) A percentage"                       radio button
//     "picker: [Decimal …] | Binary …"         pop-up, the shown entry in brackets
//     "button: Check Now" / "link: Remove"     button, link-styled button
//     "field: e.g. …|typed text"               placeholder, then the text
//     "symbol: bell.badge/secondary", "busy"   a symbol (a label's is followed by its text), a progress indicator
//     "goal control: /Volumes/Backup"          a drive's goal control (its inside is not listed)
//
// Labels read their "textStyle" and "tone" properties ("body" and "primary" are left out).
// The tree must be laid out (shown) so that positions are known.

#include <QString>
#include <QStringList>

class QWidget;

namespace Quandril::App {
class Preferences;
}

namespace Quandril::AppTesting {

QStringList transcript(const QWidget* root);

// The stored value of a preference with its type: "text:bar", "bool:true", "int:30",
// "data:<bytes>", "date:<ISO>", or "-" when nothing is stored.
QString storedValue(const App::Preferences& preferences, const QString& key);

} // namespace Quandril::AppTesting
