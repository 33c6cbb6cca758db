// Host data access: the local store of a variable's value.
#ifndef MAROVIN_FUNC_GETORSETDATA_H
#define MAROVIN_FUNC_GETORSETDATA_H

#include "Marovin.h"

MAROVIN_API void WriteDataToLocal(const RW_VAR *var);

#endif
