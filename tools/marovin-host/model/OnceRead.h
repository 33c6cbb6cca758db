// A once-read: values read a single time and reported, not kept up to date.
#ifndef MAROVIN_HOST_MODEL_ONCE_READ_H
#define MAROVIN_HOST_MODEL_ONCE_READ_H

#include "model/Entries.h"
#include "model/TagValue.h"

#include <vector>

namespace marovin_host {

struct OnceRead {
    enum State { Pending, Done, Failed, Rejected };
    VariableEntry entry;
    ValueRef first;  // first value; further values follow at the area's address step
    int ownerId = 0;
    State state = Pending;
    std::vector<TagValue> values;  // entry.count of them once Done
    // The ref of value k.
    ValueRef at(int k) const;
};

}  // namespace marovin_host

#endif
