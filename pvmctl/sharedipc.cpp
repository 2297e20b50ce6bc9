#include "sharedipc.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

namespace {
union SemArg {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

void setError(QString* error, const char* what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// The naming rule of Qt's System V back end: prefix, the key's ASCII
// letters and the SHA-1 of the key, in the temporary folder.
QString qtKeyFile(const char* prefix, const QString& key)
{
    QString name = QLatin1String(prefix);
    for (const QChar ch : key) {
        if ((ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) || (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z')))
            name += ch;
    }
    name += QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex());
    return QDir::tempPath() + QLatin1Char('/') + name;
}

// 1 made, 0 there already, -1 failed.
int makeKeyFile(const QByteArray& file)
{
    const int fd = ::open(file.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0640);
    if (fd < 0)
        return errno == EEXIST ? 0 : -1;
    ::close(fd);
    return 1;
}
}  // namespace

QString systemSemaphoreKeyFile(const QString& key)
{
    return qtKeyFile("qipc_systemsem_", key);
}

QString sharedMemoryKeyFile(const QString& key)
{
    return qtKeyFile("qipc_sharedmemory_", key);
}

bool keepSystemSemaphore(const QString& key, int initialValue, QString* error)
{
    if (key.isEmpty()) {
        if (error)
            *error = QStringLiteral("empty key");
        return false;
    }
    const QByteArray file = QFile::encodeName(systemSemaphoreKeyFile(key));
    if (makeKeyFile(file) < 0) {
        setError(error, "key file");
        return false;
    }
    const key_t ipcKey = ::ftok(file.constData(), 'Q');
    if (ipcKey == -1) {
        setError(error, "ftok");
        return false;
    }
    int id = ::semget(ipcKey, 1, 0600 | IPC_CREAT | IPC_EXCL);
    bool set = id != -1;
    if (!set) {
        if (errno == EEXIST)
            id = ::semget(ipcKey, 1, 0600);
        if (id == -1) {
            setError(error, "semget");
            return false;
        }
        // Never set and never used: its creator died between making and
        // setting it, and the 0 it holds would block every taker.
        set = ::semctl(id, 0, GETPID) == 0 && ::semctl(id, 0, GETVAL) == 0;
    }
    if (set) {
        SemArg arg;
        arg.val = initialValue;
        if (::semctl(id, 0, SETVAL, arg) == -1) {
            setError(error, "semctl");
            return false;
        }
    }
    return true;
}

SegmentResult createSharedSegment(const QString& key, int size, QString* error)
{
    if (key.isEmpty() || size <= 0) {
        if (error)
            *error = QStringLiteral("empty key or size");
        return SegmentResult::Failed;
    }
    const QByteArray file = QFile::encodeName(sharedMemoryKeyFile(key));
    const int made = makeKeyFile(file);
    if (made < 0) {
        setError(error, "key file");
        return SegmentResult::Failed;
    }
    const key_t ipcKey = ::ftok(file.constData(), 'Q');
    if (ipcKey == -1) {
        setError(error, "ftok");
        return SegmentResult::Failed;
    }
    if (::shmget(ipcKey, static_cast<size_t>(size), 0600 | IPC_CREAT | IPC_EXCL) != -1)
        return SegmentResult::Created;
    const bool exists = errno == EEXIST;
    setError(error, "shmget");
    if (exists)
        return SegmentResult::Exists;
    if (made == 1)
        ::unlink(file.constData());
    return SegmentResult::Failed;
}
