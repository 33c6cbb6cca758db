// Completion notices for once-read requesters.
#ifndef MAROVIN_ONCE_READ_NOTICE_H
#define MAROVIN_ONCE_READ_NOTICE_H

#include "Marovin.h"

namespace marovin {

// Calls onceReadDone (if registered) with the outcome for one requester.
void callOnceReadDone(int ownerType, int ownerId, int outcome);

// Tells, with outcome 2, each local-link requester among `dropped` that has no
// entry left in the once-read list. Caller holds listMutex.
void notifyDroppedOnceReads(const QList<RW_VAR> &dropped);

// Calls ownerNotify (if registered) with a fresh empty list, as the host expects.
void callOwnerNotify(int ownerType);

}  // namespace marovin

#endif
