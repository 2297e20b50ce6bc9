// datamaint: backs up, restores and upgrades the device from a USB stick or
// SD card, then reboots it.

#include "commandline.h"
#include "mainwindow.h"
#include "systemcommandrunner.h"
#include "utils.h"

#include <QApplication>
#include <QDebug>

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
