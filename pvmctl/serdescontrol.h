#pragma once
// Serdes video route (head unit picture or surround view), backlight, and the
// 10 ms poll of the hazard switch, the two lock lines and the ACC line.

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;

class SerdesControl : public QObject {
    Q_OBJECT
public:
    // GPIO lines (sysfs numbers).
    enum Gpio : unsigned int {
        GpioSwitch = 269,
        GpioDeserLock = 122,
        GpioSerLock = 270,
        GpioAcc = 116,
        GpioDeserPwdn = 229,
        GpioSerPwdn = 260,
        GpioAccKeepPower = 150,
        GpioGmslLink = 268,
        GpioVideoSource = 106,
    };

    explicit SerdesControl(QObject* parent = nullptr, int pollIntervalMs = 10);
    ~SerdesControl() override;

    bool getIsShowPVM() const { return isShowPVM; }
    void handle_gmsl_switchto_PVM();
    void handle_gmsl_switchto_DA();
    void handle_gmsl_switch_openbacklight();
    void setAccKeepPowerOn(bool on);
    int getSwitchStatus(bool* out);
    int getAccStatus(bool* out);
    void Reset_DeserPwdn(bool on);
    void Reset_SerPwdn(bool on);
    void switchGMSLLink(bool on);
    void switchVideoSource(bool serdes);
    void setLcdBacklight(unsigned int value);
    void Delay_MSec(unsigned int ms);
    QString exec_shell(const char* cmd);
    void Read_iic_from_ser(unsigned char regHigh, unsigned char regLow, unsigned char* out,
                           unsigned char count);

    // A flag byte that nothing reads.
    bool unusedFlag = false;

    // Counters, visible for monitoring.
    int backlightTicks() const { return backlightCount; }
    int routeTicks() const { return routeCount; }
    bool switchPressed() const { return switchState; }
    bool accOn() const { return accState; }
    int serLockState() const { return serLock; }
    int deserLockState() const { return deserLock; }

signals:
    void phySwitchTriggerSignal(int index);

public slots:
    void switchVideoSlot(int video);
    void onPer10ms();
    void slot_mtimer_timeout();

private:
    QTimer* pollTimer = nullptr;
    int pollMs = 10;
    bool switchState = true;
    int switchCount = 0;
    int holdCount = 0;
    bool isShowPVM = true;
    int deserLock = -1;
    int deserLockCount = 0;
    bool accState = false;
    int accCount = 0;
    int accHeldCount = 0;
    int serLock = -1;
    int serLockCount = 0;
    int routeCount = 0;
    bool serResetPending = false;
    int serResetWait = 0;
    int backlightCount = 0;
    bool deserPwdnActive = false;
    int deserPwdnCount = 0;
    bool serPwdnActive = false;
    int serPwdnCount = 0;
};
