// View switching: timed input sequences into the running daemon objects,
// with the switchVideoSignal sequence and the recorded route commands.

#include "cantest.h"
#include "devicedatasmanager.h"
#include "pvmmain.h"
#include "pvmtestenv.h"
#include "serdescontrol.h"
#include "watchdogcontrol.h"

#include <QSharedMemory>
#include <QSignalSpy>
#include <QSystemSemaphore>
#include <QTest>
#include <memory>

class PvmMainTest : public PvmDaemonTest {
protected:
    void SetUp() override
    {
        PvmDaemonTest::SetUp();
        manager = std::make_unique<DeviceDatasManager>();
        watchdog = std::make_unique<WatchDogControl>();
    }
    void TearDown() override
    {
        spy.reset();
        pvm.reset();
        watchdog.reset();
        manager.reset();
        PvmDaemonTest::TearDown();
    }

    void start()
    {
        PvmOptions o;
        o.canPlugin = QStringLiteral("virtualcan");
        o.canInterface = virtualCanInterface(0);
        o.sharedMemory.key = shmKey;
        o.sharedMemory.semaphoreKey = semKey;
        o.sharedMemory.exchangeIntervalMs = 3600 * 1000;
        o.manager = manager.get();
        o.watchdog = watchdog.get();
        o.now = [this] { return clock; };
        pvm = std::make_unique<PvmMain>(o);
        spy = std::make_unique<QSignalSpy>(pvm.get(), &PvmMain::switchVideoSignal);
        exchange();  // the first exchange clears the block
        runner->clear();
    }

    // One exchange in the exchange thread; then the queued signals arrive.
    void exchange()
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(pvm->sharedMemoryControl(), "on_runTimerOut",
                                              Qt::BlockingQueuedConnection));
        QCoreApplication::processEvents();
    }
    void peerWrite(int offset, char value)
    {
        QSharedMemory shm(shmKey);
        QSystemSemaphore sem(semKey, 1, QSystemSemaphore::Open);
        ASSERT_TRUE(shm.attach());
        ASSERT_TRUE(sem.acquire());
        shm.lock();
        static_cast<char*>(shm.data())[offset] = value;
        shm.unlock();
        sem.release();
    }
    QByteArray peerRead()
    {
        QSharedMemory shm(shmKey);
        QSystemSemaphore sem(semKey, 1, QSystemSemaphore::Open);
        if (!shm.attach() || !sem.acquire())
            return QByteArray();
        shm.lock();
        QByteArray out(static_cast<const char*>(shm.constData()), shm.size());
        shm.unlock();
        sem.release();
        return out;
    }

    QList<int> signalsSeen() const
    {
        QList<int> out;
        for (const auto& args : *spy)
            out << args.at(0).toInt();
        return out;
    }
    QStringList routes() const
    {
        QStringList out;
        for (const QString& c : runner->commands())
            if (c.contains(QLatin1String("set_q508gmsl_0.sh")))
                out << c.section(QLatin1Char(' '), -1);
        return out;
    }

    enum Kind { Gear, Speed, Light, Click, TurnEnable, TurnDisable, AvmInited, Request, Wait };
    struct Step {
        Kind kind;
        int value;
    };
    void apply(const Step& s)
    {
        CanTest* c = pvm->canTest();
        switch (s.kind) {
        case Gear:
            c->gearStatus = s.value;
            pvm->canTestDataChangedSlot(CanTest::CodeGear);
            break;
        case Speed:
            c->speed = s.value;
            pvm->canTestDataChangedSlot(CanTest::CodeSpeed);
            break;
        case Light:
            c->lightStatus = s.value;
            pvm->canTestDataChangedSlot(CanTest::CodeLight);
            break;
        case Click:
            pvm->onPhySwitchTriggerSlot(1);
            break;
        case TurnEnable:
        case TurnDisable:
            // The display application's flag, through the block.
            peerWrite(61, s.kind == TurnEnable ? 1 : 0);
            exchange();
            break;
        case AvmInited:
            peerWrite(62, 1);
            exchange();
            break;
        case Request:
            pvm->toSwitchVideo(s.value);
            break;
        case Wait:
            QTest::qWait(s.value);
            break;
        }
    }

    std::unique_ptr<DeviceDatasManager> manager;
    std::unique_ptr<WatchDogControl> watchdog;
    std::unique_ptr<PvmMain> pvm;
    std::unique_ptr<QSignalSpy> spy;
    QDateTime clock = QDateTime(QDate(2024, 1, 15), QTime(12, 31));
};

TEST_F(PvmMainTest, ViewSwitchingRules)
{
    struct Scenario {
        const char* name;
        QList<Step> steps;
        QList<int> expectSignals;
        QStringList expectRoutes;  // argument of each route script run
        bool showPVM;
        int gearInRecord;
    } scenarios[] = {
        {"first gear D goes to DA", {{Gear, 4}}, {0}, {"0"}, false, 4},
        {"first gear N goes to DA", {{Gear, 3}}, {0}, {"0"}, false, 3},
        {"first gear P goes to DA", {{Gear, 1}}, {0}, {"0"}, false, 1},
        {"first gear R opens PVM", {{Gear, 2}}, {1}, {}, true, 2},
        {"leaving R waits for the delay",
         {{Gear, 2}, {Speed, 20}, {Gear, 4}},
         {1}, {}, true, 2},
        {"R then D while moving, delay run out",
         {{Gear, 2}, {Speed, 20}, {Gear, 4}, {Wait, 250}},
         {1, 0}, {"0"}, false, 4},
        {"R then D at standstill stays", {{Gear, 2}, {Gear, 4}, {Wait, 250}}, {1}, {}, true, 4},
        {"R then P", {{Gear, 2}, {Gear, 1}, {Wait, 250}}, {1, 0}, {"0"}, false, 1},
        {"R, N, R within the delay changes nothing",
         {{Gear, 2}, {Gear, 3}, {Gear, 2}, {Wait, 250}}, {1}, {}, true, 2},
        {"after a cancelled delay the next departure acts at once",
         {{Gear, 2}, {Gear, 3}, {Gear, 2}, {Wait, 250}, {Gear, 1}}, {1, 0}, {"0"}, false, 1},
        {"N stored during the delay: the end of the delay does nothing",
         {{Gear, 4}, {Gear, 2}, {Speed, 30}, {Gear, 3}, {Gear, 4}, {Wait, 250}},
         {0, 1}, {"0", "1"}, true, 4},
        {"speed rising past 15 leaves PVM", {{Speed, 15}, {Speed, 16}}, {0}, {"0"}, false, 0},
        {"speed 20, 10, 16 after a click", {{Speed, 20}, {Click, 0}, {Speed, 10}, {Speed, 16}},
         {0, 1, 0}, {"0", "1", "0"}, false, 0},
        {"speed in R cannot leave PVM", {{Gear, 2}, {Speed, 30}, {Click, 0}}, {1}, {}, true, 2},
        {"click in D at standstill opens PVM, leaving it with speed",
         {{Gear, 4}, {Click, 0}, {Speed, 20}}, {0, 1, 0}, {"0", "1", "0"}, false, 4},
        {"click in D while moving keeps PVM until the next click",
         {{Gear, 4}, {Speed, 30}, {Click, 0}, {Speed, 10}, {Speed, 20}, {Click, 0}, {Speed, 5}, {Click, 0}, {Speed, 20}},
         {0, 1, 0, 1}, {"0", "1", "0", "1"}, true, 4},
        {"turn lights open PVM and close it again",
         {{TurnEnable, 0}, {Gear, 4}, {Light, 1}, {Light, 0}}, {0, 1, 0}, {"0", "1", "0"}, false, 4},
        {"turn lights with PVM shown before keep it at standstill",
         {{TurnEnable, 0}, {Light, 2}, {Light, 0}}, {1}, {}, true, 0},
        {"turn lights with PVM shown before leave it when moving",
         {{TurnEnable, 0}, {Light, 1}, {Speed, 20}, {Light, 0}}, {1, 0}, {"0"}, false, 0},
        {"lights hold PVM against a click", {{TurnEnable, 0}, {Gear, 4}, {Light, 2}, {Click, 0}},
         {0, 1}, {"0", "1"}, true, 4},
        {"turn switching off: lights do nothing", {{Gear, 4}, {Light, 1}, {Light, 0}}, {0}, {"0"}, false, 4},
        {"enabling turn switching with lights on opens PVM",
         {{Gear, 4}, {Light, 1}, {TurnEnable, 0}}, {0, 1}, {"0", "1"}, true, 4},
        {"a request above 10 waits for AVM inited",
         {{Gear, 4}, {Request, 100}, {Wait, 10}, {AvmInited, 0}}, {0, 100}, {"0", "1"}, true, 4},
        {"AVM inited without a pending request does nothing", {{Gear, 4}, {AvmInited, 0}}, {0}, {"0"}, false, 4},
    };
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.name);
        start();
        for (const Step& s : sc.steps)
            apply(s);
        EXPECT_EQ(signalsSeen(), sc.expectSignals);
        EXPECT_EQ(routes(), sc.expectRoutes);
        EXPECT_EQ(pvm->serdesControl()->getIsShowPVM(), sc.showPVM);
        EXPECT_EQ(manager->deviceData().gear, sc.gearInRecord);
        pvm.reset();
        manager = std::make_unique<DeviceDatasManager>();
        watchdog = std::make_unique<WatchDogControl>();
    }
}

TEST_F(PvmMainTest, NeedOutFromPVMThreshold)
{
    start();
    apply({Speed, 16});
    EXPECT_FALSE(pvm->isNeedOutFromPVM());
    apply({Speed, 17});
    EXPECT_TRUE(pvm->isNeedOutFromPVM());
    EXPECT_EQ(manager->deviceData().speed, 17);
}

TEST_F(PvmMainTest, SteeringConversion)
{
    start();
    struct Case {
        int raw, angle, storedRaw;
    } cases[] = {
        {4231, 2838, 4230}, {4230, 2838, 4230}, {49, 33, 49}, {50, 33, 50}, {0, 0, 0},
        {32768, 2838, 4230}, {61310, -2838, 61311}, {61311, -2838, 61311}, {65535, 0, 65535},
        {65000, -330, 65000}, {4229, 2838, 4229}, {100, 66, 100}, {32769, -2838, 61311},
    };
    for (const Case& c : cases) {
        pvm->canTest()->steeringRaw = c.raw;
        pvm->canTestDataChangedSlot(CanTest::CodeSteering);
        EXPECT_EQ(manager->deviceData().angle, c.angle) << c.raw;
        EXPECT_EQ(pvm->canTest()->steeringRaw, c.storedRaw) << c.raw;
    }
}

TEST_F(PvmMainTest, ClockFollowsTheVehicle)
{
    start();
    struct Case {
        const char* name;
        QDateTime clockNow;
        qint64 date, time;
        QString expect;  // empty: no command
    } cases[] = {
        {"within a minute", QDateTime(QDate(2024, 1, 15), QTime(12, 31)), 20240115, 1230, ""},
        {"two minutes off", QDateTime(QDate(2024, 1, 15), QTime(12, 33)), 20240115, 1230, "date -s 202401151230.00"},
        {"other day", QDateTime(QDate(2024, 1, 16), QTime(12, 30)), 20240115, 1230, "date -s 202401151230.00"},
        {"hhmm difference across the hour", QDateTime(QDate(2024, 1, 15), QTime(13, 0)), 20240115, 1259,
         "date -s 202401151259.00"},
        {"early morning", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 20240101, 405, "date -s 202401010405.00"},
        {"not yet received", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), -1, 1200, ""},
        {"invalid date", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 200000, 800, ""},
        {"invalid time", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 20240101, 2405, ""},
        // Years no vehicle in service reports, and that "date -s" cannot
        // take as four digits; the first from a flood of random frames.
        {"year 15412", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 154120913, 1258, ""},
        {"year 65535", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 655351231, 1000, ""},
        {"year 1999", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 19991231, 2359, ""},
        {"year 2100", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 21000101, 1000, ""},
        {"last year accepted", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 20991231, 2359,
         "date -s 209912312359.00"},
        {"first year accepted", QDateTime(QDate(2024, 1, 1), QTime(0, 0)), 20000101, 0, "date -s 200001010000.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runner->clear();
        clock = c.clockNow;
        pvm->canTest()->dateValue = c.date;
        pvm->canTest()->timeValue = c.time;
        pvm->canTestDataChangedSlot(CanTest::CodeDateTime);
        EXPECT_EQ(runner->commands(), c.expect.isEmpty() ? QStringList() : QStringList{c.expect});
    }
}

TEST_F(PvmMainTest, AccPowerDownSyncsReleasesPowerAndReboots)
{
    start();
    pvm->onPhySwitchTriggerSlot(2);
    EXPECT_TRUE(runner->commands().isEmpty());
    EXPECT_EQ(gpioValue(150), QByteArray("1", 2));
    pvm->onPhySwitchTriggerSlot(3);
    EXPECT_EQ(runner->commands(), (QStringList{"sync", "reboot"}));
    EXPECT_EQ(gpioValue(150), QByteArray("0", 2));
}

TEST_F(PvmMainTest, RadarAndKeyReachTheRecord)
{
    start();
    pvm->canTest()->radarStatus = 0xFFFFF321LL;
    pvm->canTestDataChangedSlot(CanTest::CodeRadar);
    EXPECT_EQ(manager->deviceData().radar, 0xFFFFF321u);
    pvm->canTest()->keyStatus = 2;
    pvm->canTestDataChangedSlot(CanTest::CodeKey);
    EXPECT_EQ(manager->deviceData().keyStatus, 2);
    pvm->canTestDataChangedSlot(40);  // unknown code: ignored
    EXPECT_TRUE(signalsSeen().isEmpty());
    EXPECT_EQ(pvm->newCalcRadarDistance(0), 1);
    EXPECT_EQ(pvm->newCalcRadarDistance(6), 2);
    EXPECT_EQ(pvm->newCalcRadarDistance(11), 3);
    EXPECT_EQ(pvm->newCalcRadarDistance(12), 0);
}

TEST_F(PvmMainTest, StartUpSwitchesTheWatchdogOn)
{
    start();
    EXPECT_TRUE(watchdog->getIsIntWdgOn());
    EXPECT_EQ(gpioValue(150), QByteArray("1", 2));
    ASSERT_NE(pvm->sharedMemoryControl(), nullptr);
    EXPECT_TRUE(pvm->sharedMemoryControl()->isInitOK());
}

TEST_F(PvmMainTest, FramesThroughToRecordRouteAndBacklight)
{
    start();
    auto sender = connectVirtualCan(virtualCanInterface(0));
    ASSERT_TRUE(sender);
    CanTest* c = pvm->canTest();
    const quint64 before = c->framesSeen();
    ASSERT_TRUE(waitFor([&] {
        sender->writeFrame(QCanBusFrame(0x7AB, QByteArray(1, '\0')));
        return waitFor([&] { return c->framesSeen() > before; }, 50);
    }, 3000));

    for (int i = 0; i < 5; ++i)
        sender->writeFrame(QCanBusFrame(0x1004501, QByteArray::fromHex("000000000050")));
    sender->writeFrame(QCanBusFrame(0x681AA02, QByteArray::fromHex("21")));
    sender->writeFrame(QCanBusFrame(0x4812501, QByteArray::fromHex("0000003100")));
    sender->writeFrame(QCanBusFrame(0x3E5, QByteArray::fromHex("000000100818")));

    // The record reaches the block by itself, through the coalescing delay.
    QByteArray block;
    ASSERT_TRUE(waitFor([&] {
        block = peerRead();
        return block.size() == 64 && block.at(18) == 4 && block.at(12) == 33 && block.at(4) == 0x21 &&
               static_cast<unsigned char>(block.at(24)) == 0x21;
    }, 3000)) << block.toHex().constData();
    EXPECT_EQ(signalsSeen(), QList<int>{0});

    // Route to DA at once, backlight about 400 ms later by the real poll.
    ASSERT_TRUE(waitFor([&] { return runner->commands().size() >= 2; }, 2000));
    const auto e = runner->entries();
    EXPECT_EQ(e[0].cmd, root() + "/etc/set_q508gmsl_0.sh 0");
    EXPECT_EQ(e[1].cmd, root() + "/etc/set_q508gmsl_1.sh");
    EXPECT_GE(e[1].atMs - e[0].atMs, 360);  // 40 ticks, coarse timer slack
}
