#pragma once
// Every outside command of the daemon (ip link, date -s, sync, reboot,
// i2ctransfer, the board scripts) goes through one process-wide runner.
// Nothing is installed by default: without a runner a command is refused
// and logged, so only the program's entry point can make commands real.

#include <QByteArray>
#include <QString>
#include <memory>

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs cmd through the shell; returns its exit status (ignored by callers).
    virtual int run(const QString& cmd) = 0;
    // Runs cmd and collects its standard output; false when it cannot start.
    virtual bool capture(const QString& cmd, QByteArray* out) = 0;
};

// Appends each command as one line to a file instead of running it.
class CommandLogRunner : public CommandRunner {
public:
    explicit CommandLogRunner(const QString& path) : path_(path) {}
    int run(const QString& cmd) override;
    bool capture(const QString& cmd, QByteArray* out) override;

private:
    QString path_;
};

void setCommandRunner(std::shared_ptr<CommandRunner> runner);
std::shared_ptr<CommandRunner> commandRunner();

// Run through the installed runner; -1 (and a log line) without one.
int runCommand(const QString& cmd);
bool captureCommand(const QString& cmd, QByteArray* out);
