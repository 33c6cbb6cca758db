// A tag as the run keeps it: what it is, its last status and its last value.
#ifndef MAROVIN_HOST_MODEL_TAG_ROW_H
#define MAROVIN_HOST_MODEL_TAG_ROW_H

#include "model/Tag.h"
#include "model/TagValue.h"

namespace marovin_host {

// One value read cyclically: a tag of the outputs, a row of the table.
struct TagRow {
    ValueRef ref;
    TagInfo tag;
    int lastStatus = -1;       // -1: no exchange yet
    long long reads = 0;       // finished good reads of its variable
    long long lastReadMs = 0;  // monotonic time of the last finished good read
    TagValue value;            // the last value fetched; meaningful once reads > 0
};

}  // namespace marovin_host

#endif
