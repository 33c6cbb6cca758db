// Set-up, address parsing, registration and read-list rebuilding.
#ifndef MAROVIN_FUNC_INITI_H
#define MAROVIN_FUNC_INITI_H

#include "Marovin.h"

MAROVIN_API int StringAddressToInt(int areaCode, QString addressText);

MAROVIN_API void Bubble_Sort(QList<RW_VAR> *list);
MAROVIN_API void WhetherGroup(int totalLength, int pieceLength, RW_VAR *templ, QList<RW_VAR> *target);
MAROVIN_API int WordVarReCreat(QList<RW_VAR> *sorted, int maxLength, int initialCount);
MAROVIN_API int BitVarReCreat(QList<RW_VAR> *sorted, int maxLength, int initialCount);

namespace marovin {

// Registers a write as AddListWriteVar does and returns the write-list count.
// *accepted (if given) becomes false when the record was dropped because the
// list was full (or the record was null), true when it was appended or
// replaced a waiting write to the same variable.
MAROVIN_API int registerWrite(RW_VAR *var, int mode, bool *accepted);

}  // namespace marovin

#endif
