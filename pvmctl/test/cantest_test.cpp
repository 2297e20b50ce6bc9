// CAN decoding: real frames over the virtual CAN bus into the decoder.

#include "caninterface.h"
#include "cantest.h"
#include "pvmtestenv.h"

#include <QCanBus>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {
QCanBusFrame frame(quint32 id, const char* hex)
{
    return QCanBusFrame(id, QByteArray::fromHex(hex));
}

QList<QCanBusFrame> repeat(int n, const QCanBusFrame& f)
{
    QList<QCanBusFrame> l;
    for (int i = 0; i < n; ++i)
        l << f;
    return l;
}
}  // namespace

class CanDecodeTest : public PvmSandboxTest {
protected:
    void SetUp() override
    {
        PvmSandboxTest::SetUp();
        ASSERT_TRUE(QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan")));
        iface = virtualCanInterface(0);
    }
    void TearDown() override
    {
        sender.reset();
        decoder.reset();
        PvmSandboxTest::TearDown();
    }

    void start()
    {
        decoder = std::make_unique<CanTest>(QStringLiteral("virtualcan"), iface);
        ASSERT_NE(decoder->canInterface()->device(), nullptr);
        spy = std::make_unique<QSignalSpy>(decoder.get(), &CanTest::canTestDataChangedSignal);
        ASSERT_TRUE(waitFor([&] {
            return decoder->canInterface()->device()->state() == QCanBusDevice::ConnectedState;
        }));
        sender = connectVirtualCan(iface);
        ASSERT_TRUE(sender);
        // Probe until the bus delivers: the server registers both ends.
        const quint64 before = decoder->framesSeen();
        ASSERT_TRUE(waitFor([&] {
            sender->writeFrame(frame(0x7AB, "00"));
            return waitFor([&] { return decoder->framesSeen() > before; }, 50);
        }, 3000));
        QTest::qWait(20);
        spy->clear();
    }

    // Sends frames and waits until the decoder has taken all of them.
    void send(const QList<QCanBusFrame>& frames)
    {
        const quint64 target = decoder->framesSeen() + frames.size();
        for (const QCanBusFrame& f : frames)
            ASSERT_TRUE(sender->writeFrame(f));
        ASSERT_TRUE(waitFor([&] { return decoder->framesSeen() >= target; }));
    }

    QList<int> codes() const
    {
        QList<int> out;
        for (const auto& args : *spy)
            out << args.at(0).value<unsigned char>();
        return out;
    }

    QString iface;
    std::unique_ptr<CanTest> decoder;
    std::unique_ptr<QCanBusDevice> sender;
    std::unique_ptr<QSignalSpy> spy;
};

TEST_F(CanDecodeTest, EachIdentifierUpdatesItsSignal)
{
    struct Case {
        const char* name;
        quint32 id;
        const char* payload;
        int code;  // -1: nothing emitted
        std::function<qint64(const CanTest&)> field;
        qint64 expect;
    } cases[] = {
        {"turn right", 0x413, "0000000000000049", 6, [](const CanTest& c) { return c.lightStatus; }, 2},
        {"turn 0x45", 0x413, "0000000000000045", 6, [](const CanTest& c) { return c.lightStatus; }, 2},
        {"turn left 0x51", 0x413, "0000000000000051", 6, [](const CanTest& c) { return c.lightStatus; }, 1},
        {"turn 0x61", 0x413, "0000000000000061", 6, [](const CanTest& c) { return c.lightStatus; }, 1},
        {"turn other", 0x413, "0000000000000050", 6, [](const CanTest& c) { return c.lightStatus; }, 0},
        {"turn short", 0x413, "00000000000049", 6, [](const CanTest& c) { return c.lightStatus; }, 0},
        {"ignition on", 0x3E0, "0000000054", 5, [](const CanTest& c) { return c.keyStatus; }, 2},
        {"key 04", 0x3E0, "0000000004", 5, [](const CanTest& c) { return c.keyStatus; }, 1},
        {"key other", 0x3E0, "0000000033", 5, [](const CanTest& c) { return c.keyStatus; }, 0},
        {"key short", 0x3E0, "00000054", 5, [](const CanTest& c) { return c.keyStatus; }, 0},
        {"speed", 0x681AA02, "c8", 3, [](const CanTest& c) { return c.speed; }, 200},
        {"speed empty", 0x681AA02, "", 3, [](const CanTest& c) { return c.speed; }, 0},
        {"steering", 0x4812501, "0000003412", 7, [](const CanTest& c) { return c.steeringRaw; }, 0x1234},
        {"steering 4 bytes", 0x4812501, "00000034", 7, [](const CanTest& c) { return c.steeringRaw; }, 0x34},
        {"steering short", 0x4812501, "000000", 7, [](const CanTest& c) { return c.steeringRaw; }, 0},
        {"date", 0x371, "e807010f041e", 15, [](const CanTest& c) { return c.dateValue; }, 20240115},
        {"time", 0x371, "e807010f041e", 15, [](const CanTest& c) { return c.timeValue; }, 1230},
        {"time missing", 0x371, "e807010f", 15, [](const CanTest& c) { return c.timeValue; }, 800},
        {"over midnight date", 0x371, "e8070c1f1405", 15, [](const CanTest& c) { return c.dateValue; }, 20250101},
        {"over midnight time", 0x371, "e8070c1f1405", 15, [](const CanTest& c) { return c.timeValue; }, 405},
        {"leap day", 0x371, "e807021c1000", 15, [](const CanTest& c) { return c.dateValue; }, 20240229},
        {"year only", 0x371, "14", 15, [](const CanTest& c) { return c.dateValue; }, 200000},
        {"radar front", 0x3E5, "000000100818", 13, [](const CanTest& c) { return c.radarStatus; }, 0xFFFFF321LL},
        {"radar rear", 0x3E6, "0000010203", 13, [](const CanTest& c) { return c.radarStatus; }, 0xFF231FFFLL},
        {"radar front short", 0x3E5, "0000001008", 13, [](const CanTest& c) { return c.radarStatus; }, 0xFFFFF320LL},
        {"unknown id", 0x123, "0102030405060708", -1, [](const CanTest& c) { return c.speed; }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        send({frame(c.id, c.payload)});
        if (c.code < 0)
            EXPECT_TRUE(codes().isEmpty());
        else
            EXPECT_EQ(codes(), QList<int>{c.code});
        EXPECT_EQ(c.field(*decoder), c.expect);
        sender.reset();
        decoder.reset();
    }
}

TEST_F(CanDecodeTest, ChangeOnlyEmission)
{
    start();
    send({frame(0x681AA02, "10"), frame(0x681AA02, "10"), frame(0x681AA02, "11"),
          frame(0x681AA02, "11"), frame(0x3E5, "000000100818"), frame(0x3E5, "000000100818"),
          frame(0x371, "e807010f041e"), frame(0x371, "e807010f041e"), frame(0x371, "e807010f041f")});
    EXPECT_EQ(codes(), (QList<int>{3, 3, 13, 15, 15}));
    EXPECT_EQ(decoder->speed, 0x11);
    EXPECT_EQ(decoder->timeValue, 1231);
}

TEST_F(CanDecodeTest, GearDebounceByIdentifier)
{
    start();
    send(repeat(11, frame(0x1004001, "0000000000")));
    EXPECT_EQ(codes(), QList<int>{10});
    EXPECT_EQ(decoder->gearStatus, 1);
    spy->clear();

    // Ten reverse frames are not enough, the eleventh is.
    send(repeat(10, frame(0x1004001, "0000000007")));
    EXPECT_TRUE(codes().isEmpty());
    EXPECT_EQ(decoder->gearStatus, 1);
    send({frame(0x1004001, "0000000007")});
    EXPECT_EQ(codes(), QList<int>{10});
    EXPECT_EQ(decoder->gearStatus, 2);
    spy->clear();

    // The other identifier takes five; four are not enough.
    send(repeat(4, frame(0x1004501, "000000000050")));
    EXPECT_TRUE(codes().isEmpty());
    send({frame(0x1004501, "000000000050")});
    EXPECT_EQ(codes(), QList<int>{10});
    EXPECT_EQ(decoder->gearStatus, 4);
    spy->clear();

    // After a take the count starts again; the same gear emits nothing.
    send(repeat(12, frame(0x1004501, "000000000050")));
    EXPECT_TRUE(codes().isEmpty());

    // A frame that interrupts the run restarts the debounce.
    send(repeat(3, frame(0x1004501, "000000000060")));
    send({frame(0x1004501, "000000000050")});
    send(repeat(4, frame(0x1004501, "000000000060")));
    EXPECT_TRUE(codes().isEmpty());
    send({frame(0x1004501, "000000000060")});
    EXPECT_EQ(decoder->gearStatus, 3);

    // Short frames read as P.
    spy->clear();
    send(repeat(5, frame(0x1004501, "0000000000")));
    EXPECT_EQ(decoder->gearStatus, 1);
}

TEST_F(CanDecodeTest, GearValueCarriesWithinOneBatch)
{
    start();
    // An unknown nibble repeats the previous gear frame of the same batch,
    // or gives 0 as the first gear frame of a batch.
    decoder->decodeFrames({frame(0x1004001, "000000000C")});
    EXPECT_EQ(decoder->gearCandidate, 0);
    EXPECT_EQ(decoder->gearStableCount, 1);

    QVector<QCanBusFrame> batch;
    batch << frame(0x1004001, "0000000007");
    for (int i = 0; i < 10; ++i)
        batch << frame(0x1004001, "000000000C");
    decoder->decodeFrames(batch);
    EXPECT_EQ(decoder->gearStatus, 2);
    EXPECT_EQ(codes(), QList<int>{10});
}

TEST_F(CanDecodeTest, ErrorAndInvalidFramesChangeNothing)
{
    start();
    QCanBusFrame err(QCanBusFrame::ErrorFrame);
    err.setFrameId(0x681AA02);
    err.setPayload(QByteArray::fromHex("50"));
    QCanBusFrame tooLong(0x681AA02, QByteArray(9, '\x20'));
    QCanBusFrame badId(0x413, QByteArray::fromHex("0000000000000049"));
    badId.setFrameId(0x20000000);
    decoder->decodeFrames({err, tooLong, badId});
    EXPECT_TRUE(codes().isEmpty());
    EXPECT_EQ(decoder->speed, -1);
    EXPECT_EQ(decoder->lightStatus, -1);
}

TEST_F(CanDecodeTest, SteeringFirstFrameAlwaysCounts)
{
    start();
    send({frame(0x4812501, "")});
    EXPECT_EQ(codes(), QList<int>{7});
    EXPECT_EQ(decoder->steeringRaw, 0);
}

class CanInterfaceTest : public PvmSandboxTest {};

TEST_F(CanInterfaceTest, SocketCanBringsTheLinkUpThroughTheRunner)
{
    // An interface that does not exist: the link commands are recorded and
    // the connection fails cleanly.
    CANInterface can(QStringLiteral("socketcan"), QStringLiteral("pvmtest0"));
    if (!QCanBus::instance()->plugins().contains(QStringLiteral("socketcan")))
        GTEST_SKIP() << "no socketcan plugin";
    EXPECT_EQ(can.filterList().size(), 1);
    EXPECT_EQ(can.openCANDevice(0, 500000, 100), 0);
    EXPECT_EQ(runner->commands(),
              (QStringList{"ip link set pvmtest0 down",
                           "ip link set up pvmtest0 type can bitrate 500000 listen-only on restart-ms 100"}));
    // The connection failed, so the device never counts as open.
    EXPECT_EQ(can.index(), -1);
}

TEST_F(CanInterfaceTest, MissingPluginLeavesNoDevice)
{
    CANInterface can(QStringLiteral("nosuchplugin"), QStringLiteral("can0"));
    EXPECT_TRUE(can.filterList().isEmpty());
    EXPECT_EQ(can.openCANDevice(0, 500000, 100), 0);
    EXPECT_EQ(can.device(), nullptr);
    EXPECT_EQ(can.index(), -1);
    EXPECT_EQ(can.getstatus(), 0);
    EXPECT_TRUE(runner->commands().isEmpty());
    EXPECT_EQ(can.closeCANDevice(), -1);
}

TEST_F(CanInterfaceTest, VirtualBusOpensWithoutLinkCommands)
{
    CANInterface can(QStringLiteral("virtualcan"), virtualCanInterface(1));
    can.openCANDevice(0, 500000, 100);
    ASSERT_NE(can.device(), nullptr);
    EXPECT_EQ(can.index(), 0);
    EXPECT_TRUE(runner->commands().isEmpty());
    EXPECT_EQ(can.closeCANDevice(), -1);
    EXPECT_EQ(can.device(), nullptr);
}
