#include "fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <cstdio>

namespace {

QStringList gLog;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    gLog.append(message);
    if (qEnvironmentVariableIsSet("DATAMAINT_TEST_VERBOSE"))
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

void installLogCapture()
{
    qInstallMessageHandler(captureMessage);
}

QStringList& capturedLog()
{
    return gLog;
}

void clearLog()
{
    gLog.clear();
}

QStringList capturedNotes()
{
    const QString prefix = QStringLiteral("=== updateLabelNote ");
    QStringList notes;
    for (const QString& line : gLog)
        if (line.startsWith(prefix))
            notes.append(line.mid(prefix.size()));
    return notes;
}

QStringList logLinesWith(const QString& needle)
{
    QStringList lines;
    for (const QString& line : gLog)
        if (line.contains(needle))
            lines.append(line);
    return lines;
}

FixtureRunner::FixtureRunner(QString root) : mRoot(std::move(root)) {}

CommandResult FixtureRunner::run(const QString& program, const QStringList& arguments,
                                 int startTimeoutMs)
{
    const Call call {program, arguments};
    calls.append(call);
    if (onCall)
        onCall(call);
    CommandResult result;
    if (isReboot(program)) {
        // Recorded only: the real command must never run from a test.
        result.started = true;
        result.finished = true;
        result.exitCode = 0;
        return result;
    }
    const QString canonical = QFileInfo(program).canonicalFilePath();
    const QString rootCanonical = QFileInfo(mRoot).canonicalFilePath();
    if (mRoot.isEmpty() || rootCanonical.isEmpty() || canonical.isEmpty() ||
        !canonical.startsWith(rootCanonical + "/")) {
        result.errorString = QStringLiteral("refused by the test runner");
        return result;
    }
    return SystemCommandRunner::run(program, arguments, startTimeoutMs);
}

bool FixtureRunner::afterStart(QProcess& process, CommandResult* result)
{
    if (!failWait)
        return true;
    process.kill();
    process.waitForFinished(-1);
    result->errorString = QStringLiteral("wait failed");
    return false;
}

bool FixtureRunner::isReboot(const QString& program) const
{
    return program == QLatin1String("reboot") || program == Utils::rebootProgram() ||
           program.endsWith(QLatin1String("/sbin/reboot"));
}

int FixtureRunner::rebootCalls() const
{
    int n = 0;
    for (const Call& c : calls)
        if (isReboot(c.program))
            ++n;
    return n;
}

QList<FixtureRunner::Call> FixtureRunner::scriptCalls() const
{
    QList<Call> scripts;
    for (const Call& c : calls)
        if (!isReboot(c.program))
            scripts.append(c);
    return scripts;
}

void MediumTest::SetUp()
{
    ASSERT_TRUE(mDir.isValid());
    runner = new FixtureRunner(mDir.path());
    previousRunner = Utils::commandRunner();
    Utils::setCommandRunner(runner);
    Utils::setRootPrefix(mDir.path());
    Utils::setDelayDivisor(100);
    Utils::setSDevType(0);
    Utils::setSDevControlType(0);
    qputenv("snum", "SN123");
    QDir().mkpath(medium() + "/run/data");
    setMounted(true);
    clearLog();
}

void MediumTest::TearDown()
{
    Utils::setCommandRunner(previousRunner);
    Utils::setRootPrefix(QStringLiteral("/"));
    Utils::setDelayDivisor(1);
    Utils::setSDevType(0);
    Utils::setSDevControlType(0);
    delete runner;
    runner = nullptr;
}

void MediumTest::setMounted(bool mounted) const
{
    QByteArray table = "proc /proc proc rw 0 0\n";
    if (mounted)
        table += "/dev/sda1 /mnt/usb/sda1 vfat rw 0 0\n/dev/mmcblk1p1 /mnt/sdcard/mmcblk1p1 vfat "
                 "rw 0 0\n";
    writeFile(root() + "/proc/mounts", table);
}

QString MediumTest::medium() const
{
    return root() + "/mnt/usb/sda1";
}

QString MediumTest::deviceFolder() const
{
    return medium() + "/run/data/data-" + QString::fromLocal8Bit(qgetenv("snum"));
}

void MediumTest::writeFile(const QString& path, const QByteArray& content) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(content);
}

void MediumTest::writeScript(const QString& name, const QString& body, bool executable) const
{
    const QString path = medium() + "/run/" + name;
    QString text = body;
    text.replace(QStringLiteral("@ROOT@"), root());
    writeFile(path, text.toUtf8());
    QFile::Permissions perms =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        perms |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    QFile::setPermissions(path, perms);
}

void MediumTest::prepareScriptCase(const QString& name, const QString& body, bool executable,
                                   bool failWait)
{
    if (!body.isEmpty())
        writeScript(name, body, executable);
    runner->calls.clear();
    runner->failWait = failWait;
    clearLog();
}

QString MediumTest::sh(const QString& command) const
{
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), QStringList {"-c", command});
    p.waitForFinished(-1);
    EXPECT_EQ(p.exitCode(), 0) << command.toStdString() << "\n"
                               << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString MediumTest::md5sum(const QString& path) const
{
    return sh("md5sum '" + path + "'").section(' ', 0, 0);
}

bool MediumTest::waitForReboot(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (runner->rebootCalls() == 0 && t.elapsed() < timeoutMs)
        QTest::qWait(2);
    return runner->rebootCalls() > 0;
}

void MediumTest::spin(int ms)
{
    QTest::qWait(ms);
}
