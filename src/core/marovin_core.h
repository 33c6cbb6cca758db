// Exchange entry points' internal operations (exported under C++ names).
#ifndef MAROVIN_CORE_H
#define MAROVIN_CORE_H

#include "Marovin.h"

MAROVIN_API void passRetValue(const RW_VAR *source, RW_VAR *target);
MAROVIN_API int DealDataOfLocalArea(QByteArray *reply, int length);
MAROVIN_API int DealDataOfRemoteArea(QByteArray *reply, int length);
MAROVIN_API int GetDriverReturnValue(int outcome);
MAROVIN_API int SwitchErrorReturn(int base);

#endif
