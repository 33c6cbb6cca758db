// The one check-and-encode that every write from outside passes (command
// line, MQTT, web, and whatever source comes next), with one vocabulary of
// refusals that each source maps to its own answer: an MQTT result message,
// an HTTP status, an exit code.
#ifndef MAROVIN_HOST_WRITES_WRITE_CHECK_H
#define MAROVIN_HOST_WRITES_WRITE_CHECK_H

#include "model/Entries.h"
#include "model/TagRow.h"
#include "writes/WriteRequest.h"

#include <string>

namespace marovin_host {

enum class WriteRefusal {
    None,
    UnknownTag,      // no tag of that name
    NotWritable,     // the tag is not rw (and the source does not open every tag)
    BadPayload,      // the source could not read a value at all
    NotANumber,      // a value, but not a number of this area
    BooleanForWord,  // true/false for a value that is not a bit
    NotWhole,        // a fraction for an integer area without scaling
    OutOfRange,      // beyond the tag's range (its type, or the area's width)
    BitNotWritable,  // a status bit that the PLC does not let a write change
    Retained,        // an MQTT message the broker kept: not a live command
    QueueFull,       // the loop takes writes slower than they come
    Stopping         // the run is ending
};

// One word per refusal, for counters and logs: "unknown tag", "out of range", ...
const char *refusalName(WriteRefusal refusal);

// What a source allows beyond the tag's own rw.
struct WritePolicy {
    bool everyTag = false;  // every tag may be written, not only the rw ones
    bool toPlc = true;      // the write goes to the PLC (not only into the driver's cache)
    bool rawPattern = false;  // by address: any bit pattern of the word, signed or unsigned
};

struct WriteCheck {
    WriteRefusal refusal = WriteRefusal::None;
    std::string text;  // why, for people; empty when accepted
    bool ok() const { return refusal == WriteRefusal::None; }
};

// Checks value against the tag (writable, kind, wholeness, range in the
// tag's own units, writable bits), scales it back and encodes it into *out
// (ref, bytes, count, label, valueText); *out is left alone when refused.
WriteCheck checkWrite(const TagRow &target, const WriteValue &value, const WritePolicy &policy, WriteRequest *out);
// A refusal of the source itself, with its text.
WriteCheck refuseWrite(WriteRefusal refusal, const std::string &text);

}  // namespace marovin_host

#endif
