#pragma once

// The Mac settings advisor: up to four settings, of the system and of other apps, that decide how
// much space piles up. For those whose state can be read it shows that state; each row explains
// the setting in one sentence and has a button that opens where it lives. It only reads: it
// changes no setting.
//
// The state is read when the view is made and again each time it comes on screen, off the GUI
// thread: the settings tool runs a few seconds at most and then counts as "no result", so a tool
// that hangs never holds up the window. Until a reading is in, the view shows the one before (at
// first: access as the probe says, the Trash row off, no Steam row).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Machine/Mac.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Quandril::App {

class AccessProbe;

namespace Advisor {

// Runs the system's settings tool with these arguments and answers what it printed when it ended
// well; absent when it can't be started, ends otherwise or runs too long. Called off the GUI
// thread.
using Runner = std::function<std::optional<std::string>(const std::vector<std::string>& arguments)>;

inline constexpr const char* defaultsTool = "/usr/bin/defaults";
// How long the tool may run before it counts as "no result".
inline constexpr std::chrono::milliseconds toolLimit = std::chrono::seconds(3);

// Runs `program` with the arguments, standard input and error on /dev/null, killed after `limit`.
Runner processRunner(std::string program = defaultsTool, std::chrono::milliseconds limit = toolLimit);

// The tool's output trimmed of white space and line breaks at both ends (invalid UTF-8 replaced);
// absent without a result.
std::optional<QString> runDefaults(const Runner& run, const std::vector<std::string>& arguments);

// Days after which the Finder removes old Trash items: 30 when the tool printed exactly "1"
// (trimmed), absent otherwise.
std::optional<int> trashAutoDelete(const std::optional<QString>& output);

// The number of Steam libraries in the text of its library list: the entries "path" "<value>" with a
// value of at least one character, and never less than 1.
int steamLibraries(const QString& text);
// Steam's library list under the home folder.
inline constexpr const char* steamLibraryFile = "~/Library/Application Support/Steam/steamapps/libraryfolders.vdf";

// What the advisor shows.
struct State {
    bool fullDiskAccess = false;
    std::optional<int> trashAutoDelete;
    std::optional<int> steamLibraries; // absent while the library list can't be read

    bool operator==(const State&) const = default;
};

// Reads the state: the access probe, the settings tool, Steam's library list of `mac`'s user.
// Safe on any thread; takes as long as the tool (bounded by the runner).
State load(const Mac& mac, const AccessProbe& access, const Runner& run);

// One row: its title, its state (absent: no state shown), the explaining sentence, and the title
// of its button.
struct Row {
    enum class Opens { privacySettings, finderSettings, steam, mail };

    QString title;
    std::optional<bool> on;
    QString detail;
    QString buttonTitle;
    Opens opens = Opens::mail;

    bool operator==(const Row&) const = default;
};
std::vector<Row> rows(const State& state);

inline const QString headline = QStringLiteral(
    "A few Mac settings quietly cause most of what I find. Here's where each one lives.");
// Where the system keeps its Full Disk Access list; no such place exists here, so nothing opens.
inline const QString privacySettingsLink = QStringLiteral(
    "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");

} // namespace Advisor

class AdvisorView : public QWidget {
    Q_OBJECT
public:
    explicit AdvisorView(AppServices& services, Advisor::Runner runner = Advisor::processRunner(),
                         QWidget* parent = nullptr);

    const Advisor::State& state() const { return state_; }
    // Readings asked for and not yet in.
    int pendingReadings() const { return pending_; }
    // The row buttons, in row order.
    std::vector<QPushButton*> buttons() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void present(const Advisor::State& state);
    void open(Advisor::Row::Opens place);

    AppServices& services_;
    Advisor::Runner runner_;
    Advisor::State state_;
    std::uint64_t asked_ = 0; // the latest reading asked for; older answers are dropped
    int pending_ = 0;
    QVBoxLayout* rowsColumn_ = nullptr;
};

} // namespace Quandril::App
