// What the web server's threads share with the web output: the options, the
// tags, and what the loop publishes. Lives longer than the server.
#ifndef MAROVIN_HOST_WEB_CONTEXT_H
#define MAROVIN_HOST_WEB_CONTEXT_H

#include "HttpOptions.h"
#include "TagHistory.h"
#include "TagJson.h"
#include "TraceRing.h"
#include "WebFeed.h"
#include "WebWrites.h"

#include <atomic>
#include <vector>

namespace marovin_host {

struct WebContext {
    WebContext(const HttpOptions &o, const std::vector<ValueRow> &liveRows, WriteQueue &queue)
        : options(o), rows(liveRows), directory(liveRows), feed(liveRows), history(liveRows.size(), o.history),
          writes(queue)
    {
    }
    // The tag's index in the rows, or -1.
    long indexOf(const std::string &tag) const
    {
        const ValueRow *row = directory.find(tag);
        return row ? static_cast<long>(row - rows.data()) : -1;
    }

    const HttpOptions options;
    // The loop's rows: other threads read only ref and tag, which never change during the run.
    const std::vector<ValueRow> &rows;
    const TagDirectory directory;
    WebFeed feed;
    TagHistory history;
    TraceRing trace;
    WebWrites writes;
    std::atomic<int> streams{0};  // open event streams
};

}  // namespace marovin_host

#endif
