#pragma once

// Whether a window shows all of what it holds: fonts of other sizes must make texts wrap or
// shorten, or the window grow, never push a control past its edge or cut a text short unmarked.

#include <QFont>
#include <QStringList>

class QWidget;

namespace Quandril::AppTesting {

// What a person cannot fully see in `window`, one line per widget ("QPushButton \"Free up…\":
// past the right edge"): a visible widget reaching past the window's left or right edge, a label
// of one line narrower than its text that does not shorten it with "…", a wrapping label lower
// than its lines need. Empty when everything fits.
QStringList cutOff(const QWidget* window);

// Texts of `window` that lie over one another ("QLabel \"a\" over QPushButton \"b\""): visible labels
// and buttons whose rectangles, as far as their parents show them, intersect. Empty when none do.
QStringList overlappingTexts(const QWidget* window);

// Processes events until the app is at rest and `window` laid out (true), or the time runs out
// (false): a pass delivers no event but repaints and timer ticks (layout requests, queued calls,
// rows a list builds later, the window system's answers) and no layout of the window has anything
// to redo. A fixed number of event-loop turns is not enough on a busy machine, where the last
// request may still wait, its layout's geometry empty.
bool waitForLayout(QWidget* window, int timeoutMs = 20000);

// Sets the application's font to `points` (other attributes as they are) for the life of the
// object, and back after. A desktop that sets the fonts' dots per inch to 144 shows Qt's 9 points
// as 13.5 would show at 96.
class AppFontSize {
public:
    explicit AppFontSize(qreal points);
    ~AppFontSize();
    AppFontSize(const AppFontSize&) = delete;
    AppFontSize& operator=(const AppFontSize&) = delete;

private:
    QFont saved_;
};

} // namespace Quandril::AppTesting
