// A pseudo-terminal master: the simulator's side of a line that the host
// opens as a serial device.
#include "PortIo.h"

#include <fcntl.h>
#include <termios.h>

namespace marovin_port {

namespace {

using namespace detail;

class PtyPort : public Port {
public:
    ~PtyPort() override
    {
        closeFd(&slave_);
        closeFd(&master_);
    }

    // Creates the pair, holds the slave open and puts it in raw mode.
    bool open(std::string *slavePath, std::string *error)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0)
            return fail(error, errnoText("posix_openpt"));
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return fail(error, errnoText("cannot unlock the pseudo-terminal"));
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            return fail(error, errnoText("ptsname"));
        path_ = name;
        // Holding the slave open keeps the master from reading EIO before the
        // first peer opens it and between peers.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0)
            return fail(error, errnoText("cannot open " + path_));
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0)
            return fail(error, errnoText("tcgetattr " + path_));
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
            return fail(error, errnoText("tcsetattr " + path_));
        if (!makeNonBlocking(master_))
            return fail(error, errnoText("fcntl"));
        if (slavePath)
            *slavePath = path_;
        return true;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        return writeAll(master_, bytes, count, false);
    }

    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        return readLoop(master_, out, wanted, firstByteMs, interByteMs) == ReadEnd::Done;
    }

    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        std::size_t count;
        return readBuffer(master_, buffer, capacity, &count, firstByteMs, interByteMs, &discarded_) == ReadEnd::Done
                   ? static_cast<long>(count)
                   : -1;
    }

    std::size_t flushInput() override { return drain(master_); }
    bool reopen() override { return master_ >= 0; }
    bool isOpen() const override { return master_ >= 0; }
    std::string describe() const override { return "pty " + path_; }
    int fd() const override { return master_; }

private:
    // Stores a message, closes what was opened and reports failure.
    bool fail(std::string *error, const std::string &message)
    {
        if (error)
            *error = message;
        closeFd(&slave_);
        closeFd(&master_);
        return false;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace

std::unique_ptr<Port> openPtyMaster(std::string *slavePath, std::string *error)
{
    auto p = std::make_unique<PtyPort>();
    if (!p->open(slavePath, error))
        return nullptr;
    return p;
}

}  // namespace marovin_port
