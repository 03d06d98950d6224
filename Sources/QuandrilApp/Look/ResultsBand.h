#pragma once

// The band below a list that tells how the last run went: a headline with "Dismiss" at its end,
// room under it for what a run adds (the mascot's line), and one line per result, each wrapped
// whole to the band's width. The lines scroll within a height of at most three lines of text, so
// a run of many items never takes the window from the list above it.
// The band shows what it is given; its owner follows the model and forgets the run on "Dismiss".

#include <vector>

#include <QStringList>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ResultLines.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Quandril::App {

class ResultsBand : public Band {
    Q_OBJECT
public:
    explicit ResultsBand(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    // Replaces the lines.
    void setLines(const std::vector<ResultLine>& lines);
    // One "<symbol> <tone> | <text>" per line, in order.
    QStringList lines() const;

    QPushButton* dismissButton() const { return dismiss_; }
    // The lines' scrolling, never taller than `maxShownLines` lines.
    QScrollArea* list() const { return scroll_; }
    ResultLines* linesBox() const { return linesBox_; }
    static constexpr int maxShownLines = 3;

protected:
    // What stands between the headline and the lines.
    QVBoxLayout* body() const { return body_; }
    void resizeEvent(QResizeEvent* event) override;

private:
    // The lines' height follows the width they wrap to.
    void fitListHeight();

    QLabel* title_;
    QPushButton* dismiss_;
    QVBoxLayout* body_;
    QScrollArea* scroll_;
    ResultLines* linesBox_ = nullptr;
};

} // namespace Quandril::App
