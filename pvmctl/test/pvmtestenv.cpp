#include "pvmtestenv.h"

#include "serdescontrol.h"
#include "sharedipc.h"
#include "systemroot.h"

#include <QCanBus>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTest>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

int RecordingRunner::run(const QString& cmd)
{
    QMutexLocker lock(&mutex_);
    entries_.append({cmd, clock_.elapsed()});
    return 0;
}

bool RecordingRunner::capture(const QString& cmd, QByteArray* out)
{
    QMutexLocker lock(&mutex_);
    entries_.append({cmd, clock_.elapsed()});
    if (out)
        *out = captureOut_;
    return captureOk_;
}

QStringList RecordingRunner::commands() const
{
    QMutexLocker lock(&mutex_);
    QStringList l;
    for (const Entry& e : entries_)
        l << e.cmd;
    return l;
}

QList<RecordingRunner::Entry> RecordingRunner::entries() const
{
    QMutexLocker lock(&mutex_);
    return entries_;
}

void RecordingRunner::clear()
{
    QMutexLocker lock(&mutex_);
    entries_.clear();
}

void RecordingRunner::setCaptureOutput(const QByteArray& out, bool ok)
{
    QMutexLocker lock(&mutex_);
    captureOut_ = out;
    captureOk_ = ok;
}

namespace {
QStringList& keysHandedOut()
{
    static QStringList keys;
    return keys;
}

key_t ipcKeyOf(const QString& file)
{
    return ::ftok(QFile::encodeName(file).constData(), 'Q');
}

// The daemon leaves its semaphores (and, after a kill, its segment) in
// place for the display application; the tests' own keys go at exit.
void removeIpcObjects(const QString& key)
{
    const QString semFile = systemSemaphoreKeyFile(key);
    const key_t semKey = ipcKeyOf(semFile);
    if (semKey != -1) {
        const int id = ::semget(semKey, 1, 0);
        if (id != -1)
            ::semctl(id, 0, IPC_RMID);
    }
    QFile::remove(semFile);
    QString shmFile = semFile;
    shmFile.replace(QStringLiteral("/qipc_systemsem_"), QStringLiteral("/qipc_sharedmemory_"));
    const key_t shmKey = ipcKeyOf(shmFile);
    if (shmKey != -1) {
        const int id = ::shmget(shmKey, 0, 0);
        if (id != -1)
            ::shmctl(id, IPC_RMID, nullptr);
    }
    QFile::remove(shmFile);
}

// Process-wide sandbox, in place before main() runs.
struct ProcessSandbox {
    QTemporaryDir dir;
    ProcessSandbox()
    {
        setSystemRoot(dir.path());
        setCommandRunner(std::make_shared<RecordingRunner>());
    }
};
ProcessSandbox& processSandbox()
{
    static ProcessSandbox s;
    return s;
}
const bool g_sandboxReady = (processSandbox(), true);

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "pvmctl_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override
    {
        for (const QString& key : keysHandedOut())
            removeIpcObjects(key);
        delete app_;
        app_ = nullptr;
    }

private:
    QCoreApplication* app_ = nullptr;
};
::testing::Environment* const g_qtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

void PvmSandboxTest::SetUp()
{
    (void)g_sandboxReady;
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    setSystemRoot(dir_->path());
    runner = std::make_shared<RecordingRunner>();
    setCommandRunner(runner);
}

void PvmSandboxTest::TearDown()
{
    // Back to the process sandbox, never to the real root or runner.
    setSystemRoot(processSandbox().dir.path());
    setCommandRunner(std::make_shared<RecordingRunner>());
    dir_.reset();
}

QString PvmSandboxTest::rootFile(const QString& abs) const
{
    return dir_->path() + abs;
}

void PvmSandboxTest::writeFile(const QString& abs, const QByteArray& content) const
{
    const QString p = rootFile(abs);
    QDir().mkpath(QFileInfo(p).path());
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray PvmSandboxTest::readFile(const QString& abs) const
{
    QFile f(rootFile(abs));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void PvmSandboxTest::setGpio(unsigned int n, bool value) const
{
    writeFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n), value ? "1\n" : "0\n");
}

QByteArray PvmSandboxTest::gpioValue(unsigned int n) const
{
    return readFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n));
}

void PvmBoardTest::SetUp()
{
    PvmSandboxTest::SetUp();
    setGpio(SerdesControl::GpioSwitch, false);
    setGpio(SerdesControl::GpioDeserLock, true);
    setGpio(SerdesControl::GpioSerLock, true);
    setGpio(SerdesControl::GpioAcc, false);
}

void PvmBoardTest::addOutputs(std::initializer_list<unsigned int> gpios) const
{
    for (unsigned int out : gpios)
        writeFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(out), "");
}

void PvmDaemonTest::SetUp()
{
    PvmBoardTest::SetUp();
    addOutputs({150u});
    writeFile("/dev/watchdog", "");
    shmKey = uniqueKey("shm");
    semKey = uniqueKey("sem");
}

QString uniqueKey(const char* what)
{
    static int counter = 0;
    const QString key = QStringLiteral("pvmtest_%1_%2_%3").arg(what).arg(::getpid()).arg(++counter);
    keysHandedOut() << key;
    return key;
}

QString virtualCanInterface(int channel)
{
    // One virtual bus server per test process, on a port of its own.
    static quint16 port = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }();
    return QStringLiteral("tcp://127.0.0.1:%1/can%2").arg(port).arg(channel);
}

std::unique_ptr<QCanBusDevice> connectVirtualCan(const QString& iface)
{
    QString err;
    std::unique_ptr<QCanBusDevice> dev(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), iface, &err));
    if (!dev)
        return nullptr;
    dev->connectDevice();
    if (!waitFor([&] { return dev->state() == QCanBusDevice::ConnectedState; }))
        return nullptr;
    return dev;
}

bool waitFor(const std::function<bool()>& pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(2);
    }
    return true;
}
