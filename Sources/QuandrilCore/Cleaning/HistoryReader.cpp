// History read from its end: older lines a block at a time, as far back as the entries asked for
// need, then only what is appended. It gives what load() gives for those entries: the lines of
// one clean-up as one entry at the place of its first line, every entry before a marker line of
// its id undone.

#include "QuandrilCore/Cleaning/HistoryReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/HistoryFile.h"
#include "QuandrilCore/Cleaning/HistoryRuns.h"
#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::History {

namespace {

constexpr std::size_t blockBytes = 64 * 1024;

using RunKey = std::pair<std::string, std::string>; // id, token

struct Line {
    std::uint64_t at = 0; // where it begins in the file
    HistoryEntry entry;
};

// The whole of [from, to) of the file; absent when it can't be read.
std::optional<std::string> readRange(int fd, std::uint64_t from, std::uint64_t to)
{
    std::string text(static_cast<std::size_t>(to - from), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t count = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(from + got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        got += static_cast<std::size_t>(count);
    }
    return text;
}

// The readable lines of `text`, which begins at `offset` in the file and ends with a line feed.
std::vector<Line> linesOf(std::string_view text, std::uint64_t offset)
{
    std::vector<Line> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            break;
        if (end > start)
            if (auto entry = decodeLine(text.substr(start, end - start)))
                lines.push_back({ offset + start, std::move(*entry) });
        start = end + 1;
    }
    return lines;
}

// The lines of a stretch of the file as entries, the lines of one clean-up merged (see parse).
struct Stretch {
    std::map<std::uint64_t, HistoryEntry> entries; // by the place of each entry's first line
    std::map<RunKey, std::uint64_t> open;          // clean-ups a later line may still add to
    std::map<std::string, std::uint64_t> markers;  // the newest marker line of each id

    void marker(const Line& line)
    {
        for (auto it = open.lower_bound({ line.entry.id, {} }); it != open.end() && it->first.first == line.entry.id;)
            it = open.erase(it);
        auto& newest = markers[line.entry.id];
        newest = std::max(newest, line.at + 1);
    }

    // Adds a line to the clean-up it continues; false when it continues none here.
    bool fold(const Line& line, const RunKey& key)
    {
        const auto it = open.find(key);
        if (it == open.end() || it->second > line.at)
            return false;
        auto& entry = entries.at(it->second);
        if (entry.at != line.entry.at)
            return false;
        Runs::fold(entry, line.entry);
        return true;
    }

    void begin(Line line, const std::optional<RunKey>& key)
    {
        if (key)
            open[*key] = line.at;
        line.entry.run.reset();
        entries.emplace(line.at, std::move(line.entry));
    }

    bool markedAfter(const std::string& id, std::uint64_t at) const
    {
        const auto it = markers.find(id);
        return it != markers.end() && it->second > at + 1;
    }
};

} // namespace

struct Reader::State {
    explicit State(Mac machine)
        : mac(std::move(machine))
    {
    }

    Mac mac;
    bool begun = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t start = 0; // where the lines read begin
    std::uint64_t end = 0;   // where they end: after the last whole line
    Stretch held;
    // Later lines of clean-ups whose first line lies before `start`, held until it is read.
    std::vector<Line> orphans;
    // The clean-ups still open whose entry went to keep what is held small: a later line of one
    // waits among the orphans too.
    std::map<RunKey, std::uint64_t> dropped;
    bool trimmed = false; // then reading further back reads anew from the end
    bool older = false;

    void reset()
    {
        begun = false;
        start = end = 0;
        held = {};
        orphans.clear();
        dropped.clear();
        trimmed = false;
        older = false;
    }

    // A line appended after those read.
    void append(Line line)
    {
        if (line.entry.isUndone()) {
            for (auto& [at, entry] : held.entries)
                if (entry.id == line.entry.id)
                    entry.undone = true;
            held.marker(line);
            for (auto it = dropped.lower_bound({ line.entry.id, {} });
                 it != dropped.end() && it->first.first == line.entry.id;)
                it = dropped.erase(it);
            held.begin(std::move(line), std::nullopt);
            return;
        }
        const auto mark = Runs::markOf(line.entry);
        if (!mark) {
            held.begin(std::move(line), std::nullopt);
            return;
        }
        RunKey key { line.entry.id, mark->token };
        if (held.fold(line, key))
            return;
        // A later line of a clean-up begun before what was read goes with it, unless a marker line
        // of its id came between.
        if (dropped.count(key) || (mark->part > 1 && start > 0 && !held.markers.count(line.entry.id))) {
            orphans.push_back(std::move(line));
            return;
        }
        held.begin(std::move(line), key);
    }

    // The lines of [from, start), older than those held.
    void prepend(std::vector<Line> lines, std::uint64_t from)
    {
        Stretch older;
        std::vector<Line> early;
        for (auto& line : lines) {
            if (line.entry.isUndone()) {
                older.marker(line);
                older.begin(std::move(line), std::nullopt);
                continue;
            }
            const auto mark = Runs::markOf(line.entry);
            std::optional<RunKey> key;
            if (mark)
                key = RunKey { line.entry.id, mark->token };
            if (key && older.fold(line, *key))
                continue;
            // A later line of a clean-up begun further back waits for it.
            if (key && mark->part > 1 && from > 0 && !older.markers.count(line.entry.id)) {
                early.push_back(std::move(line));
                continue;
            }
            older.begin(std::move(line), key);
        }
        // A later line waiting for its clean-up's first line joins it there, or begins an entry
        // of its own when a marker line of its id came between, or nothing older is left.
        std::vector<Line> waiting = std::move(early);
        for (auto& orphan : orphans) {
            RunKey key { orphan.entry.id, Runs::markOf(orphan.entry)->token };
            if (older.fold(orphan, key) || held.fold(orphan, key))
                continue;
            if (from > 0 && !older.markers.count(orphan.entry.id)) {
                waiting.push_back(std::move(orphan));
                continue;
            }
            const std::uint64_t at = orphan.at;
            const bool undone = held.markedAfter(orphan.entry.id, at);
            if (undone)
                orphan.entry.undone = true;
            held.begin(std::move(orphan), key);
            if (undone)
                held.open.erase(key);
        }
        orphans = std::move(waiting);
        for (auto& [at, entry] : older.entries) {
            if (older.markedAfter(entry.id, at) || held.markedAfter(entry.id, at))
                entry.undone = true;
        }
        for (auto& [key, at] : older.open) {
            dropped.erase(key);
            if (!held.open.count(key) && !held.markedAfter(key.first, at))
                held.open.emplace(key, at);
        }
        for (auto& [id, at] : older.markers)
            held.markers[id] = std::max(held.markers[id], at);
        held.entries.merge(older.entries);
        start = from;
    }
};

Reader::Reader(Mac mac)
    : state_(std::make_unique<State>(std::move(mac)))
{
}

Reader::~Reader() = default;

Loaded Reader::newest(std::size_t count)
{
    State& s = *state_;
    const std::string file = path(s.mac);
    // Never through a link, and never waiting on a pipe in the file's place.
    const Platform::Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    int error = 0;
    if (!fd || ::fstat(fd.get(), &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    if (error) {
        s.reset();
        return { {}, File::whyUnread(file, error) };
    }
    if (auto why = File::untrusted(info); !why.empty()) {
        s.reset();
        return { {}, std::move(why) };
    }
    File::makePrivate(file, info);

    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    // Replaced, or cut short: nothing read before holds.
    if (s.begun && (info.st_dev != s.device || info.st_ino != s.inode || size < s.end))
        s.reset();
    if (!s.begun) {
        s.begun = true;
        s.device = info.st_dev;
        s.inode = info.st_ino;
        // Reading begins after the last whole line; a line still being written waits for its end.
        std::uint64_t from = size;
        while (from > 0) {
            const std::uint64_t block = std::min<std::uint64_t>(from, blockBytes);
            const auto text = readRange(fd.get(), from - block, from);
            if (!text)
                break;
            if (const auto last = text->rfind('\n'); last != std::string::npos) {
                from = from - block + last + 1;
                break;
            }
            from -= block;
        }
        s.start = s.end = from;
    } else if (size > s.end) {
        if (const auto text = readRange(fd.get(), s.end, size)) {
            const auto last = text->rfind('\n');
            if (last != std::string::npos) {
                for (auto& line : linesOf(std::string_view(*text).substr(0, last + 1), s.end))
                    s.append(std::move(line));
                s.end += last + 1;
            }
        }
    }

    // Older lines, a block at a time, until one more entry than asked for shows there are older
    // ones, and no later line of a clean-up that may begin an entry among them still waits.
    const auto needMore = [&] {
        if (s.held.entries.size() <= count)
            return true;
        return !s.orphans.empty()
            && s.orphans.back().at > std::prev(s.held.entries.end(), std::ptrdiff_t(count))->first;
    };
    if (s.trimmed && s.start > 0 && needMore()) {
        s.reset();
        return newest(count);
    }
    std::size_t block = blockBytes;
    while (s.start > 0 && needMore()) {
        const std::uint64_t from = s.start > block ? s.start - block - 1 : 0;
        const auto text = readRange(fd.get(), from, s.start);
        if (!text)
            break;
        std::size_t first = 0;
        if (from > 0) {
            const auto feed = text->find('\n');
            if (feed == std::string::npos || feed + 1 >= text->size()) {
                block *= 2; // a line longer than the block
                continue;
            }
            first = feed + 1;
        }
        s.prepend(linesOf(std::string_view(*text).substr(first), from + first), from + first);
    }
    if (s.start == 0 && !s.orphans.empty())
        s.prepend({}, 0);

    Loaded loaded;
    for (auto it = s.held.entries.rbegin(); it != s.held.entries.rend() && loaded.entries.size() < count; ++it)
        loaded.entries.push_back(it->second);
    s.older = s.held.entries.size() > count;
    // Only about what is asked for is held; the oldest entries go, what is still open noted.
    while (s.held.entries.size() > count + count / 2 + 16) {
        const auto oldest = s.held.entries.begin();
        if (!s.orphans.empty() && s.orphans.front().at <= std::next(oldest)->first)
            break;
        for (auto it = s.held.open.begin(); it != s.held.open.end();) {
            if (it->second == oldest->first) {
                s.dropped.insert(*it);
                it = s.held.open.erase(it);
            } else {
                ++it;
            }
        }
        s.held.entries.erase(oldest);
        s.start = s.held.entries.begin()->first;
        s.trimmed = true;
    }
    return loaded;
}

bool Reader::hasOlder() const
{
    return state_->older;
}

} // namespace Quandril::History
