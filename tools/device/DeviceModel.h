// A PLC as the driver's frames see it: word memory per station, the status
// registers, local and remote request frames in, reply bytes out. Used by the
// simulator, the end-to-end tests and the fuzzers; plain C++17, no I/O.
#ifndef MAROVIN_TOOLS_DEVICE_MODEL_H
#define MAROVIN_TOOLS_DEVICE_MODEL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace marovin_device {

// Memory spaces, named by the low byte of their read (0xB0xx) and write
// (0x90xx) command words.
enum Space : std::uint8_t {
    Space16A = 0x04,  // area 1: 16-bit word per address
    Space32A = 0x05,  // area 2, and area 5 (decimal float) seen through its encoding
    Space16B = 0x08,  // area 3: 16-bit word per address
    Space32B = 0x09,  // area 4: 32-bit value per address
};

// Command words the device answers.
enum Command : std::uint16_t {
    ReadWordA = 0xB004,
    ReadLongA = 0xB005,
    ReadWordB = 0xB008,
    ReadLongB = 0xB009,
    WriteWordA = 0x9004,
    WriteLongA = 0x9005,
    WriteWordB = 0x9008,
    WriteLongB = 0x9009,
    WriteBit = 0x5C00,
};

// Status registers that the driver's status-bit block reads.
constexpr std::uint16_t kStatusMain = 0x7095;  // 32-bit, read with 0xB005
constexpr std::uint16_t kStatusB = 0x7098;     // 16-bit, read with 0xB004
constexpr std::uint16_t kStatusC = 0x709A;
constexpr std::uint16_t kStatusD = 0x709C;
constexpr std::uint16_t kStatusE = 0x709E;

constexpr std::uint8_t kAck = 0x4F;  // "O", the answer to every write

// The memory space behind a driver area code (1..5), or 0 for any other code.
std::uint8_t spaceOfArea(int areaCode);
// True for 16-bit spaces (0x04, 0x08).
bool isWordSpace(std::uint8_t space);

// Decimal float: the fraction word and integer word of a value, from its
// "%.6g" text (locale-free); both cut to 16 bits.
void encodeDecimalFloat(float value, std::uint16_t *fractionWord, std::uint16_t *integerWord);
// The value read back from the two words: text "I.F" with both words unsigned.
float decodeDecimalFloat(std::uint16_t fractionWord, std::uint16_t integerWord);
// The 32-bit cell holding a decimal float: integer word high, fraction word low.
std::uint32_t decimalFloatCell(float value);
float decimalFloatOfCell(std::uint32_t cell);

// The driver's status-bit numbers: 2, 12, 16, 24, 25, 28..31, 36..39.
const std::array<int, 13> &statusBits();
bool isStatusBit(int bit);
// Bits the driver can write with command 0x5C00: 12, 25, 28..31.
bool isWritableStatusBit(int bit);

// Where a status bit lives: the register cell, its one-bit mask there, and
// whether the driver stores the bit inverted.
struct StatusBitLocation {
    std::uint8_t space = 0;
    std::uint16_t reg = 0;
    std::uint32_t mask = 0;
    bool inverted = false;
};
// False for a number that is no status bit.
bool statusBitLocation(int bit, StatusBitLocation *out);

// Sum of bytes, low 8 bits.
std::uint8_t sum8(const std::uint8_t *bytes, std::size_t count);

// One memory cell as stored (only cells that were written or set exist).
struct Cell {
    int station = 0;
    std::uint8_t space = 0;
    std::uint32_t address = 0;
    std::uint32_t value = 0;
    // How the cell was last set explicitly: 5 for a decimal float, else the
    // area code of its space (1..4). Local 0x9005 writes keep what was there.
    int view = 0;
};

// A change of memory made by a request.
struct WriteEvent {
    int station = 0;
    std::uint8_t space = 0;
    std::uint32_t address = 0;
    std::uint32_t before = 0;
    std::uint32_t after = 0;
    std::uint16_t command = 0;  // the local command word; 0 for a remote write
    int areaCode = -1;          // remote: the descriptor's area code; local: -1
    int bit = -1;               // remote area-0 writes: the status bit number
};

struct Counters {
    std::uint64_t frames = 0;         // complete frames with a good sum, any station
    std::uint64_t requests = 0;       // of those, frames for a served station
    std::uint64_t replies = 0;        // non-empty replies produced
    std::uint64_t badSums = 0;        // frames refused for their sum byte
    std::uint64_t skipped = 0;        // good frames for stations not served
    std::uint64_t unknown = 0;        // local frames with a command not handled
    std::uint64_t broadcasts = 0;     // remote writes to station 0 (never answered)
    std::uint64_t garbageBytes = 0;   // bytes the framer dropped to resynchronise
};

class DeviceModel {
public:
    DeviceModel();

    // Remote mode: frames are descriptor frames instead of local requests.
    void setRemote(bool remote);
    bool remote() const { return remote_; }

    // Whether a read reply repeats its request's bytes 1 to 8 and then the
    // number of data bytes (the default), or carries zeros there.
    void setHeaderEcho(bool echo) { echo_ = echo; }

    // Stations answered; the default is all (0..255).
    void serveAllStations();
    void setStations(const std::set<int> &stations);
    bool serves(int station) const;

    // Raw memory. Reading an address never written gives 0.
    std::uint32_t get(int station, std::uint8_t space, std::uint32_t address) const;
    void set(int station, std::uint8_t space, std::uint32_t address, std::uint32_t value);
    bool has(int station, std::uint8_t space, std::uint32_t address) const;
    // By driver area code 1..4 (5 gives the raw cell of its decimal float).
    std::uint32_t areaValue(int station, int areaCode, std::uint32_t address) const;
    void setAreaValue(int station, int areaCode, std::uint32_t address, std::uint32_t value);

    // Decimal float at an address of area 5 (the 32-bit cell of space 0x05).
    void setDecimalFloat(int station, std::uint32_t address, float value);
    float decimalFloat(int station, std::uint32_t address) const;
    void setDecimalWords(int station, std::uint32_t address, std::uint16_t fractionWord, std::uint16_t integerWord);
    void decimalWords(int station, std::uint32_t address, std::uint16_t *fractionWord, std::uint16_t *integerWord) const;

    // Status bits by the driver's bit number: setting makes the driver store
    // `value` for the bit at its next status read; getting tells what it would
    // store. Unknown bit numbers are ignored (get gives false).
    void setStatusBit(int station, int bit, bool value);
    bool statusBit(int station, int bit) const;

    // Every cell that was written or set, ordered by station, space, address.
    std::vector<Cell> cells() const;

    // Answers one complete frame; empty when no reply is due (bad sum, station
    // not served, remote broadcast, frame too short).
    std::vector<std::uint8_t> handle(const std::uint8_t *frame, std::size_t length);
    std::vector<std::uint8_t> handle(const std::vector<std::uint8_t> &frame) { return handle(frame.data(), frame.size()); }

    // Streaming framer: appends bytes and returns the complete frames found,
    // dropping bytes that cannot start a frame. Dropped bytes are appended to
    // *dropped when given.
    std::vector<std::vector<std::uint8_t>> feed(const std::uint8_t *bytes, std::size_t length,
                                                std::vector<std::uint8_t> *dropped = nullptr);
    // Forgets a partial frame (e.g. after a silence on the line); returns the bytes dropped.
    std::size_t discardPartial();
    std::size_t pendingBytes() const { return buffer_.size(); }

    const Counters &counters() const { return counters_; }
    void resetCounters() { counters_ = Counters(); }

    using WriteHook = std::function<void(const WriteEvent &)>;
    void setWriteHook(WriteHook hook) { writeHook_ = std::move(hook); }

    // Expected total length of the frame starting with `first` in the current
    // mode, or 0 when no frame can start with that byte.
    std::size_t frameLength(std::uint8_t first) const;
    // Whether a complete frame of `length` bytes has a correct sum byte.
    static bool sumOk(const std::uint8_t *frame, std::size_t length);

private:
    struct Stored {
        std::uint32_t value = 0;
        int view = 0;
    };
    using Key = std::uint64_t;
    static Key key(int station, std::uint8_t space, std::uint32_t address);

    std::vector<std::uint8_t> handleLocal(const std::uint8_t *frame, std::size_t length);
    std::vector<std::uint8_t> handleRemote(const std::uint8_t *frame, std::size_t length);
    std::vector<std::uint8_t> readReply(int station, std::uint16_t command, std::uint16_t register16,
                                        std::uint8_t space, std::uint32_t address, bool known);
    void store(int station, std::uint8_t space, std::uint32_t address, std::uint32_t value, int view,
               WriteEvent event);
    void applyBitWrite(int station, std::uint16_t reg, std::uint16_t andMask, std::uint16_t orMask);
    void applyRemoteWrite(const std::uint8_t *frame, std::size_t length, int station, int areaCode,
                          std::uint32_t address, int count);

    bool remote_ = false;
    bool echo_ = true;
    bool allStations_ = true;
    std::set<int> stations_;
    std::map<Key, Stored> memory_;
    std::vector<std::uint8_t> buffer_;
    bool inSync_ = true;
    Counters counters_;
    WriteHook writeHook_;
};

}  // namespace marovin_device

#endif
