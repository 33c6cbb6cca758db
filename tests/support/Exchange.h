// Helpers that play the host's side of one exchange in tests.
#ifndef MAROVIN_TEST_EXCHANGE_H
#define MAROVIN_TEST_EXCHANGE_H

#include "Marovin.h"

namespace marovin_test {

// A reply that passes the check for `request`, carrying `data` at offset 10
// for a read (zero data when empty), "O" for a local write, and the 8-byte
// summed answer for a remote write.
QByteArray goodReply(const Protocol &request, const QByteArray &data = QByteArray());

// Sets the sum byte of a read-style reply (sum of bytes 1 .. size-2).
void fixSum(QByteArray &reply);

// One exchange answered with goodReply; returns the status, or -1 if there was nothing to send.
int exchangeGood();

// One exchange answered with the given bytes; returns the status, or -1 if nothing to send.
int exchangeWith(const QByteArray &reply);

}  // namespace marovin_test

#endif
