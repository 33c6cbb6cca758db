// The read-frame table.
#include "DriverPrivate.h"

namespace marovin {

// Probes past the home slot, and adds the key when it is absent.
int FrameCache::findSlow(unsigned long long key, bool *fresh)
{
    *fresh = false;
    if (slots_.empty())
        grow();
    unsigned long long i = home(key, mask_);
    while (slots_[i].key != 0) {
        if (slots_[i].key == key)
            return static_cast<int>(i);
        i = (i + 1) & mask_;
    }
    if (used_ >= kLimit) {
        clear();
        i = home(key, mask_);
    } else if (2 * (static_cast<unsigned long long>(used_) + 1) > mask_ + 1) {
        grow();
        i = home(key, mask_);
        while (slots_[i].key != 0)
            i = (i + 1) & mask_;
    }
    FrameSlot &slot = slots_[i];
    slot = FrameSlot();
    slot.key = key;
    ++used_;
    *fresh = true;
    return static_cast<int>(i);
}

// Empties every slot; the table keeps its size.
void FrameCache::clear()
{
    for (FrameSlot &slot : slots_)
        slot = FrameSlot();
    used_ = 0;
    parkedCount_ = 0;
}

// Doubles the table and puts the frames back in place.
void FrameCache::grow()
{
    std::vector<FrameSlot> old;
    old.swap(slots_);
    const size_t size = old.empty() ? 64 : 2 * old.size();
    slots_.resize(size);
    mask_ = size - 1;
    for (FrameSlot &slot : old) {
        if (slot.key == 0)
            continue;
        unsigned long long i = home(slot.key, mask_);
        while (slots_[i].key != 0)
            i = (i + 1) & mask_;
        slots_[i] = slot;
    }
}

}  // namespace marovin
