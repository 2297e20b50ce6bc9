#ifndef DATAMAINT_UTILS_H
#define DATAMAINT_UTILS_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Result of one outside command. `started` is false when the program could
// not be started within the time given; `finished` is false when waiting for
// its end failed.
struct CommandResult {
    bool started = false;
    bool finished = false;
    QString errorString;
    QByteArray standardOutput;
    QByteArray standardError;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
};

// Every outside command of the program (the medium's scripts, `reboot`) goes
// through the one runner installed in Utils. The program installs the system
// runner in main(); without a runner nothing is started.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Starts `program` with `arguments`, waits at most `startTimeoutMs` for it
    // to start and then, without limit, for its end.
    virtual CommandResult run(const QString& program, const QStringList& arguments,
                              int startTimeoutMs) = 0;
};

// How a medium script run ended.
enum class ScriptOutcome { Missing, NotExecutable, NotStarted, WaitFailed, Finished };

struct ScriptRun {
    ScriptOutcome outcome = ScriptOutcome::Missing;
    int exitCode = 1;  // the script's exit code when it finished
};

class Utils : public QObject {
    Q_OBJECT

public:
    explicit Utils(QObject* parent = nullptr);
    ~Utils() override;

    static int getSDevType();
    static void setSDevType(int type);
    static int getSDevControlType();
    static void setSDevControlType(int type);

    static QString getDevicePath();
    static bool checkUpgradeDirExists();
    static QString getVerStr();
    static QString calculateFileMD5(const QString& path);
    static QString ReadVersionFromFile();
    static QString extractMD5FromFile(const QString& path);

    // Longest first line of an MD5 file that is read; a longer one fails the
    // check ("digest  file name" lines are a few hundred bytes at most).
    static constexpr int kMaxMd5LineBytes = 4096;

    // Opens `path` read-only when it is a regular file (after symbolic links),
    // and never blocks on it: a FIFO or a device on the medium is refused.
    static bool openRegularFile(QFile* file, const QString& path);

    // Whether the medium's mount point (root prefix applied) holds a mounted
    // file system: a directory on another device than its parent folder, or
    // one listed as a mount point in "/proc/mounts" under the root prefix.
    // Anything else is the device's own storage and must not be written.
    static bool isMediumMounted();
    // Shown when the medium path is not a mounted medium.
    static QString noMediumNote();

    // The reboot command: "reboot" on the device; under another root prefix
    // the root's "/sbin/reboot", so that a sandbox never reboots its host.
    static QString rebootProgram();

    // An empty digest (unreadable file, MD5 file without a digest) never
    // matches, not even another empty one.
    static bool md5Matches(const QString& calculated, const QString& stored);

    // Root under which every absolute system path (medium mount points,
    // "/etc/version.cfg") is resolved; "/" on the device.
    static void setRootPrefix(const QString& root);
    static QString rootPrefix();
    static QString systemPath(const QString& absolutePath);

    static void setCommandRunner(CommandRunner* runner);
    static CommandRunner* commandRunner();
    // Runs an outside command through the installed runner.
    static CommandResult runCommand(const QString& program, const QStringList& arguments,
                                    int startTimeoutMs = 30000);
    // Runs a script of the medium: existence and execute checks, start within
    // 30 s, unlimited wait, output logged. `operation` names the caller in the
    // debug lines.
    static ScriptRun runScript(const QString& operation, const QString& scriptPath,
                               const QStringList& arguments);

    // Delays of the page timers are given in milliseconds as on the device;
    // a divisor above 1 shortens them all alike.
    static void setDelayDivisor(int divisor);
    static int delay(int milliseconds);

    // The serial number from the environment variable "snum" (empty when unset).
    static QString serialNumber();
    // Whether a serial number can name a folder without leaving the backup
    // folder: it must not hold a path separator.
    static bool isSafeSerialNumber(const QString& snum);

private:
    static int sDevType;
    static int sDevControlType;
};

#endif  // DATAMAINT_UTILS_H
