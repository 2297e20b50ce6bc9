// The vehicle-state record: its bytes, its bit helpers and the coalescing of
// bursts of changes.

#include "devicedatasmanager.h"
#include "devicedatashare.h"
#include "pvmtestenv.h"

#include <QSignalSpy>
#include <QTest>
#include <cstring>

namespace {
QByteArray recordBytes(const DeviceDatasManager& m)
{
    QByteArray b(28, '\0');
    m.structToCharArray(b.data());
    return b;
}
}  // namespace

TEST(DeviceDataShare, BitHelpers)
{
    struct Case {
        int value, start, count, field, expectSet;
    } cases[] = {
        {0, 4, 4, 2, 0x20},
        {0, 4, 4, 16, -1},          // field too large
        {0, 30, 4, 1, -1},          // runs past bit 31
        {0, 0, 0, 0, -1},           // empty field
        {0x7FFFFFFF, 0, 32, 0, 0},  // a full 32-bit field
        {0xFFF, 4, 4, 0, 0xF0F},
    };
    for (const Case& c : cases)
        EXPECT_EQ(setBits(c.value, c.start, c.count, c.field), c.expectSet)
            << c.value << " " << c.start << " " << c.count << " " << c.field;

    EXPECT_EQ(getBits(0x321, 4, 4), 2);
    EXPECT_EQ(getBits(-1, 0, 32), -1);
    EXPECT_EQ(getBits(static_cast<int>(0x80000000u), 31, 1), 1);
    EXPECT_EQ(getBits(0x321, 32, 1), -1);
    EXPECT_EQ(getBits(0x321, -1, 4), -1);
    EXPECT_EQ(getDeviceDataLen(), 28);
}

TEST(DeviceDataShare, ChangeTestIgnoresPaddingOnly)
{
    DeviceData a;
    std::memset(&a, 0xFF, sizeof(a));
    DeviceData b = a;
    b.pad3 = 0;
    b.pad10[1] = 0;
    b.pad21[2] = 0;
    EXPECT_FALSE(isDeviceDataChanged(&a, &b));
    b = a;
    b.reserved17 = 0;
    EXPECT_TRUE(isDeviceDataChanged(&a, &b));
    b = a;
    b.radar = 0;
    EXPECT_TRUE(isDeviceDataChanged(&a, &b));
}

class DeviceDatasManagerTest : public PvmSandboxTest {};

TEST_F(DeviceDatasManagerTest, StartRecordByteForByte)
{
    DeviceDatasManager m;
    const QByteArray expect = QByteArray::fromHex(
        "ffffffff" "00000000" "0000ffff" "00000000" "ffff00ff" "ffffffff" "ffffff00");
    EXPECT_EQ(recordBytes(m).toHex(), expect.toHex());
}

TEST_F(DeviceDatasManagerTest, FieldsLandAtTheirOffsets)
{
    DeviceDatasManager m;
    m.setSpeed(200);
    m.setKeyStaus(2);
    m.setLightStatus(1);
    m.setAngle(-2838);
    m.setGear(4);
    m.setRadar(static_cast<int>(0xFFFFF321u));
    const QByteArray expect = QByteArray::fromHex(
        "ffffffff" "c8000000" "0201ffff" "eaf4ffff" "ffff04ff" "ffffffff" "21f3ffff");
    EXPECT_EQ(recordBytes(m).toHex(), expect.toHex());
}

TEST_F(DeviceDatasManagerTest, WrongLengthChangesNothing)
{
    DeviceDatasManager m;
    const QByteArray before = recordBytes(m);
    QByteArray in(64, '\x11');
    m.charArrayToStruct(in.constData(), 27);
    m.charArrayToStruct(in.constData(), 64);
    EXPECT_EQ(recordBytes(m), before);
    m.charArrayToStruct(in.constData(), 28);
    EXPECT_EQ(recordBytes(m), QByteArray(28, '\x11'));
}

TEST_F(DeviceDatasManagerTest, ChangeSignalsAfterTheDelay)
{
    DeviceDatasManager m;
    QSignalSpy spy(&m, &DeviceDatasManager::deviceDataChangedSignal);
    QElapsedTimer t;
    t.start();
    m.setSpeed(9);
    m.handleSendDataChanged();
    EXPECT_TRUE(m.isDelayPending());
    ASSERT_TRUE(spy.wait(1000));
    EXPECT_GE(t.elapsed(), 45);
    EXPECT_FALSE(m.isDelayPending());

    // No change, no signal.
    m.handleSendDataChanged();
    EXPECT_FALSE(m.isDelayPending());
    QTest::qWait(80);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(DeviceDatasManagerTest, BurstOfChangesGivesOneSignal)
{
    DeviceDatasManager m;
    // A longer delay than the real 50 ms keeps the burst inside it on a
    // loaded machine.
    m.setDelayIntervalMs(300);
    QSignalSpy spy(&m, &DeviceDatasManager::deviceDataChangedSignal);
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= 5; ++i) {
        m.setSpeed(i);
        m.handleSendDataChanged();
        QTest::qWait(5);
    }
    ASSERT_TRUE(spy.wait(2000));
    // Timed from the first change: later changes do not restart the delay.
    EXPECT_GE(t.elapsed(), 250);  // coarse timers may fire up to 5% early
    QTest::qWait(100);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(m.deviceData().speed, 5);
}

TEST_F(DeviceDatasManagerTest, PeerSideReportsChangeAtOnce)
{
    DeviceDatasManager m;
    QSignalSpy spy(&m, &DeviceDatasManager::deviceDataChangedSignal);
    EXPECT_FALSE(m.handleRcvDataChanged());
    m.setGear(2);
    EXPECT_TRUE(m.handleRcvDataChanged());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(m.handleRcvDataChanged());
}
