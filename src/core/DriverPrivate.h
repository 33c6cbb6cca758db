// State the driver keeps between exchanges so that a request costs no heap
// call: a spare queue node and the read frames already built.
#ifndef MAROVIN_DRIVER_PRIVATE_H
#define MAROVIN_DRIVER_PRIVATE_H

#include <vector>

#include "Marovin.h"

namespace marovin {

// Values of Marovin::phase: the list whose variable's requests are queued, so
// that the reply advances that list.
enum ExchangePhase {
    kPhaseCyclicRead = 0,
    kPhaseWrite = 1,
    kPhaseOnceRead = 2,
    kPhaseNone = 100  // no request scheduled since load
};

// Makes target hold source's value; an implicitly shared copy-and-swap stays
// inline and skips the work when both already share their data.
template <class T>
inline void share(T &target, const T &source)
{
    if (!target.isSharedWith(source)) {
        T copy(source);
        target.swap(copy);
    }
}

// Makes target hold source's value, taking it from `spare` by a swap when
// spare already holds it; spare is left with target's old value.
template <class T>
inline void shareFrom(T &target, const T &source, T *spare)
{
    if (target.isSharedWith(source))
        return;
    if (spare && spare->isSharedWith(source)) {
        target.swap(*spare);
        return;
    }
    T copy(source);
    target.swap(copy);
}

// Copies fields 0 to 13 of source into target (all but the value bytes). The
// texts come from `spare` (a record copy of source about to be overwritten
// anyway) by a swap when it shares them: no reference counting.
inline void copyFieldsBeforeData(RW_VAR &target, const RW_VAR &source, RW_VAR *spare = nullptr)
{
    target.ownerType = source.ownerType;
    target.ownerId = source.ownerId;
    target.accessMode = source.accessMode;
    target.remoteFlag = source.remoteFlag;
    target.linkNo = source.linkNo;
    target.status = source.status;
    shareFrom(target.hostText, source.hostText, spare ? &spare->hostText : nullptr);
    shareFrom(target.addressText, source.addressText, spare ? &spare->addressText : nullptr);
    target.areaCode = source.areaCode;
    target.address = source.address;
    target.station = source.station;
    target.count = source.count;
    target.remoteArg1 = source.remoteArg1;
    target.remoteArg2 = source.remoteArg2;
}

// Copies every field of source into target.
inline void copyVar(RW_VAR &target, const RW_VAR &source)
{
    copyFieldsBeforeData(target, source);
    share(target.data, source.data);
}

// Copies fields 0 to 13 of source into target and empties target's data
// (passRetValue without its null checks); `spare` as for copyFieldsBeforeData.
inline void passFields(const RW_VAR &source, RW_VAR &target, RW_VAR *spare = nullptr)
{
    copyFieldsBeforeData(target, source, spare);
    if (!target.data.isNull())
        target.data.clear();
}

// Where the value cache held a value the last time a reply stored it.
struct CachePosition {
    int station = 0;
    int areaCode = -1;
    int address = 0;
    int position = -1;
    unsigned generation = 0;  // MarovinCacheIndex::generation when position was found
};

// One built read frame, plus where the value cache held the values read by
// it; two, because values whose addresses differ by 0x10000 share a frame.
// `parked` keeps the queue node of the frame's last request: filled in for
// the same variable again, its texts are already shared and cost nothing.
struct FrameSlot {
    unsigned long long key = 0;  // 0: free
    QByteArray frame;
    CachePosition positions[2];
    int nextPosition = 0;  // the one to replace next
    QList<Protocol> parked;  // empty or one node
};

// Built read frames by (station & 0xFF, command, register); open addressing,
// emptied when it would hold more than kLimit frames.
class MAROVIN_API FrameCache {
public:
    static const int kLimit = 65536;

    // Slot of the key's hash in a table of mask + 1 slots.
    static unsigned long long home(unsigned long long key, unsigned long long mask)
    {
        const unsigned long long h = key * 0x9E3779B97F4A7C15ull;
        return (h ^ (h >> 29)) & mask;
    }

    // Slot of the key; a new slot (frame still empty) is made when absent.
    int find(unsigned long long key, bool *fresh)
    {
        if (!slots_.empty()) {
            const unsigned long long i = home(key, mask_);
            if (slots_[i].key == key) {
                *fresh = false;
                return static_cast<int>(i);
            }
        }
        return findSlow(key, fresh);
    }
    FrameSlot &at(int slot) { return slots_[static_cast<size_t>(slot)]; }
    const FrameSlot &at(int slot) const { return slots_[static_cast<size_t>(slot)]; }
    int size() const { return used_; }
    // Forgets every frame, keeping the table's size.
    void clear();

    // Moves the only node of `queue` into the slot when the node carries the
    // slot's frame and the bound on parked nodes allows; true when moved.
    bool park(int slot, QList<Protocol> &queue)
    {
        FrameSlot &s = at(slot);
        if (parkedCount_ >= kParkLimit || !s.parked.isEmpty()
            || !static_cast<const QList<Protocol> &>(queue).first().frame.isSharedWith(s.frame))
            return false;
        queue.swap(s.parked);
        ++parkedCount_;
        return true;
    }
    // Moves the slot's parked node into the empty `queue`; true when there was one.
    bool unpark(int slot, QList<Protocol> &queue)
    {
        FrameSlot &s = at(slot);
        if (s.parked.isEmpty())
            return false;
        queue.swap(s.parked);
        --parkedCount_;
        return true;
    }

private:
    // A parked node is about 200 bytes; plants larger than this share the spare node.
    static const int kParkLimit = 4096;
    int findSlow(unsigned long long key, bool *fresh);
    void grow();
    std::vector<FrameSlot> slots_;
    unsigned long long mask_ = 0;
    int used_ = 0;
    int parkedCount_ = 0;
};

}  // namespace marovin

struct MarovinPrivate {
    QList<Protocol> spareQueue;  // holds the last removed queue node, if any
    marovin::FrameCache frames;
    int currentSlot = -1;  // slot of the last read frame queued

    // Back to the state after load (tests reset the driver between cases).
    void reset()
    {
        spareQueue.clear();
        frames.clear();
        currentSlot = -1;
    }
};

#endif
