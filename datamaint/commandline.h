#ifndef DATAMAINT_COMMANDLINE_H
#define DATAMAINT_COMMANDLINE_H

#include <QString>
#include <QStringList>

// Values of the command line: the medium type ("device"/"d") and the control
// type ("control"/"c"), both "0" by default.
// "root"/"r" names the prefix of every absolute system path (the media's
// mount points, "/etc/version.cfg", "/proc/mounts"), "/" by default, so that
// the program can run against a sandbox.
struct CommandLineValues {
    int device = 0;
    int control = 0;
    QString root;
};

// Parses `arguments` (argv[0] first) with the toolkit's parser, which prints
// help, version or a parse error and ends the process by itself. Returns 0
// when both values are integers, else 1 after writing the error line; the
// program then exits with that status. Needs a QCoreApplication.
int parseCommandLine(const QStringList& arguments, CommandLineValues* values);

#endif  // DATAMAINT_COMMANDLINE_H
