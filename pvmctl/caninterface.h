#pragma once
// One Qt CAN bus device. On the target it is SocketCAN on "can0"; the plugin
// and the interface name can be chosen so that the same code runs over other
// Qt CAN plugins (e.g. virtualcan in tests).

#include <QCanBusDevice>
#include <QList>
#include <QObject>
#include <QString>

class CANInterface : public QObject {
    Q_OBJECT
public:
    explicit CANInterface(QObject* parent = nullptr);
    CANInterface(const QString& plugin, const QString& interfaceName, QObject* parent = nullptr);
    ~CANInterface() override;

    int openCANDevice(uint index, uint bitrate, uint restartMs);
    int closeCANDevice();
    void resetCANDevice();
    int getstatus() const;
    void setfilter(const QList<QCanBusDevice::Filter>& filters);
    bool sendFrame(const QCanBusFrame& frame);

    QCanBusDevice* device() const { return device_; }
    int index() const { return index_; }
    quint64 receivedFrameCount() const { return rxCount_; }
    const QList<QCanBusDevice::Filter>& filterList() const { return filters_; }

    static QString defaultPlugin() { return QStringLiteral("socketcan"); }
    static QString defaultInterface() { return QStringLiteral("can0"); }

public slots:
    void processErrors(QCanBusDevice::CanBusError error);
    void processReceivedFrames();
    void processFramesWritten(qint64 count);

private:
    QString interfaceForIndex(uint index) const;

    QCanBusDevice* device_ = nullptr;
    QList<QCanBusDevice::Filter> filters_;
    int index_ = -1;
    quint64 txCount_ = 0;
    quint64 rxCount_ = 0;
    QString plugin_;
    QString interface0_;
};
