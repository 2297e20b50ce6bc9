#ifndef DATAMAINT_SYSTEMCOMMANDRUNNER_H
#define DATAMAINT_SYSTEMCOMMANDRUNNER_H

#include "utils.h"

// Runs outside commands as child processes. Only main() installs it; the
// tests install a runner of their own that refuses `reboot` and passes only
// the fake medium's scripts on to this one.
class SystemCommandRunner : public CommandRunner {
public:
    CommandResult run(const QString& program, const QStringList& arguments,
                      int startTimeoutMs) override;

protected:
    // Called once the process has started; false ends the run there with
    // `result` as left by the override (a test's failed wait).
    virtual bool afterStart(QProcess& process, CommandResult* result);
};

#endif  // DATAMAINT_SYSTEMCOMMANDRUNNER_H
