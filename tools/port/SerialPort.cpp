// A serial device through termios: the line settings, RS-485 direction
// control, and the baud rates this system can set.
#include "PortIo.h"

#include <cctype>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace marovin_port {

namespace {

using namespace detail;

struct BaudEntry {
    int rate;
    speed_t code;
};

// termios speed codes of this system.
const std::vector<BaudEntry> &baudTable()
{
    static const std::vector<BaudEntry> table = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B576000
        {576000, B576000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B1152000
        {1152000, B1152000},
#endif
#ifdef B1500000
        {1500000, B1500000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
#ifdef B2500000
        {2500000, B2500000},
#endif
#ifdef B3000000
        {3000000, B3000000},
#endif
#ifdef B3500000
        {3500000, B3500000},
#endif
#ifdef B4000000
        {4000000, B4000000},
#endif
    };
    return table;
}

class SerialPort : public FdPort {
public:
    SerialPort(std::string device, SerialOptions options) : device_(std::move(device)), options_(options) {}

    // Opens and configures the device; false with a message on failure.
    bool open(std::string *error)
    {
        closeFd(&fd_);
        speed_t speed = 0;
        if (!checkSettings(&speed, error))
            return false;
        fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return fail(error, errnoText("cannot open " + device_));
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0)
            return closeAndFail(error, device_ + " is not a serial device");
        setLine(&tio);
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
            ::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return closeAndFail(error, "cannot configure " + device_);
        if (options_.rs485) {
            serial_rs485 rs{};
            rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            if (::ioctl(fd_, TIOCSRS485, &rs) != 0)
                return closeAndFail(error, "cannot switch " + device_ + " to RS-485");
        }
        ::tcflush(fd_, TCIOFLUSH);
        return true;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        return writeAll(fd_, bytes, count, false);
    }

    std::size_t flushInput() override
    {
        if (fd_ >= 0)
            ::tcflush(fd_, TCIFLUSH);
        return drain(fd_);
    }

    bool reopen() override { return open(nullptr); }

    std::string describe() const override
    {
        std::string s = device_ + " " + std::to_string(options_.baud) + " " + std::to_string(options_.dataBits) +
                        static_cast<char>(std::toupper(static_cast<unsigned char>(options_.parity))) +
                        std::to_string(options_.stopBits);
        if (options_.rs485)
            s += " rs485";
        return s;
    }

    double bytesPerSecond() const override
    {
        return static_cast<double>(options_.baud) / bitsPerCharacter(options_);
    }

private:
    // Checks the line settings and finds the speed code of the baud rate.
    bool checkSettings(speed_t *speed, std::string *error) const
    {
        bool found = false;
        for (const BaudEntry &e : baudTable())
            if (e.rate == options_.baud) {
                *speed = e.code;
                found = true;
            }
        if (!found)
            return fail(error, "unsupported baud rate " + std::to_string(options_.baud));
        if (options_.dataBits < 5 || options_.dataBits > 8)
            return fail(error, "data bits must be 5 to 8");
        if (options_.stopBits != 1 && options_.stopBits != 2)
            return fail(error, "stop bits must be 1 or 2");
        const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(options_.parity)));
        if (parity != 'N' && parity != 'E' && parity != 'O')
            return fail(error, "parity must be N, E or O");
        return true;
    }

    // Raw mode with the character format of the options, reads that never block.
    void setLine(termios *tio) const
    {
        ::cfmakeraw(tio);
        tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio->c_cflag |= CLOCAL | CREAD;
        switch (options_.dataBits) {
        case 5: tio->c_cflag |= CS5; break;
        case 6: tio->c_cflag |= CS6; break;
        case 7: tio->c_cflag |= CS7; break;
        default: tio->c_cflag |= CS8; break;
        }
        const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(options_.parity)));
        if (parity != 'N')
            tio->c_cflag |= PARENB | (parity == 'O' ? PARODD : 0);
        if (options_.stopBits == 2)
            tio->c_cflag |= CSTOPB;
        tio->c_cc[VMIN] = 0;
        tio->c_cc[VTIME] = 0;
    }

    // Closes the device after a failed step, with errno's text in the message.
    bool closeAndFail(std::string *error, const std::string &what)
    {
        const std::string why = errnoText(what);
        closeFd(&fd_);
        return fail(error, why);
    }

    // Stores a message and reports failure.
    static bool fail(std::string *error, const std::string &message)
    {
        if (error)
            *error = message;
        return false;
    }

    std::string device_;
    SerialOptions options_;
};

}  // namespace

const std::vector<int> &supportedBaudRates()
{
    static const std::vector<int> rates = [] {
        std::vector<int> r;
        for (const BaudEntry &e : baudTable())
            r.push_back(e.rate);
        return r;
    }();
    return rates;
}

int bitsPerCharacter(const SerialOptions &options)
{
    const int parityBits = (options.parity == 'N' || options.parity == 'n') ? 0 : 1;
    return 1 + options.dataBits + parityBits + options.stopBits;
}

std::unique_ptr<Port> openSerial(const std::string &device, const SerialOptions &options, std::string *error)
{
    auto port = std::make_unique<SerialPort>(device, options);
    if (!port->open(error))
        return nullptr;
    return port;
}

}  // namespace marovin_port
