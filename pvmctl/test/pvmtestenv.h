#pragma once
// Sandbox shared by the daemon's tests: a temporary root of fake device and
// sysfs files, a runner that records commands instead of running them, and
// unique shared-memory keys and CAN channels. The sandbox is installed when
// the test binary loads, before any test runs, so no test can reach the real
// devices or run a real command.

#include "commandrunner.h"

#include <QByteArray>
#include <QCanBusDevice>
#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>

class RecordingRunner : public CommandRunner {
public:
    struct Entry {
        QString cmd;
        qint64 atMs;
    };
    RecordingRunner() { clock_.start(); }
    int run(const QString& cmd) override;
    bool capture(const QString& cmd, QByteArray* out) override;

    QStringList commands() const;
    QList<Entry> entries() const;
    void clear();
    // Output returned by capture().
    void setCaptureOutput(const QByteArray& out, bool ok = true);

private:
    mutable QMutex mutex_;
    QList<Entry> entries_;
    QElapsedTimer clock_;
    QByteArray captureOut_;
    bool captureOk_ = true;
};

class PvmSandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute path of a file under the fake root.
    QString rootFile(const QString& abs) const;
    void writeFile(const QString& abs, const QByteArray& content) const;
    QByteArray readFile(const QString& abs) const;
    void setGpio(unsigned int n, bool value) const;
    QByteArray gpioValue(unsigned int n) const;

    QString root() const { return dir_->path(); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::shared_ptr<RecordingRunner> runner;
};

// A board at rest: switch released, both locks high, ACC off. Output lines
// exist only where a suite adds them: a write to a missing one fails, as on
// a board without that line.
class PvmBoardTest : public PvmSandboxTest {
protected:
    void SetUp() override;
    // Empty value files of the named output GPIOs.
    void addOutputs(std::initializer_list<unsigned int> gpios) const;
};

// The whole daemon's set-up: the board at rest with the backlight output and
// the watchdog device, and keys of its shared block and semaphore that no
// other test uses.
class PvmDaemonTest : public PvmBoardTest {
protected:
    void SetUp() override;

    QString shmKey, semKey;
};

// Keys no other test or program uses.
QString uniqueKey(const char* what);
// A virtualcan interface of this test process.
QString virtualCanInterface(int channel = 0);
// A device on the same virtual bus, connected and registered with the server.
std::unique_ptr<QCanBusDevice> connectVirtualCan(const QString& iface);
// Runs the event loop until pred holds or ms pass.
bool waitFor(const std::function<bool()>& pred, int ms = 2000);
