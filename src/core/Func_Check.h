// Checksum routines and the reply check.
#ifndef MAROVIN_FUNC_CHECK_H
#define MAROVIN_FUNC_CHECK_H

#include "Marovin.h"

MAROVIN_API unsigned short CalSUM(const unsigned char *bytes, unsigned short length);
MAROVIN_API unsigned short CalCRC(const unsigned char *bytes, unsigned short length);
MAROVIN_API int CalLRC(const unsigned char *bytes, unsigned short length);
MAROVIN_API unsigned short CalXOR(const unsigned char *bytes, unsigned short length);
MAROVIN_API int DigitalToASCII(int value);
MAROVIN_API int ASCIIToDigital(int character);
MAROVIN_API int CheckGetData(QByteArray *reply, int length);

namespace marovin {

// CheckGetData for a given request.
int checkReplyTo(const Protocol &request, const QByteArray &reply, int length);

}  // namespace marovin

#endif
