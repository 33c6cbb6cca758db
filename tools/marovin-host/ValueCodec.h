// Value bytes as the driver holds them (least significant byte first) to and from text.
#ifndef MAROVIN_HOST_VALUE_CODEC_H
#define MAROVIN_HOST_VALUE_CODEC_H

#include <QByteArray>

#include <string>

namespace marovin_host {

// One value as the table shows it.
struct ShownValue {
    std::string value;  // bit 0/1, signed integer or decimal float
    std::string hex;    // 0x.... for integer areas, empty otherwise
};

// Encodes one written value for SetRegisterData; *count receives the driver's unit count.
bool encodeWriteValue(int area, const std::string &text, QByteArray *bytes, int *count, std::string *error);
// The value held in bytes (bytesPerValue(area) of them, least significant first) for the table.
ShownValue showValue(int area, const QByteArray &bytes);
// The value as a plain number for CSV files (signed integers, decimal floats).
std::string plainValue(int area, const QByteArray &bytes);
// The value as the simulator's memory text writes it: unsigned decimal for
// areas 1..4, the shortest text that reads back as the same float for area 5.
std::string memoryTextValue(int area, const QByteArray &bytes);

}  // namespace marovin_host

#endif
