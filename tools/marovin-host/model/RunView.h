// The run as outputs see it; valid for the duration of one call.
#ifndef MAROVIN_HOST_MODEL_RUN_VIEW_H
#define MAROVIN_HOST_MODEL_RUN_VIEW_H

#include "model/LinkState.h"
#include "model/RunStats.h"
#include "model/TagRow.h"
#include "util/Clock.h"

#include <cstdint>

#include <string>
#include <vector>

namespace marovin_host {

struct RunView {
    const std::vector<TagRow> &rows;
    const RunStats &stats;
    LinkState link;
    const std::string &portText;
    long long nowMs;  // monotonic
};

// The tags one exchange changed, told as the exchange lands: a value read
// that differs from the one told before, or a tag given up or read again.
struct ChangeView {
    const std::vector<TagRow> &rows;
    const std::uint32_t *changed;  // indices into rows
    std::size_t count;
    Moment at;  // when the exchange completed: the read time of every changed tag
};

}  // namespace marovin_host

#endif
