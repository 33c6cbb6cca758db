// A serial port behind a serial-device server that speaks telnet with COM
// port control (RFC 2217): the line settings go to the server, data travels
// with 0xFF doubled, and the host's loop sees a plain byte port.
#include "MonotonicClock.h"
#include "Port.h"
#include "TelnetCodec.h"

#include <algorithm>
#include <bitset>
#include <cstring>

namespace marovin_port {

namespace {

using namespace telnet;

// How long the server has to agree to the options and confirm the line settings.
constexpr int kNegotiationMs = 3000;
// The most a read of unknown length takes, as on the other ports.
constexpr std::size_t kReadLimit = 65536;

// COM port control commands (client to server; the server answers with 100 more).
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;
constexpr std::uint8_t kNoFlowControl = 1;

// Milliseconds left until deadline, 0 once passed.
int msLeft(long long deadline)
{
    const long long left = deadline - monotonicMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Options this side takes on when asked (DO) and lets the server take on (WILL).
bool weTakeOn(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}
bool serverMayTakeOn(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead;
}

// The parity code of COM port control: 1 none, 2 odd, 3 even.
std::uint8_t parityCode(char parity)
{
    return parity == 'O' || parity == 'o' ? 2 : parity == 'E' || parity == 'e' ? 3 : 1;
}

class Rfc2217Port : public Port, private TelnetDecoder::Handler {
public:
    Rfc2217Port(std::unique_ptr<Port> tcp, std::string where, SerialOptions options)
        : tcp_(std::move(tcp)), where_(std::move(where)), options_(options)
    {
    }

    // Agrees on the options and sets the line; false with a message otherwise.
    bool start(std::string *error)
    {
        decoder_.reset();
        usOn_.reset();
        usAsked_.reset();
        serverOn_.reset();
        serverAsked_.reset();
        confirmed_ = 0;
        refused_ = nullptr;
        mismatch_.clear();
        ready_ = false;
        answers_.clear();
        for (std::uint8_t option : {kComPortOption, kBinary, kSuppressGoAhead}) {
            ask(kWill, option);
            if (serverMayTakeOn(option))
                ask(kDo, option);
        }
        const std::uint32_t baud = static_cast<std::uint32_t>(options_.baud);
        const std::uint8_t baudBytes[4] = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                           static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
        command(kSetBaudRate, baudBytes, 4);
        const std::uint8_t dataSize = static_cast<std::uint8_t>(options_.dataBits);
        const std::uint8_t parity = parityCode(options_.parity);
        const std::uint8_t stopSize = static_cast<std::uint8_t>(options_.stopBits);
        command(kSetDataSize, &dataSize, 1);
        command(kSetParity, &parity, 1);
        command(kSetStopSize, &stopSize, 1);
        command(kSetControl, &kNoFlowControl, 1);
        if (!sendAnswers())
            return fail(error, "cannot send the line settings");

        const long long deadline = monotonicMs() + kNegotiationMs;
        while (!settled()) {
            if (refused_ != nullptr)
                return fail(error, std::string("the server refuses ") + refused_);
            if (!mismatch_.empty())
                return fail(error, mismatch_);
            const int wait = msLeft(deadline);
            if (wait == 0)
                return fail(error, "no COM port control (RFC 2217) answer within " +
                                       std::to_string(kNegotiationMs / 1000) + " s");
            // Data before the line is set up is no reply to anything: dropped.
            if (readDecoded(spare_, sizeof spare_, wait) < 0)
                return fail(error, "the server broke the telnet protocol or closed the connection");
        }
        ready_ = true;
        return true;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        if (!std::memchr(bytes, kIac, count))
            return tcp_->write(bytes, count);
        escaped_.clear();
        telnetEscape(bytes, count, &escaped_);
        return tcp_->write(escaped_.data(), escaped_.size());
    }

    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        const long got = readData(buffer, capacity, firstByteMs, interByteMs, -1);
        // Data that came right behind the reply is no part of it: dropped and
        // counted, as the other ports do with bytes beyond their buffer.
        if (got == static_cast<long>(capacity) && capacity > 0) {
            const long behind = readDecoded(spare_, sizeof spare_, 0);
            if (behind < 0)
                return -1;
            discarded_ += static_cast<std::size_t>(behind);
        }
        return got;
    }

    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        out.clear();
        if (wanted == 0)
            return ready_;
        if (wanted > 0) {
            out.resize(static_cast<std::size_t>(wanted));
            const long n = readData(out.data(), out.size(), firstByteMs, interByteMs, -1);
            out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            return n >= 0;
        }
        // Unknown length: bounded in time and size like the other ports.
        const long long endMs = firstByteMs >= 0 ? monotonicMs() + firstByteMs : -1;
        out.resize(kReadLimit);
        const long n = readData(out.data(), out.size(), firstByteMs, interByteMs, endMs);
        out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return n >= 0;
    }

    std::size_t flushInput() override
    {
        // At most 1 MiB, as the other ports: a peer that never pauses must not hold us.
        std::size_t dropped = 0;
        for (int i = 0; i < 1024; ++i) {
            const long n = readDecoded(spare_, sizeof spare_, 0);
            if (n < 0 || raw_.empty())
                break;
            dropped += static_cast<std::size_t>(n);
        }
        return dropped;
    }

    bool reopen() override
    {
        ready_ = false;
        return tcp_->reopen() && start(nullptr);
    }

    bool isOpen() const override { return ready_ && tcp_->isOpen(); }

    std::string describe() const override
    {
        return "rfc2217 " + where_ + " " + std::to_string(options_.baud) + " " + std::to_string(options_.dataBits) +
               static_cast<char>(options_.parity & ~0x20) + std::to_string(options_.stopBits);
    }

    double bytesPerSecond() const override
    {
        return static_cast<double>(options_.baud) / bitsPerCharacter(options_);
    }

    int fd() const override { return tcp_->fd(); }

private:
    // Reads what is waiting (after up to firstByteMs for a first byte) and
    // decodes it in place; the data count, 0 on a timeout, -1 on a failed
    // link or a broken protocol.
    long readDecoded(std::uint8_t *buffer, std::size_t capacity, int firstByteMs)
    {
        if (!tcp_->read(raw_, static_cast<int>(capacity), firstByteMs, 0))
            return -1;
        if (raw_.empty())
            return 0;
        const long data = decodeChunk(raw_.data(), raw_.size());
        if (data > 0)
            std::memcpy(buffer, raw_.data(), static_cast<std::size_t>(data));
        return data;
    }

    // Data bytes into buffer until it is full or the line falls silent: up to
    // firstByteMs for the first, interByteMs after each chunk. Telnet
    // commands do not count as data: while only they come, the wait runs on
    // from the first of them, at most once more its length. With endMs >= 0
    // the waits after the first end then at the latest. The raw read never
    // asks for more bytes than data is still missing, so nothing behind the
    // data is consumed.
    long readData(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs, long long endMs)
    {
        if (!ready_)
            return -1;
        std::size_t got = 0;
        int wait = firstByteMs;
        long long commandsUntil = -1;
        while (got < capacity) {
            const long data = readDecoded(buffer + got, capacity - got, wait);
            if (data < 0)
                return -1;
            if (raw_.empty())
                break;
            got += static_cast<std::size_t>(data);
            if (data > 0) {
                commandsUntil = -1;
                wait = std::max(interByteMs, 0);
            } else {
                const int whole = got > 0 ? std::max(interByteMs, 0) : firstByteMs;
                if (whole >= 0) {
                    if (commandsUntil < 0)
                        commandsUntil = monotonicMs() + whole;
                    wait = msLeft(commandsUntil);
                }
            }
            if (endMs >= 0) {
                const int left = msLeft(endMs);
                if (left == 0)
                    break;
                wait = wait < 0 ? left : std::min(wait, left);
            }
        }
        return static_cast<long>(got);
    }

    // Decodes a received chunk in place and sends the answers it calls for.
    long decodeChunk(std::uint8_t *bytes, std::size_t count)
    {
        const long data = decoder_.decode(bytes, count, *this);
        if (data < 0 || !sendAnswers()) {
            ready_ = false;
            return -1;
        }
        return data;
    }

    // True once COM port control and binary transmission are agreed and the
    // server has confirmed the four line settings.
    bool settled() const
    {
        return usOn_[kComPortOption] && usOn_[kBinary] && serverOn_[kBinary] && confirmed_ == 0x1E;
    }

    void negotiation(std::uint8_t verb, std::uint8_t option) override
    {
        const bool usSide = verb == kDo || verb == kDont;
        std::bitset<256> &on = usSide ? usOn_ : serverOn_;
        std::bitset<256> &asked = usSide ? usAsked_ : serverAsked_;
        const bool accept = usSide ? weTakeOn(option) : serverMayTakeOn(option);
        if (verb == kDo || verb == kWill) {
            // An answer to our own request needs none; a request does.
            if (!accept) {
                answer(usSide ? kWont : kDont, option);
            } else if (!on[option]) {
                on[option] = true;
                if (!asked[option])
                    answer(usSide ? kWill : kDo, option);
            }
            asked[option] = false;
            return;
        }
        const bool wasOn = on[option];
        if (wasOn || asked[option]) {
            if (option == kComPortOption)
                refused_ = "COM port control (RFC 2217)";
            else if (option == kBinary)
                refused_ = "binary transmission";
        }
        on[option] = false;
        asked[option] = false;
        if (wasOn)
            answer(usSide ? kWont : kDont, option);
    }

    void subnegotiation(const std::uint8_t *bytes, std::size_t count) override
    {
        if (count < 3 || bytes[0] != kComPortOption || bytes[1] <= kServerOffset)
            return;
        const int setting = bytes[1] - kServerOffset;
        if (setting < kSetBaudRate || setting > kSetStopSize || ready_)
            return;
        std::uint32_t value = bytes[2];
        if (setting == kSetBaudRate) {
            if (count < 6)
                return;
            value = (std::uint32_t(bytes[2]) << 24) | (std::uint32_t(bytes[3]) << 16) |
                    (std::uint32_t(bytes[4]) << 8) | bytes[5];
        }
        const std::uint32_t asked = setting == kSetBaudRate  ? static_cast<std::uint32_t>(options_.baud)
                                    : setting == kSetDataSize ? static_cast<std::uint32_t>(options_.dataBits)
                                    : setting == kSetParity   ? parityCode(options_.parity)
                                                              : static_cast<std::uint32_t>(options_.stopBits);
        static const char *const names[] = {"", "baud rate", "data bits", "parity", "stop bits"};
        if (value != asked)
            mismatch_ = std::string("the server set ") + names[setting] + " " + std::to_string(value) + ", not " +
                        std::to_string(asked);
        confirmed_ |= 1u << setting;
    }

    // Queues a request for an option and remembers it, so that the server's
    // agreement is taken as the answer it is.
    void ask(std::uint8_t verb, std::uint8_t option)
    {
        (verb == kWill ? usAsked_ : serverAsked_)[option] = true;
        answer(verb, option);
    }

    void answer(std::uint8_t verb, std::uint8_t option)
    {
        answers_.insert(answers_.end(), {kIac, verb, option});
    }

    // Queues a COM port control command with its value.
    void command(std::uint8_t code, const std::uint8_t *value, std::size_t count)
    {
        answers_.insert(answers_.end(), {kIac, kSb, kComPortOption, code});
        telnetEscape(value, count, &answers_);
        answers_.insert(answers_.end(), {kIac, kSe});
    }

    // Sends what negotiation queued; false when the link failed.
    bool sendAnswers()
    {
        if (answers_.empty())
            return true;
        const bool ok = tcp_->write(answers_.data(), answers_.size());
        answers_.clear();
        return ok;
    }

    // Stores a message and reports failure.
    static bool fail(std::string *error, const std::string &message)
    {
        if (error)
            *error = message;
        return false;
    }

    std::unique_ptr<Port> tcp_;
    std::string where_;
    SerialOptions options_;
    TelnetDecoder decoder_;
    std::bitset<256> usOn_, usAsked_, serverOn_, serverAsked_;
    unsigned confirmed_ = 0;  // bit n: setting n confirmed
    const char *refused_ = nullptr;
    std::string mismatch_;
    bool ready_ = false;
    std::vector<std::uint8_t> answers_;
    std::vector<std::uint8_t> escaped_;
    std::vector<std::uint8_t> raw_;  // bytes as received, decoded in place
    std::uint8_t spare_[1024];       // data that is no reply, dropped
};

}  // namespace

std::unique_ptr<Port> openRfc2217(const std::string &host, int port, const SerialOptions &options, std::string *error)
{
    if (options.baud <= 0 || options.dataBits < 5 || options.dataBits > 8 || options.stopBits < 1 ||
        options.stopBits > 2 || std::strchr("NEOneo", options.parity) == nullptr || options.parity == '\0') {
        if (error)
            *error = "line settings must be a baud rate, 5..8 data bits, parity N, E or O, 1 or 2 stop bits";
        return nullptr;
    }
    std::unique_ptr<Port> tcp = openTcpClient(host, port, error);
    if (!tcp)
        return nullptr;
    auto p = std::make_unique<Rfc2217Port>(std::move(tcp), (host.empty() ? "127.0.0.1" : host) + ":" +
                                                               std::to_string(port), options);
    if (!p->start(error))
        return nullptr;
    return p;
}

}  // namespace marovin_port
