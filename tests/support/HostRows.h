// Tag rows as the host's rooms take them, for their tests.
#ifndef MAROVIN_TEST_HOST_ROWS_H
#define MAROVIN_TEST_HOST_ROWS_H

#include "model/TagRow.h"

namespace marovin_host {

// A tag on station:area:address.
inline TagRow tagRow(ValueRef ref, const std::string &name, bool writable = false, bool unsignedInt = false,
                     double scale = 1, double offset = 0, const char *unit = "")
{
    TagRow row;
    row.ref = ref;
    row.tag.name = name, row.tag.writable = writable, row.tag.unsignedInt = unsignedInt, row.tag.scale = scale;
    row.tag.offset = offset, row.tag.unit = unit;
    return row;
}

// The row as after a good read of raw.
inline TagRow readRow(TagRow row, std::uint32_t raw)
{
    row.reads = 1, row.lastStatus = 1, row.value = decodeValue(row.ref.area, row.tag, raw);
    return row;
}

}  // namespace marovin_host

#endif
