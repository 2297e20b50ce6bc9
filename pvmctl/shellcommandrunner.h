#pragma once
// The real runner: system() and popen(). Built into the executable only.

#include "commandrunner.h"

class ShellCommandRunner : public CommandRunner {
public:
    int run(const QString& cmd) override;
    bool capture(const QString& cmd, QByteArray* out) override;
};
