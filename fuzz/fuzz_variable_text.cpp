// The -v, -o and -w arguments (and the lines of a variable file): whatever is
// accepted has a station, area, address and count in range, and a write has
// one value per comma-separated text, each a number exactly when it reads as
// one of its area.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FuzzCheck.h"
#include "config/VariableText.h"
#include "model/Areas.h"

using namespace marovin_host;

namespace {

void checkKey(int station, int area, const std::string &address)
{
    check(station >= 0 && station <= 255 && area >= 0 && area <= kDecimalFloat && !address.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text = marovin_fuzz::text(data, size);
    VariableEntry v;
    std::string error;
    if (parseVariable(text, &v, &error)) {
        checkKey(v.station, v.area, v.addressText);
        check(v.count >= 1 && v.count <= 4096 && v.source == text);
    } else {
        check(!error.empty());
    }
    WriteEntry w;
    error.clear();
    if (parseWrite(text, &w, &error)) {
        checkKey(w.station, w.area, w.addressText);
        check(!w.values.empty());
        for (const WriteValue &value : w.values) {
            check(!value.text.empty());
            check(value.kind == WriteValue::NotANumber || std::isfinite(value.number));
        }
    } else {
        check(!error.empty());
    }
    for (int area = kBits; area <= kDecimalFloat; ++area) {
        const WriteValue value = parseWriteValue(area, text);
        check(value.text == text && value.kind != WriteValue::Boolean);
        if (value.kind == WriteValue::Number && area != kDecimalFloat)
            check(value.number == std::floor(value.number));
    }
    return 0;
}
