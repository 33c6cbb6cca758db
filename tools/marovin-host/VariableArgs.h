// Variables, writes and once-reads as given on the command line or in a file.
#ifndef MAROVIN_HOST_VARIABLE_ARGS_H
#define MAROVIN_HOST_VARIABLE_ARGS_H

#include <string>
#include <vector>

namespace marovin_host {

// One value the host shows: station, area and numeric address.
struct ValueRef {
    int station = 1;
    int area = 0;
    int address = 0;
};

// What a tag adds to a value: its name, whether outside writers may change
// it, and the linear scaling shown to people and outputs (raw * scale + offset).
struct TagInfo {
    std::string name;
    bool writable = false;
    double scale = 1.0;
    double offset = 0.0;
    std::string unit;
    bool scaled() const { return scale != 1.0 || offset != 0.0; }
};

// STATION:AREA:ADDR[:COUNT] (COUNT in values); the address is checked later by the driver.
struct VariableArg {
    int station = 1;
    int area = 0;
    std::string addressText;   // bare digits: decimal for area 0, hex otherwise
    int count = 1;
    std::string source;        // as written, for messages
    std::string origin;        // "FILE:LINE" for variables read from a file
    bool named = false;        // from a tag file; otherwise named canonically
    TagInfo tag;               // tag.name: the base name of a named tag
};

// STATION:AREA:ADDR=VALUE[,VALUE...]
struct WriteArg {
    int station = 1;
    int area = 0;
    std::string addressText;
    std::vector<std::string> values;
    std::string source;
};

// text without leading and trailing blanks.
std::string trim(const std::string &text);
// Parses STATION:AREA:ADDR[:COUNT]; false with a message ("bad KIND '...': ...") in *error.
bool parseVariable(const std::string &text, VariableArg *out, std::string *error, const char *kind = "variable");
// Parses STATION:AREA:ADDR=VALUE[,VALUE...]; false with a message in *error.
bool parseWrite(const std::string &text, WriteArg *out, std::string *error);
// Reads one variable per line ('#' starts a comment); false with "FILE:LINE: ..." in *error.
bool readVariableFile(const std::string &path, std::vector<VariableArg> *out, std::string *error);

}  // namespace marovin_host

#endif
