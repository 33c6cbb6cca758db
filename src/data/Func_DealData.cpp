// Reply storage: reply data bytes into the value cache.
#include "Func_DealData.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "CacheIndex.h"
#include "core/DriverPrivate.h"
#include "core/Func_Check.h"
#include "core/Settings.h"
#include "frames/DecimalFloat.h"

namespace {

// No area spans more than the 16-bit address space; longer data is not a reply.
const long long kMaxDataLength = 4LL * 65536;

// Reply byte `i` as an unsigned value.
unsigned int byteAt(const QByteArray &reply, long long i)
{
    return static_cast<unsigned char>(reply.at(static_cast<int>(i)));
}

// True when reply bytes first..last all exist.
bool holds(const QByteArray &reply, long long first, long long last)
{
    return first >= 0 && last < reply.size();
}

// True when the entry has the key.
bool sameKey(const EXTENDVAR &e, int station, int areaCode, int address)
{
    return e.station == station && e.areaCode == areaCode && e.address == address;
}

// Indexes the cache entries not yet indexed, keeping a key's first position.
void catchUp(MarovinCacheIndex &index, const QList<EXTENDVAR> &list)
{
    for (int i = index.indexed; i < list.size(); ++i) {
        const EXTENDVAR &e = list.at(i);
        index.positions.emplace(MarovinCacheKey{e.station, e.areaCode, e.address}, i);
    }
    index.indexed = list.size();
}

// Forgets the whole index so that the next catch-up rebuilds it.
void forget(MarovinCacheIndex &index)
{
    index.positions.clear();
    index.indexed = 0;
    ++index.generation;
}

// Position of the key per the index after catching up; -1 when absent.
int indexedPosition(MarovinCacheIndex &index, const QList<EXTENDVAR> &list,
                    const MarovinCacheKey &key)
{
    if (list.size() < index.indexed)
        forget(index);
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto it = index.positions.find(key);
        if (it == index.positions.end()) {
            if (index.indexed == list.size())
                return -1;
            catchUp(index, list);
            it = index.positions.find(key);
            if (it == index.positions.end())
                return -1;
        }
        const int pos = it->second;
        if (pos < list.size() && sameKey(list.at(pos), key.station, key.areaCode, key.address))
            return pos;
        // The list was changed behind the index's back.
        forget(index);
        catchUp(index, list);
    }
    return -1;
}

// ExtendFindSameVar's answer as remembered by the slot of the last read frame
// queued, valid while the index cannot have changed since; -1 otherwise.
inline int hintedPosition(int station, int areaCode, int address)
{
    const MarovinPrivate *priv = PLC_driver.priv;
    const MarovinCacheIndex *index = PLC_driver.cacheIndex;
    if (!priv || !index || priv->currentSlot < 0)
        return -1;
    const QList<EXTENDVAR> &list = PLC_driver.extendList;
    if (index->indexed > list.size())
        return -1;
    for (const marovin::CachePosition &c : priv->frames.at(priv->currentSlot).positions) {
        if (c.station == station && c.areaCode == areaCode && c.address == address
            && c.generation == index->generation && c.position >= 0 && c.position < index->indexed
            && sameKey(list.at(c.position), station, areaCode, address))
            return c.position;
    }
    return -1;
}

// ExtendFindSameVar, remembered in the slot of the last read frame queued.
int findAndRemember(int station, int areaCode, int address)
{
    const int pos = ExtendFindSameVar(station, areaCode, address);
    MarovinPrivate *priv = PLC_driver.priv;
    const MarovinCacheIndex *index = PLC_driver.cacheIndex;
    if (priv && index && priv->currentSlot >= 0) {
        marovin::FrameSlot &slot = priv->frames.at(priv->currentSlot);
        marovin::CachePosition &c = slot.positions[slot.nextPosition];
        slot.nextPosition ^= 1;
        c.station = station;
        c.areaCode = areaCode;
        c.address = address;
        c.position = pos;
        c.generation = index->generation;
    }
    return pos;
}

// ExtendFindSameVar's answer, from the remembered position when it is still valid.
inline int findWithHint(int station, int areaCode, int address)
{
    const int pos = hintedPosition(station, areaCode, address);
    return pos >= 0 ? pos : findAndRemember(station, areaCode, address);
}

// Stores one status bit as a single byte.
void storeBit(int station, int bit, unsigned int value)
{
    const int e = ExtendFindSameVar(station, 0, bit);
    PLC_driver.extendList[e].data = QByteArray(1, static_cast<char>(value & 1u));
}

// Stores the status bits answered by request number `frame` of the block read.
void storeStatusBits(const QByteArray &reply, long long off, int station, int frame)
{
    switch (frame) {
    case 0: {
        unsigned int v = 0;
        if (holds(reply, off, off + 3))
            v = byteAt(reply, off) << 24 | byteAt(reply, off + 1) << 16 | byteAt(reply, off + 2) << 8
                | byteAt(reply, off + 3);
        storeBit(station, 36, v >> 3);
        storeBit(station, 37, v >> 4);
        storeBit(station, 38, v >> 5);
        storeBit(station, 39, v >> 6);
        storeBit(station, 25, ~(v >> 16));
        storeBit(station, 28, ~(v >> 19));
        storeBit(station, 29, ~(v >> 20));
        storeBit(station, 30, ~(v >> 21));
        storeBit(station, 31, ~(v >> 22));
        break;
    }
    case 1:
        storeBit(station, 2, holds(reply, off, off + 1) ? byteAt(reply, off + 1) >> 2 : 0);
        break;
    case 3:
        storeBit(station, 16, holds(reply, off, off + 1) ? byteAt(reply, off + 1) : 0);
        break;
    case 4:
        storeBit(station, 24, holds(reply, off, off + 1) ? byteAt(reply, off + 1) : 0);
        break;
    case 2: {
        unsigned int w = 0;
        if (holds(reply, off, off + 1))
            w = byteAt(reply, off) << 8 | byteAt(reply, off + 1);
        storeBit(station, 12, ~(w >> 4));
        break;
    }
    default:
        break;
    }
}

// The four value bytes, least significant first, of a decimal float at reply byte `p`.
QByteArray decimalFloatBytes(const QByteArray &reply, long long p)
{
    const unsigned short fraction = static_cast<unsigned short>(byteAt(reply, p) << 8 | byteAt(reply, p + 1));
    const unsigned short integer = static_cast<unsigned short>(byteAt(reply, p + 2) << 8 | byteAt(reply, p + 3));
    const float value = marovin::decodeDecimalFloat(fraction, integer);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

// The usual read: one 16- or 32-bit value, all of it in the reply, stored in
// place. False when the head request is anything else.
inline bool storeOneValue(const QByteArray &reply, const Protocol &head)
{
    const int t = head.var.areaCode;
    const int width = t == 1 || t == 3 ? 2 : 4;
    const int len = head.dataLength;
    const int off = head.dataOffset;
    if (t < 1 || t > 4 || len < width || len >= 2 * width || off < 0 || off > reply.size() - width)
        return false;
    QByteArray &data = PLC_driver.extendList[findWithHint(head.var.station, t, head.var.address)].data;
    const char *r = reply.constData() + off;
    if (data.size() != width)
        data.resize(width);
    char *out = data.data();
    out[0] = r[1];
    out[1] = r[0];
    if (width == 4) {
        out[2] = r[3];
        out[3] = r[2];
    }
    return true;
}

// Every other case of SaveToLocalDataErea.
__attribute__((noinline)) void storeAny(const QByteArray &replyBytes, const Protocol &head)
{
    const QByteArray *reply = &replyBytes;
    const long long off = head.dataOffset;
    const long long len = head.dataLength;
    const int t = head.var.areaCode;
    const int a = head.var.address;
    const int s = head.var.station;

    if (t == 0) {
        if (marovin::settingsRecord())
            storeStatusBits(*reply, off, s, marovin::setting(MarovinSettings::framesDone));
        return;
    }
    if (t < 1 || t > 5 || len > kMaxDataLength)
        return;

    const int width = (t == 1 || t == 3) ? 2 : 4;
    const long long n = len / width;
    const int step = width / 2;
    int last = -1;
    for (long long k = 0; k < n; ++k) {
        const long long address = a + k * step;
        if (address > INT_MAX)
            break;
        const int e = n == 1 ? findWithHint(s, t, a) : ExtendFindSameVar(s, t, static_cast<int>(address));
        QByteArray &data = PLC_driver.extendList[e].data;
        const long long p = off + k * width;
        if (holds(*reply, p, p + width - 1)) {
            const char *r = reply->constData() + p;
            char bytes[4];
            if (t == 5) {
                const QByteArray f = decimalFloatBytes(*reply, p);
                std::memcpy(bytes, f.constData(), 4);
            } else {
                bytes[0] = r[1];
                bytes[1] = r[0];
                bytes[2] = width == 4 ? r[3] : 0;
                bytes[3] = width == 4 ? r[2] : 0;
            }
            // In place: an unshared value of the same width keeps its buffer.
            data.resize(width);
            std::memcpy(data.data(), bytes, static_cast<size_t>(width));
        } else {
            data.clear();
        }
        last = e;
    }
    // A value the reply was too short for still gets the length it asked for.
    if (last >= 0 && PLC_driver.extendList.at(last).data.isEmpty())
        PLC_driver.extendList[last].data = QByteArray(static_cast<int>(len), '\0');
}

}  // namespace

// Stores the data of the reply to the head request into the value cache.
void SaveToLocalDataErea(QByteArray *reply)
{
    if (!reply || PLC_driver.frameQueue.isEmpty())
        return;
    marovin::storeReplyOf(static_cast<const QList<Protocol> &>(PLC_driver.frameQueue).first(), *reply);
}

void marovin::storeReplyOf(const Protocol &head, const QByteArray &reply)
{
    if (!storeOneValue(reply, head))
        storeAny(reply, head);
}

// Index of the cache entry for the key, appended with a zero value when absent.
int ExtendFindSameVar(int station, int areaCode, int address)
{
    QList<EXTENDVAR> &list = PLC_driver.extendList;
    MarovinCacheIndex *index = PLC_driver.cacheIndex;
    if (!index) {
        for (int i = 0; i < list.size(); ++i)
            if (sameKey(list.at(i), station, areaCode, address))
                return i;
    } else {
        const MarovinCacheKey key{station, areaCode, address};
        const int pos = indexedPosition(*index, list, key);
        if (pos >= 0)
            return pos;
    }
    EXTENDVAR entry;
    entry.station = station;
    entry.areaCode = areaCode;
    entry.address = address;
    entry.data = QByteArray(4, '\0');
    list.append(entry);
    const int pos = list.size() - 1;
    if (index && index->indexed == pos) {
        index->positions.emplace(MarovinCacheKey{station, areaCode, address}, pos);
        index->indexed = list.size();
    }
    return pos;
}

// Copies the reply's words into `words` and merges the pending write's bit
// into the second queued request.
void SpecialRegisterSave(QByteArray *reply, unsigned short *words)
{
    QList<Protocol> &queue = PLC_driver.frameQueue;
    if (!reply || queue.isEmpty())
        return;
    const Protocol &head = queue.at(0);
    const long long off = head.dataOffset;
    const long long n = head.dataLength / 2;
    const long long a = head.var.address;

    unsigned int v = 0;
    if (n >= 1 && holds(*reply, off, off + 1)) {
        for (long long i = 0; i < n && holds(*reply, off + 2 * i, off + 2 * i + 1); ++i) {
            v = byteAt(*reply, off + 2 * i) << 8 | byteAt(*reply, off + 2 * i + 1);
            if (words && a + i >= 0)
                words[a + i] = static_cast<unsigned short>(v);
        }
    }
    if (head.var.remoteArg1 != -1 || queue.size() < 2)
        return;

    if (!PLC_driver.writeList.isEmpty()) {
        const RW_VAR &pending = PLC_driver.writeList.at(0);
        if (!pending.data.isEmpty() && pending.address >= 0) {
            const unsigned int mask = 1u << (pending.address % 16);
            if (pending.data.at(0) == 0x01)
                v |= mask;
            else if (pending.data.at(0) == 0x00)
                v &= ~mask;
        }
    }

    QByteArray &frame = queue[1].frame;
    if (frame.size() < 8) {
        const int old = frame.size();
        frame.resize(8);
        std::memset(frame.data() + old, 0, static_cast<size_t>(8 - old));
    }
    frame[4] = static_cast<char>((v >> 8) & 0xFF);
    frame[5] = static_cast<char>(v & 0xFF);
    const unsigned short crc = CalCRC(reinterpret_cast<const unsigned char *>(frame.constData()), 6);
    frame[6] = static_cast<char>(crc & 0xFF);
    frame[7] = static_cast<char>(crc >> 8);
}
