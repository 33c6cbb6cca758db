#include "json/TagMessage.h"

#include "model/Status.h"
#include "model/ValueText.h"
#include "util/Clock.h"

namespace marovin_host {

void writeTagState(std::string &out, const TagRow &row, long long readWallMs, const char *status)
{
    out.assign("{\"status\":\"");
    out += status ? status : rowStatusWord(row.lastStatus);
    out += "\",\"ts\":\"";
    appendIsoUtc(out, readWallMs);
    out += '"';
    if (row.reads > 0) {
        out += ",\"value\":";
        appendShortest(out, publishedNumber(row.ref.area, row.tag, row.value));
    }
    out += '}';
}

}  // namespace marovin_host
