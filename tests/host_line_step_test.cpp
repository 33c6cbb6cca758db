// The host keeping the line in step (loop/LineRecovery) over a pty pair: after
// a reply that did not come, a reply is taken only when the line stays quiet
// behind it; the bytes that come instead, and late bytes drained before a
// request, pay off what is owed.
#include "loop/LineRecovery.h"

#include "Port.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace marovin_host;

namespace {

struct Watcher : LineWatcher {
    bool stopDue() const override { return false; }
    void dropped(std::size_t, bool) override {}
};

}  // namespace

TEST(LineStep, OwedBytesPaidByWhatComes)
{
    const struct {
        int owed;             // reply bytes of requests left unanswered before this one
        int sent;             // bytes the device sends for this request (13-byte replies)
        int read;             // what the out-of-step read returns
        bool inStep;          // afterwards (DataCom refused every length but 13)
        int drained;          // late bytes that come before the next request
        bool inStepAtLast;    // after the next request's preparation
    } rows[] = {
        {13, 26, 26, true, 0, true},     // a stall's one late answer, then this one: both refused
        {26, 26, 26, false, 13, true},   // two late answers; this one's comes before the next request
        {13, 13, 13, true, 0, true},     // the device lost a request: a reply, then silence
        {13, 5, 5, false, 0, false},     // short: still out of step, nothing drained
        {39, 26, 26, false, 0, false},   // three late answers: one still owed
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.owed);
        std::string path, error;
        std::unique_ptr<marovin_port::Port> host = marovin_port::openPtyMaster(&path, &error);
        ASSERT_TRUE(host) << error;
        std::unique_ptr<marovin_port::Port> device = marovin_port::openSerial(path, {}, &error);
        ASSERT_TRUE(device) << error;
        LineRecovery line(100, 20, 0);
        Watcher watcher;
        EXPECT_FALSE(line.outOfStep());
        line.unusualExchange(false, r.owed, 0);
        ASSERT_TRUE(line.outOfStep());
        const std::vector<std::uint8_t> bytes(static_cast<std::size_t>(r.sent), 0x0B);
        device->write(bytes.data(), bytes.size());
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(line.readOutOfStep(*host, 13, out));
        EXPECT_EQ(static_cast<int>(out.size()), r.read);
        if (out.size() != 13)
            line.unusualExchange(false, 13, static_cast<int>(out.size()));
        EXPECT_EQ(line.outOfStep(), !r.inStep);
        const std::vector<std::uint8_t> late(static_cast<std::size_t>(r.drained), 0x0B);
        device->write(late.data(), late.size());
        line.prepare(*host, watcher);
        EXPECT_EQ(line.outOfStep(), !r.inStepAtLast);
    }
}
