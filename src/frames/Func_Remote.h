// Remote-mode request builders.
#ifndef MAROVIN_FUNC_REMOTE_H
#define MAROVIN_FUNC_REMOTE_H

#include "Marovin.h"

MAROVIN_API void Remote_ReadVar(RW_VAR *var);
MAROVIN_API void Remote_WriteVar(RW_VAR *var);

#endif
