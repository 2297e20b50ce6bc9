#ifndef DATAMAINT_TEST_FIXTURE_H
#define DATAMAINT_TEST_FIXTURE_H

#include "systemcommandrunner.h"
#include "utils.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

// Debug lines written since the last clearLog().
void installLogCapture();
QStringList& capturedLog();
void clearLog();
// Texts given to the page's updateLabelNote, in order.
QStringList capturedNotes();
// Debug lines that contain `needle`.
QStringList logLinesWith(const QString& needle);

// Records every command. `reboot` is recorded and never run; programs that
// lie below `root` (the fake medium's scripts) really run; anything else is
// refused as not started.
class FixtureRunner : public SystemCommandRunner {
public:
    struct Call {
        QString program;
        QStringList arguments;
    };

    explicit FixtureRunner(QString root);
    CommandResult run(const QString& program, const QStringList& arguments,
                      int startTimeoutMs) override;

    // `reboot`, or the root's "/sbin/reboot" under a root prefix.
    bool isReboot(const QString& program) const;
    int rebootCalls() const;
    QList<Call> scriptCalls() const;

    QList<Call> calls;
    bool failWait = false;  // report a failed wait after starting a script
    std::function<void(const Call&)> onCall;

protected:
    bool afterStart(QProcess& process, CommandResult* result) override;

private:
    QString mRoot;
};

// A temporary root with the medium mounted under it, the recording runner
// installed, the serial number "SN123" and all page delays divided by 100.
class MediumTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString root() const { return mDir.path(); }
    QString medium() const;        // root + "/mnt/usb/sda1"
    QString deviceFolder() const;  // medium + "/run/data/data-" + snum

    void writeFile(const QString& path, const QByteArray& content) const;
    // Lists both media as mount points in the root's "/proc/mounts", or
    // neither.
    void setMounted(bool mounted) const;
    // A script of the medium's "run" folder; "@ROOT@" in `body` becomes the
    // temporary root. Executable unless `executable` is false.
    void writeScript(const QString& name, const QString& body, bool executable = true) const;
    // One script outcome case: the medium's script `name` (none when `body`
    // is empty), the runner's calls and the log cleared, and a failed wait
    // after the start when `failWait`.
    void prepareScriptCase(const QString& name, const QString& body, bool executable,
                           bool failWait);
    // Runs a shell command of the fixture itself (not through the runner).
    QString sh(const QString& command) const;
    // md5sum's digest of a file.
    QString md5sum(const QString& path) const;

    // Runs the event loop until the runner has recorded `reboot`.
    bool waitForReboot(int timeoutMs = 5000);
    // Runs the event loop for `ms` milliseconds.
    static void spin(int ms);

    QTemporaryDir mDir;
    FixtureRunner* runner = nullptr;
    CommandRunner* previousRunner = nullptr;
};

#endif  // DATAMAINT_TEST_FIXTURE_H
