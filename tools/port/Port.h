// A byte transport shared by marovin-host and marovin-sim: serial device,
// TCP (client or listening server), RFC 2217 or pseudo-terminal.
#ifndef MAROVIN_TOOLS_PORT_H
#define MAROVIN_TOOLS_PORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace marovin_port {

struct SerialOptions {
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N';   // 'N', 'E', 'O'
    int stopBits = 1;
    bool rs485 = false;  // ask the kernel for RS-485 direction control (TIOCSRS485)
};

class Port {
public:
    virtual ~Port() = default;

    // Writes all bytes; false when the link failed.
    virtual bool write(const std::uint8_t *bytes, std::size_t count) = 0;
    // Reads what arrives: waits up to firstByteMs for the first byte, then keeps
    // reading until `wanted` bytes are in or no byte came for interByteMs. With
    // wanted < 0 the read also ends firstByteMs after it began (when >= 0) or
    // after 64 KiB, whatever the peer keeps sending. Returns false when the
    // link failed (not on a timeout).
    // `out` is replaced by the bytes read. firstByteMs < 0 waits without limit;
    // interByteMs <= 0 takes only what is already waiting after the first byte.
    // A signal does not cut the wait short; what is left of a wait it
    // interrupted may be counted from then on, so that wait can run longer.
    virtual bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) = 0;
    // read() into the caller's buffer, with capacity in the role of `wanted`:
    // returns the number of bytes read, or -1 when the link failed. A reply of
    // known length so lands where the caller needs it, without a copy. Bytes
    // that arrive together with the last wanted ones are dropped and counted
    // (see takeDiscarded).
    virtual long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) = 0;
    // Drops whatever input is waiting (a late reply must not pass for the next
    // one), at most 1 MiB; returns the number of bytes dropped.
    virtual std::size_t flushInput() = 0;
    // Bytes readInto dropped beyond its capacity: since the last takeDiscarded,
    // and taken.
    std::size_t discarded() const { return discarded_; }
    std::size_t takeDiscarded()
    {
        const std::size_t n = discarded_;
        discarded_ = 0;
        return n;
    }
    // Reopens a link that went away; false while it cannot.
    virtual bool reopen() = 0;
    virtual bool isOpen() const = 0;
    // Human-readable description, e.g. "/dev/ttyUSB0 9600 8N1" or "tcp 127.0.0.1:5020".
    virtual std::string describe() const = 0;
    // Theoretical bytes per second of the line (serial: baud / bits per character), 0 if unknown.
    virtual double bytesPerSecond() const { return 0.0; }
    // File descriptor for poll(), -1 if none.
    virtual int fd() const = 0;

protected:
    std::size_t discarded_ = 0;
};

// A listening TCP port that serves one client at a time; read and write act
// on the current client, and a read waits for the next one when none is
// connected.
class TcpServerPort : public Port {
public:
    // The local port actually bound (useful after listening on port 0).
    virtual int localPort() const = 0;
    // Whether a client is connected to read a write.
    virtual bool hasPeer() const = 0;
    // Clients accepted so far, so a caller can tell a new peer (and drop a
    // half-received frame of the old one).
    virtual unsigned long connections() const = 0;
};

// Baud rates that termios can set on this system, ascending.
const std::vector<int> &supportedBaudRates();
// Bits one character takes on the line: start, data, parity and stop bits.
int bitsPerCharacter(const SerialOptions &options);

// Open helpers; on failure return null and put a message in *error.
std::unique_ptr<Port> openSerial(const std::string &device, const SerialOptions &options, std::string *error);
std::unique_ptr<Port> openTcpClient(const std::string &host, int port, std::string *error);
// A serial port behind a serial-device server with COM port control (telnet,
// RFC 2217): connects, sets the line from `options`, and passes data bytes.
std::unique_ptr<Port> openRfc2217(const std::string &host, int port, const SerialOptions &options,
                                  std::string *error);
// Listens on host:port (empty host: 127.0.0.1; port 0: any free port).
std::unique_ptr<TcpServerPort> openTcpServer(const std::string &host, int port, std::string *error);
// Creates a pseudo-terminal master; *slavePath receives the path for the other side.
std::unique_ptr<Port> openPtyMaster(std::string *slavePath, std::string *error);

}  // namespace marovin_port

#endif
