#include "cantest.h"

#include "caninterface.h"
#include "devicedatashare.h"

#include <QDateTime>
#include <QDebug>

namespace {
const quint32 kIdLight = 0x413;
const quint32 kIdKey = 0x3E0;
const quint32 kIdSpeed = 0x681AA02;
const quint32 kIdSteering = 0x4812501;
const quint32 kIdGearA = 0x1004001;
const quint32 kIdGearB = 0x1004501;
const quint32 kIdDateTime = 0x371;
const quint32 kIdRadarFront = 0x3E5;
const quint32 kIdRadarRear = 0x3E6;

int byteAt(const QByteArray& p, int i)
{
    return static_cast<unsigned char>(p.at(i));
}

// 3-bit level to zone value: 3 nearest gives 1 ... 1 gives 3.
int zoneValue(int z)
{
    switch (z) {
    case 3: return 1;
    case 2: return 2;
    case 1: return 3;
    default: return 0;
    }
}
}  // namespace

CanTest::CanTest(QObject* parent)
    : CanTest(CANInterface::defaultPlugin(), CANInterface::defaultInterface(), parent)
{
}

CanTest::CanTest(const QString& plugin, const QString& interfaceName, QObject* parent)
    : QObject(parent)
{
    can = new CANInterface(plugin, interfaceName, this);
    can->openCANDevice(0, 500000, 100);
    if (can->device())
        connect(can->device(), &QCanBusDevice::framesReceived, this,
                &CanTest::onProcesscan0receivedframes);
}

void CanTest::onProcesscan0receivedframes()
{
    QCanBusDevice* dev = can ? can->device() : nullptr;
    if (!dev)
        return;
    QVector<QCanBusFrame> batch;
    while (dev->framesAvailable()) {
        batch.append(dev->readFrame());
        ++seen;
    }
    decodeFrames(batch);
}

void CanTest::decodeFrames(const QVector<QCanBusFrame>& frames)
{
    // The gear value of one batch carries over between its gear frames.
    int gearValue = 0;
    for (const QCanBusFrame& f : frames) {
        if (!f.isValid() || f.frameType() == QCanBusFrame::ErrorFrame)
            continue;
        decodeOne(f, &gearValue);
    }
}

void CanTest::decodeOne(const QCanBusFrame& frame, int* gearValue)
{
    const QByteArray p = frame.payload();
    const int len = p.size();
    switch (frame.frameId() & 0x1FFFFFFFu) {
    case kIdLight: {
        int v = 0;
        if (len > 7) {
            const int b = byteAt(p, 7);
            if (b == 0x45 || b == 0x49)
                v = 2;
            else if (b == 0x51 || b == 0x61)
                v = 1;
        }
        if (v != lightStatus) {
            lightStatus = v;
            emit canTestDataChangedSignal(CodeLight);
        }
        break;
    }
    case kIdKey: {
        int v = 0;
        if (len > 4) {
            const int b = byteAt(p, 4);
            if (b == 0x54)
                v = 2;
            else if (b == 0x04)
                v = 1;
        }
        if (v != keyStatus) {
            keyStatus = v;
            emit canTestDataChangedSignal(CodeKey);
        }
        break;
    }
    case kIdSpeed: {
        const int v = len > 0 ? byteAt(p, 0) : 0;
        if (v != speed) {
            speed = v;
            emit canTestDataChangedSignal(CodeSpeed);
        }
        break;
    }
    case kIdSteering: {
        int v = 0;
        if (len > 4)
            v = byteAt(p, 3) + byteAt(p, 4) * 256;
        else if (len == 4)
            v = byteAt(p, 3);
        if (v != steeringRaw) {
            steeringRaw = v;
            emit canTestDataChangedSignal(CodeSteering);
        }
        break;
    }
    case kIdGearA: {
        if (len > 4) {
            switch (byteAt(p, 4) & 0x0F) {
            case 0: *gearValue = 1; break;
            case 5: *gearValue = 4; break;
            case 6: *gearValue = 3; break;
            case 7: *gearValue = 2; break;
            default: break;
            }
        } else {
            *gearValue = 1;
        }
        debounceGear(*gearValue, 9);
        break;
    }
    case kIdGearB: {
        if (len > 5) {
            switch (byteAt(p, 5) & 0xF0) {
            case 0x00: *gearValue = 1; break;
            case 0x50: *gearValue = 4; break;
            case 0x60: *gearValue = 3; break;
            case 0x70: *gearValue = 2; break;
            default: break;
            }
        } else {
            *gearValue = 1;
        }
        debounceGear(*gearValue, 3);
        break;
    }
    case kIdDateTime:
        decodeDateTime(frame);
        break;
    case kIdRadarFront:
        decodeRadar(frame, true);
        break;
    case kIdRadarRear:
        decodeRadar(frame, false);
        break;
    default:
        break;
    }
}

void CanTest::debounceGear(int v, int limit)
{
    if (v != gearCandidate) {
        gearCandidate = v;
        gearStableCount = 1;
        return;
    }
    if (gearStableCount <= limit) {
        ++gearStableCount;
        return;
    }
    gearStableCount = 0;
    if (v != gearStatus) {
        gearStatus = v;
        emit canTestDataChangedSignal(CodeGear);
    }
}

void CanTest::decodeDateTime(const QCanBusFrame& frame)
{
    const QByteArray p = frame.payload();
    const int len = p.size();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    qint64 date = 0;
    if (len >= 2) {
        year = byteAt(p, 0) + byteAt(p, 1) * 256;
        if (len >= 3)
            month = byteAt(p, 2);
        if (len >= 4)
            day = byteAt(p, 3);
        date = qint64(year) * 10000 + month * 100 + day;
    } else if (len == 1) {
        date = qint64(byteAt(p, 0)) * 10000;
    }
    if (len >= 5)
        hour = byteAt(p, 4);
    if (len >= 6)
        minute = byteAt(p, 5);
    qint64 time = qint64(hour + 8) * 100 + minute;

    // The vehicle sends UTC; local time is eight hours ahead. Going through a
    // real date-time carries the hour over midnight into the next day.
    const QDate d(year, month, day);
    const QTime t(hour, minute);
    if (len >= 4 && d.isValid() && t.isValid()) {
        const QDateTime local = QDateTime(d, t, Qt::UTC).addSecs(8 * 3600);
        date = qint64(local.date().year()) * 10000 + local.date().month() * 100 + local.date().day();
        time = local.time().hour() * 100 + local.time().minute();
    }

    if (date != dateValue || time != timeValue) {
        qDebug() << "DATETIME:" << frame.toString();
        dateValue = date;
        timeValue = time;
        emit canTestDataChangedSignal(CodeDateTime);
    }
}

void CanTest::decodeRadar(const QCanBusFrame& frame, bool front)
{
    const QByteArray p = frame.payload();
    const int len = p.size();
    int word = 0;
    if (front) {
        if (len > 5)
            word = setBits(word, 0, 4, zoneValue((byteAt(p, 5) >> 3) & 7));
        if (len > 3)
            word = setBits(word, 4, 4, zoneValue((byteAt(p, 3) >> 3) & 7));
        if (len > 4)
            word = setBits(word, 8, 4, zoneValue((byteAt(p, 4) >> 3) & 7));
    } else {
        if (len > 4)
            word = setBits(word, 12, 4, zoneValue(byteAt(p, 4) & 7));
        if (len > 2)
            word = setBits(word, 16, 4, zoneValue(byteAt(p, 2) & 7));
        if (len > 3)
            word = setBits(word, 20, 4, zoneValue(byteAt(p, 3) & 7));
    }
    const quint32 partMask = front ? 0x00000FFFu : 0x00FFF000u;
    const quint32 low = static_cast<quint32>(radarStatus & 0xFFFFFFFFLL);
    if ((low & partMask) != static_cast<quint32>(word)) {
        radarStatus = qint64((low & ~partMask) + static_cast<quint32>(word));
        emit canTestDataChangedSignal(CodeRadar);
    }
}
