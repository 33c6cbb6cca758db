// Variables, writes and once-reads as given on the command line or in a file,
// before the driver has checked their addresses.
#ifndef MAROVIN_HOST_MODEL_ENTRIES_H
#define MAROVIN_HOST_MODEL_ENTRIES_H

#include "model/Tag.h"

#include <string>
#include <vector>

namespace marovin_host {

// STATION:AREA:ADDR[:COUNT] (COUNT in values), or a tag file's line.
struct VariableEntry {
    int station = 1;
    int area = 0;
    std::string addressText;  // bare digits: decimal for area 0, hex otherwise
    int count = 1;
    std::string source;       // as written, for messages
    std::string origin;       // "FILE:LINE" for variables read from a file
    bool named = false;       // from a tag file; otherwise named canonically
    TagInfo tag;              // tag.name: the base name of a named tag
};

// A value to write as a source gives it, before the tag's checks.
struct WriteValue {
    enum Kind { Number, Boolean, NotANumber } kind = Number;
    double number = 0;
    bool boolean = false;
    std::string text;  // as given, for messages
};

// STATION:AREA:ADDR=VALUE[,VALUE...]
struct WriteEntry {
    int station = 1;
    int area = 0;
    std::string addressText;
    std::vector<WriteValue> values;
    std::string source;
};

// One value of a -w write at its own address, its address checked.
struct AddressedWrite {
    ValueRef ref;
    WriteValue value;
    std::string source;  // the -w text, for messages
};

}  // namespace marovin_host

#endif
