// A value as text, for people (table, CSV, notices) and for the simulator's
// memory files; made from the decoded value, never the other way round.
#ifndef MAROVIN_HOST_MODEL_VALUE_TEXT_H
#define MAROVIN_HOST_MODEL_VALUE_TEXT_H

#include "model/TagRow.h"

#include <string>

namespace marovin_host {

// Integers without a fraction, other numbers with up to 9 significant digits.
std::string formatNumber(double value);
// The value as the table and CSV show it: the scaled number for a scaled tag;
// otherwise 0/1, the integer, or the float with up to 7 significant digits.
std::string shownValue(int area, const TagInfo &tag, const TagValue &value);
// 0x.... for integer areas, empty otherwise.
std::string hexText(int area, const TagValue &value);
// As the simulator's memory text writes it: unsigned decimal for areas 1..4,
// the shortest text that reads back as the same float for area 5.
std::string memoryText(int area, const TagValue &value);

}  // namespace marovin_host

#endif
