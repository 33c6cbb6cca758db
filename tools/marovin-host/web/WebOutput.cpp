#include "web/WebOutput.h"

#include "util/Clock.h"
#include "util/StopSignals.h"

namespace marovin_host {

WebOutput::WebOutput(const HttpOptions &options, const std::vector<TagRow> &rows, WriteQueue &queue)
    : context_(options, rows, queue), server_(context_)
{
}

std::unique_ptr<WebOutput> WebOutput::start(const HttpOptions &options, const std::vector<TagRow> &rows,
                                            WriteQueue &queue, std::string *error)
{
    std::unique_ptr<WebOutput> web(new WebOutput(options, rows, queue));
    if (!web->server_.start(error))
        return nullptr;
    return web;
}

WebOutput::~WebOutput()
{
    server_.stop();
}

std::string WebOutput::url() const
{
    const std::string &host = context_.options.host;
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(context_.options.tls() ? "https://" : "http://") + (v6 ? "[" + host + "]" : host) + ":" +
           std::to_string(server_.port()) + "/";
}

void WebOutput::refresh(const RunView &view)
{
    if (context_.options.tls() && takeReloadRequest()) {
        std::string error;
        notices_.emplace_back(Notice::Info, server_.reloadCertificate(&error)
                                                ? "web panel: certificate read again"
                                                : "web panel: certificate not read again: " + error);
    }
    const Moment at = momentNow();
    context_.history.add(at.wallMs, view.rows);
    context_.feed.publish(view, at);
    context_.trace.updateCollecting(view.nowMs);
}

void WebOutput::collectNotices(std::vector<Notice> &out)
{
    for (Notice &n : notices_)
        out.push_back(std::move(n));
    notices_.clear();
}

void WebOutput::changed(const ChangeView &view)
{
    context_.feed.change(view);
}

void WebOutput::linkChanged(const RunView &view)
{
    context_.feed.addEvent("link", {{"link", linkStateName(view.link)}, {"ts", isoUtcText(wallClockMs())}});
}

void WebOutput::notice(const Notice &notice)
{
    context_.feed.addEvent("notice",
                           {{"kind", noticeKindName(notice.kind)}, {"text", notice.text}, {"ts", isoUtcText(wallClockMs())}});
}

void WebOutput::frameSent(const std::uint8_t *bytes, std::size_t count)
{
    if (context_.trace.collecting())
        context_.trace.addFrame(true, bytes, count, 0, nullptr);
}

void WebOutput::frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note)
{
    if (context_.trace.collecting())
        context_.trace.addFrame(false, bytes, count, status, &note);
}

void WebOutput::traceEvent(const std::string &text)
{
    if (context_.trace.collecting())
        context_.trace.addEvent(text);
}

void WebOutput::finish(const RunView &)
{
    server_.stop();
}

}  // namespace marovin_host
