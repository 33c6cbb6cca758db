// A minimal panel host for libMarovin.so.1, written to be copied. It does what
// a panel runtime does: loads the driver with dlopen, hands it a settings
// record and two callbacks, registers three cyclic reads, runs the exchange
// loop on a serial line, and lets a screen thread show the values and change
// one of them. The contract it follows is docs/api.md.
//
//   minimal_host DEVICE [LIBRARY]      e.g. minimal_host /dev/ttyUSB0
//
// DEVICE is opened at 9600 baud 8N1; LIBRARY defaults to libMarovin.so.1 on
// the loader's search path. It shows words 0x10 and 0x11 and the 32-bit value
// at 0x20 of station 1, writes 0x1234 to word 0x11, shows them again once the
// PLC has answered, and exits 0 (1 on any failure or after 20 s).
#include <marovin/Marovin.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

// The entry points this host uses, resolved by their plain names.
struct Driver {
    decltype(&SetComInfo) setComInfo;
    decltype(&RegistCallBackFuncIntf) registCallBackFuncIntf;
    decltype(&PLCAddressChangeIntef) plcAddressChangeIntef;
    decltype(&AddListReadVar) addListReadVar;
    decltype(&ComCommunication) comCommunication;
    decltype(&DataCom) dataCom;
    decltype(&GetRegisterData) getRegisterData;
    decltype(&SetRegisterData) setRegisterData;
};

// Looks one entry point up; false (with a message) when the library lacks it.
template <typename F>
bool resolve(void *library, const char *name, F *entry)
{
    *entry = reinterpret_cast<F>(dlsym(library, name));
    if (!*entry)
        std::fprintf(stderr, "minimal_host: no %s in the library\n", name);
    return *entry != nullptr;
}

// What the screen shows: area code, address text, length in 16-bit words.
struct Value {
    int area;
    const char *address;
    int words;
};
const Value kValues[] = {{1, "10", 1}, {1, "11", 1}, {2, "20", 2}};
const int kStation = 1;
const int kScreenOwner = 2;  // ownerType of the screen's writes (cyclic reads use 0)

// Shared by the exchange thread and the screen thread.
std::atomic<int> g_cycles{0};        // read cycles answered, counted by the exchange thread
std::atomic<int> g_writeStatus{-1};  // the screen's write: its final status once it ended
std::atomic<int> g_notices{0};       // ownerNotify calls
std::atomic<bool> g_stop{false};

// The callbacks run inside the driver with its list lock held: note what
// happened and return; never call back into the driver's lists from here.
int onOnceReadDone(int /*notifyContext*/, int /*ownerType*/, int /*ownerId*/, int /*outcome*/)
{
    return 0;  // this host registers no once-reads
}

int onOwnerNotify(QList<RW_VAR> * /*driversList*/, int /*ownerType*/, int /*one*/)
{
    ++g_notices;  // a write taken up, or a variable given up
    return 0;
}

// Opens the line raw at 9600 baud 8N1 without flow control; -1 on failure.
int openLine(const char *path)
{
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        std::perror(path);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        std::perror(path);
        close(fd);
        return -1;
    }
    return fd;
}

// Reads a reply of `wanted` bytes (-1: any length, ended by 50 ms of silence;
// 0: none expected), waiting at most 1 s for its first byte. Returns the count.
int readReply(int fd, QByteArray *reply, int wanted)
{
    reply->resize(wanted > 0 ? wanted : 512);
    int got = 0;
    while (wanted != 0 && got < reply->size()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, got == 0 ? 1000 : 50) <= 0)
            break;
        const ssize_t n = read(fd, reply->data() + got, static_cast<size_t>(reply->size() - got));
        if (n <= 0)
            break;
        got += static_cast<int>(n);
    }
    reply->resize(got);
    return got;
}

// The exchange loop: the only thread that calls ComCommunication and DataCom.
int exchangeLoop(const Driver &d, int *settings, int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!g_stop) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "minimal_host: timed out\n");
            return 1;
        }
        const Protocol *request = d.comCommunication();
        if (!request) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // nothing to send now
        } else {
            // The request is the driver's and valid only until DataCom: take
            // what is needed afterwards now.
            const bool isWrite = request->var.accessMode == 1;
            tcflush(fd, TCIFLUSH);  // drop what a failed exchange may have left
            if (write(fd, request->frame.constData(), static_cast<size_t>(request->requestLength)) !=
                request->requestLength) {
                std::perror("minimal_host: write");
                return 1;
            }
            QByteArray reply;
            const int length = readReply(fd, &reply, request->replyLength);
            const RW_VAR *result = d.dataCom(&reply, length);

            // 0: the driver repeats the request; 1 (100 remote): good; else given up.
            const int status = result->status;
            const bool good = status == 1 || status == 100;
            if (status != 0 && !good)
                std::fprintf(stderr, "minimal_host: station %d area %d address 0x%X given up, status %d\n",
                             result->station, result->areaCode, static_cast<unsigned>(result->address), status);
            // A variable has ended when it failed for good or its last request was answered.
            const bool ended = status != 0 && (!good || settings[MarovinSettings::framesDone] >=
                                                            settings[MarovinSettings::framesPerVar]);
            if (isWrite && ended)
                g_writeStatus = status;
        }
        // The driver raises finishFlag when a whole read cycle was answered.
        if (settings[MarovinSettings::finishFlag] == 1) {
            settings[MarovinSettings::finishFlag] = 0;
            ++g_cycles;
        }
    }
    return 0;
}

// Waits until `done` holds; false when the host is stopping.
bool waitFor(const std::function<bool()> &done)
{
    while (!done()) {
        if (g_stop)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Prints every value from the driver's cache, as a screen refresh would.
void show(const Driver &d)
{
    for (const Value &v : kValues) {
        QByteArray bytes;
        if (d.getRegisterData(QString(), v.area, QString(v.address), kStation, &bytes, v.words) != 1)
            continue;
        unsigned long value = 0;  // bytes come least significant first
        for (int i = bytes.size() - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(bytes.at(i));
        std::printf("%d:%d:%s = %lu\n", kStation, v.area, v.address, value);
    }
    std::fflush(stdout);
}

// A screen: shows the values once read, writes one, shows them again after
// two more cycles (which always cover every cyclic read), then stops the host.
void screen(const Driver &d)
{
    if (!waitFor([] { return g_cycles >= 1; }))
        return;
    show(d);

    const QByteArray value("\x34\x12", 2);  // 0x1234, least significant byte first
    QByteArray bytes = value;
    if (d.setRegisterData(QString("screen"), 1, QString("11"), kStation, &bytes, 1, kScreenOwner, 1) == 0) {
        std::fprintf(stderr, "minimal_host: the write was refused\n");
        g_stop = true;
        return;
    }
    if (!waitFor([] { return g_writeStatus != -1; }))
        return;
    std::printf("write %d:1:11 = 0x1234: status %d\n", kStation, g_writeStatus.load());
    const int cycles = g_cycles;
    if (waitFor([cycles] { return g_cycles >= cycles + 2; }))
        show(d);
    g_stop = true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: minimal_host DEVICE [LIBRARY]\n");
        return 1;
    }
    void *library = dlopen(argc > 2 ? argv[2] : "libMarovin.so.1", RTLD_NOW);
    if (!library) {
        std::fprintf(stderr, "minimal_host: %s\n", dlerror());
        return 1;
    }
    Driver d{};
    if (!resolve(library, "SetComInfo", &d.setComInfo) ||
        !resolve(library, "RegistCallBackFuncIntf", &d.registCallBackFuncIntf) ||
        !resolve(library, "PLCAddressChangeIntef", &d.plcAddressChangeIntef) ||
        !resolve(library, "AddListReadVar", &d.addListReadVar) ||
        !resolve(library, "ComCommunication", &d.comCommunication) || !resolve(library, "DataCom", &d.dataCom) ||
        !resolve(library, "GetRegisterData", &d.getRegisterData) ||
        !resolve(library, "SetRegisterData", &d.setRegisterData))
        return 1;

    // The settings record stays the host's: the driver keeps its address, reads
    // the words set here and writes its counters and finishFlag into it.
    static int settings[32] = {};
    settings[MarovinSettings::maxUnits] = 8;
    settings[MarovinSettings::defaultStation] = kStation;
    settings[MarovinSettings::retryLimit] = 2;
    settings[MarovinSettings::multiStation] = 0;
    settings[MarovinSettings::remoteMode] = 0;
    settings[MarovinSettings::localLinkNo] = 0;
    settings[MarovinSettings::writeMode] = 2;  // screen writes go to the PLC
    d.setComInfo(settings);
    d.registCallBackFuncIntf(&onOnceReadDone, &onOwnerNotify);

    // Cyclic reads. AddListReadVar takes the record as it is (no parse, no
    // lock), so fill in the address and register before the loop starts.
    for (const Value &v : kValues) {
        RW_VAR var;
        var.ownerType = 0;
        var.ownerId = -1;
        var.accessMode = 0;  // a read
        var.linkNo = settings[MarovinSettings::localLinkNo];
        var.addressText = QString(v.address);
        var.areaCode = v.area;
        var.address = d.plcAddressChangeIntef(v.area, var.addressText);
        var.station = kStation;
        var.count = v.words;
        if (var.address < 0 || d.addListReadVar(&var) == 0) {
            std::fprintf(stderr, "minimal_host: bad address %s\n", v.address);
            return 1;
        }
    }

    const int fd = openLine(argv[1]);
    if (fd < 0)
        return 1;
    std::thread screenThread(screen, std::cref(d));
    const int failed = exchangeLoop(d, settings, fd);
    g_stop = true;
    screenThread.join();
    close(fd);
    std::fprintf(stderr, "minimal_host: %d read cycles, %d driver notices\n", g_cycles.load(), g_notices.load());
    dlclose(library);
    return failed == 0 && g_writeStatus == 1 ? 0 : 1;
}
