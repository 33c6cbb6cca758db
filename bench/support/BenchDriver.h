// Plays the host's side of the driver for benchmarks: settings, callbacks,
// plants of a given size and well-formed replies. No I/O.
#ifndef MAROVIN_BENCH_DRIVER_H
#define MAROVIN_BENCH_DRIVER_H

#include "Marovin.h"

#include <vector>

namespace marovin_bench {

// Loads a settings record (multi-station, station 1, 2 repeats) and no-op
// callbacks. writeMode 2 queues writes for the PLC; any other value only
// caches them.
void setUpDriver(int writeMode = 2);
void setWriteMode(int writeMode);

// Empties the lists, the frame queue and the value cache.
void resetDriver();

// Plants start at this address, so that every address text has five hex
// digits whatever the plant's size and parsing costs the same at every size.
const int kBaseAddress = 0x10000;

// `count` host variables of the 16-bit area 1 from kBaseAddress on.
QList<HOSTVAR> hostVariables(int count);
// Rebuilds the read list from hostVariables(count); returns its length.
int buildReadList(int count);
// Creates cache entries for the same addresses through GetRegisterData.
void fillCache(int count);
// A plant of `size` cyclic 16-bit values, all cached.
void makePlant(int size);

// Address texts of `count` addresses spread over a plant of `size`.
std::vector<QString> addressTexts(int size, int count);

// A 13-byte reply carrying one 16-bit value, with a good sum byte.
QByteArray reply16(unsigned value);
// Changes the value of a reply16 in place (no allocation).
void setReply16(QByteArray &reply, unsigned value);

// One exchange: ComCommunication, then DataCom with `reply`. Returns the status,
// or -1 when there was nothing to send.
int exchange(QByteArray &reply);

}  // namespace marovin_bench

#endif
