// Write dispatcher and write request builders.
#ifndef MAROVIN_FUNC_WRITE_H
#define MAROVIN_FUNC_WRITE_H

#include "Marovin.h"

MAROVIN_API void WriteRegister(RW_VAR *var);
MAROVIN_API void WriteBool(RW_VAR *var);
MAROVIN_API void WriteAnalog_16(RW_VAR *var);
MAROVIN_API void WriteAnalog_32(RW_VAR *var);
MAROVIN_API void WriteAnalog_32FLOAT(RW_VAR *var);

#endif
