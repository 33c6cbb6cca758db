// A value in the tag's units goes back through scale and offset to the PLC's
// number, is checked against the one range the tag reads and writes, and is
// only then encoded: nothing is wrapped.
#include "writes/WriteCheck.h"

#include "model/Areas.h"
#include "model/TagValue.h"
#include "model/ValueText.h"

#include <cmath>

namespace marovin_host {

namespace {

// The tag's range in its own (scaled) units, for messages.
std::string scaledRangeText(int area, const TagInfo &tag, const NumberRange &raw)
{
    if (area == kDecimalFloat && !tag.scaled())
        return "a single-precision float";
    double a = raw.low * tag.scale + tag.offset;
    double b = raw.high * tag.scale + tag.offset;
    if (a > b)
        std::swap(a, b);
    return formatNumber(a) + ".." + formatNumber(b);
}

// The PLC's number for a value in the tag's units; false for a fraction where
// a whole number is needed.
bool plcNumber(int area, const TagInfo &tag, double value, double *out)
{
    if (!tag.scaled()) {
        *out = value;
        return area == kDecimalFloat || value == std::floor(value);
    }
    const double unscaled = (value - tag.offset) / tag.scale;
    // Integer areas take the nearest raw step.
    *out = area == kDecimalFloat ? unscaled : std::nearbyint(unscaled);
    return true;
}

}  // namespace

const char *refusalName(WriteRefusal refusal)
{
    switch (refusal) {
    case WriteRefusal::None:
        return "accepted";
    case WriteRefusal::UnknownTag:
        return "unknown tag";
    case WriteRefusal::NotWritable:
        return "not writable";
    case WriteRefusal::BadPayload:
        return "bad payload";
    case WriteRefusal::NotANumber:
        return "not a number";
    case WriteRefusal::BooleanForWord:
        return "true/false for a number";
    case WriteRefusal::NotWhole:
        return "not a whole number";
    case WriteRefusal::OutOfRange:
        return "out of range";
    case WriteRefusal::BitNotWritable:
        return "bit not writable";
    case WriteRefusal::Retained:
        return "retained";
    case WriteRefusal::QueueFull:
        return "busy";
    case WriteRefusal::Stopping:
        return "stopping";
    }
    return "?";
}

WriteCheck refuseWrite(WriteRefusal refusal, const std::string &text)
{
    WriteCheck check;
    check.refusal = refusal;
    check.text = text;
    return check;
}

WriteCheck checkWrite(const TagRow &target, const WriteValue &value, const WritePolicy &policy, WriteRequest *out)
{
    const int area = target.ref.area;
    const TagInfo &tag = target.tag;
    if (!policy.everyTag && !tag.writable)
        return refuseWrite(WriteRefusal::NotWritable, "tag '" + tag.name + "' is not writable");
    if (value.kind == WriteValue::NotANumber)
        return refuseWrite(WriteRefusal::NotANumber, "'" + value.text + "' is not a number");
    if (value.kind == WriteValue::Boolean && area != kBits)
        return refuseWrite(WriteRefusal::BooleanForWord, "true/false only for status bits");
    const double given = value.kind == WriteValue::Boolean ? (value.boolean ? 1 : 0) : value.number;
    if (!std::isfinite(given))
        return refuseWrite(WriteRefusal::NotANumber, "not a finite number");
    if (area == kBits && policy.toPlc && !isWritableBit(target.ref.address))
        return refuseWrite(WriteRefusal::BitNotWritable,
                           "status bit " + std::to_string(target.ref.address) + " cannot be written (writable: " +
                               writableBitsText() + ")");
    double number = 0;
    if (!plcNumber(area, tag, given, &number))
        return refuseWrite(WriteRefusal::NotWhole, "a whole number is needed");
    const NumberRange range = policy.rawPattern ? patternRange(area) : tagRange(area, tag);
    if (!range.contains(number) || (area == kBits && number != std::floor(number)))
        return refuseWrite(WriteRefusal::OutOfRange,
                           "out of range: '" + value.text + "' is outside " +
                               (area == kBits ? std::string("0..1") : scaledRangeText(area, tag, range)));
    char bytes[4];
    const std::uint32_t raw = encodeNumber(area, number);
    const int size = rawToBytes(area, raw, bytes);
    out->ref = target.ref;
    out->bytes.assign(bytes, static_cast<std::size_t>(size));
    out->count = wordsPerValue(area);
    out->label = tag.name;
    out->valueText = value.text;
    out->written = publishedNumber(area, tag, decodeValue(area, tag, raw));
    return WriteCheck();
}

}  // namespace marovin_host
