// Registration of variables into the three lists. (stub)
#include "Func_Initi.h"

int AddListReadVar(RW_VAR *) { return 0; }
int AddListWriteVar(RW_VAR *, int) { return 0; }
int AddListOnceReadVar(RW_VAR *, int) { return 0; }
