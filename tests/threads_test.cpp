// The thread model a panel uses: one exchange thread, screens on other threads
// reading, writing and registering at the same time. Run under ThreadSanitizer
// in CI; a watchdog turns a deadlock into a failure instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <thread>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"

using namespace marovin_test;

namespace {

// Iteration scale: MAROVIN_STRESS_SCALE=50 turns the CI run into a soak.
int scale()
{
    const char *s = std::getenv("MAROVIN_STRESS_SCALE");
    const int v = s ? std::atoi(s) : 1;
    return v > 0 ? v : 1;
}

class Watchdog {
public:
    explicit Watchdog(int seconds)
        : thread_([this, seconds] {
              for (int i = 0; i < seconds * 10 && !done_; ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              if (!done_) {
                  std::fprintf(stderr, "watchdog: no progress after %d s, deadlock?\n", seconds);
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

QList<HOSTVAR> hostVariables(int n, int salt)
{
    QList<HOSTVAR> list;
    for (int i = 0; i < n; ++i) {
        HOSTVAR h{};
        h.areaCode = static_cast<unsigned char>(1 + (i + salt) % 5);
        h.station = static_cast<unsigned char>(1 + i % 3);
        h.addressText = QString::number(0x10 + 2 * i, 16);
        h.length = 2;
        list.append(h);
    }
    HOSTVAR bits{};
    bits.areaCode = 0;
    bits.station = 1;
    bits.addressText = "29";
    bits.length = 1;
    list.append(bits);
    return list;
}

class Threads : public DriverTest {};

TEST_F(Threads, ExchangeLoopWithFourScreenThreads)
{
    const int exchanges = 20000 * scale();
    const int screenCalls = 4000 * scale();
    word(MarovinSettings::retryLimit) = 1;
    word(MarovinSettings::maxUnits) = 2;
    QList<HOSTVAR> initial = hostVariables(12, 0);
    ASSERT_GT(ReCreatReadVarList(&initial), 0);

    Watchdog watchdog(240);
    std::atomic<bool> stop{false};
    std::atomic<long> hostCalls{0};
    std::vector<std::thread> screens;

    // Reader: values of every area.
    screens.emplace_back([&] {
        QByteArray out;
        for (int i = 0; i < screenCalls; ++i) {
            const int area = i % 6;
            EXPECT_EQ(GetRegisterData(QString(), area, area == 0 ? "29" : "10", 1 + i % 3, &out, 2), 1);
            ++hostCalls;
        }
    });
    // Writer: 16-bit and 32-bit values, both modes of the settings record untouched.
    screens.emplace_back([&] {
        QByteArray value = hex("01 02 03 04");
        for (int i = 0; i < screenCalls; ++i) {
            SetRegisterData("screen", 1 + i % 2, QString::number(0x100 + i % 16, 16), 1 + i % 3, &value, 2, 3, i);
            ++hostCalls;
        }
    });
    // Once-reads and direct write registrations.
    screens.emplace_back([&] {
        for (int i = 0; i < screenCalls; ++i) {
            RW_VAR v = makeVar(1 + i % 5, 0x200 + i % 32, 1 + i % 3, 2);
            v.ownerType = 1 + i % 4;
            v.ownerId = i % 7;
            AddListOnceReadVar(&v, 0);
            RW_VAR w = makeVar(3, 0x300 + i % 8, 2, 1);
            w.accessMode = 1;
            w.data = hex("AA 55");
            AddListWriteVar(&w, 0);
            hostCalls += 2;
        }
    });
    // The panel switching screens: read list rebuilt again and again.
    screens.emplace_back([&] {
        for (int i = 0; i < screenCalls / 20; ++i) {
            QList<HOSTVAR> list = hostVariables(8 + i % 10, i);
            ReCreatReadVarList(&list);
            ++hostCalls;
        }
    });

    int sent = 0, idle = 0;
    unsigned noise = 12345;
    for (int i = 0; i < exchanges; ++i) {
        Protocol *p = ComCommunication();
        if (!p) {
            ++idle;
            continue;
        }
        ++sent;
        QByteArray reply = goodReply(*p);
        noise = noise * 1103515245u + 12345u;
        if ((noise >> 16) % 10 == 0)
            reply.clear();  // a lost reply now and then
        const RW_VAR *r = DataCom(&reply, reply.size());
        EXPECT_TRUE(r->status == 0 || r->status == 1 || (r->status > 10 && r->status < 200)) << r->status;
    }
    for (std::thread &t : screens)
        t.join();
    stop = true;

    EXPECT_GT(sent, exchanges / 2);
    EXPECT_GT(hostCalls.load(), 4L * screenCalls);
    std::printf("exchanges sent %d, idle turns %d, host calls %ld\n", sent, idle, hostCalls.load());
    // Every queued write is whole: one frame per value, never a padded half.
    for (const RW_VAR &w : PLC_driver.writeList)
        EXPECT_EQ(w.data.size() % 2, 0);
}

}  // namespace
