// Decimal-float encoding. (stub)
#include "DecimalFloat.h"

namespace marovin {
QString formatG6(double) { return QString(); }
void encodeDecimalFloat(float, unsigned short *f, unsigned short *i) { *f = 0; *i = 0; }
float decodeDecimalFloat(unsigned short, unsigned short) { return 0.0f; }
}
