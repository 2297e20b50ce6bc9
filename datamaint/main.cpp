// datamaint: backs up, restores and upgrades the device from a USB stick or
// SD card, then reboots it.

#include "commandline.h"
#include "mainwindow.h"
#include "utils.h"

#include <QApplication>
#include <QDebug>
#include <QProcess>

namespace {

// Runs outside commands as child processes. It exists only here, in the
// program itself, so that nothing else can start `reboot`.
class SystemCommandRunner : public CommandRunner {
public:
    CommandResult run(const QString& program, const QStringList& arguments,
                      int startTimeoutMs) override
    {
        CommandResult result;
        QProcess process;
        process.start(program, arguments, QIODevice::ReadWrite);
        if (!process.waitForStarted(startTimeoutMs)) {
            result.errorString = process.errorString();
            return result;
        }
        result.started = true;
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
};

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SystemCommandRunner runner;
    Utils::setCommandRunner(&runner);

    CommandLineValues values;
    if (const int status = parseCommandLine(app.arguments(), &values); status != 0)
        return status;
    qDebug().noquote() << "=== argv:" << values.device << "and" << values.control;
    if (!values.root.isEmpty())
        Utils::setRootPrefix(values.root);
    Utils::setSDevType(values.device);
    Utils::setSDevControlType(values.control);

    MainWindow window;
    window.show();
    return app.exec();
}
