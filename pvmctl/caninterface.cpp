#include "caninterface.h"

#include "commandrunner.h"

#include <QCanBus>
#include <QDebug>

CANInterface::CANInterface(QObject* parent)
    : CANInterface(defaultPlugin(), defaultInterface(), parent)
{
}

CANInterface::CANInterface(const QString& plugin, const QString& interfaceName, QObject* parent)
    : QObject(parent), plugin_(plugin), interface0_(interfaceName)
{
    if (!QCanBus::instance()->plugins().contains(plugin_)) {
        if (plugin_ == defaultPlugin())
            qDebug() << "ERR:linux os has NO socketcan interface";
        else
            qDebug() << "ERR: no CAN plugin" << plugin_;
        return;
    }
    // One filter that lets every data frame through.
    QCanBusDevice::Filter all;
    all.frameId = 0;
    all.frameIdMask = 0;
    all.type = QCanBusFrame::DataFrame;
    all.format = QCanBusDevice::Filter::MatchBaseAndExtendedFormat;
    filters_ = {all};
}

CANInterface::~CANInterface()
{
    if (device_) {
        device_->disconnectDevice();
        delete device_;
        device_ = nullptr;
    }
}

QString CANInterface::interfaceForIndex(uint index) const
{
    return index == 0 ? interface0_ : QStringLiteral("awlink1");
}

int CANInterface::openCANDevice(uint index, uint bitrate, uint restartMs)
{
    QString errorString;
    if (index == 0 || index == 1) {
        const QString name = interfaceForIndex(index);
        // Only a kernel SocketCAN interface has link settings to apply.
        if (plugin_ == defaultPlugin()) {
            runCommand(QStringLiteral("ip link set %1 down").arg(name));
            runCommand(QStringLiteral("ip link set up %1 type can bitrate %2 listen-only on restart-ms %3")
                           .arg(name)
                           .arg(bitrate)
                           .arg(restartMs));
        }
        if (device_) {
            device_->disconnectDevice();
            delete device_;
            device_ = nullptr;
        }
        device_ = QCanBus::instance()->createDevice(plugin_, name, &errorString);
    }

    if (!device_) {
        qDebug() << errorString;
        index_ = -1;
        return 0;
    }

    setfilter(filters_);
    device_->setConfigurationParameter(QCanBusDevice::ErrorFilterKey,
                                       QVariant::fromValue(QCanBusFrame::FrameErrors(QCanBusFrame::AnyError)));
    if (device_->connectDevice()) {
        if (index == 0 || index == 1)
            index_ = static_cast<int>(index);
        qDebug() << "CAN" << index_ << " Open OK.";
    } else {
        qDebug() << "ERROR: Open CAN" << index << " FAIL!";
    }
    return 0;
}

int CANInterface::closeCANDevice()
{
    if (index_ != 0 && index_ != 1)
        return index_;
    const QString name = interfaceForIndex(static_cast<uint>(index_));
    if (device_) {
        device_->disconnectDevice();
        delete device_;
        device_ = nullptr;
    }
    if (plugin_ == defaultPlugin())
        runCommand(QStringLiteral("ip link set %1 down").arg(name));
    index_ = -1;
    return -1;
}

void CANInterface::resetCANDevice()
{
    txCount_ = 0;
    rxCount_ = 0;
}

int CANInterface::getstatus() const
{
    return device_ ? static_cast<int>(device_->state()) : 0;
}

void CANInterface::setfilter(const QList<QCanBusDevice::Filter>& filters)
{
    if (device_)
        device_->setConfigurationParameter(QCanBusDevice::RawFilterKey, QVariant::fromValue(filters));
}

bool CANInterface::sendFrame(const QCanBusFrame& frame)
{
    return device_ ? device_->writeFrame(frame) : false;
}

void CANInterface::processErrors(QCanBusDevice::CanBusError error)
{
    switch (error) {
    case QCanBusDevice::ReadError:
    case QCanBusDevice::WriteError:
    case QCanBusDevice::ConnectionError:
    case QCanBusDevice::ConfigurationError:
    case QCanBusDevice::UnknownError:
        qDebug() << "CAN" << index_ << " ERROR Msg:" << (device_ ? device_->errorString() : QString());
        break;
    default:
        break;
    }
}

void CANInterface::processReceivedFrames()
{
    if (!device_)
        return;
    qDebug() << "CAN" << index_ << "processReceivedFrames";
    while (device_->framesAvailable()) {
        const QCanBusFrame frame = device_->readFrame();
        ++rxCount_;
        const auto ts = frame.timeStamp();
        const QString time = QStringLiteral("%1.%2  ")
                                 .arg(ts.seconds())
                                 .arg(ts.microSeconds() / 100, 4, 10, QLatin1Char('0'));
        qDebug() << "CAN" << index_ << "Rcv Msg:" << time << " --- " << frame.toString();
    }
}

void CANInterface::processFramesWritten(qint64 count)
{
    Q_UNUSED(count);
}
