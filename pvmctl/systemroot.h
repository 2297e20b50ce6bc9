#pragma once
// Root prefix under which every absolute device, sysfs and script path of
// the daemon is resolved. The default "/" leaves paths unchanged.

#include <QString>
#include <string>

void setSystemRoot(const QString& root);
QString systemRoot();

// abs is an absolute path such as "/dev/watchdog".
QString rootedPath(const QString& abs);
QString rootedPath(const QString& root, const QString& abs);
std::string rootedPathLocal(const char* abs);
