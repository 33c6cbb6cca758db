// The PLC's decimal-float encoding: a value travels as two 16-bit integers, the
// digits after the decimal point and the integer part of its "%.6g" text.
#ifndef MAROVIN_DECIMAL_FLOAT_H
#define MAROVIN_DECIMAL_FLOAT_H

#include "Marovin.h"

namespace marovin {

// The value as C's "%.6g" writes it in the "C" locale, correctly rounded.
MAROVIN_API QString formatG6(double value);

// Fraction and integer words (each cut to 16 bits) for a value.
MAROVIN_API void encodeDecimalFloat(float value, unsigned short *fractionWord, unsigned short *integerWord);

// The float read back from the two words: text "I.F" rounded to single precision.
MAROVIN_API float decodeDecimalFloat(unsigned short fractionWord, unsigned short integerWord);

}  // namespace marovin

#endif
