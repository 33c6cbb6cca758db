#include "outputs/TraceOutput.h"

#include "model/FrameText.h"
#include "util/Clock.h"

#include <cerrno>
#include <cstring>

namespace marovin_host {

TraceOutput::~TraceOutput()
{
    if (out_ == stdout)
        std::fflush(out_);
    else
        std::fclose(out_);
}

std::unique_ptr<TraceOutput> TraceOutput::open(const std::string &path, std::string *error)
{
    if (path.empty() || path == "-")
        return std::unique_ptr<TraceOutput>(new TraceOutput(stdout));
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out) {
        *error = "cannot write trace file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TraceOutput>(new TraceOutput(out));
}

void TraceOutput::frameSent(const std::uint8_t *bytes, std::size_t count)
{
    std::fprintf(out_, "%s\n", sentFrameLine(wallClockText(), bytes, count).c_str());
}

void TraceOutput::frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note)
{
    std::fprintf(out_, "%s\n", receivedFrameLine(wallClockText(), bytes, count, status, note).c_str());
}

void TraceOutput::traceEvent(const std::string &text)
{
    std::fprintf(out_, "%s %s\n", wallClockText().c_str(), text.c_str());
    std::fflush(out_);
}

}  // namespace marovin_host
