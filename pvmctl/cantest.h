#pragma once
// Decodes the vehicle's CAN frames into signal codes and keeps the last
// value of each signal. A code is emitted only when its value changes.

#include <QCanBusFrame>
#include <QObject>
#include <QVector>
#include <climits>

class CANInterface;

class CanTest : public QObject {
    Q_OBJECT
public:
    // Signal codes of canTestDataChangedSignal.
    enum Code : unsigned char {
        CodeNetwork = 0,
        CodeNightMode = 1,
        CodeDrivingDirection = 2,
        CodeSpeed = 3,
        CodeKey = 5,
        CodeLight = 6,
        CodeSteering = 7,
        CodeLights = 9,
        CodeGear = 10,
        CodeHandBreak = 11,
        CodeDoor = 12,
        CodeRadar = 13,
        CodeSwitchClick = 14,
        CodeDateTime = 15,
    };

    explicit CanTest(QObject* parent = nullptr);
    CanTest(const QString& plugin, const QString& interfaceName, QObject* parent = nullptr);

    CANInterface* canInterface() const { return can; }
    // Frames taken from the device so far.
    quint64 framesSeen() const { return seen; }

    // Decodes one batch of frames as read in one notification.
    void decodeFrames(const QVector<QCanBusFrame>& frames);

    // Last decoded values; -1 until the first matching frame.
    int networkStatus = -1;
    int nightMode = -1;
    int drivingDirection = -1;
    int speed = -1;
    int keyStatus = -1;
    int lightStatus = -1;
    int steeringRaw = INT_MIN;
    int lights = -1;
    int gearStatus = -1;
    int gearCandidate = -1;
    int handBreak = -1;
    int doorStatus = -1;
    qint64 radarStatus = 0xFFFFFFFFLL;
    qint64 dateValue = -1;
    qint64 timeValue = -1;
    int gearStableCount = 0;

signals:
    void canTestDataChangedSignal(unsigned char code);

public slots:
    void onProcesscan0receivedframes();

private:
    void decodeOne(const QCanBusFrame& frame, int* gearValue);
    void debounceGear(int v, int limit);
    void decodeDateTime(const QCanBusFrame& frame);
    void decodeRadar(const QCanBusFrame& frame, bool front);

    CANInterface* can = nullptr;
    quint64 seen = 0;
};
