// Read-list rebuild and block routines. (stub)
#include "Func_Initi.h"

int ReCreatReadVarList(QList<HOSTVAR> *) { return 0; }
void Bubble_Sort(QList<RW_VAR> *) {}
void WhetherGroup(int, int, RW_VAR *, QList<RW_VAR> *) {}
int WordVarReCreat(QList<RW_VAR> *, int, int initialCount) { return initialCount; }
int BitVarReCreat(QList<RW_VAR> *, int, int initialCount) { return initialCount; }
