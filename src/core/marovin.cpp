// The driver state: the one Marovin object, the exported host pointers, and
// the copy that fills the result variable.
#include "marovin_core.h"

#include "DriverPrivate.h"
#include "data/CacheIndex.h"

MAROVIN_API Marovin PLC_driver;
MAROVIN_API void *LB = nullptr;
MAROVIN_API void *LW = nullptr;
MAROVIN_API void *RWI = nullptr;

Marovin::Marovin()
    : settings(nullptr), onceReadDone(nullptr), ownerNotify(nullptr), phase(marovin::kPhaseNone), writeBurst(0), onceBurst(0), goodReplies(0), commFailed(false), spareFlag(false),
      cacheIndex(new MarovinCacheIndex), priv(new MarovinPrivate)
{
}

Marovin::~Marovin()
{
    delete priv;
    priv = nullptr;
    delete cacheIndex;
    cacheIndex = nullptr;
}

// Copies fields 0 to 13 of source into target and empties target's data.
void passRetValue(const RW_VAR *source, RW_VAR *target)
{
    if (!source || !target)
        return;
    marovin::passFields(*source, *target);
}
