#include "utils.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int Utils::sDevType = 0;
int Utils::sDevControlType = 0;

namespace {

QString gRootPrefix = QStringLiteral("/");
CommandRunner* gRunner = nullptr;
int gDelayDivisor = 1;

const char kVersionFile[] = "/etc/version.cfg";

QString mediumMountPoint(int devType)
{
    return devType == 1 ? QStringLiteral("/mnt/sdcard/mmcblk1p1") : QStringLiteral("/mnt/usb/sda1");
}

// A mount point as "/proc/mounts" writes it: blank, tab, newline and
// backslash as a backslash and three octal digits.
QByteArray unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int c = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(static_cast<char>(c));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

}  // namespace

Utils::Utils(QObject* parent) : QObject(parent) {}

Utils::~Utils() = default;

int Utils::getSDevType()
{
    return sDevType;
}

void Utils::setSDevType(int type)
{
    if (static_cast<unsigned>(type) <= 2u) {
        sDevType = type;
        qDebug().noquote() << "==="
                           << "setSDevType" << type;
    }
}

int Utils::getSDevControlType()
{
    return sDevControlType;
}

void Utils::setSDevControlType(int type)
{
    if (static_cast<unsigned>(type) <= 3u) {
        sDevControlType = type;
        qDebug().noquote() << "==="
                           << "setSDevControlType" << type;
    }
}

QString Utils::getDevicePath()
{
    return systemPath(mediumMountPoint(sDevType));
}

bool Utils::checkUpgradeDirExists()
{
    return QFileInfo(getDevicePath() + "/run/upgrade").isDir();
}

QString Utils::getVerStr()
{
    return QCoreApplication::translate("Utils", "Ver: ") + QStringLiteral(__DATE__) + "_" +
           QStringLiteral(__TIME__);
}

QString Utils::calculateFileMD5(const QString& path)
{
    QFile file;
    if (!openRegularFile(&file, path)) {
        qDebug().noquote() << "Failed to open file:" << path;
        return QString();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError) {
        file.close();
        qDebug().noquote() << "Failed to calculate MD5:" << path;
        return QString();
    }
    file.close();
    return QString::fromLatin1(hash.result().toHex());
}

QString Utils::ReadVersionFromFile()
{
    const QString path = systemPath(QString::fromLatin1(kVersionFile));
    const QByteArray native = QFile::encodeName(path);
    QFile regular;
    std::FILE* f = nullptr;
    if (openRegularFile(&regular, path)) {
        const int fd = ::dup(regular.handle());
        if (fd >= 0) {
            f = ::fdopen(fd, "rb");
            if (!f)
                ::close(fd);
        }
        regular.close();
    }
    if (!f) {
        std::printf("Open failed:%s\n", native.constData());
        std::fflush(stdout);
        return QString();
    }
    QByteArray line;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n')
            break;
        line.append(static_cast<char>(c));
    }
    const bool readNothing = line.isEmpty() && c == EOF;
    std::fclose(f);
    if (readNothing) {
        std::printf("Read failed:%s\n", native.constData());
        std::fflush(stdout);
        return QString();
    }
    const int nul = line.indexOf('\0');
    if (nul >= 0)
        line.truncate(nul);
    return QString::fromUtf8(line);
}

QString Utils::extractMD5FromFile(const QString& path)
{
    QFile file;
    if (!openRegularFile(&file, path)) {
        qDebug().noquote() << "Failed to open MD5 file:" << path;
        return QString();
    }
    // Read no further than a sane line: the first line of a huge file is
    // refused, not loaded.
    QByteArray head = file.read(kMaxMd5LineBytes + 1);
    file.close();
    const int end = head.indexOf('\n');
    if (end >= 0) {
        head.truncate(end);
    } else if (head.size() > kMaxMd5LineBytes) {
        qDebug().noquote() << "MD5 line too long:" << path;
        return QString();
    }
    QString line = QString::fromUtf8(head);
    while (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        qDebug().noquote() << "MD5 file is empty:" << path;
        return QString();
    }
    static const QRegularExpression digest(QStringLiteral("([0-9a-f]{32})"));
    const QRegularExpressionMatch m = digest.match(line);
    if (!m.hasMatch()) {
        qDebug().noquote() << "No valid MD5 found in line:" << line;
        return QString();
    }
    return m.captured(1);
}

bool Utils::openRegularFile(QFile* file, const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool Utils::isMediumMounted()
{
    const QString mountPoint = mediumMountPoint(sDevType);
    const QByteArray path = QFile::encodeName(systemPath(mountPoint));
    struct stat self {
    }, parent {};
    if (::stat(path.constData(), &self) != 0 || !S_ISDIR(self.st_mode))
        return false;
    if (::stat((path + "/..").constData(), &parent) == 0 && parent.st_dev != self.st_dev)
        return true;
    QFile mounts;
    if (!openRegularFile(&mounts, systemPath(QStringLiteral("/proc/mounts"))))
        return false;
    const QByteArray table = mounts.read(1 << 20);
    const QByteArray wanted = QFile::encodeName(mountPoint);
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && unescapeMountField(fields[1]) == wanted)
            return true;
    }
    return false;
}

QString Utils::noMediumNote()
{
    return QCoreApplication::translate("Utils", "未檢測到存儲設備");
}

QString Utils::rebootProgram()
{
    QString root = gRootPrefix;
    while (root.size() > 1 && root.endsWith('/'))
        root.chop(1);
    return root == QLatin1String("/") ? QStringLiteral("reboot") : root + "/sbin/reboot";
}

bool Utils::md5Matches(const QString& calculated, const QString& stored)
{
    return !calculated.isEmpty() && calculated == stored;
}

void Utils::setRootPrefix(const QString& root)
{
    gRootPrefix = root.isEmpty() ? QStringLiteral("/") : root;
}

QString Utils::rootPrefix()
{
    return gRootPrefix;
}

QString Utils::systemPath(const QString& absolutePath)
{
    QString root = gRootPrefix;
    while (root.endsWith('/'))
        root.chop(1);
    return root + absolutePath;
}

void Utils::setCommandRunner(CommandRunner* runner)
{
    gRunner = runner;
}

CommandRunner* Utils::commandRunner()
{
    return gRunner;
}

CommandResult Utils::runCommand(const QString& program, const QStringList& arguments,
                                int startTimeoutMs)
{
    if (!gRunner) {
        CommandResult refused;
        refused.errorString = QStringLiteral("no command runner installed");
        qDebug().noquote() << "Error: no command runner for" << program;
        return refused;
    }
    return gRunner->run(program, arguments, startTimeoutMs);
}

ScriptRun Utils::runScript(const QString& operation, const QString& scriptPath,
                           const QStringList& arguments)
{
    qDebug().noquote() << "===" << operation << scriptPath;
    ScriptRun run;
    const QFileInfo info(scriptPath);
    if (!info.exists()) {
        qDebug().noquote() << "Error: Script does not exist -" << scriptPath;
        run.outcome = ScriptOutcome::Missing;
        return run;
    }
    if (!info.isFile() || !info.isExecutable()) {
        qDebug().noquote() << "Error: Script is not executable -" << scriptPath;
        run.outcome = ScriptOutcome::NotExecutable;
        return run;
    }
    const CommandResult r = runCommand(scriptPath, arguments, 30000);
    if (!r.started) {
        qDebug().noquote() << "Error: Failed to start script -" << r.errorString;
        run.outcome = ScriptOutcome::NotStarted;
        return run;
    }
    if (!r.finished) {
        qDebug().noquote() << "Error: Script execution timed out or encountered an error -"
                           << r.errorString;
        run.outcome = ScriptOutcome::WaitFailed;
        return run;
    }
    qDebug().noquote() << "Script execution completed";
    const QStringList lines = QString::fromUtf8(r.standardOutput).split('\n', Qt::KeepEmptyParts);
    for (const QString& piece : lines)
        qDebug().noquote() << "Standard Output: " << piece;
    qDebug().noquote() << "Error Output:" << QString::fromUtf8(r.standardError);
    qDebug() << "Exit Status:" << r.exitStatus;
    qDebug() << "Exit Code:" << r.exitCode;
    run.outcome = ScriptOutcome::Finished;
    run.exitCode = r.exitCode;
    // A script killed by a signal has not succeeded, whatever its code reads.
    if (r.exitStatus == QProcess::CrashExit && run.exitCode == 0)
        run.exitCode = 1;
    return run;
}

void Utils::setDelayDivisor(int divisor)
{
    gDelayDivisor = divisor < 1 ? 1 : divisor;
}

int Utils::delay(int milliseconds)
{
    return milliseconds / gDelayDivisor;
}

QString Utils::serialNumber()
{
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("snum"));
}

bool Utils::isSafeSerialNumber(const QString& snum)
{
    return !snum.contains('/') && !snum.contains(QChar(0));
}
