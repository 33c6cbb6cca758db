// The RFC 2217 port's telnet stream, both ways. From the server: any bytes,
// decoded at once, a byte at a time and split at one point, give the same data,
// commands and failure, so no sequence depends on where a read ends. To the
// server: data escaped and decoded again is the data, with no command in it.
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "TelnetCodec.h"

using marovin_port::TelnetDecoder;

namespace {

// The commands the decoder hands out, in order: 0x100 + verb and the option
// for a negotiation, 0x200 + n and the bytes for a subnegotiation.
class Record : public TelnetDecoder::Handler {
public:
    std::vector<int> commands;
    void negotiation(std::uint8_t verb, std::uint8_t option) override
    {
        commands.push_back(0x100 + verb);
        commands.push_back(option);
    }
    void subnegotiation(const std::uint8_t *bytes, std::size_t count) override
    {
        check(count >= 1 && count <= TelnetDecoder::kMaxSubnegotiation);
        commands.push_back(0x200 + static_cast<int>(count));
        commands.insert(commands.end(), bytes, bytes + count);
    }
};

struct Decoded {
    std::vector<int> commands;
    std::vector<std::uint8_t> data;
    bool failed = false;
};

// Decodes the stream in pieces of at most `piece` bytes, from `split` on in one piece.
Decoded decode(const std::uint8_t *bytes, std::size_t size, std::size_t piece, std::size_t split)
{
    TelnetDecoder decoder;
    Record record;
    Decoded out;
    std::vector<std::uint8_t> buffer(bytes, bytes + size);
    for (std::size_t at = 0; at < size && !out.failed;) {
        const std::size_t n = at >= split ? size - at : std::min(piece, split - at);
        const long got = decoder.decode(buffer.data() + at, n, record);
        out.failed = got < 0;
        check(got <= static_cast<long>(n));
        if (got > 0)
            out.data.insert(out.data.end(), buffer.begin() + static_cast<long>(at), buffer.begin() + static_cast<long>(at) + got);
        at += n;
    }
    out.commands = record.commands;
    return out;
}

// Two ways of reading the same stream agree.
void same(const Decoded &a, const Decoded &b)
{
    check(a.failed == b.failed && a.commands == b.commands);
    check(a.failed || a.data == b.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Decoded whole = decode(data, size, size, size);
    same(whole, decode(data, size, 1, size));
    same(whole, decode(data, size, size, size ? data[0] % (size + 1) : 0));

    std::vector<std::uint8_t> escaped;
    marovin_port::telnetEscape(data, size, &escaped);
    const Decoded back = decode(escaped.data(), escaped.size(), escaped.size(), escaped.size());
    check(!back.failed && back.commands.empty());
    check(back.data == std::vector<std::uint8_t>(data, data + size));
    return 0;
}
