#include "QuandrilCore/Cleaning/HistoryReader.h"

#include <algorithm>
#include <utility>

namespace Quandril::History {

struct Reader::State {
    Mac mac;
    bool older = false;
};

Reader::Reader(Mac mac)
    : state_(std::make_unique<State>(State { std::move(mac) }))
{
}

Reader::~Reader() = default;

Loaded Reader::newest(std::size_t count)
{
    Loaded loaded = read(state_->mac);
    std::reverse(loaded.entries.begin(), loaded.entries.end());
    state_->older = loaded.entries.size() > count;
    if (state_->older)
        loaded.entries.resize(count);
    return loaded;
}

bool Reader::hasOlder() const
{
    return state_->older;
}

} // namespace Quandril::History
