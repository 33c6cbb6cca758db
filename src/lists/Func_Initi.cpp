// Set-up entry points and the address parser.
#include "Func_Initi.h"

#include "core/Settings.h"

namespace {
const int kAcceptedBits[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
}

// Keeps the host's settings record and zeroes its words 13 and 10. The driver
// never reads those two words, so zeroing them after publishing the pointer is
// indistinguishable and keeps every access on the atomic helpers.
void SetComInfo(int *settings)
{
    marovin::setSettingsRecord(settings);
    if (settings) {
        marovin::setSetting(MarovinSettings::cleared13, 0);
        marovin::setSetting(MarovinSettings::cleared10, 0);
    }
}

// Keeps the host's three memory pointers; the driver never uses them.
void FlashLocalRegister(void *lb, void *lw, void *rwi)
{
    LB = lb;
    LW = lw;
    RWI = rwi;
}

// Keeps the host's two callbacks.
void RegistCallBackFuncIntf(OnceReadDoneFunc onceReadDone, OwnerNotifyFunc ownerNotify)
{
    PLC_driver.onceReadDone = onceReadDone;
    PLC_driver.ownerNotify = ownerNotify;
}

// Address of a text: decimal and one of the status bits for area 0,
// hexadecimal otherwise; -1 when rejected.
namespace {

// Digits only, as QString::toInt reads them; false for anything else
// (signs, blanks, prefixes, too many digits), which toInt then decides.
bool parsePlain(const QString &text, int base, int *value)
{
    const int n = text.size();
    if (n < 1 || n > (base == 16 ? 7 : 9))
        return false;
    const QChar *c = text.constData();
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const ushort u = c[i].unicode();
        int d;
        if (u >= '0' && u <= '9')
            d = u - '0';
        else if (base == 16 && u >= 'a' && u <= 'f')
            d = u - 'a' + 10;
        else if (base == 16 && u >= 'A' && u <= 'F')
            d = u - 'A' + 10;
        else
            return false;
        v = v * base + d;
    }
    *value = v;
    return true;
}

}  // namespace

int StringAddressToInt(int areaCode, QString addressText)
{
    int fast = 0;
    if (areaCode != 0 && parsePlain(addressText, 16, &fast))
        return fast;
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
