// Reply processing. (stub)
#include "marovin_core.h"

RW_VAR *DataCom(QByteArray *, int) { return &PLC_driver.result; }
int DealDataOfLocalArea(QByteArray *, int) { return 1; }
int DealDataOfRemoteArea(QByteArray *, int) { return 1; }
int GetDriverReturnValue(int) { return 200; }
int SwitchErrorReturn(int base) { return base + 1; }
