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
// The number the network outputs publish: the scaled value at the precision
// the tag implies, so that a tag with scale=0.1 says 0.3, not
// 0.30000000000000004. Decimals: those of scale and offset for an integer
// area, plus those of the float itself for the float area.
double publishedNumber(int area, const TagInfo &tag, const TagValue &value);
// Appends the shortest text that reads back as the same double (integers
// without a fraction); null for a value that is not finite.
void appendShortest(std::string &out, double value);
// As the simulator's memory text writes it: unsigned decimal for areas 1..4,
// the shortest text that reads back as the same float for area 5.
std::string memoryText(int area, const TagValue &value);

}  // namespace marovin_host

#endif
