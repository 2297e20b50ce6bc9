// The daemon executable in a sandbox: fake root, virtual CAN bus, its own
// shared-memory keys and a command log in place of real commands. It must
// run its event loop, answer CAN frames, publish the record, feed the fake
// watchdog, and stop cleanly on SIGTERM.

#include "pvmtestenv.h"
#include "serdescontrol.h"

#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QTest>
#include <csignal>

#ifndef PVMCTL_EXECUTABLE
#error "PVMCTL_EXECUTABLE must name the built daemon"
#endif

class DaemonTest : public PvmSandboxTest {};

TEST_F(DaemonTest, RunsInSandboxAndStopsOnSigterm)
{
    setGpio(SerdesControl::GpioSwitch, false);
    setGpio(SerdesControl::GpioDeserLock, true);
    setGpio(SerdesControl::GpioSerLock, true);
    setGpio(SerdesControl::GpioAcc, false);
    writeFile("/sys/class/gpio/gpio150/value", "");
    writeFile("/dev/watchdog", "");
    const QString shmKey = uniqueKey("shm"), semKey = uniqueKey("sem");
    const QString commandLog = root() + "/commands.log";
    const QString iface = virtualCanInterface(1);

    QProcess daemon;
    daemon.setStandardOutputFile(root() + "/daemon.out");
    daemon.setStandardErrorFile(root() + "/daemon.err");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PVMCTL_COMMAND_LOG", commandLog);  // belt and braces: also on the command line
    // Qt's offscreen platform leaves its screen objects behind at exit; that
    // is Qt's, not the daemon's.
    writeFile("/lsan.supp",
              "leak:libqoffscreen.so\nleak:QScreen::QScreen\nleak:QPlatformScreen::QPlatformScreen\n"
              "leak:QWindowSystemInterface::handleScreenAdded\nleak:ExternalRefCountData::getAndRef\n"
              "leak:QObject::QObject\n");
    env.insert("LSAN_OPTIONS", "suppressions=" + root() + "/lsan.supp");
    daemon.setProcessEnvironment(env);
    daemon.start(PVMCTL_EXECUTABLE, {"--root", root(), "--can-plugin", "virtualcan", "--can-interface", iface,
                                     "--shm-key", shmKey, "--sem-key", semKey, "--command-log", commandLog});
    ASSERT_TRUE(daemon.waitForStarted(5000));

    // The block appears once the daemon is up.
    QSharedMemory shm(shmKey);
    ASSERT_TRUE(waitFor([&] { return shm.attach(); }, 10000)) << readFile("/daemon.err").constData();
    QSystemSemaphore sem(semKey, 1, QSystemSemaphore::Open);
    auto block = [&] {
        QByteArray out;
        if (sem.acquire()) {
            shm.lock();
            out = QByteArray(static_cast<const char*>(shm.constData()), shm.size());
            shm.unlock();
            sem.release();
        }
        return out;
    };

    // Gear D over the bus: the first gear after start routes to DA.
    auto sender = connectVirtualCan(iface);
    ASSERT_TRUE(sender);
    ASSERT_TRUE(waitFor([&] {
        for (int i = 0; i < 5; ++i)
            sender->writeFrame(QCanBusFrame(0x1004501, QByteArray::fromHex("000000000050")));
        return waitFor([&] { return block().size() == 64 && block().at(18) == 4; }, 300);
    }, 10000));

    ASSERT_TRUE(waitFor([&] { return readFile("/commands.log").contains("set_q508gmsl_1.sh"); }, 5000));
    const QList<QByteArray> commands = readFile("/commands.log").split('\n');
    ASSERT_GE(commands.size(), 2);
    EXPECT_EQ(commands[0], (root() + "/etc/set_q508gmsl_0.sh 0").toUtf8());
    EXPECT_EQ(commands[1], (root() + "/etc/set_q508gmsl_1.sh").toUtf8());
    EXPECT_EQ(gpioValue(150), QByteArray("1", 2));

    // The first feed comes after one second.
    ASSERT_TRUE(waitFor([&] { return readFile("/dev/watchdog").startsWith("A"); }, 3000));

    ::kill(static_cast<pid_t>(daemon.processId()), SIGTERM);
    ASSERT_TRUE(daemon.waitForFinished(5000));
    EXPECT_EQ(daemon.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(daemon.exitCode(), 0) << readFile("/daemon.err").constData();
    sender.reset();
}
