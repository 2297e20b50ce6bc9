#include "devicedatasmanager.h"

#include <QDebug>
#include <QMutexLocker>
#include <cstring>

QSharedPointer<DeviceDatasManager> gDeviceDatasManager;

DeviceDatasManager::DeviceDatasManager(QObject* parent) : QObject(parent)
{
    std::memset(&current_, 0xFF, sizeof(current_));
    current_.speed = 0;
    current_.keyStatus = 0;
    current_.lightStatus = 0;
    current_.angle = 0;
    current_.gear = 0;
    current_.radar = 0x00FFFFFFu;
    published_ = current_;
    dataLen_ = getDeviceDataLen();
    connect(&delayTimer_, &QTimer::timeout, this, &DeviceDatasManager::on_delayTimerOut);
    qDebug() << " sizeof DeviceData" << dataLen_;
}

QSharedPointer<DeviceDatasManager> DeviceDatasManager::self()
{
    if (!gDeviceDatasManager) {
        gDeviceDatasManager.reset(new DeviceDatasManager());
        qDebug() << "DeviceDatasManager init !";
    }
    return gDeviceDatasManager;
}

DeviceData DeviceDatasManager::deviceData() const
{
    QMutexLocker lock(&mutex_);
    return current_;
}

void DeviceDatasManager::setSpeed(int speed)
{
    QMutexLocker lock(&mutex_);
    current_.speed = speed;
}

void DeviceDatasManager::setKeyStaus(char status)
{
    QMutexLocker lock(&mutex_);
    current_.keyStatus = status;
}

void DeviceDatasManager::setLightStatus(char status)
{
    QMutexLocker lock(&mutex_);
    current_.lightStatus = status;
}

void DeviceDatasManager::setAngle(int angle)
{
    QMutexLocker lock(&mutex_);
    current_.angle = angle;
}

void DeviceDatasManager::setGear(char gear)
{
    QMutexLocker lock(&mutex_);
    current_.gear = gear;
}

void DeviceDatasManager::setRadar(int radar)
{
    QMutexLocker lock(&mutex_);
    current_.radar = static_cast<uint32_t>(radar);
}

void DeviceDatasManager::structToCharArray(char* out) const
{
    QMutexLocker lock(&mutex_);
    std::memcpy(out, &current_, sizeof(current_));
}

void DeviceDatasManager::charArrayToStruct(const char* in, int len)
{
    if (len != dataLen_ || !in) {
        qDebug() << " size error " << len << " dataLen " << dataLen_;
        return;
    }
    QMutexLocker lock(&mutex_);
    std::memcpy(&current_, in, sizeof(current_));
}

void DeviceDatasManager::handleSendDataChanged()
{
    {
        QMutexLocker lock(&mutex_);
        if (!isDeviceDataChanged(&current_, &published_))
            return;
        published_ = current_;
    }
    if (!delayTimer_.isActive())
        delayTimer_.start(delayMs_);
}

bool DeviceDatasManager::handleRcvDataChanged()
{
    {
        QMutexLocker lock(&mutex_);
        if (!isDeviceDataChanged(&current_, &published_))
            return false;
        published_ = current_;
    }
    emit deviceDataChangedSignal();
    return true;
}

void DeviceDatasManager::on_delayTimerOut()
{
    delayTimer_.stop();
    emit deviceDataChangedSignal();
}
