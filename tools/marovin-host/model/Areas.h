// The driver's memory areas as the host names, addresses and sizes them.
#ifndef MAROVIN_HOST_MODEL_AREAS_H
#define MAROVIN_HOST_MODEL_AREAS_H

#include <string>

namespace marovin_host {

enum AreaCode { kBits = 0, kWord16 = 1, kDword32 = 2, kWord16B = 3, kDword32B = 4, kDecimalFloat = 5 };

// Short name of an area: bit, w16, d32, w16b, d32b, float.
const char *areaName(int area);
// Parses an area given as 0..5 or by name; -1 when it is neither.
int parseArea(const std::string &text);
// Words one value of the area takes in the driver's counts (bits: 1).
int wordsPerValue(int area);
// Address distance from one value of the area to the next.
int addressStep(int area);
// Value bytes of one value in the driver's cache.
int bytesPerValue(int area);
// The address as the driver's address text: decimal bit number for area 0, upper-case hex otherwise.
std::string addressText(int area, int address);
// The address as shown to people: decimal bit number, or four hex digits.
std::string addressLabel(int area, int address);
// True for the status bits a write can change.
bool isWritableBit(int bit);
// The status bits a write can change, for messages.
const char *writableBitsText();

}  // namespace marovin_host

#endif
