// The run as outputs see it; valid for the duration of one call.
#ifndef MAROVIN_HOST_MODEL_RUN_VIEW_H
#define MAROVIN_HOST_MODEL_RUN_VIEW_H

#include "model/LinkState.h"
#include "model/RunStats.h"
#include "model/TagRow.h"

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

}  // namespace marovin_host

#endif
