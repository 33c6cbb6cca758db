// Read request builders: one 10-byte request per value, five for the
// status-bit block.
#include "Func_Read.h"

#include "DriverPrivate.h"
#include "Func_Check.h"
#include "Settings.h"

namespace {

// Command words of the 16- and 32-bit areas 1 to 5; any other area reads 0x0001.
const unsigned int kReadCommands[5] = {0xB004, 0xB005, 0xB008, 0xB009, 0xB005};

struct BitBlockRequest {
    unsigned short command;
    unsigned short registerWord;
    int replyLength;
};

// The status-bit block, in the order in which reply storage expects the replies.
const BitBlockRequest kBitBlock[5] = {
    {0xB005, 0x7095, 15},
    {0xB004, 0x7098, 13},
    {0xB004, 0x709A, 13},
    {0xB004, 0x709C, 13},
    {0xB004, 0x709E, 13},
};

// The 10-byte read request for `registerWord` of the variable's station.
__attribute__((noinline)) QByteArray buildReadFrame(int station, unsigned int command, unsigned int registerWord)
{
    const unsigned int node = (static_cast<unsigned int>(station) << 4) & 0x0FF0u;
    unsigned char bytes[10] = {0x08,
                               static_cast<unsigned char>(node >> 8),
                               static_cast<unsigned char>(node & 0xFF),
                               static_cast<unsigned char>((command >> 8) & 0xFF),
                               static_cast<unsigned char>(command & 0xFF),
                               static_cast<unsigned char>(node >> 8),
                               static_cast<unsigned char>((node & 0xFF) | 0x01),
                               static_cast<unsigned char>((registerWord >> 8) & 0xFF),
                               static_cast<unsigned char>(registerWord & 0xFF),
                               0};
    bytes[9] = static_cast<unsigned char>(CalSUM(bytes, 9) & 0xFF);
    return QByteArray(reinterpret_cast<const char *>(bytes), 10);
}

// Fills a queued read request; the frame is shared, not copied.
inline void fillRead(Protocol &p, const QByteArray &frame, const RW_VAR &var, int replyLength, int dataLength)
{
    marovin::share(p.frame, frame);
    p.requestLength = 10;
    p.replyLength = replyLength;
    p.dataOffset = 10;
    p.dataLength = dataLength;
    marovin::copyVar(p.var, var);
}

// A new record at the end of the queue, for when no spare node can be used.
__attribute__((noinline)) Protocol &appendRecord()
{
    QList<Protocol> &queue = PLC_driver.frameQueue;
    queue.append(Protocol());
    return queue.last();
}

// Queues one read request for `registerWord` of the variable's station. The
// frame comes from the table of built frames; the queue node is the one this
// frame's last request used, else the one the last exchange left.
void queueRead(const RW_VAR &var, unsigned int command, unsigned int registerWord, int replyLength,
               int dataLength)
{
    MarovinPrivate *priv = PLC_driver.priv;
    if (!priv) {
        fillRead(appendRecord(), buildReadFrame(var.station, command, registerWord), var, replyLength,
                 dataLength);
        return;
    }

    const unsigned long long key = 1ull << 63 | (static_cast<unsigned long long>(var.station) & 0xFFu) << 32
                                   | (command & 0xFFFFu) << 16 | (registerWord & 0xFFFFu);
    bool fresh = false;
    const int slot = priv->frames.find(key, &fresh);
    if (fresh)
        priv->frames.at(slot).frame = buildReadFrame(var.station, command, registerWord);
    priv->currentSlot = slot;

    QList<Protocol> &queue = PLC_driver.frameQueue;
    if (queue.isEmpty() && (priv->frames.unpark(slot, queue) || priv->spareQueue.size() == 1)) {
        if (queue.isEmpty())
            queue.swap(priv->spareQueue);
        Protocol &p = queue.first();
        p.extra1 = 0;
        p.extra2 = 0;
        p.extra3 = 0;
        fillRead(p, priv->frames.at(slot).frame, var, replyLength, dataLength);
    } else {
        fillRead(appendRecord(), priv->frames.at(slot).frame, var, replyLength, dataLength);
    }
}

// Tells reply processing how many requests the current variable has.
void setFrameCount(int framesPerVar)
{
    if (!marovin::settingsRecord())
        return;
    marovin::setSetting(MarovinSettings::framesDone, 0);
    marovin::setSetting(MarovinSettings::framesPerVar, framesPerVar);
}

}  // namespace

void ReadRegister(RW_VAR *var)
{
    if (!var)
        return;
    if (var->areaCode == 0)
        ReadBool(var);
    else
        ReadAnalog(var);
}

void ReadBool(RW_VAR *var)
{
    if (!var)
        return;
    for (const BitBlockRequest &r : kBitBlock)
        queueRead(*var, r.command, r.registerWord, r.replyLength, 4);
    setFrameCount(5);
}

void ReadAnalog(RW_VAR *var)
{
    if (!var)
        return;
    const unsigned int index = static_cast<unsigned int>(var->areaCode) - 1u;
    const unsigned int command = index < 5u ? kReadCommands[index] : 0x0001u;
    const bool word16 = var->areaCode == 1 || var->areaCode == 3;
    queueRead(*var, command & 0xFFFFu, static_cast<unsigned int>(var->address) & 0xFFFFu,
              word16 ? 13 : 15, word16 ? 2 : 4);
    setFrameCount(1);
}
