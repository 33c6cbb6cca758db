// Table drawing with ANSI cursor movement; plain blocks when not on a terminal.
#include "ValueTable.h"

#include "Areas.h"
#include "Clock.h"
#include "StatusCode.h"
#include "ValueCodec.h"

namespace marovin_host {

std::string headingLine()
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%3s %-5s %6s %14s %11s  %s", "STN", "AREA", "ADDR", "VALUE", "HEX", "STATUS");
    return buffer;
}

std::string rowLine(const ValueRow &row)
{
    const ShownValue shown = showValue(row.ref.area, row.bytes);
    std::string status = "-";
    if (row.lastStatus >= 0)
        status = std::to_string(row.lastStatus) + " " + statusWord(row.lastStatus);
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%3d %-5s %6s %14s %11s  %s", row.ref.station, areaName(row.ref.area),
                  addressLabel(row.ref.area, row.ref.address).c_str(), row.reads > 0 ? shown.value.c_str() : "?",
                  shown.hex.empty() || row.reads == 0 ? "" : shown.hex.c_str(), status.c_str());
    return buffer;
}

void ValueTable::render(const std::string &header, const std::vector<ValueRow> &rows)
{
    if (!shown_)
        return;
    lines_.clear();
    lines_.push_back(inPlace_ ? header : wallClockText() + " " + header);
    lines_.push_back(headingLine());
    for (const ValueRow &row : rows)
        lines_.push_back(rowLine(row));
    draw();
}

void ValueTable::draw()
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

void ValueTable::notice(const std::string &line)
{
    if (shown_ && inPlace_ && drawnLines_ > 0) {
        std::fprintf(out_, "\x1b[%dA\r\x1b[J%s\n", drawnLines_, line.c_str());
        drawnLines_ = 0;
        draw();
        return;
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void ValueTable::finish()
{
    std::fflush(out_);
    drawnLines_ = 0;
}

}  // namespace marovin_host
