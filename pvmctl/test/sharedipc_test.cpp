// Semaphores and the segment made ahead of Qt: same names as Qt's own, and
// no Qt object that opens them removes them.

#include "pvmtestenv.h"
#include "sharedipc.h"

#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <csignal>

#ifndef PVMCTL_SHM_PEER
#error "PVMCTL_SHM_PEER must name the stand-in display application"
#endif

namespace {
int semaphoreId(const QString& key)
{
    const key_t k = ::ftok(QFile::encodeName(systemSemaphoreKeyFile(key)).constData(), 'Q');
    return k == -1 ? -1 : ::semget(k, 1, 0);
}

int semaphoreValue(const QString& key)
{
    const int id = semaphoreId(key);
    return id == -1 ? -1 : ::semctl(id, 0, GETVAL);
}
}  // namespace

TEST(SharedIpcTest, KeyFilesAreThoseOfQt)
{
    const QString key = uniqueKey("names");
    EXPECT_EQ(sharedMemoryKeyFile(key), QSharedMemory(key).nativeKey());
    EXPECT_FALSE(QFile::exists(systemSemaphoreKeyFile(key)));
    {
        QSystemSemaphore sem(key, 1, QSystemSemaphore::Open);
        ASSERT_TRUE(sem.acquire());
        EXPECT_TRUE(QFile::exists(systemSemaphoreKeyFile(key)));
        EXPECT_EQ(semaphoreValue(key), 0);
        sem.release();
    }
    // Qt's own creator removes both again.
    EXPECT_FALSE(QFile::exists(systemSemaphoreKeyFile(key)));
}

TEST(SharedIpcTest, KeptSemaphoreOutlivesQtObjects)
{
    const QString key = uniqueKey("kept");
    ASSERT_TRUE(keepSystemSemaphore(key, 1));
    const int id = semaphoreId(key);
    ASSERT_NE(id, -1);
    EXPECT_EQ(semaphoreValue(key), 1);
    {
        QSystemSemaphore sem(key, 1, QSystemSemaphore::Open);
        ASSERT_TRUE(sem.acquire());
        // A second keep while it is held leaves the count alone.
        ASSERT_TRUE(keepSystemSemaphore(key, 1));
        EXPECT_EQ(semaphoreValue(key), 0);
        sem.release();
    }
    EXPECT_TRUE(QFile::exists(systemSemaphoreKeyFile(key)));
    EXPECT_EQ(semaphoreId(key), id);
    EXPECT_EQ(semaphoreValue(key), 1);
}

TEST(SharedIpcTest, NeverSetSemaphoreIsRepaired)
{
    // A creator that died between semget() and SETVAL leaves 0 and no pid.
    const QString key = uniqueKey("unset");
    const QByteArray file = QFile::encodeName(systemSemaphoreKeyFile(key));
    QFile f(QString::fromLocal8Bit(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const int id = ::semget(::ftok(file.constData(), 'Q'), 1, 0600 | IPC_CREAT | IPC_EXCL);
    ASSERT_NE(id, -1);
    ASSERT_EQ(::semctl(id, 0, GETVAL), 0);
    ASSERT_TRUE(keepSystemSemaphore(key, 1));
    EXPECT_EQ(semaphoreId(key), id);
    EXPECT_EQ(semaphoreValue(key), 1);
}

TEST(SharedIpcTest, SegmentIsMadeOnceAndQtAttaches)
{
    const QString key = uniqueKey("segment");
    ASSERT_TRUE(keepSystemSemaphore(key, 1));
    EXPECT_EQ(createSharedSegment(key, 64), SegmentResult::Created);
    EXPECT_EQ(createSharedSegment(key, 64), SegmentResult::Exists);
    QSharedMemory a(key), b(key);
    ASSERT_TRUE(a.attach());
    ASSERT_TRUE(b.attach());
    EXPECT_EQ(a.size(), 64);
    ASSERT_TRUE(a.lock());
    static_cast<char*>(a.data())[60] = 7;
    a.unlock();
    EXPECT_EQ(static_cast<const char*>(b.constData())[60], 7);
    a.detach();
    // The other attachment keeps the segment; the lock semaphore stays.
    EXPECT_EQ(createSharedSegment(key, 64), SegmentResult::Exists);
    EXPECT_EQ(semaphoreValue(key), 1);
}

TEST(SharedIpcTest, HoldOfAKilledProcessIsReleased)
{
    const QString key = uniqueKey("held"), semKey = uniqueKey("heldsem");
    ASSERT_TRUE(keepSystemSemaphore(key, 1));
    ASSERT_TRUE(keepSystemSemaphore(semKey, 1));
    ASSERT_EQ(createSharedSegment(key, 64), SegmentResult::Created);
    QSharedMemory keep(key);  // keeps the segment while the peer comes and goes
    ASSERT_TRUE(keep.attach());
    // The peer takes both and holds them for a minute.
    QProcess peer;
    peer.start(PVMCTL_SHM_PEER, {key, semKey, "60000"});
    ASSERT_TRUE(peer.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return semaphoreValue(semKey) == 0 && semaphoreValue(key) == 0; }, 10000));
    ::kill(static_cast<pid_t>(peer.processId()), SIGKILL);
    ASSERT_TRUE(peer.waitForFinished(5000));
    EXPECT_EQ(semaphoreValue(semKey), 1);
    EXPECT_EQ(semaphoreValue(key), 1);
}
