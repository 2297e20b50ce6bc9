#include "watchdogcontrol.h"

#include "systemroot.h"

#include <QDebug>
#include <fcntl.h>
#include <unistd.h>

WatchDogControl* WatchDogControl::instance = nullptr;

WatchDogControl::WatchDogControl(QObject* parent, int feedIntervalMs)
    : QObject(parent), feedMs(feedIntervalMs)
{
    connect(&feedTimer, &QTimer::timeout, this, &WatchDogControl::on_WDTTimerOut);
}

WatchDogControl::~WatchDogControl()
{
    // The device stays armed: closing without the magic byte keeps the
    // hardware watchdog running, as it must when the daemon goes away.
    if (fd >= 0)
        ::close(fd);
    if (instance == this)
        instance = nullptr;
}

WatchDogControl* WatchDogControl::getInstance()
{
    if (!instance)
        instance = new WatchDogControl();
    return instance;
}

void WatchDogControl::setWatchDogOnOff(bool on)
{
    if (on) {
        if (fd == -1) {
            fd = ::open(rootedPathLocal("/dev/watchdog").c_str(), O_WRONLY);
            if (fd < 0) {
                fd = -1;
                qDebug() << "ERR: open(/dev/watchdog) failed.";
                feedTimer.stop();
                return;
            }
        }
        isIntWdgOn = true;
        feedTimer.start(feedMs);
        feedCount = 0;
        qDebug() << "setWatchDogOnOff" << "true";
        return;
    }

    feedTimer.stop();
    if (fd == -1)
        return;
    // The magic close disarms the Linux watchdog.
    const ssize_t ret = ::write(fd, "V", 1);
    ::close(fd);
    isIntWdgOn = false;
    fd = -1;
    qDebug() << "setWatchDogOnOff" << "ret" << ret << " isOn " << "false";
}

void WatchDogControl::on_WDTTimerOut()
{
    if (!isIntWdgOn || !isFeedEnable || !isAvmAlive || fd == -1)
        return;
    const ssize_t ret = ::write(fd, "A", 1);
    if (feedCount % 180 == 0) {
        qDebug() << "=== feed wdt === " << ret;
        feedCount = 1;
    } else {
        ++feedCount;
    }
}

void WatchDogControl::on_avmstopslot(bool stop)
{
    isAvmAlive = !stop;
    if (stop)
        qDebug() << "=== avm stop === ";
}
