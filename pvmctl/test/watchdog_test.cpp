// Watchdog feeding against a fake device file, alone and driven by the
// heartbeat of the shared block.

#include "devicedatasmanager.h"
#include "pvmtestenv.h"
#include "sharedmemorycontrol.h"
#include "watchdogcontrol.h"

#include <QSharedMemory>
#include <QSignalSpy>
#include <QSystemSemaphore>
#include <QTest>
#include <atomic>
#include <memory>

class WatchdogTest : public PvmSandboxTest {
protected:
    void SetUp() override
    {
        PvmSandboxTest::SetUp();
        writeFile("/dev/watchdog", "");
    }
    QByteArray device() const { return readFile("/dev/watchdog"); }
};

TEST_F(WatchdogTest, FedWhileAliveMagicCloseOnSwitchOff)
{
    WatchDogControl wd(nullptr, 10);
    wd.setWatchDogOnOff(true);
    EXPECT_TRUE(wd.getIsIntWdgOn());
    EXPECT_TRUE(wd.isFeedTimerActive());
    ASSERT_TRUE(waitFor([&] { return device().size() >= 3; }));
    EXPECT_EQ(device(), QByteArray(device().size(), 'A'));

    wd.on_avmstopslot(true);
    const int stalledAt = device().size();
    QTest::qWait(60);
    EXPECT_EQ(device().size(), stalledAt);
    EXPECT_TRUE(wd.isFeedTimerActive());  // keeps running, only the feed pauses

    wd.on_avmstopslot(false);
    ASSERT_TRUE(waitFor([&] { return device().size() > stalledAt; }));

    wd.setWatchDogOnOff(false);
    EXPECT_FALSE(wd.getIsIntWdgOn());
    EXPECT_FALSE(wd.isFeedTimerActive());
    EXPECT_FALSE(wd.isDeviceOpen());
    const QByteArray last = device();
    EXPECT_EQ(last.right(1), QByteArray("V"));
    QTest::qWait(40);
    EXPECT_EQ(device(), last);
}

TEST_F(WatchdogTest, FeedDisabledWritesNothing)
{
    WatchDogControl wd(nullptr, 10);
    wd.setWdgFeedOnOff(false);
    wd.setWatchDogOnOff(true);
    QTest::qWait(50);
    EXPECT_TRUE(device().isEmpty());
    wd.setWatchDogOnOff(false);
    EXPECT_EQ(device(), QByteArray("V"));
}

TEST_F(WatchdogTest, NoDeviceNoTimer)
{
    QFile::remove(rootFile("/dev/watchdog"));
    WatchDogControl wd(nullptr, 10);
    wd.setWatchDogOnOff(true);
    EXPECT_FALSE(wd.getIsIntWdgOn());
    EXPECT_FALSE(wd.isFeedTimerActive());
    EXPECT_FALSE(wd.isDeviceOpen());
    wd.on_WDTTimerOut();  // must not write anywhere
    // Switching off without a device only stops the timer.
    wd.setWatchDogOnOff(false);
    EXPECT_FALSE(QFile::exists(rootFile("/dev/watchdog")));
}

TEST_F(WatchdogTest, SecondSwitchOnKeepsTheDevice)
{
    WatchDogControl wd(nullptr, 10);
    wd.setWatchDogOnOff(true);
    ASSERT_TRUE(waitFor([&] { return device().size() >= 2; }));
    // Replace the file: a reopen would write into the new one.
    QFile::rename(rootFile("/dev/watchdog"), rootFile("/dev/watchdog.old"));
    writeFile("/dev/watchdog", "");
    wd.setWatchDogOnOff(true);
    EXPECT_TRUE(wd.isFeedTimerActive());
    QTest::qWait(50);
    EXPECT_TRUE(device().isEmpty());
    wd.setWatchDogOnOff(false);
    QFile old(rootFile("/dev/watchdog.old"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_TRUE(old.readAll().endsWith("AV"));
}

TEST_F(WatchdogTest, HeartbeatStallStopsFeedingAndMovingResumes)
{
    const QString key = uniqueKey("shm"), semKey = uniqueKey("sem");
    DeviceDatasManager manager;
    std::atomic<qint64> now{0};
    SharedMemoryOptions o;
    o.key = key;
    o.semaphoreKey = semKey;
    o.exchangeIntervalMs = 3600 * 1000;
    o.clock = [&now] { return now.load(); };
    o.manager = &manager;
    auto shm = std::make_unique<SharedMemoryControl>(true, o);

    WatchDogControl wd(nullptr, 10);
    QObject::connect(shm.get(), &SharedMemoryControl::avmStopSignal, &wd, &WatchDogControl::on_avmstopslot);
    wd.setWatchDogOnOff(true);

    QSharedMemory peer(key);
    QSystemSemaphore sem(semKey, 1, QSystemSemaphore::Open);
    auto beat = [&](char h) {
        ASSERT_TRUE(peer.isAttached() || peer.attach());
        sem.acquire();
        peer.lock();
        static_cast<char*>(peer.data())[60] = h;
        peer.unlock();
        sem.release();
    };
    auto exchange = [&] {
        ASSERT_TRUE(QMetaObject::invokeMethod(shm.get(), "on_runTimerOut", Qt::BlockingQueuedConnection));
    };

    exchange();
    // Ten exchanges with a still heartbeat, one second apart.
    for (int i = 1; i <= 9; ++i) {
        now = i * 1000;
        exchange();
    }
    ASSERT_TRUE(waitFor([&] { return device().size() >= 2; }));
    now = 10000;
    exchange();
    QTest::qWait(30);  // the queued stop arrives
    const int stoppedAt = device().size();
    QTest::qWait(60);
    EXPECT_EQ(device().size(), stoppedAt);

    beat(7);
    now = 11000;
    exchange();
    ASSERT_TRUE(waitFor([&] { return device().size() > stoppedAt; }));
    wd.setWatchDogOnOff(false);
    shm.reset();
}
