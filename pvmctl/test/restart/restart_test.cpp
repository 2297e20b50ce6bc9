// The daemon stopped and started again, by SIGTERM and by SIGKILL, while a
// second process plays the display application: it stays attached to the
// block and keeps taking the semaphore and the segment lock. Every restart
// must leave it running against the same semaphores, and once every process
// is gone each semaphore must read 1 again (nothing held, nothing lost).

#include "sharedipc.h"
#include "pvmtestenv.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>

#ifndef PVMCTL_EXECUTABLE
#error "PVMCTL_EXECUTABLE must name the built daemon"
#endif
#ifndef PVMCTL_SHM_PEER
#error "PVMCTL_SHM_PEER must name the stand-in display application"
#endif

namespace {
struct SemaphoreId {
    ino_t inode = 0;  // of the key file
    int id = -1;      // kernel semaphore
    bool operator==(const SemaphoreId& o) const { return inode == o.inode && id == o.id; }
};

SemaphoreId semaphoreOf(const QString& key)
{
    SemaphoreId s;
    const QByteArray file = QFile::encodeName(systemSemaphoreKeyFile(key));
    struct stat st {};
    if (::stat(file.constData(), &st) != 0)
        return s;
    s.inode = st.st_ino;
    const key_t k = ::ftok(file.constData(), 'Q');
    if (k != -1)
        s.id = ::semget(k, 1, 0);
    return s;
}

int semaphoreValue(const SemaphoreId& s)
{
    return s.id == -1 ? -1 : ::semctl(s.id, 0, GETVAL);
}
}  // namespace

class RestartTest : public PvmDaemonTest {
protected:
    void SetUp() override
    {
        PvmDaemonTest::SetUp();
        writeFile("/lsan.supp",
                  "leak:libqoffscreen.so\nleak:QScreen::QScreen\nleak:QPlatformScreen::QPlatformScreen\n"
                  "leak:QWindowSystemInterface::handleScreenAdded\nleak:ExternalRefCountData::getAndRef\n"
                  "leak:QObject::QObject\n");
        iface = virtualCanInterface(2);
    }

    std::unique_ptr<QProcess> startDaemon(int n)
    {
        auto daemon = std::make_unique<QProcess>();
        daemon->setStandardOutputFile(root() + QStringLiteral("/daemon%1.out").arg(n));
        daemon->setStandardErrorFile(root() + QStringLiteral("/daemon%1.err").arg(n));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LSAN_OPTIONS", "suppressions=" + root() + "/lsan.supp");
        daemon->setProcessEnvironment(env);
        daemon->start(PVMCTL_EXECUTABLE, {"--root", root(), "--can-plugin", "virtualcan", "--can-interface", iface,
                                          "--shm-key", shmKey, "--sem-key", semKey, "--command-log",
                                          root() + "/commands.log"});
        return daemon;
    }

    // The peer's last "turns <n> clears <m>" line.
    void readPeer()
    {
        peerOut += peer.readAllStandardOutput();
        static const QRegularExpression line(QStringLiteral("turns (\\d+) clears (\\d+)\\n$"));
        const int from = peerOut.lastIndexOf("turns", peerOut.size() - 2);
        if (from < 0)
            return;
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(peerOut.mid(from)));
        if (m.hasMatch()) {
            turns = m.captured(1).toLong();
            clears = m.captured(2).toLong();
        }
        if (peerOut.size() > 4096)
            peerOut = peerOut.mid(peerOut.size() - 256);
    }

    QString iface;
    QProcess peer;
    QByteArray peerOut;
    long turns = 0, clears = 0;
};

TEST_F(RestartTest, PeerKeepsItsSemaphoresAcrossRestarts)
{
    int started = 0;
    std::unique_ptr<QProcess> daemon = startDaemon(started++);
    ASSERT_TRUE(daemon->waitForStarted(5000));

    // The peer attaches once the block exists and holds the semaphore most
    // of the time, so that restarts fall on its holds and waits.
    peer.start(PVMCTL_SHM_PEER, {shmKey, semKey, "10"});
    ASSERT_TRUE(peer.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { readPeer(); return clears >= 1 || turns >= 100; }, 10000))
        << "peer made no turns: " << readFile("/daemon0.err").constData();
    const SemaphoreId exchangeSem = semaphoreOf(semKey);
    const SemaphoreId lockSem = semaphoreOf(shmKey);
    ASSERT_NE(exchangeSem.id, -1);
    ASSERT_NE(lockSem.id, -1);

    struct Kind {
        int signal;
        const char* name;
    };
    for (const Kind kind : {Kind{SIGTERM, "SIGTERM"}, Kind{SIGKILL, "SIGKILL"}}) {
        for (int i = 0; i < 20; ++i) {
            readPeer();
            const long clearsBefore = clears;
            ::kill(static_cast<pid_t>(daemon->processId()), kind.signal);
            ASSERT_TRUE(daemon->waitForFinished(10000)) << kind.name << " restart " << i << ": daemon did not stop";
            if (kind.signal == SIGTERM) {
                EXPECT_EQ(daemon->exitStatus(), QProcess::NormalExit) << kind.name << " restart " << i;
                EXPECT_EQ(daemon->exitCode(), 0) << kind.name << " restart " << i;
            }
            daemon = startDaemon(started++);
            ASSERT_TRUE(daemon->waitForStarted(5000));
            // The new daemon's first exchange clears the block, and the
            // peer, still taking turns, sees it.
            ASSERT_TRUE(waitFor([&] { readPeer(); return clears > clearsBefore; }, 10000))
                << kind.name << " restart " << i << ": peer stuck at turn " << turns;
            EXPECT_TRUE(semaphoreOf(semKey) == exchangeSem) << kind.name << " restart " << i;
            EXPECT_TRUE(semaphoreOf(shmKey) == lockSem) << kind.name << " restart " << i;
        }
    }

    // Everyone gone, the peer killed in whatever state: both semaphores are
    // free again and nothing was counted twice.
    ::kill(static_cast<pid_t>(daemon->processId()), SIGTERM);
    ASSERT_TRUE(daemon->waitForFinished(10000));
    ::kill(static_cast<pid_t>(peer.processId()), SIGKILL);
    ASSERT_TRUE(peer.waitForFinished(10000));
    EXPECT_EQ(semaphoreValue(exchangeSem), 1);
    EXPECT_EQ(semaphoreValue(lockSem), 1);
}
