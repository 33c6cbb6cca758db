#include "DeviceModel.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

namespace marovin_device {

namespace {

// Where a status bit lives: register cell, bit index in it, and whether the
// driver stores the bit inverted.
struct StatusBitPlace {
    int bit;
    std::uint8_t space;
    std::uint16_t reg;
    int index;
    bool inverted;
};

// The 32-bit register 0x7095 travels low word first and the driver reads its
// four data bytes as one big-endian value V, so bit k of V's upper half is bit
// k - 16 of the register's low word and bit k of V's lower half is bit k + 16.
constexpr StatusBitPlace kStatusPlaces[] = {
    {36, Space32A, kStatusMain, 19, false},
    {37, Space32A, kStatusMain, 20, false},
    {38, Space32A, kStatusMain, 21, false},
    {39, Space32A, kStatusMain, 22, false},
    {25, Space32A, kStatusMain, 0, true},
    {28, Space32A, kStatusMain, 3, true},
    {29, Space32A, kStatusMain, 4, true},
    {30, Space32A, kStatusMain, 5, true},
    {31, Space32A, kStatusMain, 6, true},
    {2, Space16A, kStatusB, 2, false},
    {12, Space16A, kStatusC, 4, true},
    {16, Space16A, kStatusD, 0, false},
    {24, Space16A, kStatusE, 0, false},
};

// The place of a status bit, or null for a number that is none.
const StatusBitPlace *placeOf(int bit)
{
    for (const StatusBitPlace &p : kStatusPlaces)
        if (p.bit == bit)
            return &p;
    return nullptr;
}

// Big-endian 16-bit field at `p`.
std::uint16_t be16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// Big-endian 32-bit field at `p`.
std::uint32_t be32(const std::uint8_t *p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// Little-endian 32-bit field at `p`.
std::uint32_t le32(const std::uint8_t *p)
{
    return (static_cast<std::uint32_t>(p[3]) << 24) | (static_cast<std::uint32_t>(p[2]) << 16) |
           (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
}

// Base-10 integer of a whole text with an optional sign; 0 for anything else,
// as the driver's string-to-int conversion reads it.
long textToInt(const char *begin, const char *end)
{
    const char *p = begin;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end)
        return 0;
    long value = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + (*p - '0');
        if (value > 0x7FFFFFFFL)
            return 0;
    }
    return negative ? -value : value;
}

// Decimal digits of `value` written at `out`; returns the end.
char *putDigits(char *out, unsigned value)
{
    std::to_chars_result r = std::to_chars(out, out + 8, value);
    return r.ptr;
}

}  // namespace

std::uint8_t spaceOfArea(int areaCode)
{
    switch (areaCode) {
    case 1: return Space16A;
    case 2: return Space32A;
    case 3: return Space16B;
    case 4: return Space32B;
    case 5: return Space32A;
    default: return 0;
    }
}

bool isWordSpace(std::uint8_t space)
{
    return space == Space16A || space == Space16B;
}

void encodeDecimalFloat(float value, std::uint16_t *fractionWord, std::uint16_t *integerWord)
{
    char text[32];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::general, 6);
    const char *end = r.ec == std::errc() ? r.ptr : text;
    const char *point = std::find(static_cast<const char *>(text), end, '.');
    long integerPart = 0;
    long fractionPart = 0;
    if (point != end) {
        integerPart = textToInt(text, point);
        fractionPart = textToInt(point + 1, end);
    } else {
        integerPart = textToInt(text, end);
    }
    if (fractionWord)
        *fractionWord = static_cast<std::uint16_t>(static_cast<unsigned long>(fractionPart) & 0xFFFFu);
    if (integerWord)
        *integerWord = static_cast<std::uint16_t>(static_cast<unsigned long>(integerPart) & 0xFFFFu);
}

float decodeDecimalFloat(std::uint16_t fractionWord, std::uint16_t integerWord)
{
    char text[16];
    char *end = putDigits(text, integerWord);
    *end++ = '.';
    end = putDigits(end, fractionWord);
    float value = 0.0f;
    std::from_chars(text, end, value, std::chars_format::fixed);
    return value;
}

std::uint32_t decimalFloatCell(float value)
{
    std::uint16_t fraction = 0;
    std::uint16_t integer = 0;
    encodeDecimalFloat(value, &fraction, &integer);
    return (static_cast<std::uint32_t>(integer) << 16) | fraction;
}

float decimalFloatOfCell(std::uint32_t cell)
{
    return decodeDecimalFloat(static_cast<std::uint16_t>(cell & 0xFFFFu), static_cast<std::uint16_t>(cell >> 16));
}

const std::array<int, 13> &statusBits()
{
    static const std::array<int, 13> bits = {2, 12, 16, 24, 25, 28, 29, 30, 31, 36, 37, 38, 39};
    return bits;
}

bool isStatusBit(int bit)
{
    return placeOf(bit) != nullptr;
}

bool statusBitLocation(int bit, StatusBitLocation *out)
{
    const StatusBitPlace *p = placeOf(bit);
    if (!p)
        return false;
    if (out) {
        out->space = p->space;
        out->reg = p->reg;
        out->mask = 1u << p->index;
        out->inverted = p->inverted;
    }
    return true;
}

bool isWritableStatusBit(int bit)
{
    return bit == 12 || bit == 25 || (bit >= 28 && bit <= 31);
}

std::uint8_t sum8(const std::uint8_t *bytes, std::size_t count)
{
    unsigned s = 0;
    for (std::size_t i = 0; i < count; ++i)
        s += bytes[i];
    return static_cast<std::uint8_t>(s & 0xFFu);
}

DeviceModel::DeviceModel() = default;

void DeviceModel::setRemote(bool remote)
{
    if (remote != remote_)
        buffer_.clear();
    remote_ = remote;
}

void DeviceModel::serveAllStations()
{
    allStations_ = true;
    stations_.clear();
}

void DeviceModel::setStations(const std::set<int> &stations)
{
    allStations_ = false;
    stations_ = stations;
}

bool DeviceModel::serves(int station) const
{
    return allStations_ || stations_.count(station) != 0;
}

// Map key of a cell: station, space and address packed into 64 bits.
DeviceModel::Key DeviceModel::key(int station, std::uint8_t space, std::uint32_t address)
{
    return (static_cast<Key>(station & 0xFF) << 40) | (static_cast<Key>(space) << 32) | address;
}

std::uint32_t DeviceModel::get(int station, std::uint8_t space, std::uint32_t address) const
{
    auto it = memory_.find(key(station, space, address));
    return it == memory_.end() ? 0 : it->second.value;
}

bool DeviceModel::has(int station, std::uint8_t space, std::uint32_t address) const
{
    return memory_.count(key(station, space, address)) != 0;
}

void DeviceModel::set(int station, std::uint8_t space, std::uint32_t address, std::uint32_t value)
{
    if (isWordSpace(space))
        value &= 0xFFFFu;
    Stored &s = memory_[key(station, space, address)];
    s.value = value;
    if (s.view == 0)
        s.view = space == Space16A ? 1 : space == Space32A ? 2 : space == Space16B ? 3 : 4;
}

std::uint32_t DeviceModel::areaValue(int station, int areaCode, std::uint32_t address) const
{
    const std::uint8_t space = spaceOfArea(areaCode);
    return space ? get(station, space, address) : 0;
}

void DeviceModel::setAreaValue(int station, int areaCode, std::uint32_t address, std::uint32_t value)
{
    const std::uint8_t space = spaceOfArea(areaCode);
    if (!space)
        return;
    set(station, space, address, value);
    memory_[key(station, space, address)].view = areaCode;
}

void DeviceModel::setDecimalFloat(int station, std::uint32_t address, float value)
{
    setAreaValue(station, 5, address, decimalFloatCell(value));
}

float DeviceModel::decimalFloat(int station, std::uint32_t address) const
{
    return decimalFloatOfCell(get(station, Space32A, address));
}

void DeviceModel::setDecimalWords(int station, std::uint32_t address, std::uint16_t fractionWord,
                                  std::uint16_t integerWord)
{
    setAreaValue(station, 5, address, (static_cast<std::uint32_t>(integerWord) << 16) | fractionWord);
}

void DeviceModel::decimalWords(int station, std::uint32_t address, std::uint16_t *fractionWord,
                               std::uint16_t *integerWord) const
{
    const std::uint32_t cell = get(station, Space32A, address);
    if (fractionWord)
        *fractionWord = static_cast<std::uint16_t>(cell & 0xFFFFu);
    if (integerWord)
        *integerWord = static_cast<std::uint16_t>(cell >> 16);
}

void DeviceModel::setStatusBit(int station, int bit, bool value)
{
    const StatusBitPlace *p = placeOf(bit);
    if (!p)
        return;
    const bool raw = p->inverted ? !value : value;
    std::uint32_t cell = get(station, p->space, p->reg);
    const std::uint32_t mask = 1u << p->index;
    cell = raw ? (cell | mask) : (cell & ~mask);
    set(station, p->space, p->reg, cell);
}

bool DeviceModel::statusBit(int station, int bit) const
{
    const StatusBitPlace *p = placeOf(bit);
    if (!p)
        return false;
    const bool raw = (get(station, p->space, p->reg) >> p->index) & 1u;
    return p->inverted ? !raw : raw;
}

std::vector<Cell> DeviceModel::cells() const
{
    std::vector<Cell> out;
    out.reserve(memory_.size());
    for (const auto &entry : memory_) {
        Cell c;
        c.station = static_cast<int>((entry.first >> 40) & 0xFF);
        c.space = static_cast<std::uint8_t>((entry.first >> 32) & 0xFF);
        c.address = static_cast<std::uint32_t>(entry.first & 0xFFFFFFFFu);
        c.value = entry.second.value;
        c.view = entry.second.view;
        out.push_back(c);
    }
    return out;
}

// Writes a cell on behalf of a request and tells the write hook.
void DeviceModel::store(int station, std::uint8_t space, std::uint32_t address, std::uint32_t value, int view,
                        WriteEvent event)
{
    if (isWordSpace(space))
        value &= 0xFFFFu;
    Stored &s = memory_[key(station, space, address)];
    event.station = station;
    event.space = space;
    event.address = address;
    event.before = s.value;
    event.after = value;
    s.value = value;
    if (view != 0)
        s.view = view;
    else if (s.view == 0)
        s.view = space == Space16A ? 1 : space == Space32A ? 2 : space == Space16B ? 3 : 4;
    if (writeHook_)
        writeHook_(event);
}

std::size_t DeviceModel::frameLength(std::uint8_t first) const
{
    if (remote_)
        return first >= 22 ? first : 0;
    if (first == 0x08)
        return 10;
    if (first == 0x0A)
        return 12;
    return 0;
}

bool DeviceModel::sumOk(const std::uint8_t *frame, std::size_t length)
{
    return length >= 2 && sum8(frame, length - 1) == frame[length - 1];
}

std::vector<std::uint8_t> DeviceModel::handle(const std::uint8_t *frame, std::size_t length)
{
    if (!frame || length == 0 || frameLength(frame[0]) != length || !sumOk(frame, length)) {
        ++counters_.badSums;
        return {};
    }
    ++counters_.frames;
    std::vector<std::uint8_t> reply = remote_ ? handleRemote(frame, length) : handleLocal(frame, length);
    if (!reply.empty())
        ++counters_.replies;
    return reply;
}

// The 13- or 15-byte read reply for a cell (zero data when `known` is false).
std::vector<std::uint8_t> DeviceModel::readReply(int station, std::uint16_t command, std::uint16_t register16,
                                                 std::uint8_t space, std::uint32_t address, bool known)
{
    const bool word = known && isWordSpace(space);
    const std::size_t length = word ? 13 : 15;
    std::vector<std::uint8_t> r(length, 0);
    const unsigned node = static_cast<unsigned>(station & 0xFF) * 16u;
    r[0] = static_cast<std::uint8_t>(length - 2);
    if (echo_) {
        r[1] = static_cast<std::uint8_t>(node >> 8);
        r[2] = static_cast<std::uint8_t>(node & 0xFF);
        r[3] = static_cast<std::uint8_t>(command >> 8);
        r[4] = static_cast<std::uint8_t>(command & 0xFF);
        r[5] = static_cast<std::uint8_t>((node + 1) >> 8);
        r[6] = static_cast<std::uint8_t>((node + 1) & 0xFF);
        r[7] = static_cast<std::uint8_t>(register16 >> 8);
        r[8] = static_cast<std::uint8_t>(register16 & 0xFF);
        r[9] = static_cast<std::uint8_t>(word ? 2 : 4);
    }
    if (known) {
        const std::uint32_t v = get(station, space, address);
        if (word) {
            r[10] = static_cast<std::uint8_t>(v >> 8);
            r[11] = static_cast<std::uint8_t>(v);
        } else {
            // Low word first, each word high byte first.
            r[10] = static_cast<std::uint8_t>(v >> 8);
            r[11] = static_cast<std::uint8_t>(v);
            r[12] = static_cast<std::uint8_t>(v >> 24);
            r[13] = static_cast<std::uint8_t>(v >> 16);
        }
    }
    r[length - 1] = sum8(r.data() + 1, length - 2);
    return r;
}

// Applies a 0x5C00 write: register = (register AND first mask) OR second mask.
void DeviceModel::applyBitWrite(int station, std::uint16_t reg, std::uint16_t andMask, std::uint16_t orMask)
{
    WriteEvent event;
    event.command = WriteBit;
    if (reg == kStatusMain) {
        // The bit-write register is the low word of the 32-bit cell read with 0xB005.
        const std::uint32_t cell = get(station, Space32A, reg);
        const std::uint32_t low = ((cell & 0xFFFFu) & andMask) | orMask;
        store(station, Space32A, reg, (cell & 0xFFFF0000u) | low, 0, event);
    } else {
        const std::uint32_t word = get(station, Space16A, reg);
        store(station, Space16A, reg, ((word & andMask) | orMask) & 0xFFFFu, 0, event);
    }
}

// The reply to a local request with a good sum.
std::vector<std::uint8_t> DeviceModel::handleLocal(const std::uint8_t *f, std::size_t length)
{
    const int station = (be16(f + 1) >> 4) & 0xFF;
    if (!serves(station)) {
        ++counters_.skipped;
        return {};
    }
    ++counters_.requests;
    const std::uint16_t command = be16(f + 3);
    WriteEvent event;
    event.command = command;
    if (length == 10) {
        switch (command) {
        case ReadWordA:
        case ReadLongA:
        case ReadWordB:
        case ReadLongB: {
            const std::uint16_t reg = be16(f + 7);
            return readReply(station, command, reg, static_cast<std::uint8_t>(command & 0xFF), reg, true);
        }
        case WriteWordA:
        case WriteWordB:
            store(station, static_cast<std::uint8_t>(command & 0xFF), be16(f + 5), be16(f + 7), 0, event);
            return {kAck};
        default:
            break;
        }
    } else if (length == 12) {
        switch (command) {
        case WriteLongA:
        case WriteLongB: {
            const std::uint32_t value = (static_cast<std::uint32_t>(be16(f + 9)) << 16) | be16(f + 7);
            store(station, static_cast<std::uint8_t>(command & 0xFF), be16(f + 5), value, 0, event);
            return {kAck};
        }
        case WriteBit:
            applyBitWrite(station, be16(f + 5), be16(f + 7), be16(f + 9));
            return {kAck};
        default:
            break;
        }
    }
    // Unknown command (the driver sends 0x0001 for area codes it does not
    // know): a well-formed 15-byte reply of zeros, so the exchange completes.
    ++counters_.unknown;
    return readReply(station, command, be16(f + 7), 0, 0, false);
}

// Stores the data of a remote write, laid out as the driver holds values.
void DeviceModel::applyRemoteWrite(const std::uint8_t *f, std::size_t length, int station, int areaCode,
                                   std::uint32_t address, int count)
{
    const std::uint8_t *data = f + 21;
    const std::size_t dataLength = length - 22;
    const std::size_t units = count > 0 ? static_cast<std::size_t>(count) : 0;
    WriteEvent event;
    event.areaCode = areaCode;
    switch (areaCode) {
    case 0: {
        const std::size_t n = std::min(units, dataLength);
        for (std::size_t i = 0; i < n; ++i) {
            const int bit = static_cast<int>(address + i);
            const StatusBitPlace *p = placeOf(bit);
            if (!p)
                continue;
            const bool value = data[i] == 1;
            const bool raw = p->inverted ? !value : value;
            const std::uint32_t mask = 1u << p->index;
            const std::uint32_t cell = get(station, p->space, p->reg);
            WriteEvent e = event;
            e.bit = bit;
            store(station, p->space, p->reg, raw ? (cell | mask) : (cell & ~mask), 0, e);
        }
        break;
    }
    case 1:
    case 3: {
        const std::size_t n = std::min(units, dataLength / 2);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t word = data[2 * i] | (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
            store(station, spaceOfArea(areaCode), address + static_cast<std::uint32_t>(i), word, areaCode, event);
        }
        break;
    }
    case 2:
    case 4:
    case 5: {
        const std::size_t n = std::min(units / 2, dataLength / 4);
        for (std::size_t k = 0; k < n; ++k) {
            std::uint32_t value = le32(data + 4 * k);
            if (areaCode == 5) {
                float f32;
                std::memcpy(&f32, &value, sizeof f32);
                value = decimalFloatCell(f32);
            }
            store(station, spaceOfArea(areaCode), address + 2 * static_cast<std::uint32_t>(k), value, areaCode,
                  event);
        }
        break;
    }
    default:
        break;
    }
}

// The reply to a remote descriptor frame with a good sum.
std::vector<std::uint8_t> DeviceModel::handleRemote(const std::uint8_t *f, std::size_t length)
{
    const std::uint8_t accessMode = f[2];
    const int station = f[4];
    const int areaCode = static_cast<std::int16_t>(be16(f + 5));
    const std::uint32_t address = be32(f + 7);
    const int count = static_cast<std::int16_t>(be16(f + 11));

    if (accessMode == 1) {
        if (station == 0) {
            // A broadcast: applied where station 0 is served, never answered.
            ++counters_.broadcasts;
            if (serves(0)) {
                ++counters_.requests;
                applyRemoteWrite(f, length, station, areaCode, address, count);
            } else {
                ++counters_.skipped;
            }
            return {};
        }
        if (!serves(station)) {
            ++counters_.skipped;
            return {};
        }
        ++counters_.requests;
        applyRemoteWrite(f, length, station, areaCode, address, count);
        // Eight bytes: the descriptor's first six bytes echoed after a length byte.
        std::vector<std::uint8_t> r(8, 0);
        r[0] = 6;
        std::copy(f + 1, f + 7, r.begin() + 1);
        r[7] = sum8(r.data() + 1, 6);
        return r;
    }

    if (!serves(station)) {
        ++counters_.skipped;
        return {};
    }
    ++counters_.requests;
    if (areaCode == 0)
        return readReply(station, ReadLongA, kStatusMain, Space32A, kStatusMain, true);
    const std::uint8_t space = spaceOfArea(areaCode);
    if (!space) {
        ++counters_.unknown;
        return readReply(station, 0, static_cast<std::uint16_t>(address & 0xFFFFu), 0, 0, false);
    }
    return readReply(station, static_cast<std::uint16_t>(0xB000u | space), static_cast<std::uint16_t>(address & 0xFFFFu),
                     space, address, true);
}

std::vector<std::vector<std::uint8_t>> DeviceModel::feed(const std::uint8_t *bytes, std::size_t length,
                                                         std::vector<std::uint8_t> *dropped)
{
    if (bytes && length)
        buffer_.insert(buffer_.end(), bytes, bytes + length);
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t pos = 0;
    const std::size_t size = buffer_.size();
    auto drop = [&](std::size_t count) {
        if (dropped)
            dropped->insert(dropped->end(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos),
                            buffer_.begin() + static_cast<std::ptrdiff_t>(pos + count));
        counters_.garbageBytes += count;
        pos += count;
        inSync_ = false;
    };
    while (pos < size) {
        const std::size_t need = frameLength(buffer_[pos]);
        if (need == 0) {
            drop(1);
            continue;
        }
        if (size - pos < need) {
            // Incomplete. Requests arrive whole, so valid frames that end
            // exactly at the end of the input mean the bytes before them are junk.
            std::size_t start = 0;
            for (std::size_t p = pos + 1; p < size && !start; ++p) {
                std::size_t q = p;
                while (q < size) {
                    const std::size_t n = frameLength(buffer_[q]);
                    if (n == 0 || q + n > size || !sumOk(buffer_.data() + q, n))
                        break;
                    q += n;
                }
                if (q == size)
                    start = p;
            }
            if (!start)
                break;
            drop(start - pos);
            continue;
        }
        if (sumOk(buffer_.data() + pos, need)) {
            frames.emplace_back(buffer_.begin() + static_cast<std::ptrdiff_t>(pos),
                                buffer_.begin() + static_cast<std::ptrdiff_t>(pos + need));
            pos += need;
            inSync_ = true;
            continue;
        }
        // Only a frame where one was expected counts as a bad sum; the
        // candidates tried while resynchronising are just dropped bytes.
        if (inSync_)
            ++counters_.badSums;
        drop(1);
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
    return frames;
}

std::size_t DeviceModel::discardPartial()
{
    const std::size_t n = buffer_.size();
    counters_.garbageBytes += n;
    buffer_.clear();
    inSync_ = true;
    return n;
}

}  // namespace marovin_device
