// A -w value is a raw word by address: every bit pattern of it may be
// written, given signed or unsigned, as the command line always took it.
#include "writes/CommandLineWrites.h"

#include "model/Areas.h"
#include "writes/WriteCheck.h"

namespace marovin_host {

namespace {

// The command line's own words for a value its area does not take.
std::string badValueText(int area, const WriteValue &value)
{
    const std::string text = "'" + value.text + "'";
    switch (area) {
    case kBits:
        return "a bit takes 0 or 1, not " + text;
    case kWord16:
    case kWord16B:
        return "a 16-bit value takes -32768..65535, not " + text;
    case kDword32:
    case kDword32B:
        return "a 32-bit value takes -2147483648..4294967295, not " + text;
    default:
        return "a decimal float takes a number such as 12.5, not " + text;
    }
}

}  // namespace

bool encodeCommandLineWrites(const std::vector<AddressedWrite> &values, bool toPlc, int maxUnits,
                             std::vector<WriteRequest> *out, std::string *error)
{
    WritePolicy policy;
    policy.everyTag = true;
    policy.toPlc = toPlc;
    policy.rawPattern = true;
    for (const AddressedWrite &v : values) {
        const std::string what = "bad write '" + v.source + "': ";
        if (toPlc && wordsPerValue(v.ref.area) == 2 && maxUnits < 2) {
            *error = what + "32-bit and float writes need --max-units 2 or more";
            return false;
        }
        TagRow target;
        target.ref = v.ref;
        target.tag.name = canonicalName(v.ref);
        WriteRequest request;
        const WriteCheck check = checkWrite(target, v.value, policy, &request);
        if (!check.ok()) {
            *error = what + (check.refusal == WriteRefusal::BitNotWritable ? check.text
                                                                            : badValueText(v.ref.area, v.value));
            return false;
        }
        out->push_back(std::move(request));
    }
    // All go to the queue before the first exchange: what it cannot hold would never be written.
    if (out->size() > WriteQueue::kLimit) {
        *error = "too many values to write: " + std::to_string(out->size()) + ", at most " +
                 std::to_string(WriteQueue::kLimit) + " in one run";
        return false;
    }
    return true;
}

void submitCommandLineWrites(std::vector<WriteRequest> writes, WriteQueue &queue,
                             const std::function<void(const std::string &)> &tell,
                             const std::function<void(const std::string &)> &dropped)
{
    for (WriteRequest &w : writes) {
        const std::string what = w.label + "=" + w.valueText + " ";
        w.done = [what, tell](const WriteResult &result) { tell("WRITE " + what + result.text); };
        if (!queue.submit(std::move(w)))
            dropped(what + "dropped: the write queue is full");
    }
}

}  // namespace marovin_host
