#include "loop/RowIndex.h"

#include <algorithm>
#include <utility>

namespace marovin_host {

RowIndex::RowIndex(std::vector<TagRow> &rows)
{
    std::vector<std::pair<Key, std::size_t>> keyed;
    keyed.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ValueRef &r = rows[i].ref;
        keyed.emplace_back(keyOf(r.station, r.area, r.address), i);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &entry : keyed) {
        if (runs_.empty() || !(runs_.back().key == entry.first))
            runs_.push_back(Run{entry.first, static_cast<std::uint32_t>(rows_.size()), 0, nullptr, 0});
        ++runs_.back().count;
        rows_.push_back(&rows[entry.second]);
    }
    // Pointers taken once the vectors are complete; neither changes afterwards.
    for (std::size_t r = 0; r < runs_.size(); ++r)
        runs_[r].next = &runs_[r + 1 < runs_.size() ? r + 1 : 0];
    last_ = runs_.empty() ? nullptr : &runs_[0];
    expected_ = last_;
}

RowIndex::Run *RowIndex::search(const Key &key)
{
    const auto it =
        std::lower_bound(runs_.begin(), runs_.end(), key, [](const Run &r, const Key &k) { return r.key < k; });
    return it == runs_.end() || !(it->key == key) ? nullptr : &*it;
}

}  // namespace marovin_host
