// Address parsing with arbitrary texts and area codes: the exported parser
// must agree with the internal one, and the status-bit block may only yield
// its fixed bit numbers.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lists/Func_Initi.h"

namespace {

const int kAcceptedBits[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};

// A broken invariant is a finding: say which, then crash for the fuzzer.
void fail(int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, what);
    std::abort();
}
#define check(cond) ((cond) ? (void)0 : fail(__LINE__, #cond))

bool acceptedBit(int bit)
{
    for (int b : kAcceptedBits)
        if (b == bit)
            return true;
    return false;
}

// Area codes worth trying more often than the rest of the int range.
int areaFrom(const std::uint8_t *data, std::size_t size, std::size_t *used)
{
    if (size == 0) {
        *used = 0;
        return 0;
    }
    const std::uint8_t b = data[0];
    if (b < 0xF0 || size < 5) {
        *used = 1;
        return static_cast<int>(b % 9) - 1;  // -1 .. 7
    }
    std::int32_t raw;
    std::memcpy(&raw, data + 1, sizeof raw);
    *used = 5;
    return raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::size_t used = 0;
    const int areaCode = areaFrom(data, size, &used);
    const char *text = reinterpret_cast<const char *>(data + used);
    const int length = static_cast<int>(size - used);

    // The same bytes read as Latin-1, as UTF-8 and as UTF-16 (copied, as the
    // input need not be aligned for 16-bit units).
    std::vector<char16_t> units(static_cast<std::size_t>(length / 2) + 1, u'\0');
    std::memcpy(units.data(), text, static_cast<std::size_t>(length / 2) * 2);
    const QString texts[] = {
        QString::fromLatin1(text, length),
        QString::fromUtf8(text, length),
        QString::fromUtf16(units.data(), length / 2),
    };
    for (const QString &t : texts) {
        const int internal = StringAddressToInt(areaCode, t);
        const int exported = PLCAddressChangeIntef(areaCode, t);
        check(internal == exported);
        check(areaCode != 0 || internal == -1 || acceptedBit(internal));
        // A text the parser takes must read back the same way through Qt.
        if (areaCode != 0 && internal != -1) {
            bool ok = false;
            check(t.toInt(&ok, 16) == internal && ok);
        }
    }
    return 0;
}
