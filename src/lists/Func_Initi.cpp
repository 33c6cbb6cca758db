// Set-up entry points and the address parser.
#include "Func_Initi.h"

#include "core/Settings.h"

namespace {
const int kAcceptedBits[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
}

// Keeps the host's settings record after zeroing its words 13 and 10.
void SetComInfo(int *settings)
{
    if (settings) {
        settings[MarovinSettings::cleared13] = 0;
        settings[MarovinSettings::cleared10] = 0;
    }
    marovin::setSettingsRecord(settings);
}

// Keeps the host's three memory pointers; the driver never uses them.
void FlashLocalRegister(void *lb, void *lw, void *rwi)
{
    LB = lb;
    LW = lw;
    RWI = rwi;
}

void RegistCallBackFuncIntf(OnceReadDoneFunc onceReadDone, OwnerNotifyFunc ownerNotify)
{
    PLC_driver.onceReadDone = onceReadDone;
    PLC_driver.ownerNotify = ownerNotify;
}

// Address of a text: decimal and one of the status bits for area 0,
// hexadecimal otherwise; -1 when rejected.
int StringAddressToInt(int areaCode, QString addressText)
{
    bool ok = false;
    if (areaCode != 0) {
        const int value = addressText.toInt(&ok, 16);
        return ok ? value : -1;
    }
    const int bit = addressText.toInt(&ok, 10);
    if (!ok)
        return -1;
    for (int accepted : kAcceptedBits)
        if (bit == accepted)
            return bit;
    return -1;
}

int PLCAddressChangeIntef(int areaCode, QString addressText)
{
    return StringAddressToInt(areaCode, addressText);
}
