#include "shellcommandrunner.h"

#include <cstdio>
#include <cstdlib>

int ShellCommandRunner::run(const QString& cmd)
{
    return std::system(cmd.toLocal8Bit().constData());
}

bool ShellCommandRunner::capture(const QString& cmd, QByteArray* out)
{
    FILE* p = popen(cmd.toLocal8Bit().constData(), "r");
    if (!p)
        return false;
    QByteArray all;
    char buf[128];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf) - 1, p)) > 0)
        all.append(buf, static_cast<int>(n));
    pclose(p);
    if (out)
        *out = all;
    return true;
}
