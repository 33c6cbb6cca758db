// Tag files as marovin-host reads them (--tags): whatever is accepted names
// each tag once, with a valid name, a station, area and count in range, and
// scaling and units a tag may carry.
#include <cmath>
#include <cstdint>
#include <set>
#include <sstream>
#include <vector>

#include "FuzzCheck.h"
#include "config/TagFile.h"
#include "model/Areas.h"

using namespace marovin_host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::istringstream in(marovin_fuzz::text(data, size));
    std::vector<VariableEntry> entries;
    std::string error;
    if (!readTagText(in, "tags", &entries, &error)) {
        check(error.compare(0, 5, "tags:") == 0);
        return 0;
    }
    std::set<std::string> names;
    for (const VariableEntry &s : entries) {
        check(s.named && validTagName(s.tag.name) && names.insert(s.tag.name).second);
        check(s.station >= 0 && s.station <= 255 && s.area >= 0 && s.area <= kDecimalFloat);
        check(s.count >= 1 && s.count <= 4096 && !s.addressText.empty());
        check(std::isfinite(s.tag.scale) && s.tag.scale != 0.0 && std::isfinite(s.tag.offset));
        check(s.tag.unit.size() <= 16);
        check(!(s.area == kBits && s.tag.scaled()));
    }
    return 0;
}
