#pragma once

// What a person reads in a view, in the order its layouts place it: labels' texts; buttons'
// titles in brackets, "-" after a disabled one ("[Choose]-"), "[(busy)]" for one showing a
// spinner; checkboxes "[x]" / "[ ]"; combo boxes "{current}"; text fields "<text>" or
// "<placeholder>" when empty; symbols "(name tone)"; the mascot "@pose". Hidden widgets, the
// pages of a stack not shown, and list rows not built are left out.

#include <QString>
#include <QStringList>

class QWidget;

namespace Quandril::AppTesting {

QStringList visibleTexts(const QWidget* root);
// The same joined with " | ".
QString shownText(const QWidget* root);

// Shows a top-level widget offscreen at `size` and waits until it is laid out (the test fails
// when it never is).
void showAt(QWidget& widget, int width, int height);

} // namespace Quandril::AppTesting
