// Text form of device memory, one assignment a line:
//   STATION:AREA:ADDRESS=VALUE      # comment
// AREA is the driver's area code 0..5; ADDRESS is hex for areas 1..5 (as the
// driver's address texts are) and the decimal status-bit number for area 0;
// VALUE is decimal or 0x hex, a float for area 5, 0 or 1 for a status bit.
// marovin-sim reads it (--set, --memory) and writes it (--dump-on-exit).
#ifndef MAROVIN_TOOLS_MEMORY_TEXT_H
#define MAROVIN_TOOLS_MEMORY_TEXT_H

#include <cstdint>
#include <string>

#include "DeviceModel.h"

namespace marovin_device {

struct VariableKey {
    int station = 0;
    int area = 0;
    std::uint32_t address = 0;
};

struct Assignment {
    VariableKey key;
    std::uint32_t raw = 0;  // areas 1..4: the value cut to its width; area 0: 0 or 1
    float real = 0.0f;      // area 5
};

// Parses "STATION:AREA:ADDRESS"; false with a message on error.
bool parseKey(const std::string &text, VariableKey *key, std::string *error);
// Parses a value for the key's area into *out (key copied in).
bool parseValue(const VariableKey &key, const std::string &text, Assignment *out, std::string *error);
// Parses "KEY=VALUE" (surrounding blanks allowed, no comment).
bool parseAssignment(const std::string &text, Assignment *out, std::string *error);
// Stores an assignment into the model.
void apply(DeviceModel &model, const Assignment &assignment);

// Strips a byte order mark, a '#' comment and surrounding blanks.
std::string stripLine(const std::string &line);

// Applies every line of a memory text; on error *error names the line number.
bool loadMemoryText(DeviceModel &model, const std::string &text, std::string *error);

// Every cell that was ever written or set, as memory-text lines: status
// registers as their status bits (plus the raw register when it holds other
// bits), 32-bit cells last set as decimal floats as area 5, the rest by area.
std::string dumpMemoryText(const DeviceModel &model);

// Shortest text that reads back as the same float.
std::string floatText(float value);

}  // namespace marovin_device

#endif
