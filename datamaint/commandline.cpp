#include "commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

int parseCommandLine(const QStringList& arguments, CommandLineValues* values)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::applicationName() +
        QCoreApplication::translate("CommandLine", " with two optional integer arguments"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device(
        QStringList {"d", "device"},
        QCoreApplication::translate("CommandLine", "The device type (default: 0)"),
        QCoreApplication::translate("CommandLine", "integer"), "0");
    const QCommandLineOption control(
        QStringList {"c", "control"},
        QCoreApplication::translate("CommandLine", "The Control state (default: 0)"),
        QCoreApplication::translate("CommandLine", "integer"), "0");
    const QCommandLineOption root(
        QStringList {"r", "root"},
        QCoreApplication::translate("CommandLine", "Prefix of every system path (default: /)"),
        QCoreApplication::translate("CommandLine", "dir"));
    parser.addOption(device);
    parser.addOption(control);
    parser.addOption(root);
    parser.process(arguments);

    bool ok = false;
    const int deviceType = parser.value(device).toInt(&ok, 10);
    if (!ok) {
        qDebug().noquote() << "Error: The first argument is not a valid integer";
        return 1;
    }
    const int controlType = parser.value(control).toInt(&ok, 10);
    if (!ok) {
        qDebug().noquote() << "Error: The second argument is not a valid integer";
        return 1;
    }
    values->device = deviceType;
    values->control = controlType;
    values->root = parser.value(root);
    return 0;
}
