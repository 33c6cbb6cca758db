// Area names, sizes and address texts.
#include "model/Areas.h"

#include <cstdio>

namespace marovin_host {

namespace {
const char *const kNames[] = {"bit", "w16", "d32", "w16b", "d32b", "float"};
}

const char *areaName(int area)
{
    return (area >= 0 && area <= 5) ? kNames[area] : "?";
}

int parseArea(const std::string &text)
{
    for (int area = 0; area <= 5; ++area) {
        if (text == kNames[area])
            return area;
    }
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '5')
        return text[0] - '0';
    return -1;
}

int wordsPerValue(int area)
{
    return (area == kDword32 || area == kDword32B || area == kDecimalFloat) ? 2 : 1;
}

int addressStep(int area)
{
    return wordsPerValue(area);
}

int bytesPerValue(int area)
{
    if (area == kBits)
        return 1;
    return wordsPerValue(area) * 2;
}

std::string addressText(int area, int address)
{
    char buffer[16];
    if (area == kBits)
        std::snprintf(buffer, sizeof buffer, "%d", address);
    else
        std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(address));
    return buffer;
}

std::string addressLabel(int area, int address)
{
    char buffer[16];
    if (area == kBits)
        std::snprintf(buffer, sizeof buffer, "%d", address);
    else
        std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(address));
    return buffer;
}

bool isWritableBit(int bit)
{
    return bit == 12 || bit == 25 || (bit >= 28 && bit <= 31);
}

const char *writableBitsText()
{
    return "12, 25, 28, 29, 30, 31";
}

}  // namespace marovin_host
