// Table drawing with ANSI cursor movement; plain blocks when not on a terminal.
#include "outputs/TableOutput.h"

#include "model/Areas.h"
#include "model/Status.h"
#include "model/ValueText.h"
#include "util/Clock.h"

#include <algorithm>

namespace marovin_host {

namespace {
const int kMaxNameWidth = 32;
}

std::string tableHeader(const RunView &v)
{
    const double elapsed = (v.nowMs - v.stats.startMs) / 1000.0;
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s | link %s | %lld exchanges, %.0f/s | cycles %lld | %.1f s",
                  v.portText.c_str(), linkStateName(v.link), v.stats.exchanges,
                  elapsed > 0 ? v.stats.exchanges / elapsed : 0.0, v.stats.cycles, elapsed);
    return buffer;
}

std::string headingLine(int nameWidth)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%-*s %3s %-5s %6s %14s %11s %-6s %s", nameWidth, "NAME", "STN", "AREA", "ADDR",
                  "VALUE", "HEX", "UNIT", "STATUS");
    return buffer;
}

std::string rowLine(const TagRow &row, int nameWidth)
{
    std::string status = "-";
    if (row.lastStatus >= 0)
        status = std::to_string(row.lastStatus) + " " + statusWord(row.lastStatus);
    const bool read = row.reads > 0;
    char buffer[320];
    std::snprintf(buffer, sizeof buffer, "%-*.*s %3d %-5s %6s %14s %11s %-6s %s", nameWidth, kMaxNameWidth,
                  row.tag.name.c_str(), row.ref.station, areaName(row.ref.area),
                  addressLabel(row.ref.area, row.ref.address).c_str(),
                  read ? shownValue(row.ref.area, row.tag, row.value).c_str() : "?",
                  read ? hexText(row.ref.area, row.value).c_str() : "", row.tag.unit.c_str(), status.c_str());
    return buffer;
}

void TableOutput::refresh(const RunView &view)
{
    if (!shown_)
        return;
    int nameWidth = 4;
    for (const TagRow &row : view.rows)
        nameWidth = std::max(nameWidth, std::min(kMaxNameWidth, static_cast<int>(row.tag.name.size())));
    lines_.clear();
    const std::string header = tableHeader(view);
    lines_.push_back(inPlace_ ? header : wallClockText() + " " + header);
    lines_.push_back(headingLine(nameWidth));
    for (const TagRow &row : view.rows)
        lines_.push_back(rowLine(row, nameWidth));
    draw();
}

void TableOutput::draw()
{
    if (inPlace_ && drawnLines_ > 0)
        std::fprintf(out_, "\x1b[%dA\r", drawnLines_);
    for (const std::string &line : lines_)
        std::fprintf(out_, inPlace_ ? "\x1b[2K%s\n" : "%s\n", line.c_str());
    if (inPlace_) {
        std::fputs("\x1b[J", out_);
        drawnLines_ = static_cast<int>(lines_.size());
    } else {
        std::fputc('\n', out_);
    }
    std::fflush(out_);
}

void TableOutput::notice(const Notice &notice)
{
    const std::string line = wallClockText() + " " + notice.text;
    if (shown_ && inPlace_ && drawnLines_ > 0) {
        std::fprintf(out_, "\x1b[%dA\r\x1b[J%s\n", drawnLines_, line.c_str());
        drawnLines_ = 0;
        draw();
        return;
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void TableOutput::finish(const RunView &)
{
    std::fflush(out_);
    drawnLines_ = 0;
}

}  // namespace marovin_host
