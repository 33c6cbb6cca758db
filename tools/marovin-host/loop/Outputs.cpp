#include "loop/Outputs.h"

namespace marovin_host {

void Outputs::add(std::unique_ptr<Output> output)
{
    if (output->wantsFrames())
        framed_.push_back(output.get());
    if (output->wantsChanges())
        listening_.push_back(output.get());
    all_.push_back(std::move(output));
}

void Outputs::refresh(const RunView &view)
{
    for (auto &o : all_)
        o->refresh(view);
    tellCollected();
}

void Outputs::tellCollected()
{
    std::vector<Notice> notices;
    for (auto &o : all_)
        o->collectNotices(notices);
    for (const Notice &n : notices)
        notice(n);
}

void Outputs::changed(const ChangeView &view)
{
    for (Output *o : listening_)
        o->changed(view);
}

void Outputs::linkChanged(const RunView &view)
{
    for (auto &o : all_)
        o->linkChanged(view);
}

void Outputs::notice(const Notice &notice)
{
    for (auto &o : all_)
        o->notice(notice);
}

void Outputs::frameSent(const std::uint8_t *bytes, std::size_t count)
{
    for (Output *o : framed_)
        o->frameSent(bytes, count);
}

void Outputs::frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note)
{
    for (Output *o : framed_)
        o->frameReceived(bytes, count, status, note);
}

void Outputs::traceEvent(const std::string &text)
{
    for (Output *o : framed_)
        o->traceEvent(text);
}

void Outputs::finish(const RunView &view)
{
    for (auto &o : all_)
        o->finish(view);
    tellCollected();
}

std::string Outputs::runFailure() const
{
    for (const auto &o : all_) {
        std::string failure = o->runFailure();
        if (!failure.empty())
            return failure;
    }
    return std::string();
}

}  // namespace marovin_host
