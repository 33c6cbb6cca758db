// The device model's framer and frame handler on arbitrary byte streams, in
// local and remote mode. Every byte fed is accounted for (frame, dropped or
// pending), every frame found is complete with a good sum, and every reply is
// one of the device's well-formed answers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DeviceModel.h"

using marovin_device::DeviceModel;

namespace {

// A broken invariant is a finding: say which, then crash for the fuzzer.
void fail(int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, what);
    std::abort();
}
#define check(cond) ((cond) ? (void)0 : fail(__LINE__, #cond))

std::uint8_t sumOf(const std::vector<std::uint8_t> &r, std::size_t from, std::size_t to)
{
    return marovin_device::sum8(r.data() + from, to - from);
}

// Replies: 1 byte "O"; 8 bytes (remote write echo, sum over bytes 1..6);
// 13 or 15 bytes (data reply, length byte n-2, sum over bytes 1..n-2).
void checkReply(const std::vector<std::uint8_t> &r, bool remote)
{
    switch (r.size()) {
    case 0:
        return;
    case 1:
        check(!remote && r[0] == marovin_device::kAck);
        return;
    case 8:
        check(remote && r[0] == 6 && r[7] == sumOf(r, 1, 7));
        return;
    case 13:
    case 15:
        check(r[0] == r.size() - 2 && r.back() == sumOf(r, 1, r.size() - 1));
        return;
    default:
        check(false);
    }
}

void checkFrame(const DeviceModel &device, const std::vector<std::uint8_t> &f)
{
    check(!f.empty() && device.frameLength(f[0]) == f.size());
    check(DeviceModel::sumOk(f.data(), f.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool remote = data[0] & 1;
    const bool someStations = data[0] & 2;
    // Chunk sizes cut the stream at arbitrary points, as a serial line does.
    const std::size_t chunkSeed = data[1];
    data += 2;
    size -= 2;

    DeviceModel device;
    device.setRemote(remote);
    if (someStations)
        device.setStations({0, 1, 2, 7});

    // The stream through the framer.
    std::size_t fed = 0, framed = 0, dropped = 0, discarded = 0;
    std::size_t pos = 0, turn = 0;
    while (pos < size) {
        std::size_t chunk = 1 + (chunkSeed * 31 + turn * 7) % 40;
        if (chunk > size - pos)
            chunk = size - pos;
        std::vector<std::uint8_t> junk;
        const auto frames = device.feed(data + pos, chunk, &junk);
        fed += chunk;
        dropped += junk.size();
        for (const auto &f : frames) {
            checkFrame(device, f);
            framed += f.size();
            checkReply(device.handle(f), remote);
        }
        pos += chunk;
        ++turn;
        // Now and then the line goes quiet and the partial frame is forgotten.
        if (chunkSeed & 0x80 && turn % 5 == 0)
            discarded += device.discardPartial();
        check(fed == framed + dropped + discarded + device.pendingBytes());
    }

    // The same bytes cut into candidate frames by their first byte, whatever
    // their sum, straight into the handler.
    device.resetCounters();
    pos = 0;
    while (pos < size) {
        std::size_t n = device.frameLength(data[pos]);
        if (n == 0)
            n = 1 + data[pos] % 16;
        if (n > size - pos)
            n = size - pos;
        const auto reply = device.handle(data + pos, n);
        checkReply(reply, remote);
        if (!reply.empty())
            check(device.frameLength(data[pos]) == n && DeviceModel::sumOk(data + pos, n));
        pos += n;
    }
    const auto &c = device.counters();
    check(c.replies <= c.requests && c.requests <= c.frames);
    return 0;
}
