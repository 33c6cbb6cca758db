// Reply storage. (stub)
#include "Func_DealData.h"

void SaveToLocalDataErea(QByteArray *) {}
int ExtendFindSameVar(int, int, int) { return 0; }
void SpecialRegisterSave(QByteArray *, unsigned short *) {}
