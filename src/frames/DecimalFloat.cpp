// The PLC's decimal-float encoding. Text conversions go through <charconv>,
// which never consults the process locale: a host running under a
// comma-decimal locale must still produce and read "." texts.
#include "DecimalFloat.h"

#include <charconv>
#include <cstring>
#include <system_error>

#include <QStringList>

namespace marovin {

QString formatG6(double value)
{
    // "%.6g" never needs more than 13 characters ("-1.23457e+308").
    char buffer[32];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    if (r.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, static_cast<int>(r.ptr - buffer));
}

void encodeDecimalFloat(float value, unsigned short *fractionWord, unsigned short *integerWord)
{
    const QString text = formatG6(static_cast<double>(value));
    int integerPart = 0;
    int fractionPart = 0;
    const QString point = QString::fromLatin1(".");
    if (text.indexOf(point, 0, Qt::CaseSensitive) >= 0) {
        // The default split keeps empty parts.
        const QStringList parts = text.split(point);
        integerPart = parts.at(0).toInt(nullptr, 10);
        fractionPart = parts.at(1).toInt(nullptr, 10);
    } else {
        // Exponent forms without a point, "inf" and "nan" read as 0.
        integerPart = text.toInt(nullptr, 10);
    }
    if (fractionWord)
        *fractionWord = static_cast<unsigned short>(static_cast<unsigned>(fractionPart) & 0xFFFFu);
    if (integerWord)
        *integerWord = static_cast<unsigned short>(static_cast<unsigned>(integerPart) & 0xFFFFu);
}

// Appends the decimal digits of `value` at `out` and returns the end.
static char *appendDigits(char *out, unsigned value)
{
    char reversed[8];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *out++ = reversed[--n];
    return out;
}

float decodeDecimalFloat(unsigned short fractionWord, unsigned short integerWord)
{
    char text[16];  // at most "65535.65535"
    char *end = appendDigits(text, integerWord);
    *end++ = '.';
    end = appendDigits(end, fractionWord);
    float value = 0.0f;
    std::from_chars(text, end, value, std::chars_format::fixed);
    return value;
}

}  // namespace marovin
