// Read-list rebuild and the block routines.
#include "Func_Initi.h"

#include "core/Locker.h"
#include "core/Settings.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <functional>
#include <unordered_set>

namespace {

// What makes two read-list entries repeats of each other. Status bits are
// read as one group per station, so area 0 keys on the station alone.
struct ReadKey {
    int station;
    int areaCode;
    int count;
    int address;

    bool operator==(const ReadKey &o) const
    {
        return station == o.station && areaCode == o.areaCode && count == o.count
            && address == o.address;
    }
};

struct ReadKeyHash {
    std::size_t operator()(const ReadKey &k) const
    {
        std::size_t h = std::hash<int>()(k.station);
        const int rest[] = {k.areaCode, k.count, k.address};
        for (int v : rest)
            h = h * 1000003u ^ std::hash<int>()(v);
        return h;
    }
};

// Repeat key of a read-list entry.
ReadKey readKeyOf(const RW_VAR &v)
{
    if (v.areaCode == 0)
        return ReadKey{v.station, 0, 0, 0};
    return ReadKey{v.station, v.areaCode, v.count, v.address};
}

// Byte count of a bit span, rounded up (truncating division rounds negatives up already).
long long bytesRoundedUp(long long bits)
{
    return bits / 8 + ((bits > 0 && bits % 8 != 0) ? 1 : 0);
}

// Sets the length of the growing block entry, if that entry exists.
void growBlock(long long index, long long count)
{
    QList<RW_VAR> &list = PLC_driver.readList;
    if (index >= 0 && index < list.size())
        list[static_cast<int>(index)].count = static_cast<int>(count);
}

// Appends a copy of `v` to readList.
void appendBlock(const RW_VAR &v)
{
    RW_VAR copy = v;
    AddListReadVar(&copy);
}

}  // namespace

int ReCreatReadVarList(QList<HOSTVAR> *hostList)
{
    if (!hostList || !marovin::settingsRecord())
        return 0;
    marovin::Locker lock(PLC_driver.listMutex);
    QList<RW_VAR> &readList = PLC_driver.readList;
    readList.clear();
    if (hostList->isEmpty())
        return 0;

    PLC_driver.goodReplies = 0;
    marovin::setSetting(MarovinSettings::finishFlag, 0);

    RW_VAR templ;
    templ.ownerType = 0;
    templ.ownerId = -1;
    templ.accessMode = 0;
    templ.remoteFlag = marovin::setting(MarovinSettings::remoteMode);
    templ.linkNo = marovin::setting(MarovinSettings::localLinkNo);
    templ.remoteArg1 = 0;
    templ.remoteArg2 = 0;

    std::unordered_set<ReadKey, ReadKeyHash> present;
    present.reserve(static_cast<std::size_t>(hostList->size()));
    for (int i = 0; i < hostList->size(); ++i) {
        const HOSTVAR &h = hostList->at(i);
        const int areaCode = h.areaCode;
        const int address = StringAddressToInt(areaCode, h.addressText);
        if (address < 0)
            continue;
        templ.station = marovin::effectiveStation(h.station);
        templ.hostText = h.text;
        templ.addressText = h.addressText;
        templ.address = address;
        templ.count = h.length;
        templ.areaCode = areaCode;
        if (present.insert(readKeyOf(templ)).second)
            AddListReadVar(&templ);
    }
    return readList.size();
}

void Bubble_Sort(QList<RW_VAR> *list)
{
    if (!list || list->size() < 2)
        return;
    std::stable_sort(list->begin(), list->end(),
                     [](const RW_VAR &a, const RW_VAR &b) { return a.address < b.address; });
}

void WhetherGroup(int totalLength, int pieceLength, RW_VAR *templ, QList<RW_VAR> *target)
{
    if (!templ || !target)
        return;
    if (totalLength <= pieceLength || pieceLength < 1) {
        target->append(*templ);
        return;
    }
    const int rest = totalLength % pieceLength;
    const int pieces = totalLength / pieceLength + (rest != 0 ? 1 : 0);
    const long long start = templ->address;
    for (int k = 0; k < pieces; ++k) {
        const long long address = start + static_cast<long long>(k) * pieceLength;
        if (address > INT_MAX)
            break;
        templ->address = static_cast<int>(address);
        templ->count = (k == pieces - 1 && rest != 0) ? rest : pieceLength;
        target->append(*templ);
    }
}

int WordVarReCreat(QList<RW_VAR> *sorted, int maxLength, int initialCount)
{
    if (!sorted || sorted->isEmpty())
        return initialCount;
    long long c = initialCount;
    const RW_VAR &first = sorted->at(0);
    appendBlock(first);
    long long blockStart = first.address;
    long long length = first.count;
    ++c;
    for (int i = 1; i < sorted->size(); ++i) {
        const RW_VAR &e = sorted->at(i);
        const long long end = static_cast<long long>(e.address) + e.count;
        const long long blockEnd = blockStart + length;
        if (e.address < blockEnd && end <= blockEnd)
            continue;
        const long long grown = end - blockStart;
        if (grown <= maxLength) {
            growBlock(c - 1, grown);
            length = grown;
        } else {
            appendBlock(e);
            blockStart = e.address;
            length = e.count;
            ++c;
        }
    }
    return static_cast<int>(c);
}

int BitVarReCreat(QList<RW_VAR> *sorted, int maxLength, int initialCount)
{
    if (!sorted || sorted->isEmpty())
        return initialCount;
    long long c = initialCount;
    RW_VAR block = sorted->at(0);
    int r = block.address % 8;
    long long bytes = bytesRoundedUp(static_cast<long long>(r) + block.count);
    block.address -= r;
    block.count = static_cast<int>(bytes);
    appendBlock(block);
    long long blockStart = block.address;
    long long length = bytes;
    ++c;
    for (int i = 1; i < sorted->size(); ++i) {
        const RW_VAR &e = sorted->at(i);
        const long long end = static_cast<long long>(e.address) + e.count;
        const long long blockEnd = blockStart + 8 * length;
        if (e.address < blockEnd && end <= blockEnd)
            continue;
        const long long grown = end - blockStart;
        if (grown <= maxLength) {
            length = grown / 8 + 1;
            growBlock(c - 1, length);
        } else {
            block = e;
            r = e.address % 8;
            bytes = (static_cast<long long>(r) + e.count) / 8 + 1;
            block.address -= r;
            block.count = static_cast<int>(bytes);
            appendBlock(block);
            blockStart = block.address;
            length = bytes;
            ++c;
        }
    }
    return static_cast<int>(c);
}
