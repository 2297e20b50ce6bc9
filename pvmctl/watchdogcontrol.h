#pragma once
// Feeds the hardware watchdog once a second while the display application's
// heartbeat runs.

#include <QObject>
#include <QTimer>

class WatchDogControl : public QObject {
    Q_OBJECT
public:
    explicit WatchDogControl(QObject* parent = nullptr, int feedIntervalMs = 1000);
    ~WatchDogControl() override;

    static WatchDogControl* getInstance();

    void setWatchDogOnOff(bool on);
    bool getIsIntWdgOn() const { return isIntWdgOn; }
    void setWdgFeedOnOff(bool on) { isFeedEnable = on; }
    bool isFeedTimerActive() const { return feedTimer.isActive(); }
    bool isDeviceOpen() const { return fd >= 0; }
    void setFeedIntervalMs(int ms) { feedMs = ms; }

public slots:
    void on_WDTTimerOut();
    void on_avmstopslot(bool stop);

private:
    static WatchDogControl* instance;

    QTimer feedTimer;
    int fd = -1;
    bool isIntWdgOn = false;
    int feedCount = 0;
    bool isFeedEnable = true;
    bool isAvmAlive = true;
    int feedMs = 1000;
};
