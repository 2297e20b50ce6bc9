// Serdes route, GPIO poll and backlight against fake sysfs files. Most cases
// drive the poll tick by tick; one runs the real 10 ms timer.

#include "GPIOSet.h"
#include "pvmtestenv.h"
#include "serdescontrol.h"

#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <memory>

namespace {
const int kNoTimer = 3600 * 1000;
}

class SerdesTest : public PvmBoardTest {
protected:
    void SetUp() override
    {
        PvmBoardTest::SetUp();
        addOutputs({229u, 260u, 150u, 268u, 106u});
        route0 = root() + "/etc/set_q508gmsl_0.sh 0";
        route1 = root() + "/etc/set_q508gmsl_0.sh 1";
        backlight = root() + "/etc/set_q508gmsl_1.sh";
    }
    void TearDown() override
    {
        serdes.reset();
        PvmBoardTest::TearDown();
    }

    void make(int pollMs = kNoTimer)
    {
        serdes = std::make_unique<SerdesControl>(nullptr, pollMs);
        triggers = std::make_unique<QSignalSpy>(serdes.get(), &SerdesControl::phySwitchTriggerSignal);
    }

    // Runs n ticks; returns (tick number, command) for each command, ticks
    // counted from 1 since the last call of settle() or make().
    struct Run {
        int tick;
        QString cmd;
        bool operator==(const Run& o) const { return tick == o.tick && cmd == o.cmd; }
    };
    QList<Run> ticks(int n)
    {
        QList<Run> out;
        for (int i = 1; i <= n; ++i) {
            const int before = runner->commands().size();
            serdes->onPer10ms();
            ++tickNo;
            const QStringList all = runner->commands();
            for (int k = before; k < all.size(); ++k)
                out << Run{tickNo, all.at(k)};
        }
        return out;
    }
    // Settles the start states and resets the tick count and recordings.
    void settle()
    {
        ticks(10);
        tickNo = 0;
        runner->clear();
        triggers->clear();
    }
    // Tick numbers at which trigger index was emitted, from the recorded spy.
    QList<int> triggerTicks(int index) const
    {
        QList<int> out;
        for (int i = 0; i < triggerAt.size(); ++i)
            if (triggerAt[i].second == index)
                out << triggerAt[i].first;
        return out;
    }
    void watchTriggers()
    {
        QObject::connect(serdes.get(), &SerdesControl::phySwitchTriggerSignal, [this](int idx) {
            triggerAt << qMakePair(tickNo + 1, idx);
        });
    }
    char outValue(unsigned int n) const
    {
        const QByteArray v = gpioValue(n);
        return v.isEmpty() ? '?' : v[0];
    }

    std::unique_ptr<SerdesControl> serdes;
    std::unique_ptr<QSignalSpy> triggers;
    QList<QPair<int, int>> triggerAt;
    int tickNo = 0;
    QString route0, route1, backlight;
};

TEST_F(SerdesTest, ReleasedSwitchSettlesWithoutTrigger)
{
    make();
    ticks(6);
    EXPECT_TRUE(serdes->switchPressed());
    ticks(1);
    EXPECT_FALSE(serdes->switchPressed());
    ticks(20);
    EXPECT_EQ(triggers->count(), 0);
    EXPECT_TRUE(runner->commands().isEmpty());
}

TEST_F(SerdesTest, ShortClickNeedsDebouncedPressAndRelease)
{
    make();
    settle();
    watchTriggers();
    // Six pressed samples are a glitch.
    setGpio(SerdesControl::GpioSwitch, true);
    ticks(6);
    setGpio(SerdesControl::GpioSwitch, false);
    ticks(20);
    EXPECT_EQ(triggers->count(), 0);

    // A press of 100 ticks: one trigger, at the 7th tick after the release.
    setGpio(SerdesControl::GpioSwitch, true);
    ticks(100);
    EXPECT_TRUE(serdes->switchPressed());
    const int releasedAt = tickNo;
    setGpio(SerdesControl::GpioSwitch, false);
    ticks(30);
    EXPECT_EQ(triggerTicks(1), QList<int>{releasedAt + 7});
}

TEST_F(SerdesTest, LongPressPulsesBothChipsAndReappliesRoute)
{
    make();
    settle();
    setGpio(SerdesControl::GpioSwitch, true);
    ticks(7);  // debounced press at tick 7
    ticks(298);
    EXPECT_EQ(outValue(260), '?');
    ticks(1);  // tick 306 = 7 + 299
    EXPECT_EQ(outValue(260), '0');
    EXPECT_EQ(outValue(229), '0');
    EXPECT_EQ(gpioValue(229), QByteArray("0", 2));

    ticks(18);
    EXPECT_EQ(outValue(229), '0');
    ticks(1);  // 19 ticks after the pulse started
    EXPECT_EQ(outValue(229), '1');
    EXPECT_EQ(outValue(260), '0');
    ticks(10);  // 29 ticks after
    EXPECT_EQ(outValue(260), '1');

    // The release after a long press is no click.
    watchTriggers();
    setGpio(SerdesControl::GpioSwitch, false);
    const int serHighAt = tickNo;
    // With the screen lock high the route is applied again 299 + 19 ticks
    // after the serializer came back, and the backlight 39 ticks later.
    const QList<Run> runs = ticks(400);
    EXPECT_TRUE(triggerTicks(1).isEmpty());
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0], (Run{serHighAt + 299 + 19, route1}));
    EXPECT_EQ(runs[1], (Run{serHighAt + 299 + 19 + 39, backlight}));
}

TEST_F(SerdesTest, ScreenLockRisingEdgeReappliesRoute)
{
    setGpio(SerdesControl::GpioSerLock, false);
    make();
    settle();  // -1 -> 0: no re-apply
    EXPECT_EQ(serdes->serLockState(), 0);
    setGpio(SerdesControl::GpioSerLock, true);
    const QList<Run> runs = ticks(100);
    // Debounced at tick 7, route 19 ticks later, backlight 39 after that.
    EXPECT_EQ(runs, (QList<Run>{{26, route1}, {65, backlight}}));
}

TEST_F(SerdesTest, LockFromStartValueDoesNotReapply)
{
    make();
    EXPECT_TRUE(ticks(100).isEmpty());
    EXPECT_EQ(serdes->serLockState(), 1);
    EXPECT_EQ(serdes->deserLockState(), 1);
}

TEST_F(SerdesTest, AccHeldTriggersPowerDownEveryThousandTicks)
{
    setGpio(SerdesControl::GpioAcc, true);
    make();
    watchTriggers();
    ticks(2100);
    EXPECT_EQ(triggerTicks(2), QList<int>{7});
    EXPECT_EQ(triggerTicks(3), (QList<int>{1006, 2006}));
    setGpio(SerdesControl::GpioAcc, false);
    ticks(1200);
    EXPECT_EQ(triggerTicks(2), (QList<int>{7, 2107}));
    EXPECT_EQ(triggerTicks(3).size(), 2);
}

TEST_F(SerdesTest, RouteOrdersAndBacklight)
{
    make();
    settle();
    serdes->switchVideoSlot(1);  // already PVM: nothing
    EXPECT_TRUE(runner->commands().isEmpty());
    serdes->switchVideoSlot(0);
    EXPECT_EQ(runner->commands(), QStringList{route0});
    EXPECT_FALSE(serdes->getIsShowPVM());
    QList<Run> runs = ticks(39);
    EXPECT_TRUE(runs.isEmpty());
    runs = ticks(1);
    EXPECT_EQ(runs, (QList<Run>{{40, backlight}}));

    // A second switch within the 40 ticks restarts them: one backlight.
    runner->clear();
    tickNo = 0;
    serdes->switchVideoSlot(1);
    ticks(10);
    serdes->switchVideoSlot(5);  // already PVM: ignored
    serdes->switchVideoSlot(0);
    runs = ticks(60);
    EXPECT_EQ(runner->commands(), (QStringList{route1, route0, backlight}));
    EXPECT_EQ(runs, (QList<Run>{{50, backlight}}));
}

TEST_F(SerdesTest, UnreadableInputsKeepTheirState)
{
    make();
    settle();
    QFile::remove(rootFile("/sys/class/gpio/gpio269/value"));
    QFile::remove(rootFile("/sys/class/gpio/gpio116/value"));
    writeFile("/sys/class/gpio/gpio270/value", "");  // empty: no sample
    ticks(50);
    EXPECT_FALSE(serdes->switchPressed());
    EXPECT_FALSE(serdes->accOn());
    EXPECT_EQ(serdes->serLockState(), 1);
    EXPECT_EQ(triggers->count(), 0);
}

TEST_F(SerdesTest, KeepPowerOutput)
{
    make();
    serdes->setAccKeepPowerOn(true);
    EXPECT_EQ(gpioValue(150), QByteArray("1", 2));
    serdes->setAccKeepPowerOn(false);
    EXPECT_EQ(gpioValue(150), QByteArray("0", 2));
}

TEST_F(SerdesTest, RealPollTimingOfClickAndBacklight)
{
    make(10);
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(waitFor([&] { return !serdes->switchPressed(); }, 1000));
    setGpio(SerdesControl::GpioSwitch, true);
    ASSERT_TRUE(waitFor([&] { return serdes->switchPressed(); }, 1000));
    // Equal samples after the change clear the debounce count.
    QTest::qWait(50);
    setGpio(SerdesControl::GpioSwitch, false);
    t.restart();
    ASSERT_TRUE(triggers->wait(1000));
    EXPECT_GE(t.elapsed(), 50);  // seven 10 ms samples, coarse timer slack
    EXPECT_EQ(triggers->at(0).at(0).toInt(), 1);

    runner->clear();
    serdes->switchVideoSlot(0);
    ASSERT_TRUE(waitFor([&] { return runner->commands().size() == 2; }, 2000));
    const auto e = runner->entries();
    EXPECT_EQ(e[0].cmd, route0);
    EXPECT_EQ(e[1].cmd, backlight);
    EXPECT_GE(e[1].atMs - e[0].atMs, 360);  // 40 ticks, coarse timer slack
}

TEST_F(SerdesTest, SerializerRegisterRead)
{
    make();
    struct Case {
        QByteArray output;
        bool ok;
        unsigned char count;
        QList<int> expect;
    } cases[] = {
        {"0x12 0x34\n", true, 2, {0x12, 0x34}},
        {"0xab\n", true, 1, {0xab}},
        {"0x12\n", true, 2, {0x55, 0x55}},   // wrong count: untouched
        {"", false, 1, {0}},                 // cannot start: "error" parses as 0
    };
    for (const Case& c : cases) {
        runner->clear();
        runner->setCaptureOutput(c.output, c.ok);
        unsigned char out[2] = {0x55, 0x55};
        serdes->Read_iic_from_ser(0x07, 0x10, out, c.count);
        EXPECT_EQ(runner->commands(),
                  QStringList{QStringLiteral("i2ctransfer -y -f 1 w2@0x20 0x07 0x10 r%1").arg(c.count)});
        for (int i = 0; i < c.expect.size(); ++i)
            EXPECT_EQ(out[i], c.expect[i]) << c.output.constData();
    }
}

class GpioSetTest : public PvmSandboxTest {};

TEST_F(GpioSetTest, AttributesUnderTheRoot)
{
    writeFile("/sys/class/gpio/export", "");
    writeFile("/sys/class/gpio/gpio7/direction", "");
    writeFile("/sys/class/gpio/gpio7/value", "");
    writeFile("/sys/class/pwm/pwmchip0/pwm1/duty_cycle", "");
    writeFile("/sys/class/gpadc/value", "1234567");
    EXPECT_EQ(gpio_export(7), 0);
    EXPECT_EQ(readFile("/sys/class/gpio/export"), QByteArray("7"));
    EXPECT_EQ(gpio_set_dir(7, "out"), 0);
    EXPECT_EQ(readFile("/sys/class/gpio/gpio7/direction"), QByteArray("out", 4));
    EXPECT_EQ(gpio_set_value(7, true), 0);
    bool v = false;
    EXPECT_EQ(gpio_get_value(7, &v), 0);
    EXPECT_TRUE(v);
    EXPECT_EQ(pwm_set_value_duty_cycle(1, 5000), 0);
    EXPECT_EQ(readFile("/sys/class/pwm/pwmchip0/pwm1/duty_cycle"), QByteArray("5000"));
    char adc[6];
    std::memset(adc, 'x', sizeof(adc));
    EXPECT_EQ(adc_get_value(adc), 0);
    EXPECT_STREQ(adc, "1234");

    // A missing attribute: negative result, value untouched.
    bool keep = true;
    EXPECT_LT(gpio_get_value(99, &keep), 0);
    EXPECT_TRUE(keep);
    EXPECT_LT(gpio_set_value(99, true), 0);
    EXPECT_FALSE(QFile::exists(rootFile("/sys/class/gpio/gpio99/value")));
}
