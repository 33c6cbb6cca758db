// Read request builders. (stub)
#include "Func_Read.h"

void ReadRegister(RW_VAR *) {}
void ReadBool(RW_VAR *) {}
void ReadAnalog(RW_VAR *) {}
