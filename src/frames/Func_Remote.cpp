// Remote-mode request builders: the variable descriptor itself travels to the
// other end of the link, which performs the access.
#include "Func_Remote.h"

#include "Func_Check.h"
#include "Settings.h"
#include "data/Func_GetOrSetData.h"

namespace {

const int kHeaderLength = 21;

// Writes the low `width` bytes of `value` big-endian at `offset`.
void putBigEndian(QByteArray &frame, int offset, unsigned int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        frame[offset + i] = char(value & 0xFF);
        value >>= 8;
    }
}

// The 21-byte descriptor header; byte 0 is left for the caller.
QByteArray remoteHeader(const RW_VAR &var)
{
    QByteArray frame(kHeaderLength, '\0');
    frame[1] = char(var.ownerType & 0xFF);
    frame[2] = char(var.accessMode & 0xFF);
    frame[3] = char(var.linkNo & 0xFF);
    frame[4] = char(var.station & 0xFF);
    putBigEndian(frame, 5, static_cast<unsigned int>(var.areaCode), 2);
    putBigEndian(frame, 7, static_cast<unsigned int>(var.address), 4);
    putBigEndian(frame, 11, static_cast<unsigned int>(var.count), 2);
    putBigEndian(frame, 13, static_cast<unsigned int>(var.remoteArg1), 4);
    putBigEndian(frame, 17, static_cast<unsigned int>(var.remoteArg2), 4);
    return frame;
}

// Low 8 bits of the sum of every byte of `frame`, for frames of any length.
char sumByte(const QByteArray &frame)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(frame.constData());
    unsigned int sum = 0;
    for (int done = 0; done < frame.size();) {
        const int chunk = frame.size() - done < 0xFFFF ? frame.size() - done : 0xFFFF;
        sum += CalSUM(bytes + done, static_cast<unsigned short>(chunk));
        done += chunk;
    }
    return char(sum & 0xFF);
}

// Queues `frame` (sum byte included) for the variable.
void queueRemote(const QByteArray &frame, const RW_VAR &var, int replyLength, int dataOffset,
                 int dataLength)
{
    Protocol p;
    p.frame = frame;
    p.requestLength = frame.size();
    p.replyLength = replyLength;
    p.dataOffset = dataOffset;
    p.dataLength = dataLength;
    p.var = var;
    PLC_driver.frameQueue.append(p);
    if (marovin::settingsRecord()) {
        marovin::setSetting(MarovinSettings::framesDone, 0);
        marovin::setSetting(MarovinSettings::framesPerVar, 1);
    }
}

}  // namespace

void Remote_ReadVar(RW_VAR *var)
{
    if (!var)
        return;
    QByteArray frame = remoteHeader(*var);
    frame[0] = char(kHeaderLength + 1);
    frame.append(sumByte(frame));
    const bool word16 = var->areaCode == 1 || var->areaCode == 3;
    queueRemote(frame, *var, word16 ? 13 : 15, 10, word16 ? 2 : 4);
}

void Remote_WriteVar(RW_VAR *var)
{
    if (!var)
        return;
    QByteArray frame = remoteHeader(*var);
    frame.append(var->data);
    // The length byte counts the sum byte still to come; long data wraps it.
    frame[0] = char((frame.size() + 1) & 0xFF);
    frame.append(sumByte(frame));
    queueRemote(frame, *var, var->station != 0 ? 8 : 0, 0, 0);

    // The local copy changes at once, whatever the state of the link.
    WriteDataToLocal(var);
}
