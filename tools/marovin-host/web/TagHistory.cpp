#include "web/TagHistory.h"

#include "json/JsonText.h"

#include <cmath>
#include <limits>

namespace marovin_host {

TagHistory::TagHistory(std::size_t tags, std::size_t depth)
    : tags_(tags), depth_(depth), times_(depth), values_(tags * depth, std::numeric_limits<double>::quiet_NaN())
{
}

void TagHistory::add(long long wallMs, const std::vector<TagRow> &rows)
{
    std::lock_guard<std::mutex> lock(mutex_);
    times_[next_] = wallMs;
    for (std::size_t t = 0; t < tags_ && t < rows.size(); ++t) {
        values_[t * depth_ + next_] = rows[t].reads > 0 ? rows[t].value.scaled : std::numeric_limits<double>::quiet_NaN();
    }
    next_ = (next_ + 1) % depth_;
    if (count_ < depth_)
        ++count_;
}

nlohmann::json TagHistory::points(std::size_t tag) const
{
    nlohmann::json out = nlohmann::json::array();
    std::lock_guard<std::mutex> lock(mutex_);
    if (tag >= tags_)
        return out;
    for (std::size_t k = 0; k < count_; ++k) {
        const std::size_t slot = (next_ + depth_ - count_ + k) % depth_;
        // Whole numbers as integers: a tenth of the text for the common case.
        out.push_back({times_[slot], numberJson(values_[tag * depth_ + slot])});
    }
    return out;
}

}  // namespace marovin_host
