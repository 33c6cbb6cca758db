#include "model/StationWatch.h"

#include "model/Status.h"

#include <map>

namespace marovin_host {

namespace {

const char *const kLinkDown = "link down";

}  // namespace

StationWatch::StationWatch(const std::vector<TagRow> &rows) : slotOfRow_(rows.size())
{
    std::map<int, std::size_t> slots;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int number = rows[i].ref.station;
        const auto found = slots.emplace(number, stations_.size());
        if (found.second) {
            stations_.emplace_back();
            stations_.back().number = number;
        }
        slotOfRow_[i] = found.first->second;
        stations_[found.first->second].rows.push_back(static_cast<std::uint32_t>(i));
    }
    seen_.assign(stations_.size(), 0);
}

bool StationWatch::allGivenUp(const std::vector<TagRow> &rows, const Station &s) const
{
    for (const std::uint32_t i : s.rows) {
        if (!isError(rows[i].lastStatus))
            return false;
    }
    return true;
}

void StationWatch::goDown(std::size_t slot, const char *why, long long nowMs, Turn *turn)
{
    Station &s = stations_[slot];
    s.up = false;
    s.why = why;
    s.downAtMs = nowMs;
    turn->down.push_back(slot);
}

void StationWatch::changed(const ChangeView &view, Turn *turn)
{
    for (std::size_t k = 0; k < view.count; ++k) {
        const std::uint32_t i = view.changed[k];
        const std::size_t slot = slotOfRow_[i];
        Station &s = stations_[slot];
        const TagRow &row = view.rows[i];
        if (!s.up && isSuccess(row.lastStatus) && (s.why != kLinkDown || row.lastReadMs > s.downAtMs)) {
            s.up = true;
            turn->up.push_back(slot);
        } else if (s.up && isError(row.lastStatus) && !seen_[slot]) {
            // A station is judged once per exchange, however many of its rows changed.
            seen_[slot] = 1;
            if (allGivenUp(view.rows, s))
                goDown(slot, statusWord(row.lastStatus), view.at.monoMs, turn);
        }
    }
    for (std::size_t k = 0; k < view.count; ++k)
        seen_[slotOfRow_[view.changed[k]]] = 0;
}

void StationWatch::linkDown(long long nowMs, Turn *turn)
{
    for (std::size_t slot = 0; slot < stations_.size(); ++slot) {
        if (stations_[slot].up)
            goDown(slot, kLinkDown, nowMs, turn);
    }
}

void StationWatch::refresh(const std::vector<TagRow> &rows, Turn *turn)
{
    for (std::size_t slot = 0; slot < stations_.size(); ++slot) {
        Station &s = stations_[slot];
        if (s.up)
            continue;
        for (const std::uint32_t i : s.rows) {
            if (isSuccess(rows[i].lastStatus) && rows[i].reads > 0 && rows[i].lastReadMs > s.downAtMs) {
                s.up = true;
                turn->up.push_back(slot);
                break;
            }
        }
    }
}

}  // namespace marovin_host
