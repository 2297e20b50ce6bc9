#pragma once
// Process-wide keeper of the vehicle-state record. The GUI thread writes it;
// the shared-memory thread copies it, so every access takes the lock.

#include "devicedatashare.h"

#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

class DeviceDatasManager : public QObject {
    Q_OBJECT
public:
    explicit DeviceDatasManager(QObject* parent = nullptr);

    static QSharedPointer<DeviceDatasManager> self();

    DeviceData deviceData() const;
    void setSpeed(int speed);
    void setKeyStaus(char status);
    void setLightStatus(char status);
    void setAngle(int angle);
    void setGear(char gear);
    void setRadar(int radar);

    void structToCharArray(char* out) const;
    void charArrayToStruct(const char* in, int len);

    void handleSendDataChanged();
    bool handleRcvDataChanged();

    // Coalescing delay, 50 ms.
    void setDelayIntervalMs(int ms) { delayMs_ = ms; }
    bool isDelayPending() const { return delayTimer_.isActive(); }

signals:
    void deviceDataChangedSignal();

public slots:
    void on_delayTimerOut();

private:
    DeviceData current_;
    DeviceData published_;
    int dataLen_ = 28;
    QTimer delayTimer_;
    int delayMs_ = 50;
    mutable QMutex mutex_;
};

extern QSharedPointer<DeviceDatasManager> gDeviceDatasManager;
