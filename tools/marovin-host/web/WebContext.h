// What the web server's threads share with the web output: the options, the
// tags, and what the loop publishes. Lives longer than the server.
#ifndef MAROVIN_HOST_WEB_WEB_CONTEXT_H
#define MAROVIN_HOST_WEB_WEB_CONTEXT_H

#include "config/HttpOptions.h"
#include "model/TagDirectory.h"
#include "store/Outbox.h"
#include "web/TagHistory.h"
#include "web/TraceRing.h"
#include "web/WebFeed.h"
#include "web/WebWriteSource.h"

#include <atomic>
#include <vector>

namespace marovin_host {

struct WebContext {
    WebContext(const HttpOptions &o, const std::vector<TagRow> &liveRows, WriteQueue &queue, const Outbox *outbox)
        : options(o), rows(liveRows), directory(liveRows), feed(liveRows), history(liveRows.size(), o.history),
          writes(queue), store(outbox)
    {
    }
    // The tag's index in the rows, or -1.
    long indexOf(const std::string &tag) const { return directory.indexOf(tag); }

    const HttpOptions options;
    // The loop's rows: other threads read only ref and tag, which never change during the run.
    const std::vector<TagRow> &rows;
    const TagDirectory directory;
    WebFeed feed;
    TagHistory history;
    TraceRing trace;
    WebWriteSource writes;
    const Outbox *store;  // --store: history from disk and its metrics; null without
    std::atomic<int> streams{0};  // open event streams
};

}  // namespace marovin_host

#endif
