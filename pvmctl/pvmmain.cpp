#include "pvmmain.h"

#include "cantest.h"
#include "commandrunner.h"
#include "devicedatasmanager.h"
#include "serdescontrol.h"
#include "watchdogcontrol.h"

#include <QDebug>
#include <QThread>
#include <cstdlib>

namespace {
const int kNeedOutSpeed = 16;
const int kSteerRawLimitPos = 4230;
const int kSteerRawLimitNeg = 61311;
const int kSteerDivisor = 4864;
const int kSteerStep = 33;
const int kAngleLimit = 2838;

const int kGearP = 1;
const int kGearR = 2;
const int kGearN = 3;
const int kGearD = 4;
}  // namespace

PvmMain::PvmMain(QObject* parent) : PvmMain(PvmOptions(), parent) {}

PvmMain::PvmMain(const PvmOptions& opts, QObject* parent) : QObject(parent), options(opts)
{
    lightNames[0] = QStringLiteral("[OFF]");
    lightNames[1] = QStringLiteral("[LEFT]");
    lightNames[2] = QStringLiteral("[RIGHT]");
    lightNames[3] = QStringLiteral("[HARZARD]");
    delayQuitRvcTimer.setSingleShot(true);

    qDebug() << "PvmMain" << " currentThreadId " << QThread::currentThreadId();

    manager = options.manager ? options.manager : DeviceDatasManager::self().data();
    watchdog = options.watchdog ? options.watchdog : WatchDogControl::getInstance();

    serdes = new SerdesControl(nullptr, options.serdesPollMs);
    serdes->setAccKeepPowerOn(true);

    watchdog->setWatchDogOnOff(true);

    serdes->unusedFlag = false;

    SharedMemoryOptions shmOptions = options.sharedMemory;
    shmOptions.manager = manager;
    shareMem = new SharedMemoryControl(true, shmOptions);

    connect(manager, &DeviceDatasManager::deviceDataChangedSignal, shareMem,
            &SharedMemoryControl::on_DeviceDataChanged);
    connect(shareMem, &SharedMemoryControl::avmStopSignal, watchdog,
            &WatchDogControl::on_avmstopslot);

    canTestObj = new CanTest(options.canPlugin, options.canInterface, this);

    connect(serdes, &SerdesControl::phySwitchTriggerSignal, this, &PvmMain::onPhySwitchTriggerSlot);
    connect(this, &PvmMain::switchVideoSignal, serdes, &SerdesControl::switchVideoSlot);
    connect(canTestObj, &CanTest::canTestDataChangedSignal, this, &PvmMain::canTestDataChangedSlot);
    connect(&delayQuitRvcTimer, &QTimer::timeout, this, &PvmMain::on_delayQuitRvcTimerOut);
    connect(shareMem, &SharedMemoryControl::avmInitOkSignal, this, &PvmMain::avmInitOkSlot);
    connect(shareMem, &SharedMemoryControl::turnSwitchSignal, this, &PvmMain::turnSwitchSlot);
}

PvmMain::~PvmMain()
{
    // Stop the exchange thread and the poll before the objects they reach go.
    delete shareMem;
    shareMem = nullptr;
    delete canTestObj;
    canTestObj = nullptr;
    delete serdes;
    serdes = nullptr;
}

QDateTime PvmMain::now() const
{
    return options.now ? options.now() : QDateTime::currentDateTime();
}

bool PvmMain::isNeedOutFromPVM() const
{
    return curSpeed > kNeedOutSpeed && needOutFromPVM;
}

bool PvmMain::isTurnLightsOn() const
{
    return canTestObj && (canTestObj->lightStatus == 1 || canTestObj->lightStatus == 2);
}

bool PvmMain::isTurnSwitchEnable() const
{
    return shareMem ? shareMem->getIsTurnSwitchEnable() : false;
}

bool PvmMain::isCanPVMSwitch() const
{
    if (!canTestObj)
        return true;
    if (isTurnSwitchEnable() && isTurnLightsOn())
        return false;
    return canTestObj->gearStatus != kGearR;
}

void PvmMain::toSwitchVideo(int isToPVM)
{
    qDebug() << "==== " << "toSwitchVideo" << " isToPVM " << isToPVM;
    if (isToPVM <= 0) {
        if (isCanPVMSwitch()) {
            waitAvmInited = false;
            emit switchVideoSignal(isToPVM);
        } else {
            qDebug() << "==== " << "toSwitchVideo" << " isCanOutFromPVM " << "false";
            qDebug() << "==== " << "toSwitchVideo" << " speed " << curSpeed << " gear"
                     << (canTestObj ? canTestObj->gearStatus : -1);
        }
    } else if (isToPVM > 10) {
        if (shareMem && shareMem->getIsAVMInited()) {
            waitAvmInited = false;
            emit switchVideoSignal(isToPVM);
        } else {
            qDebug() << "==== " << "toSwitchVideo" << " Wait for AVM inited ";
            waitAvmInited = true;
        }
    } else {
        waitAvmInited = false;
        emit switchVideoSignal(isToPVM);
    }
}

int PvmMain::newCalcRadarDistance(int level) const
{
    if (level >= 0 && level <= 2)
        return 1;
    if (level >= 3 && level <= 6)
        return 2;
    if (level >= 7 && level <= 11)
        return 3;
    return 0;
}

void PvmMain::canTestDataChangedSlot(unsigned char code)
{
    const DeviceData old = manager->deviceData();
    if (canTestObj) {
        CanTest* c = canTestObj;
        switch (code) {
        case CanTest::CodeNetwork:
            qDebug() << "==== CAN SIG NETWORK " << s_old_network_status << ",change to:" << c->networkStatus;
            s_old_network_status = c->networkStatus;
            break;
        case CanTest::CodeNightMode:
            qDebug() << "==== CAN SIG NIGHT " << s_old_night_mode << ",change to:" << c->nightMode;
            s_old_night_mode = c->nightMode;
            break;
        case CanTest::CodeDrivingDirection:
            qDebug() << "==== CAN SIG DRIVING_DIRECTION " << s_old_driving_direction << ",change to:"
                     << c->drivingDirection;
            s_old_driving_direction = c->drivingDirection;
            break;
        case CanTest::CodeSpeed:
            handleSpeed();
            break;
        case CanTest::CodeKey:
            handleKey(old);
            break;
        case CanTest::CodeLight:
            handleLight(old);
            break;
        case CanTest::CodeSteering:
            handleSteering();
            break;
        case CanTest::CodeLights:
            qDebug() << "==== CAN SIG LIGHTS " << s_old_lights << ",change to:" << c->lights;
            s_old_lights = c->lights;
            break;
        case CanTest::CodeGear:
            if (!handleGear())
                return;
            break;
        case CanTest::CodeHandBreak:
            qDebug() << "==== CAN SIG HAND_BREAK " << s_old_hand_break << ",change to:" << c->handBreak;
            s_old_hand_break = c->handBreak;
            break;
        case CanTest::CodeDoor:
            qDebug() << "==== CAN SIG DOOR " << s_old_door_status << ",change to:" << c->doorStatus;
            s_old_door_status = c->doorStatus;
            break;
        case CanTest::CodeRadar: {
            const quint32 low = static_cast<quint32>(c->radarStatus & 0xFFFFFFFFLL);
            qDebug() << "==== RADAR" << QString::number(s_old_radar_status, 16) << ",change to:"
                     << QString::number(low, 16);
            s_old_radar_status = low;
            manager->setRadar(static_cast<int>(low));
            break;
        }
        case CanTest::CodeSwitchClick:
            handleClick(old);
            break;
        case CanTest::CodeDateTime:
            handleTimeChanged();
            break;
        default:
            if (code > CanTest::CodeDateTime)
                qDebug() << "==== CAN SIG" << code << ",change, ignore.";
            break;
        }
    }
    manager->handleSendDataChanged();
}

void PvmMain::handleSpeed()
{
    curSpeed = canTestObj->speed;
    if (lastSpeed <= LIMTT_SPEED && curSpeed > LIMTT_SPEED && serdes && serdes->getIsShowPVM() &&
        needOutFromPVM) {
        toSwitchVideo(0);
        qDebug() << "==== greater than LIMTT_SPEED ====" << " curSpeed " << curSpeed << " lastSpeed "
                 << lastSpeed;
    }
    lastSpeed = curSpeed;
    manager->setSpeed(curSpeed);
}

void PvmMain::handleKey(const DeviceData& old)
{
    const int now = canTestObj->keyStatus;
    qDebug() << "==== CAN SIG KEY_STATUS " << s_old_key_status << ",change to:" << now;
    s_old_key_status = now;
    if (old.keyStatus == 2 && now != 2)
        qDebug() << "==== IGN off ====";
    if (now == 2 && old.keyStatus != 2)
        qDebug() << "==== IGN On ====";
    manager->setKeyStaus(static_cast<char>(now));
}

void PvmMain::handleLight(const DeviceData& old)
{
    const int now = canTestObj->lightStatus;
    const int was = old.lightStatus;
    qDebug() << "==== CAN SIG LIGHT_STATUS " << lightNames[was & 3] << ",change to:" << lightNames[now & 3];
    s_old_light_status = now;
    manager->setLightStatus(static_cast<char>(now));
    manager->handleSendDataChanged();

    if (was == 1 || was == 2) {
        if (isTurnLightsOn() || !isTurnSwitchEnable())
            return;
        qDebug() << "==== quit Trun ====";
        if (mShowPVMBeforeSwitchTurnLight) {
            if (isNeedOutFromPVM()) {
                qDebug() << "==== quit Trun NeedOutFromPVM ====" << " speed " << curSpeed;
                toSwitchVideo(0);
            }
        } else {
            qDebug() << "==== quit Trun mShowPVMBeforeSwitchTurnLight ====" << "false";
            toSwitchVideo(0);
        }
    } else if (isTurnLightsOn() && isTurnSwitchEnable()) {
        mShowPVMBeforeSwitchTurnLight = serdes && serdes->getIsShowPVM();
        qDebug() << "==== enter Trun ====";
        toSwitchVideo(1);
    }
}

void PvmMain::handleSteering()
{
    int r = canTestObj->steeringRaw;
    if (r < 0)
        r = 0;
    if (r > 65535)
        r = 65535;
    int angle;
    if (r <= 32768) {
        if (r > kSteerRawLimitPos) {
            angle = kAngleLimit;
            canTestObj->steeringRaw = kSteerRawLimitPos;
        } else {
            angle = (r * 100 / kSteerDivisor) * kSteerStep;
        }
    } else if (r < kSteerRawLimitNeg) {
        angle = -kAngleLimit;
        canTestObj->steeringRaw = kSteerRawLimitNeg;
    } else {
        angle = ((65535 - r) * (-100) / kSteerDivisor) * kSteerStep;
    }
    manager->setAngle(angle);
}

bool PvmMain::handleGear()
{
    const int old = manager->deviceData().gear;
    const int now = canTestObj->gearStatus;
    qDebug() << "==== CAN SIG GEAR " << s_old_gear_status << ",change to:" << now;
    s_old_gear_status = now;
    const char store = static_cast<char>(now);

    if (old == kGearR) {
        if (now == kGearR) {
            manager->setGear(store);
        } else if (delayQuitRvcDone) {
            qDebug() << "==== quit RVC ====";
            delayQuitRvcDone = false;
            if (now == kGearP) {
                qDebug() << "==== quit R Enter P ====";
                toSwitchVideo(0);
            } else if (isNeedOutFromPVM()) {
                qDebug() << "==== quit R NeedOutFromPVM ====" << " speed " << curSpeed;
                toSwitchVideo(0);
            }
            if (now == kGearD && !needOutFromPVM)
                needOutFromPVM = true;
            manager->setGear(store);
        } else if (delayQuitRvcTimer.isActive()) {
            manager->setGear(store);
        } else {
            delayQuitRvcTimer.start(options.quitRvcDelayMs);
            qDebug() << "==== start delayQuitRvcTimer ====";
            return false;
        }
    } else if (now == kGearR) {
        qDebug() << "==== enter RVC ====";
        toSwitchVideo(1);
        manager->setGear(store);
    } else if (old == kGearP) {
        manager->setGear(store);
    } else if (now == kGearP) {
        qDebug() << "==== Enter P ====";
        toSwitchVideo(0);
        manager->setGear(store);
    } else if (old != 0) {
        manager->setGear(store);
    } else if (now == kGearN || now == kGearD) {
        qDebug() << "==== init to DA ====";
        toSwitchVideo(0);
        manager->setGear(store);
    } else {
        manager->setGear(store);
    }
    return true;
}

void PvmMain::handleClick(const DeviceData& old)
{
    qDebug() << "==== SWITCH HARZARD shortly clicked";
    if (!isCanPVMSwitch() || !serdes)
        return;
    if (serdes->getIsShowPVM()) {
        toSwitchVideo(0);
        if (!needOutFromPVM)
            needOutFromPVM = true;
    } else {
        if (old.gear == kGearD)
            needOutFromPVM = (old.speed == 0);
        toSwitchVideo(1);
    }
}

void PvmMain::onPhySwitchTriggerSlot(int index)
{
    if (index == 1) {
        canTestDataChangedSlot(CanTest::CodeSwitchClick);
    } else if (index == 3) {
        runCommand(QStringLiteral("sync"));
        if (serdes)
            serdes->setAccKeepPowerOn(false);
        runCommand(QStringLiteral("reboot"));
    }
}

void PvmMain::on_delayQuitRvcTimerOut()
{
    qDebug() << "on_delayQuitRvcTimerOut";
    delayQuitRvcTimer.stop();
    delayQuitRvcDone = true;
    canTestDataChangedSlot(CanTest::CodeGear);
}

void PvmMain::avmInitOkSlot()
{
    qDebug() << "==== " << "avmInitOkSlot";
    if (waitAvmInited)
        toSwitchVideo(100);
}

void PvmMain::turnSwitchSlot()
{
    qDebug() << "==== " << "turnSwitchSlot";
    if (isTurnLightsOn() && isTurnSwitchEnable()) {
        mShowPVMBeforeSwitchTurnLight = serdes && serdes->getIsShowPVM();
        qDebug() << "==== enter Turn update ====";
        toSwitchVideo(1);
    }
}

void PvmMain::testTimeOut()
{
    const QDateTime t = now();
    qDebug() << "====" << "testTimeOut" << " year " << t.date().year() << " month " << t.date().month()
             << " day " << t.date().day() << " hour " << t.time().hour() << " minute "
             << t.time().minute();
}

void PvmMain::handleTimeChanged()
{
    if (!canTestObj)
        return;
    const qint64 date = canTestObj->dateValue;
    const qint64 time = canTestObj->timeValue;
    if (date == -1 || time == -1)
        return;

    // Only a real date and time may reach the system clock: a year field of
    // random frames (up to 65535) made commands like "date -s 1541209131258.00".
    // The command takes a four-digit year, and a vehicle in service reports
    // one of this century.
    constexpr qint64 kFirstYear = 2000, kLastYear = 2099;
    const qint64 year = date / 10000;
    const QDate vehicleDate(static_cast<int>(year), static_cast<int>(date / 100 % 100),
                            static_cast<int>(date % 100));
    const QTime vehicleTime(static_cast<int>(time / 100), static_cast<int>(time % 100));
    if (year < kFirstYear || year > kLastYear || !vehicleDate.isValid() || !vehicleTime.isValid()) {
        qDebug() << "==== invalid vehicle DateTime, clock not set:" << date << " " << time;
        return;
    }

    const QDateTime clock = now();
    const qint64 clockDate =
        qint64(clock.date().year()) * 10000 + clock.date().month() * 100 + clock.date().day();
    const qint64 clockTime = clock.time().hour() * 100 + clock.time().minute();
    if (date == clockDate && std::llabs(time - clockTime) <= 1) {
        qDebug() << "====   device DateTime  change to:" << date << " " << time;
        qDebug() << "====   DateTime right return " << clock.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        return;
    }

    testTimeOut();
    const QString cmd = QStringLiteral("date -s %1%2%3.00")
                            .arg(date)
                            .arg(time / 100, 2, 10, QLatin1Char('0'))
                            .arg(time % 100, 2, 10, QLatin1Char('0'));
    qDebug() << "#### System DateTime change to:" << date << " " << time << ",cmd:" << cmd;
    runCommand(cmd);
}
