// A tag's state as the MQTT gateway publishes it, written without a JSON
// tree: a message costs a few hundred instructions, not thousands.
#ifndef MAROVIN_HOST_JSON_TAG_MESSAGE_H
#define MAROVIN_HOST_JSON_TAG_MESSAGE_H

#include "model/TagRow.h"

#include <string>

namespace marovin_host {

// out becomes {"status":"ok","ts":"...Z","value":V}, the keys in the order a
// JSON tree would write them; no value before the first good read. V is the
// published number (publishedNumber), ts the read time on the wall clock.
// status, when given, stands for the row's own ("link down").
void writeTagState(std::string &out, const TagRow &row, long long readWallMs, const char *status = nullptr);

}  // namespace marovin_host

#endif
