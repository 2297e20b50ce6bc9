#include "systemcommandrunner.h"

CommandResult SystemCommandRunner::run(const QString& program, const QStringList& arguments,
                                       int startTimeoutMs)
{
    CommandResult result;
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(startTimeoutMs)) {
        result.errorString = process.errorString();
        return result;
    }
    result.started = true;
    if (!afterStart(process, &result))
        return result;
    if (!process.waitForFinished(-1)) {
        result.errorString = process.errorString();
        return result;
    }
    result.finished = true;
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    return result;
}

bool SystemCommandRunner::afterStart(QProcess&, CommandResult*)
{
    return true;
}
