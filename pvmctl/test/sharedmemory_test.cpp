// The exchange through the shared block, seen from a second set of handles
// that plays the display application.

#include "devicedatasmanager.h"
#include "pvmtestenv.h"
#include "sharedmemorycontrol.h"

#include <QSharedMemory>
#include <QSignalSpy>
#include <QSystemSemaphore>
#include <QTest>
#include <atomic>
#include <cstring>
#include <memory>

namespace {
// The display application's side of the block.
class Peer {
public:
    Peer(const QString& key, const QString& semKey) : shm(key), sem(semKey, 1, QSystemSemaphore::Open) {}

    bool attach() { return shm.isAttached() || shm.attach(QSharedMemory::ReadWrite); }
    bool create(int size) { return shm.create(size, QSharedMemory::ReadWrite); }

    QByteArray read()
    {
        QByteArray out;
        if (!attach() || !sem.acquire())
            return out;
        shm.lock();
        out = QByteArray(static_cast<const char*>(shm.constData()), shm.size());
        shm.unlock();
        sem.release();
        return out;
    }

    void writeByte(int offset, char value)
    {
        ASSERT_TRUE(attach());
        ASSERT_TRUE(sem.acquire());
        shm.lock();
        static_cast<char*>(shm.data())[offset] = value;
        shm.unlock();
        sem.release();
    }

    QSharedMemory shm;
    QSystemSemaphore sem;
};

void exchange(SharedMemoryControl* c)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(c, "on_runTimerOut", Qt::BlockingQueuedConnection));
}
}  // namespace

class SharedMemoryTest : public PvmSandboxTest {
protected:
    void SetUp() override
    {
        PvmSandboxTest::SetUp();
        key = uniqueKey("shm");
        semKey = uniqueKey("sem");
        manager = std::make_unique<DeviceDatasManager>();
        peer = std::make_unique<Peer>(key, semKey);
    }
    void TearDown() override
    {
        control.reset();
        peer.reset();
        manager.reset();
        PvmSandboxTest::TearDown();
    }

    // A sender whose own timer stays out of the way: exchanges are driven
    // by the test, time by a fake clock.
    void startSender(int interval = 3600 * 1000)
    {
        SharedMemoryOptions o;
        o.key = key;
        o.semaphoreKey = semKey;
        o.exchangeIntervalMs = interval;
        o.clock = [this] { return fakeNow.load(); };
        o.manager = manager.get();
        control = std::make_unique<SharedMemoryControl>(true, o);
        ASSERT_TRUE(control->isInitOK());
    }

    QString key, semKey;
    std::atomic<qint64> fakeNow{0};
    std::unique_ptr<DeviceDatasManager> manager;
    std::unique_ptr<Peer> peer;
    std::unique_ptr<SharedMemoryControl> control;
};

TEST_F(SharedMemoryTest, FirstExchangeClearsBlockAndWritesRecord)
{
    startSender();
    // Something stale in the block before the first exchange.
    peer->writeByte(40, 0x55);
    peer->writeByte(60, 0x33);
    manager->setSpeed(77);
    manager->setGear(3);
    exchange(control.get());

    const QByteArray block = peer->read();
    ASSERT_EQ(block.size(), 64);
    QByteArray record(28, '\0');
    manager->structToCharArray(record.data());
    EXPECT_EQ(block.left(28).toHex(), record.toHex());
    EXPECT_EQ(block.mid(28), QByteArray(36, '\0'));
    EXPECT_EQ(static_cast<unsigned char>(block[4]), 77);
    EXPECT_EQ(block[18], 3);
    // Heartbeat 0 differs from the start value 1: counted as a beat.
    EXPECT_EQ(control->getAVMRunCount(), 0);
    EXPECT_EQ(control->stallCountValue(), 0);

    // Later exchanges keep the peer's trailer.
    peer->writeByte(60, 9);
    manager->setRadar(0x123);
    exchange(control.get());
    const QByteArray again = peer->read();
    EXPECT_EQ(again[60], 9);
    EXPECT_EQ(static_cast<unsigned char>(again[24]), 0x23);
    EXPECT_EQ(control->getAVMRunCount(), 9);
}

TEST_F(SharedMemoryTest, StallNeedsTenSecondsNotTenExchanges)
{
    startSender();
    QSignalSpy stop(control.get(), &SharedMemoryControl::avmStopSignal);
    exchange(control.get());  // heartbeat reads 0: a beat at t = 0

    // A moving vehicle: twenty exchanges within one second, heartbeat still.
    for (int i = 0; i < 20; ++i) {
        fakeNow += 50;
        exchange(control.get());
    }
    EXPECT_EQ(stop.count(), 0);
    EXPECT_EQ(control->stallCountValue(), 11);

    fakeNow = 9999;
    exchange(control.get());
    EXPECT_EQ(stop.count(), 0);
    fakeNow = 10000;
    exchange(control.get());
    ASSERT_EQ(stop.count(), 1);
    EXPECT_EQ(stop.at(0).at(0).toBool(), true);
    fakeNow = 20000;
    exchange(control.get());
    EXPECT_EQ(stop.count(), 1);  // once only

    // The heartbeat moves again.
    peer->writeByte(60, 5);
    fakeNow = 21000;
    exchange(control.get());
    ASSERT_EQ(stop.count(), 2);
    EXPECT_EQ(stop.at(1).at(0).toBool(), false);
    EXPECT_EQ(control->stallCountValue(), 0);
    // And has to stand still for the full time again.
    fakeNow = 30999;
    exchange(control.get());
    EXPECT_EQ(stop.count(), 2);
    fakeNow = 31000;
    exchange(control.get());
    EXPECT_EQ(stop.count(), 3);
}

TEST_F(SharedMemoryTest, TrailerFlags)
{
    startSender();
    QSignalSpy inited(control.get(), &SharedMemoryControl::avmInitOkSignal);
    QSignalSpy turn(control.get(), &SharedMemoryControl::turnSwitchSignal);
    exchange(control.get());
    EXPECT_FALSE(control->getIsAVMInited());
    EXPECT_FALSE(control->getIsTurnSwitchEnable());

    struct Step {
        char turnByte, initedByte, slogByte;
        bool turnOn, initedOn, slogOn;
        int initedSignals, turnSignals;
    } steps[] = {
        {2, 2, 2, false, false, false, 0, 0},  // 2 counts as off
        {1, 1, 1, true, true, true, 1, 1},
        {1, 1, 1, true, true, true, 1, 1},     // no change, no signal
        {0, 0, 0, false, false, false, 1, 2},  // inited off: no signal
        {1, 1, 0, true, true, false, 2, 3},
    };
    for (const Step& s : steps) {
        peer->writeByte(61, s.turnByte);
        peer->writeByte(62, s.initedByte);
        peer->writeByte(63, s.slogByte);
        exchange(control.get());
        EXPECT_EQ(control->getIsTurnSwitchEnable(), s.turnOn);
        EXPECT_EQ(control->getIsAVMInited(), s.initedOn);
        EXPECT_EQ(control->getIsSlogEnable(), s.slogOn);
        EXPECT_EQ(inited.count(), s.initedSignals);
        EXPECT_EQ(turn.count(), s.turnSignals);
    }
}

TEST_F(SharedMemoryTest, SlogLogsEveryBeatInHex)
{
    startSender();
    exchange(control.get());
    peer->writeByte(63, 1);
    exchange(control.get());
    peer->writeByte(60, 0x2A);

    static QStringList lines;
    lines.clear();
    auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        lines << m;
    });
    exchange(control.get());
    qInstallMessageHandler(previous);

    bool found = false;
    for (const QString& l : lines) {
        if (l.startsWith(QLatin1String("Send size 64"))) {
            found = true;
            EXPECT_EQ(l.count(QLatin1Char(' ')), 2 + 64 * 2) << l.toStdString();
            EXPECT_TRUE(l.contains(QLatin1String(" 2a "))) << l.toStdString();
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(SharedMemoryTest, BurstOfRecordChangesGivesOneExchange)
{
    startSender();
    QObject::connect(manager.get(), &DeviceDatasManager::deviceDataChangedSignal, control.get(),
                     &SharedMemoryControl::on_DeviceDataChanged);
    manager->setDelayIntervalMs(200);
    exchange(control.get());
    const int before = control->exchangeCount();

    for (int i = 1; i <= 5; ++i) {
        manager->setAngle(i * 33);
        manager->handleSendDataChanged();
        QTest::qWait(6);
    }
    ASSERT_TRUE(waitFor([&] { return control->exchangeCount() > before; }, 1000));
    QTest::qWait(100);
    EXPECT_EQ(control->exchangeCount(), before + 1);
    const QByteArray block = peer->read();
    EXPECT_EQ(static_cast<unsigned char>(block[12]), 165);
}

TEST_F(SharedMemoryTest, RhythmRunsOnItsOwn)
{
    startSender(20);
    ASSERT_TRUE(waitFor([&] { return control->exchangeCount() >= 3; }, 2000));
    const QByteArray block = peer->read();
    EXPECT_EQ(block.left(4), QByteArray(4, '\xFF'));
}

TEST_F(SharedMemoryTest, SegmentShorterThanRecordIsNotOverrun)
{
    // Someone else made the block, too small for the record.
    ASSERT_TRUE(peer->create(16));
    QByteArray ones(16, '\x01');
    std::memcpy(peer->shm.data(), ones.constData(), 16);
    startSender();
    QSignalSpy inited(control.get(), &SharedMemoryControl::avmInitOkSignal);
    exchange(control.get());
    QByteArray block = peer->read();
    ASSERT_GE(block.size(), 16);
    // Cleared, no record, trailer read from the last four bytes.
    EXPECT_EQ(block.left(16), QByteArray(16, '\0'));
    peer->writeByte(14, 1);
    exchange(control.get());
    EXPECT_EQ(inited.count(), 1);
}

TEST_F(SharedMemoryTest, SegmentShorterThanTrailerHasNoFlags)
{
    ASSERT_TRUE(peer->create(2));
    startSender();
    QSignalSpy stop(control.get(), &SharedMemoryControl::avmStopSignal);
    for (int i = 0; i < 3; ++i) {
        fakeNow += 20000;
        exchange(control.get());
    }
    EXPECT_EQ(stop.count(), 0);
    EXPECT_EQ(control->getAVMRunCount(), 1);
}

TEST_F(SharedMemoryTest, AttachIsRetriedUntilTheSegmentExists)
{
    // The peer side never creates the block; it attaches once it exists.
    SharedMemoryOptions o;
    o.key = key;
    o.semaphoreKey = semKey;
    o.exchangeIntervalMs = 3600 * 1000;
    o.manager = manager.get();
    auto reader = std::make_unique<SharedMemoryControl>(false, o);
    for (int i = 0; i < 3; ++i)
        exchange(reader.get());
    EXPECT_EQ(reader->exchangeCount(), 3);
    ASSERT_TRUE(peer->create(64));
    exchange(reader.get());
    EXPECT_EQ(peer->read().at(61), 1);
    reader.reset();
}

TEST_F(SharedMemoryTest, PeerSideReadsRecordAndWritesTrailer)
{
    ASSERT_TRUE(peer->create(64));
    QByteArray record(28, '\0');
    DeviceDatasManager source;
    source.setGear(2);
    source.setSpeed(33);
    source.structToCharArray(record.data());
    std::memcpy(peer->shm.data(), record.constData(), 28);

    SharedMemoryOptions o;
    o.key = key;
    o.semaphoreKey = semKey;
    o.exchangeIntervalMs = 3600 * 1000;
    o.manager = manager.get();
    auto reader = std::make_unique<SharedMemoryControl>(false, o);
    QSignalSpy changed(manager.get(), &DeviceDatasManager::deviceDataChangedSignal);
    reader->setAVMRunCount(0x1F3);
    reader->setIsAVMInited(true);
    exchange(reader.get());

    QByteArray got(28, '\0');
    manager->structToCharArray(got.data());
    EXPECT_EQ(got.toHex(), record.toHex());
    EXPECT_EQ(changed.count(), 1);
    const QByteArray block = peer->read();
    EXPECT_EQ(static_cast<unsigned char>(block[60]), 0xF3);
    EXPECT_EQ(block[61], 1);  // the peer side starts with turn switching on
    EXPECT_EQ(block[62], 1);
    EXPECT_EQ(block[63], 0);
    reader.reset();
}

TEST(SharedMemoryCounter, HeartbeatStepWraps)
{
    SharedMemoryOptions o;
    o.key = uniqueKey("shm");
    o.semaphoreKey = uniqueKey("sem");
    DeviceDatasManager m;
    o.manager = &m;
    SharedMemoryControl c(false, o);
    c.setAVMRunCount(253);
    c.updatemAVMRunCount();
    EXPECT_EQ(c.getAVMRunCount(), 254);
    c.updatemAVMRunCount();
    EXPECT_EQ(c.getAVMRunCount(), 1);
}
