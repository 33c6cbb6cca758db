// Read request builders.
#ifndef MAROVIN_FUNC_READ_H
#define MAROVIN_FUNC_READ_H

#include "Marovin.h"

MAROVIN_API void ReadRegister(RW_VAR *var);
MAROVIN_API void ReadBool(RW_VAR *var);
MAROVIN_API void ReadAnalog(RW_VAR *var);

#endif
