// Write dispatcher and builders. (stub)
#include "Func_Write.h"

void WriteRegister(RW_VAR *) {}
void WriteBool(RW_VAR *) {}
void WriteAnalog_16(RW_VAR *) {}
void WriteAnalog_32(RW_VAR *) {}
void WriteAnalog_32FLOAT(RW_VAR *) {}
