// The recent values of every tag, one sample per refresh, for the trend.
#ifndef MAROVIN_HOST_WEB_TAG_HISTORY_H
#define MAROVIN_HOST_WEB_TAG_HISTORY_H

#include "model/TagRow.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <mutex>
#include <vector>

namespace marovin_host {

class TagHistory {
public:
    // depth samples for each of tags tags; the oldest go first.
    TagHistory(std::size_t tags, std::size_t depth);
    // One sample of every row at wall time wallMs (loop thread).
    void add(long long wallMs, const std::vector<TagRow> &rows);
    // [[wall ms, value or null], ...] of the tag at index tag, oldest first (any thread).
    nlohmann::json points(std::size_t tag) const;
    std::size_t depth() const { return depth_; }

private:
    const std::size_t tags_;
    const std::size_t depth_;
    mutable std::mutex mutex_;
    std::size_t next_ = 0;   // slot of the next sample
    std::size_t count_ = 0;  // samples kept, up to depth_
    std::vector<long long> times_;
    std::vector<double> values_;  // tag-major: values_[tag * depth_ + slot]; NaN: no value
};

}  // namespace marovin_host

#endif
