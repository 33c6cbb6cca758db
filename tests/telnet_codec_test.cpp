// The telnet codec behind the RFC 2217 port: 0xFF doubled both ways, commands
// and subnegotiations taken out of the data even when split across reads, and
// a peer that breaks the protocol stopped at a bounded size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverFixture.h"
#include "TelnetCodec.h"

namespace {

using marovin_test::Bytes;

// n bytes 2C as hex text, the body of a subnegotiation n bytes long.
std::string body(std::size_t n)
{
    return marovin_test::toHex(QByteArray(static_cast<int>(n), ','));
}

// What the decoder hands out, as "D:01 02 | N:FB 2C | S:2C 65" (data, negotiation, subnegotiation).
class Recorder : public marovin_port::TelnetDecoder::Handler {
public:
    std::string log;
    void add(char kind, const std::uint8_t *b, std::size_t n)
    {
        log += std::string(log.empty() ? "" : " | ") + kind + ":" + marovin_test::toHex(b, n);
    }
    void negotiation(std::uint8_t verb, std::uint8_t option) override
    {
        const std::uint8_t b[2] = {verb, option};
        add('N', b, 2);
    }
    void subnegotiation(const std::uint8_t *b, std::size_t n) override { add('S', b, n); }
};

struct DecodeCase {
    const char *name;
    std::vector<std::string> chunks;  // as they arrive, one read each
    std::string expected;             // "error" once decode reported -1
};

TEST(TelnetCodec, DecodesChunkByChunk)
{
    const std::size_t bound = marovin_port::TelnetDecoder::kMaxSubnegotiation;
    const DecodeCase cases[] = {
        {"plain data, CR NUL untouched", {"01 02 0D 00"}, "D:01 02 0D 00"},
        {"doubled FF split between reads", {"01 FF", "FF 02"}, "D:01 | D:FF 02"},
        {"negotiation split in three", {"41 FF", "FB", "2C 42"}, "D:41 | N:FB 2C | D:42"},
        {"other commands dropped", {"FF F1 05 FF F9 FF F0 06"}, "D:05 06"},
        {"settings answer with a doubled FF", {"FF FA 2C 65 00 00 FF FF FF F0 07"}, "S:2C 65 00 00 FF | D:07"},
        {"subnegotiation split at its end", {"FF FA 2C 66 08 FF", "F0 AA"}, "S:2C 66 08 | D:AA"},
        {"longest subnegotiation taken", {"FF FA " + body(bound), "FF F0"}, "S:" + body(bound)},
        {"one byte longer refused", {"FF FA " + body(bound + 1) + " FF F0"}, "error"},
        {"command inside a subnegotiation", {"FF FA 2C 01 FF FB 2C"}, "error"},
        {"empty subnegotiation", {"FF FA FF F0"}, "error"},
        {"failed stays failed", {"FF FA FF 01", "01 02"}, "error"},
    };
    for (const DecodeCase &c : cases) {
        marovin_port::TelnetDecoder decoder;
        Recorder r;
        bool failed = false;
        for (const std::string &chunk : c.chunks) {
            Bytes b = marovin_test::bytes(chunk.c_str());
            const long n = decoder.decode(b.data(), b.size(), r);
            failed = failed || n < 0;
            if (n > 0)
                r.add('D', b.data(), static_cast<std::size_t>(n));
        }
        EXPECT_EQ(failed ? std::string("error") : r.log, c.expected) << c.name;
    }
}

TEST(TelnetCodec, EscapedDataDecodesToItself)
{
    Bytes out;
    const Bytes data = marovin_test::bytes("00 FF 10 FF FF");
    marovin_port::telnetEscape(data.data(), data.size(), &out);
    EXPECT_EQ(out, marovin_test::bytes("00 FF FF 10 FF FF FF FF"));
    Recorder r;
    EXPECT_EQ(marovin_port::TelnetDecoder().decode(out.data(), out.size(), r), 5);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), data);
}

}  // namespace
