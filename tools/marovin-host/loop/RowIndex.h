// The rows by the variable they show, so that each reply reaches its rows
// without a search: the driver reads its list in a fixed order, so the run
// after the last one looked up is nearly always the next asked for.
#ifndef MAROVIN_HOST_LOOP_ROW_INDEX_H
#define MAROVIN_HOST_LOOP_ROW_INDEX_H

#include "model/Areas.h"
#include "model/TagRow.h"

#include <cstdint>
#include <vector>

namespace marovin_host {

class RowIndex {
public:
    // A variable as the rows are looked up by; the bit area has one per station.
    struct Key {
        int station;
        int area;
        int address;  // 0 for the bit area
        bool operator<(const Key &other) const
        {
            if (station != other.station)
                return station < other.station;
            if (area != other.area)
                return area < other.area;
            return address < other.address;
        }
        bool operator==(const Key &other) const
        {
            return station == other.station && area == other.area && address == other.address;
        }
    };
    // The rows of one key: rows()[first, first + count).
    struct Run {
        Key key;
        std::uint32_t first;
        std::uint32_t count;
        Run *next;  // the run looked up after this one last time
        std::uint64_t replyHash;  // of the last good reply, while changes are watched
    };

    static Key keyOf(int station, int area, int address) { return Key{station, area, area == kBits ? 0 : address}; }

    // Sorts the rows' indices by key, once: rows do not change during the loop.
    explicit RowIndex(std::vector<TagRow> &rows);
    RowIndex(const RowIndex &) = delete;
    RowIndex &operator=(const RowIndex &) = delete;

    // The rows of the variable, or null when no row shows it.
    Run *find(int station, int area, int address)
    {
        const Key key = keyOf(station, area, address);
        Run *run = expected_;
        if (!run || !(run->key == key)) {
            run = search(key);
            if (!run)
                return nullptr;
            last_->next = run;
        }
        last_ = run;
        expected_ = run->next;
        return run;
    }
    TagRow *const *rowsOf(const Run &run) const { return rows_.data() + run.first; }

private:
    Run *search(const Key &key);

    std::vector<Run> runs_;
    std::vector<TagRow *> rows_;
    Run *last_ = nullptr;
    Run *expected_ = nullptr;  // null without rows
};

}  // namespace marovin_host

#endif
