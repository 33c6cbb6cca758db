// NCMD and DCMD payloads from the broker, through the Sparkplug node's
// command reader: a command is written whole or not at all, only to writable
// tags of the station it names, each write within its tag's range; bad
// payloads are counted, never written, and a retained command never acts.
#include <cstdint>

#include "FuzzCheck.h"
#include "model/Areas.h"
#include "model/TagValue.h"
#include "sparkplug/SparkplugCommands.h"
#include "writes/WriteCheck.h"

using namespace marovin_host;

namespace {

TagRow row(const char *name, int station, int area, int address, bool writable, double scale)
{
    TagRow r;
    r.ref.station = station;
    r.ref.area = area;
    r.ref.address = address;
    r.tag.name = name;
    r.tag.writable = writable;
    r.tag.scale = scale;
    return r;
}

const std::vector<TagRow> &rows()
{
    static const std::vector<TagRow> r = {
        row("speed", 1, kWord16, 0x11, true, 0.1), row("al", 1, kBits, 2, true, 1),
        row("ro", 1, kWord16, 0x12, false, 1),     row("cnt", 1, kDword32, 0x24, true, 1),
        row("f", 2, kDecimalFloat, 0x50, true, 1), row("s2", 2, kWord16, 0x11, true, 1),
    };
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    WriteQueue queue;
    bool rebirth = false;
    SparkplugCommands commands(rows(), queue, data[0] & 1, [&rebirth] { rebirth = true; });
    const std::string payload = marovin_fuzz::text(data + 1, size - 1);
    const int station = (data[0] >> 1) % 4;  // 0: NCMD
    const bool retained = (data[0] >> 3) & 1;
    if (station == 0)
        commands.onNodeCommand(payload, retained);
    else
        commands.onDeviceCommand("station" + std::to_string(station), payload, retained);
    const std::deque<WriteRequest> writes = queue.take();
    check((station != 0 && !retained) || writes.empty());
    check(!rebirth || !retained);
    check(writes.empty() || (commands.bad() == 0 && commands.refused() == 0));
    check(!rebirth || station == 0);
    for (const WriteRequest &w : writes) {
        const TagRow *target = nullptr;
        for (const TagRow &r : rows())
            if (r.tag.name == w.label)
                target = &r;
        check(target && target->ref.station == station && target->ref.area == w.ref.area &&
              target->ref.address == w.ref.address);
        check((data[0] & 1) || target->tag.writable);
        check(w.count == wordsPerValue(target->ref.area));
        check(static_cast<int>(w.bytes.size()) == (target->ref.area == kBits ? 1 : 2 * w.count));
        const std::uint32_t raw = rawFromBytes(w.bytes.data(), static_cast<int>(w.bytes.size()), target->ref.area);
        check(tagRange(target->ref.area, target->tag).contains(decodeValue(target->ref.area, target->tag, raw).number));
    }
    return 0;
}
