// The thread model a panel uses: one exchange thread, screens on other threads
// reading, writing and registering at the same time. Run under ThreadSanitizer
// in CI (MAROVIN_STRESS_SCALE sizes it); a watchdog turns a deadlock into a
// failure instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"

using namespace marovin_test;

namespace {

int scale()
{
    const char *s = std::getenv("MAROVIN_STRESS_SCALE");
    const int v = s ? std::atoi(s) : 1;
    return v > 0 ? v : 1;
}

QList<HOSTVAR> hostVariables(int n, int salt)
{
    QList<HOSTVAR> list;
    for (int i = 0; i < n; ++i)
        list << hostVar(1 + (i + salt) % 5, QString::number(0x10 + 2 * i, 16).toLatin1().constData(), 1 + i % 3, 2);
    return list << hostVar(0, "29");
}

class Threads : public DriverTest {};

TEST_F(Threads, ExchangeLoopWithFourScreenThreads)
{
    const int exchanges = 20000 * scale(), screenCalls = 4000 * scale();
    word(MarovinSettings::retryLimit) = 1;
    word(MarovinSettings::maxUnits) = 2;
    QList<HOSTVAR> initial = hostVariables(12, 0);
    ASSERT_GT(ReCreatReadVarList(&initial), 0);

    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        for (int i = 0; i < 2400 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done) {
            std::fprintf(stderr, "watchdog: no progress after 240 s, deadlock?\n");
            std::abort();
        }
    });
    std::atomic<long> hostCalls{0};
    std::vector<std::thread> screens;
    screens.emplace_back([&] {  // reader: values of every area
        QByteArray out;
        for (int i = 0; i < screenCalls; ++i, ++hostCalls)
            EXPECT_EQ(GetRegisterData(QString(), i % 6, i % 6 == 0 ? "29" : "10", 1 + i % 3, &out, 2), 1);
    });
    screens.emplace_back([&] {  // writer: 16-bit and 32-bit values
        QByteArray value = hex("01 02 03 04");
        for (int i = 0; i < screenCalls; ++i, ++hostCalls)
            SetRegisterData("screen", 1 + i % 2, QString::number(0x100 + i % 16, 16), 1 + i % 3, &value, 2, 3, i);
    });
    screens.emplace_back([&] {  // once-reads and direct write registrations
        for (int i = 0; i < screenCalls; ++i, hostCalls += 2) {
            RW_VAR v = makeVar(1 + i % 5, 0x200 + i % 32, 1 + i % 3, 2);
            v.ownerType = 1 + i % 4;
            v.ownerId = i % 7;
            AddListOnceReadVar(&v, 0);
            RW_VAR w = writeVar(3, 0x300 + i % 8, "AA 55", 2);
            AddListWriteVar(&w, 0);
        }
    });
    screens.emplace_back([&] {  // the panel switching screens: read list rebuilt again and again
        for (int i = 0; i < screenCalls / 20; ++i, ++hostCalls) {
            QList<HOSTVAR> list = hostVariables(8 + i % 10, i);
            ReCreatReadVarList(&list);
        }
    });

    int sent = 0;
    unsigned noise = 12345;
    for (int i = 0; i < exchanges; ++i) {
        Protocol *p = ComCommunication();
        if (!p)
            continue;
        ++sent;
        QByteArray reply = goodReply(*p);
        noise = noise * 1103515245u + 12345u;
        if ((noise >> 16) % 10 == 0)
            reply.clear();  // a lost reply now and then
        const int status = DataCom(&reply, reply.size())->status;
        EXPECT_TRUE(status == 0 || status == 1 || (status > 10 && status < 200)) << status;
    }
    for (std::thread &t : screens)
        t.join();
    done = true;
    watchdog.join();
    EXPECT_GT(sent, exchanges / 2);
    EXPECT_GT(hostCalls.load(), 4L * screenCalls);
    // Every queued write is whole: one frame per value, never a padded half.
    for (const RW_VAR &w : PLC_driver.writeList)
        EXPECT_EQ(w.data.size() % 2, 0);
}

}  // namespace
