// Checksum routines and the reply check.
#include "Func_Check.h"

#include <cstdint>
#include <cstring>

namespace {

// The eight bytes of w added pairwise into four 16-bit lanes.
inline std::uint64_t lanes(std::uint64_t w)
{
    const std::uint64_t lowBytes = 0x00FF00FF00FF00FFull;
    return (w & lowBytes) + ((w >> 8) & lowBytes);
}

// Sum of four 16-bit lanes.
inline unsigned int laneSum(std::uint64_t l)
{
    return static_cast<unsigned int>((l * 0x0001000100010001ull) >> 48);
}

// Eight bytes from any address.
inline std::uint64_t load8(const unsigned char *bytes)
{
    std::uint64_t w;
    std::memcpy(&w, bytes, sizeof w);
    return w;
}

// Bytes 1 to 8 of a frame, byte 1 lowest: one load on a little-endian machine.
inline std::uint64_t headerBytes(const unsigned char *p)
{
    return static_cast<std::uint64_t>(p[1]) | static_cast<std::uint64_t>(p[2]) << 8 |
           static_cast<std::uint64_t>(p[3]) << 16 | static_cast<std::uint64_t>(p[4]) << 24 |
           static_cast<std::uint64_t>(p[5]) << 32 | static_cast<std::uint64_t>(p[6]) << 40 |
           static_cast<std::uint64_t>(p[7]) << 48 | static_cast<std::uint64_t>(p[8]) << 56;
}

// Whether a data reply of `length` bytes names a request other than the
// 10-byte local request `frame`. A reply that repeats a read request's header
// in its bytes 1 to 8 (node word N, a read command 0xB0xx, N + 1, register)
// says which request it answers; one that names another is a late answer to
// an earlier request, not this one's. A reply without such a header is not judged.
inline bool namesAnotherRequest(const QByteArray &frame, const unsigned char *reply, int length)
{
    if (__builtin_expect(length < 9 || frame.size() != 10, 0))
        return false;
    const std::uint64_t named = headerBytes(reply);
    if (named == headerBytes(reinterpret_cast<const unsigned char *>(frame.constData())))
        return false;
    // N's top and bottom four bits are 0, so N + 1 differs from N in bit 0 only.
    return ((named ^ (named >> 32)) & 0xFFFFu) == 0x0100u && (named & 0xFF0FF0u) == 0xB00000u;
}

// Sum of `count` bytes. A reply's 9 to 16 summed bytes take two loads, the
// second one's bytes already counted shifted out.
unsigned int byteSum(const unsigned char *bytes, int count)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (count > 8 && count <= 16)
        return laneSum(lanes(load8(bytes)) + lanes(load8(bytes + count - 8) >> (8 * (16 - count))));
#endif
    unsigned int sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

}  // namespace

// Low 16 bits of the sum of the bytes.
unsigned short CalSUM(const unsigned char *bytes, unsigned short length)
{
    unsigned int sum = 0;
    for (unsigned short i = 0; bytes && i < length; ++i)
        sum += bytes[i];
    return static_cast<unsigned short>(sum);
}

// CRC-16/MODBUS: init 0xFFFF, reflected polynomial 0xA001, no final XOR.
unsigned short CalCRC(const unsigned char *bytes, unsigned short length)
{
    unsigned short crc = 0xFFFF;
    for (unsigned short i = 0; bytes && i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0xA001) : static_cast<unsigned short>(crc >> 1);
    }
    return crc;
}

// Two's complement of the 8-bit sum, as 1..256 (a zero low byte gives 256).
int CalLRC(const unsigned char *bytes, unsigned short length)
{
    unsigned int sum = 0;
    for (unsigned short i = 0; bytes && i < length; ++i)
        sum += bytes[i];
    return static_cast<int>((~sum) & 0xFF) + 1;
}

// XOR of the bytes; 0 for no bytes.
unsigned short CalXOR(const unsigned char *bytes, unsigned short length)
{
    unsigned short x = 0;
    for (unsigned short i = 0; bytes && i < length; ++i)
        x ^= bytes[i];
    return x;
}

// Digit value to its character: 0-9 to '0'-'9', 10 and up to 'A' onward.
int DigitalToASCII(int value)
{
    return value <= 9 ? value + 0x30 : value + 0x37;
}

// Character to digit value, the inverse of DigitalToASCII for 0-9 and A-F.
int ASCIIToDigital(int character)
{
    if (character <= 0x2F)
        return 0;
    if (character <= 0x3F)
        return character - 0x30;
    if (character == 0x40)
        return 0;
    return character - 0x37;
}

// Is `reply` (of `length` bytes) an intact answer to the request at the front
// of the frame queue? 1: data reply passed its sum; 2: write acknowledged; 0:
// failed, or the reply names another request.
int CheckGetData(QByteArray *reply, int length)
{
    if (!reply || PLC_driver.frameQueue.isEmpty())
        return 0;
    return marovin::checkReplyTo(static_cast<const QList<Protocol> &>(PLC_driver.frameQueue).first(), *reply, length);
}

namespace marovin {

int checkReplyTo(const Protocol &request, const QByteArray &reply, int length)
{
    const bool write = request.var.accessMode == 1;

    // A local write is answered by the single byte "O"; a remote write by a
    // summed reply like a data reply, so it is checked as one below.
    if (write && request.replyLength == 1)
        return (reply.size() == 1 && static_cast<unsigned char>(reply.at(0)) == 0x4F) ? 2 : 0;

    // The sum covers bytes 1 .. length-2 and sits at length-1: needs 2 bytes.
    if (length < 2 || length > reply.size())
        return 0;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(reply.constData());
    if ((byteSum(bytes + 1, length - 2) & 0xFF) != bytes[length - 1])
        return 0;
    if (namesAnotherRequest(request.frame, bytes, length))
        return 0;
    // A write's own frame carries no data to store; a write variable read by
    // a read frame still gets its data stored.
    return (write && request.dataLength == 0) ? 2 : 1;
}

}  // namespace marovin
