#pragma once
// The decision machine of the daemon: builds and wires every other object,
// keeps the vehicle-state record current, sets the clock from the vehicle,
// and decides when the surround view (PVM) or the head unit's picture (DA)
// is shown.

#include "sharedmemorycontrol.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class CanTest;
class DeviceDatasManager;
class SerdesControl;
class WatchDogControl;

struct PvmOptions {
    QString canPlugin = QStringLiteral("socketcan");
    QString canInterface = QStringLiteral("can0");
    SharedMemoryOptions sharedMemory;
    int serdesPollMs = 10;
    int quitRvcDelayMs = 100;
    // Record keeper and watchdog; the process-wide instances when null.
    DeviceDatasManager* manager = nullptr;
    WatchDogControl* watchdog = nullptr;
    // Local clock; QDateTime::currentDateTime when empty.
    std::function<QDateTime()> now;
};

class PvmMain : public QObject {
    Q_OBJECT
public:
    static const int LIMTT_SPEED = 15;

    explicit PvmMain(QObject* parent = nullptr);
    explicit PvmMain(const PvmOptions& options, QObject* parent = nullptr);
    ~PvmMain() override;

    void run() {}
    bool isNeedOutFromPVM() const;
    bool isTurnLightsOn() const;
    bool isTurnSwitchEnable() const;
    bool isCanPVMSwitch() const;
    void toSwitchVideo(int isToPVM);
    int newCalcRadarDistance(int level) const;
    void testTimeOut();
    void handleTimeChanged();

    SharedMemoryControl* sharedMemoryControl() const { return shareMem; }
    CanTest* canTest() const { return canTestObj; }
    SerdesControl* serdesControl() const { return serdes; }
    bool needOutFromPVMFlag() const { return needOutFromPVM; }
    bool waitAvmInitedFlag() const { return waitAvmInited; }
    bool delayQuitRvcDoneFlag() const { return delayQuitRvcDone; }
    int currentSpeed() const { return curSpeed; }

signals:
    void switchTriggerSignal();
    void switchVideoSignal(int isToPVM);

public slots:
    void canTestDataChangedSlot(unsigned char code);
    void onPhySwitchTriggerSlot(int index);
    void on_delayQuitRvcTimerOut();
    void avmInitOkSlot();
    void turnSwitchSlot();
    void on_autoRunTimerOut() {}

private:
    // Returns false when the call must not publish the record (the start of
    // the delay after leaving reverse).
    bool handleGear();
    void handleSteering();
    void handleSpeed();
    void handleKey(const struct DeviceData& old);
    void handleLight(const struct DeviceData& old);
    void handleClick(const struct DeviceData& old);
    QDateTime now() const;

    PvmOptions options;
    DeviceDatasManager* manager = nullptr;
    WatchDogControl* watchdog = nullptr;
    SharedMemoryControl* shareMem = nullptr;
    CanTest* canTestObj = nullptr;
    SerdesControl* serdes = nullptr;
    QTimer autoRunTimer;
    QTimer delayQuitRvcTimer;
    bool delayQuitRvcDone = false;
    bool waitAvmInited = false;
    bool needOutFromPVM = true;
    QString lightNames[4];
    int curSpeed = 0;
    int lastSpeed = 0;
    bool mShowPVMBeforeSwitchTurnLight = false;

    // Values last logged per signal; they serve the log lines only.
    int s_old_network_status = 0;
    int s_old_night_mode = 0;
    int s_old_driving_direction = 0;
    int s_old_key_status = 0;
    int s_old_light_status = 0;
    int s_old_lights = 0;
    int s_old_gear_status = 0;
    int s_old_hand_break = 0;
    int s_old_door_status = 0;
    qint64 s_old_radar_status = 0;
};
