// Named tags: what outputs and write sources call a value, and how they scale it.
#ifndef MAROVIN_HOST_TAGS_H
#define MAROVIN_HOST_TAGS_H

#include "VariableArgs.h"

#include <QByteArray>

#include <string>
#include <vector>

namespace marovin_host {

// STATION:AREA:ADDR with the area's name and the address as lower-case hex
// (decimal bit number for area 0): the name of a value given with -v.
std::string canonicalName(const ValueRef &ref);
// The name of value k of a tag of count values: NAME, or NAME[k] when count > 1.
std::string indexedName(const std::string &base, int count, int k);
// Whether text may name a tag: letters, digits and _ . : - only, 1..64 characters.
bool validTagName(const std::string &text);
// Reads NAME = STATION:AREA:ADDR[:COUNT] [rw] [scale=K] [offset=B] [unit=U]
// lines ('#' comments); false with "FILE:LINE: ..." in *error.
bool readTagFile(const std::string &path, std::vector<VariableArg> *out, std::string *error);

// The value in engineering units (raw * scale + offset); false before a good read
// or for an area without a numeric value.
bool tagNumber(int area, const TagInfo &tag, const QByteArray &bytes, double *out);
// The number as people read it: integers without a fraction, others with up to 9 digits.
std::string formatNumber(double value);
// The raw value text to write for an engineering value given as text; false
// with a message for a value that is not a number.
bool rawWriteText(int area, const TagInfo &tag, const std::string &text, std::string *raw, std::string *error);

}  // namespace marovin_host

#endif
