#include "systemroot.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
// Function-local, so that the root can be set during static initialisation.
struct RootState {
    QMutex mutex;
    QString root = QStringLiteral("/");
};
RootState& state()
{
    static RootState s;
    return s;
}
}  // namespace

void setSystemRoot(const QString& root)
{
    QMutexLocker lock(&state().mutex);
    state().root = root.isEmpty() ? QStringLiteral("/") : root;
}

QString systemRoot()
{
    QMutexLocker lock(&state().mutex);
    return state().root;
}

QString rootedPath(const QString& abs)
{
    return rootedPath(systemRoot(), abs);
}

QString rootedPath(const QString& rootIn, const QString& abs)
{
    QString root = rootIn.isEmpty() ? QStringLiteral("/") : rootIn;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (root == QLatin1String("/"))
        return abs;
    return root + abs;
}

std::string rootedPathLocal(const char* abs)
{
    return rootedPath(QString::fromLocal8Bit(abs)).toLocal8Bit().toStdString();
}
