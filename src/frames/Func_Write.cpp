// Write dispatcher and write request builders. A write variable may carry
// several values; each gets its own frame, and a value whose bytes are missing
// is never sent with made-up contents.
#include "Func_Write.h"

#include <cstring>
#include <utility>

#include "DecimalFloat.h"
#include "Func_Check.h"
#include "Settings.h"
#include "data/Func_GetOrSetData.h"

namespace {

// Register word and one-bit mask of a writable status bit.
struct WritableBit {
    int address;
    unsigned short registerWord;
    unsigned short mask;
};

const WritableBit kWritableBits[6] = {
    {12, 0x709A, 0x0010}, {25, 0x7095, 0x0001}, {28, 0x7095, 0x0008},
    {29, 0x7095, 0x0010}, {30, 0x7095, 0x0020}, {31, 0x7095, 0x0040},
};

// The writable-bit entry for `address`, or null when the bit cannot be written.
const WritableBit *findWritableBit(int address)
{
    for (const WritableBit &b : kWritableBits) {
        if (b.address == address)
            return &b;
    }
    return nullptr;
}

// Unsigned value of data byte `index`.
unsigned int dataByte(const QByteArray &data, int index)
{
    return static_cast<unsigned char>(data.at(index));
}

// Frame head shared by every local write: length byte, node word, command, address.
QByteArray frameHead(int length, const RW_VAR &var, unsigned int command, unsigned int address)
{
    const unsigned int node = (static_cast<unsigned int>(var.station) << 4) & 0x0FF0u;
    QByteArray frame(length, '\0');
    frame[0] = char(length - 2);
    frame[1] = char(node >> 8);
    frame[2] = char(node & 0xFF);
    frame[3] = char((command >> 8) & 0xFF);
    frame[4] = char(command & 0xFF);
    frame[5] = char((address >> 8) & 0xFF);
    frame[6] = char(address & 0xFF);
    return frame;
}

// Sets the last byte to the sum of all bytes before it and queues the write.
void queueWrite(QByteArray frame, const RW_VAR &var)
{
    const int last = frame.size() - 1;
    frame[last] = char(CalSUM(reinterpret_cast<const unsigned char *>(frame.constData()),
                              static_cast<unsigned short>(last)) & 0xFF);
    QList<Protocol> &queue = PLC_driver.frameQueue;
    queue.append(Protocol());
    Protocol &p = queue.last();
    p.requestLength = frame.size();
    p.frame = std::move(frame);
    p.replyLength = 1;
    p.dataOffset = 0;
    p.dataLength = 0;
    p.var = var;
}

// Tells reply processing how many requests the current variable has.
void setFrameCount(int framesPerVar)
{
    if (!marovin::settingsRecord())
        return;
    marovin::setSetting(MarovinSettings::framesDone, 0);
    marovin::setSetting(MarovinSettings::framesPerVar, framesPerVar);
}

// Address of value `k` when each value takes `step` address units, cut to 16 bits.
unsigned int valueAddress(const RW_VAR &var, int k, int step)
{
    return (static_cast<unsigned int>(var.address) + static_cast<unsigned int>(k * step)) & 0xFFFFu;
}

// Number of 32-bit values to send: one per two words of `count`, at least one,
// and only as many as `data` holds whole.
int values32(const RW_VAR &var)
{
    const int wanted = var.count / 2 >= 1 ? var.count / 2 : 1;
    const int held = var.data.size() / 4;
    return wanted < held ? wanted : held;
}

}  // namespace

void WriteRegister(RW_VAR *var)
{
    if (!var)
        return;
    const int queuedBefore = PLC_driver.frameQueue.size();
    switch (var->areaCode) {
    case 0:
        WriteBool(var);
        break;
    case 1:
    case 3:
        WriteAnalog_16(var);
        break;
    case 2:
    case 4:
        WriteAnalog_32(var);
        break;
    case 5:
        WriteAnalog_32FLOAT(var);
        break;
    default:
        break;
    }

    // The host may fill the list; its contents are of no use to the driver.
    if (PLC_driver.ownerNotify) {
        QList<RW_VAR> notices;
        PLC_driver.ownerNotify(&notices, var->ownerType, 1);
    }

    // The cache shows only what actually goes to the PLC: nothing for a write
    // no frame can carry, and for bits only the one bit a frame holds.
    if (PLC_driver.frameQueue.size() == queuedBefore || marovin::commFailed())
        return;
    if (var->areaCode == 0 && var->count > 1) {
        RW_VAR oneBit = *var;
        oneBit.count = 1;
        WriteDataToLocal(&oneBit);
    } else {
        WriteDataToLocal(var);
    }
}

void WriteBool(RW_VAR *var)
{
    if (!var || var->data.isEmpty())
        return;
    const WritableBit *bit = findWritableBit(var->address);
    if (!bit)
        return;

    QByteArray frame = frameHead(12, *var, 0x5C00, bit->registerWord);
    unsigned int first = 0xFFFF;
    unsigned int second = bit->mask;
    if (var->data.at(0) == 1) {
        first = 0xFFFFu ^ bit->mask;
        second = 0x0000;
    }
    frame[7] = char(first >> 8);
    frame[8] = char(first & 0xFF);
    frame[9] = char(second >> 8);
    frame[10] = char(second & 0xFF);
    queueWrite(std::move(frame), *var);
    setFrameCount(1);
}

void WriteAnalog_16(RW_VAR *var)
{
    if (!var)
        return;
    const int wanted = var->count >= 1 ? var->count : 1;
    const int held = var->data.size() / 2;
    const int n = wanted < held ? wanted : held;
    if (n == 0)
        return;

    const unsigned int command = var->areaCode == 3 ? 0x9008 : 0x9004;
    for (int k = 0; k < n; ++k) {
        QByteArray frame = frameHead(10, *var, command, valueAddress(*var, k, 1));
        frame[7] = char(dataByte(var->data, 2 * k + 1));
        frame[8] = char(dataByte(var->data, 2 * k));
        queueWrite(std::move(frame), *var);
    }
    setFrameCount(n);
}

void WriteAnalog_32(RW_VAR *var)
{
    if (!var)
        return;
    const int n = values32(*var);
    if (n == 0)
        return;

    const unsigned int command = var->areaCode == 4 ? 0x9009 : 0x9005;
    for (int k = 0; k < n; ++k) {
        QByteArray frame = frameHead(12, *var, command, valueAddress(*var, k, 2));
        // Low word first, each word high byte first.
        frame[7] = char(dataByte(var->data, 4 * k + 1));
        frame[8] = char(dataByte(var->data, 4 * k));
        frame[9] = char(dataByte(var->data, 4 * k + 3));
        frame[10] = char(dataByte(var->data, 4 * k + 2));
        queueWrite(std::move(frame), *var);
    }
    setFrameCount(n);
}

void WriteAnalog_32FLOAT(RW_VAR *var)
{
    if (!var)
        return;
    const int n = values32(*var);
    if (n == 0)
        return;

    for (int k = 0; k < n; ++k) {
        const quint32 bits = dataByte(var->data, 4 * k) | (dataByte(var->data, 4 * k + 1) << 8) |
                             (dataByte(var->data, 4 * k + 2) << 16) |
                             (dataByte(var->data, 4 * k + 3) << 24);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        unsigned short fraction = 0;
        unsigned short integer = 0;
        marovin::encodeDecimalFloat(value, &fraction, &integer);

        QByteArray frame = frameHead(12, *var, 0x9005, valueAddress(*var, k, 2));
        frame[7] = char(fraction >> 8);
        frame[8] = char(fraction & 0xFF);
        frame[9] = char(integer >> 8);
        frame[10] = char(integer & 0xFF);
        queueWrite(std::move(frame), *var);
    }
    setFrameCount(n);
}
