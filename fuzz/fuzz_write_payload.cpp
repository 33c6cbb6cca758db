// Writes from MQTT /set and the web panel: a payload through the one parser
// and the one check-and-encode against tags of every area, typed and scaled.
// An accepted write's bytes read back, through the tag, as the number written
// (to the tag's step when it is scaled), never beyond the tag's range.
#include <cmath>
#include <cstdint>

#include "FuzzCheck.h"
#include "json/WritePayload.h"
#include "model/Areas.h"
#include "model/TagValue.h"
#include "writes/WriteCheck.h"

using namespace marovin_host;

namespace {

struct Target {
    int area, address;
    bool unsignedInt;
    double scale, offset;
};

const Target kTargets[] = {
    {kBits, 12, false, 1, 0},        {kBits, 2, false, 1, 0},          {kWord16, 0x10, false, 1, 0},
    {kWord16, 0x10, true, 1, 0},     {kWord16B, 0x30, false, 0.1, -40}, {kDword32, 0x20, false, 1, 0},
    {kDword32B, 0x40, true, 1, 0},   {kDword32, 0x20, false, -2.5, 1e6}, {kDecimalFloat, 0x50, false, 1, 0},
    {kDecimalFloat, 0x50, false, 1e-3, 7},
};

TagRow rowOf(const Target &t)
{
    TagRow r;
    r.ref.area = t.area;
    r.ref.address = t.address;
    r.tag.name = "t";
    r.tag.writable = true;
    r.tag.unsignedInt = t.unsignedInt;
    r.tag.scale = t.scale;
    r.tag.offset = t.offset;
    return r;
}

// The accepted write read back as the tag means it.
void checkAccepted(const TagRow &row, const WriteValue &value, const WritePolicy &policy, const WriteRequest &w)
{
    const int area = row.ref.area;
    check(w.label == "t" && w.count == wordsPerValue(area));
    check(static_cast<int>(w.bytes.size()) == (area == kBits ? 1 : 2 * wordsPerValue(area)));
    const std::uint32_t raw = rawFromBytes(w.bytes.data(), static_cast<int>(w.bytes.size()), area);
    const TagValue back = decodeValue(area, row.tag, raw);
    const double given = value.kind == WriteValue::Boolean ? (value.boolean ? 1 : 0) : value.number;
    const NumberRange range = policy.rawPattern ? patternRange(area) : tagRange(area, row.tag);
    if (policy.rawPattern)
        return;
    check(range.contains(back.number));
    if (area == kDecimalFloat) {
        const double plc = row.tag.scaled() ? (given - row.tag.offset) / row.tag.scale : given;
        check(back.number == static_cast<double>(static_cast<float>(plc)));
    } else {
        // The nearest raw step: within half a step of the value in the tag's units.
        const double rounding = 1e-9 * (std::fabs(given) + std::fabs(row.tag.offset));
        check(std::fabs(back.scaled - given) <= std::fabs(row.tag.scale) * 0.5 * (1 + 1e-9) + rounding);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string payload = marovin_fuzz::text(data, size);
    WriteValue value;
    std::string error;
    nlohmann::json id;
    if (!parseWritePayload(payload, &value, &error, &id)) {
        check(!error.empty());
        return 0;
    }
    check(payload.size() <= kMaxWritePayload);
    check(id.is_null() || id.is_number_integer() || (id.is_string() && id.get<std::string>().size() <= 64));
    for (const Target &t : kTargets) {
        const TagRow row = rowOf(t);
        for (int p = 0; p < 4; ++p) {
            WritePolicy policy;
            policy.toPlc = p != 1;
            policy.rawPattern = p == 2;
            policy.everyTag = p == 3;
            WriteRequest w;
            const WriteCheck c = checkWrite(row, value, policy, &w);
            if (c.ok())
                checkAccepted(row, value, policy, w);
            else
                check(!c.text.empty() && w.bytes.empty());
        }
    }
    return 0;
}
