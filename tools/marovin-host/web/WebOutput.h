// The web panel as an output: at each refresh it publishes a snapshot of the
// rows and counters for the server's threads and adds a sample of every tag
// to the trend history; notices and link changes go to the open event
// streams; frames go to the trace ring while a browser watches the trace.
#ifndef MAROVIN_HOST_WEB_WEB_OUTPUT_H
#define MAROVIN_HOST_WEB_WEB_OUTPUT_H

#include "loop/Output.h"
#include "web/WebContext.h"
#include "web/http/WebServer.h"

#include <memory>
#include <string>

namespace marovin_host {

class WebOutput : public Output {
public:
    // Starts the server for the rows (which must outlive it) and the write
    // queue; null with a message when it cannot listen.
    static std::unique_ptr<WebOutput> start(const HttpOptions &options, const std::vector<TagRow> &rows,
                                            WriteQueue &queue, std::string *error);
    ~WebOutput() override;
    // http://ADDR:PORT/
    std::string url() const;

    void refresh(const RunView &view) override;
    bool wantsChanges() const override { return true; }
    void changed(const ChangeView &view) override;
    void linkChanged(const RunView &view) override;
    void notice(const Notice &notice) override;
    void collectNotices(std::vector<Notice> &out) override;
    // With --http-trace; frames are then kept only while a page watches the trace.
    bool wantsFrames() const override { return context_.options.trace; }
    void frameSent(const std::uint8_t *bytes, std::size_t count) override;
    void frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note) override;
    void traceEvent(const std::string &text) override;
    // Stops the server: the run's values are not served after it ended.
    void finish(const RunView &view) override;

private:
    WebOutput(const HttpOptions &options, const std::vector<TagRow> &rows, WriteQueue &queue);

    WebContext context_;
    WebServer server_;
    std::vector<Notice> notices_;  // the output's own, for the next collect
};

}  // namespace marovin_host

#endif
