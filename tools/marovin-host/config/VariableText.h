// Parsing of the STATION:AREA:ADDR[:COUNT] and STATION:AREA:ADDR=VALUE forms
// of the command line and of variable files.
#ifndef MAROVIN_HOST_CONFIG_VARIABLE_TEXT_H
#define MAROVIN_HOST_CONFIG_VARIABLE_TEXT_H

#include "model/Entries.h"

#include <string>
#include <vector>

namespace marovin_host {

// Parses STATION:AREA:ADDR[:COUNT]; false with a message ("bad KIND '...': ...") in *error.
bool parseVariable(const std::string &text, VariableEntry *out, std::string *error, const char *kind = "variable");
// Parses STATION:AREA:ADDR=VALUE[,VALUE...]; false with a message in *error.
// A value that is no number is kept as such: the write check refuses it.
bool parseWrite(const std::string &text, WriteEntry *out, std::string *error);
// A value as a person types it for the area: decimal or 0x-hex integers for
// integer areas and bits, decimal numbers for the float area.
WriteValue parseWriteValue(int area, const std::string &text);
// Reads one variable per line ('#' starts a comment); false with "FILE:LINE: ..." in *error.
bool readVariableFile(const std::string &path, std::vector<VariableEntry> *out, std::string *error);

}  // namespace marovin_host

#endif
