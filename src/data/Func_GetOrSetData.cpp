// Host data access. (stub)
#include "Func_GetOrSetData.h"

void WriteDataToLocal(const RW_VAR *) {}
int GetRegisterData(QString, int, QString, int, QByteArray *, int) { return 0; }
int SetRegisterData(QString, int, QString, int, QByteArray *, int, int, int) { return 0; }
int QueryFinishFlag(void) { return 1; }
