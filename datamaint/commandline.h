#ifndef DATAMAINT_COMMANDLINE_H
#define DATAMAINT_COMMANDLINE_H

#include <QStringList>

// Values of the command line: the medium type ("device"/"d") and the control
// type ("control"/"c"), both "0" by default.
struct CommandLineValues {
  int device = 0;
  int control = 0;
};

// Parses `arguments` (argv[0] first) with the toolkit's parser, which prints
// help, version or a parse error and ends the process by itself. Returns 0
// when both values are integers, else 1 after writing the error line; the
// program then exits with that status. Needs a QCoreApplication.
int parseCommandLine(const QStringList& arguments, CommandLineValues* values);

#endif  // DATAMAINT_COMMANDLINE_H
