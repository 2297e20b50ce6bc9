#include "commandrunner.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {
// Function-local, so that a runner can be installed during static
// initialisation.
struct RunnerState {
    QMutex mutex;
    std::shared_ptr<CommandRunner> runner;
};
RunnerState& state()
{
    static RunnerState s;
    return s;
}
}  // namespace

int CommandLogRunner::run(const QString& cmd)
{
    QFile f(path_);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return -1;
    f.write(cmd.toUtf8() + '\n');
    return 0;
}

bool CommandLogRunner::capture(const QString& cmd, QByteArray* out)
{
    if (out)
        out->clear();
    return run(cmd) == 0;
}

void setCommandRunner(std::shared_ptr<CommandRunner> runner)
{
    QMutexLocker lock(&state().mutex);
    state().runner = std::move(runner);
}

std::shared_ptr<CommandRunner> commandRunner()
{
    QMutexLocker lock(&state().mutex);
    return state().runner;
}

int runCommand(const QString& cmd)
{
    auto r = commandRunner();
    if (!r) {
        qWarning() << "no command runner, not run:" << cmd;
        return -1;
    }
    return r->run(cmd);
}

bool captureCommand(const QString& cmd, QByteArray* out)
{
    auto r = commandRunner();
    if (!r) {
        qWarning() << "no command runner, not run:" << cmd;
        return false;
    }
    return r->capture(cmd, out);
}
