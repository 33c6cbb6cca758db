// Tag files: NAME = STATION:AREA:ADDR[:COUNT] [rw] [type=T] [scale=K] [offset=B] [unit=U]
// lines that name values for people and for the outputs.
#ifndef MAROVIN_HOST_CONFIG_TAG_FILE_H
#define MAROVIN_HOST_CONFIG_TAG_FILE_H

#include "model/Entries.h"

#include <istream>
#include <string>
#include <vector>

namespace marovin_host {

// Reads a tag file ('#' comments); false with "FILE:LINE: ..." in *error.
bool readTagFile(const std::string &path, std::vector<VariableEntry> *out, std::string *error);
// The same for a tag file's text, read from `in`; `path` names it in messages.
bool readTagText(std::istream &in, const std::string &path, std::vector<VariableEntry> *out, std::string *error);

}  // namespace marovin_host

#endif
