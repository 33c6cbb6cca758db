// Reply storage into the value cache.
#ifndef MAROVIN_FUNC_DEALDATA_H
#define MAROVIN_FUNC_DEALDATA_H

#include "Marovin.h"

MAROVIN_API void SaveToLocalDataErea(QByteArray *reply);
MAROVIN_API int ExtendFindSameVar(int station, int areaCode, int address);
MAROVIN_API void SpecialRegisterSave(QByteArray *reply, unsigned short *words);

namespace marovin {

// SaveToLocalDataErea for a given head request.
void storeReplyOf(const Protocol &head, const QByteArray &reply);

}  // namespace marovin

#endif
