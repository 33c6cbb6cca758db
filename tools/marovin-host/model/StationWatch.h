// Whether each station answers, as the network outputs show it: a station
// is down when the link is down or every tag of it was given up at its last
// exchange, and up again once one of its tags is read after that. Before the
// first exchange a station counts as up (its tags say "pending"). One watch
// per output, on the loop thread.
#ifndef MAROVIN_HOST_MODEL_STATION_WATCH_H
#define MAROVIN_HOST_MODEL_STATION_WATCH_H

#include "model/RunView.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace marovin_host {

class StationWatch {
public:
    // Stations that went down or came up in one step, as slots.
    struct Turn {
        std::vector<std::size_t> down;
        std::vector<std::size_t> up;
        bool empty() const { return down.empty() && up.empty(); }
    };

    explicit StationWatch(const std::vector<TagRow> &rows);
    // Stations in the order of their first tag.
    std::size_t count() const { return stations_.size(); }
    int number(std::size_t slot) const { return stations_[slot].number; }
    const std::vector<std::uint32_t> &rowsOf(std::size_t slot) const { return stations_[slot].rows; }
    std::size_t slotOf(std::uint32_t row) const { return slotOfRow_[row]; }
    bool up(std::size_t slot) const { return stations_[slot].up; }
    // Why a station is down: "link down" or its tags' status word ("noreply").
    const char *downWord(std::size_t slot) const { return stations_[slot].why; }
    // The stations the changes of one exchange took down or brought up.
    void changed(const ChangeView &view, Turn *turn);
    // The link went down at nowMs: every station that was up is down.
    void linkDown(long long nowMs, Turn *turn);
    // A station down whose tags were read since (after the link came back
    // the values need not have changed) comes up.
    void refresh(const std::vector<TagRow> &rows, Turn *turn);

private:
    struct Station {
        int number = 0;
        std::vector<std::uint32_t> rows;
        bool up = true;
        const char *why = "";
        long long downAtMs = 0;  // monotonic
    };
    // Whether every row of the station was given up at its last exchange.
    bool allGivenUp(const std::vector<TagRow> &rows, const Station &s) const;
    void goDown(std::size_t slot, const char *why, long long nowMs, Turn *turn);

    std::vector<Station> stations_;
    std::vector<std::size_t> slotOfRow_;
    std::vector<std::uint8_t> seen_;  // per slot, for one step
};

}  // namespace marovin_host

#endif
