#include "serdescontrol.h"

#include "GPIOSet.h"
#include "commandrunner.h"
#include "systemroot.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>
#include <QTime>
#include <QTimer>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
const int kBacklightTicks = 40;
const int kRouteTicks = 20;
const int kHoldTicks = 299;
const int kDeserPulseTicks = 20;
const int kSerPulseTicks = 30;
const int kSerResetWaitTicks = 300;
const int kAccHoldTicks = 999;
const unsigned long kDispLcdSetBrightness = 0x102;

// Shared debounce: the 7th differing sample in a row becomes the state.
template <typename T>
bool debounce(T sample, T* state, int* count)
{
    if (sample == *state) {
        *count = 0;
        return false;
    }
    const bool take = *count > 5;
    ++*count;
    if (take)
        *state = sample;
    return take;
}

QString routeScript(int arg)
{
    return rootedPath(QStringLiteral("/etc/set_q508gmsl_0.sh")) + QStringLiteral(" %1").arg(arg);
}
}  // namespace

SerdesControl::SerdesControl(QObject* parent, int pollIntervalMs)
    : QObject(parent), pollMs(pollIntervalMs)
{
    qDebug() << "Q508 Serdes Control init start(20250331)!";
    pollTimer = new QTimer();
    pollTimer->setSingleShot(true);
    connect(pollTimer, &QTimer::timeout, this, &SerdesControl::onPer10ms);
    pollTimer->start(pollMs);
}

SerdesControl::~SerdesControl()
{
    delete pollTimer;
    qDebug() << "SerdesControl  finish!";
}

void SerdesControl::switchVideoSlot(int video)
{
    if (video != 0 && !isShowPVM) {
        handle_gmsl_switchto_PVM();
        isShowPVM = true;
    } else if (video == 0 && isShowPVM) {
        handle_gmsl_switchto_DA();
        isShowPVM = false;
    }
}

void SerdesControl::handle_gmsl_switchto_PVM()
{
    runCommand(routeScript(1));
    backlightCount = kBacklightTicks;
}

void SerdesControl::handle_gmsl_switchto_DA()
{
    runCommand(routeScript(0));
    backlightCount = kBacklightTicks;
}

void SerdesControl::handle_gmsl_switch_openbacklight()
{
    if (backlightCount == 0)
        return;
    if (--backlightCount == 0) {
        runCommand(rootedPath(QStringLiteral("/etc/set_q508gmsl_1.sh")));
        qDebug() << "open backlight.";
    }
}

void SerdesControl::setAccKeepPowerOn(bool on)
{
    gpio_set_value(GpioAccKeepPower, on);
}

int SerdesControl::getSwitchStatus(bool* out)
{
    gpio_get_value(GpioSwitch, out);
    return 0;
}

int SerdesControl::getAccStatus(bool* out)
{
    gpio_get_value(GpioAcc, out);
    return 0;
}

void SerdesControl::Reset_DeserPwdn(bool on)
{
    if (on) {
        gpio_set_value(GpioDeserPwdn, false);
        qDebug() << "RESET DESER PWDN: LOW.";
        deserPwdnActive = true;
        deserPwdnCount = kDeserPulseTicks;
    } else {
        gpio_set_value(GpioDeserPwdn, true);
        deserPwdnActive = false;
        qDebug() << "RESET DESER PWDN: HIGH.";
    }
}

void SerdesControl::Reset_SerPwdn(bool on)
{
    if (on) {
        gpio_set_value(GpioSerPwdn, false);
        qDebug() << "RESET SER PWDN: LOW.";
        serPwdnActive = true;
        serPwdnCount = kSerPulseTicks;
    } else {
        gpio_set_value(GpioSerPwdn, true);
        serPwdnActive = false;
        qDebug() << "RESET SER PWDN: HIGH.";
    }
}

void SerdesControl::onPer10ms()
{
    // 1. Hazard switch: a short click toggles the view, a long press resets
    //    both serdes chips. An unreadable input keeps its debounced state.
    {
        bool sample = switchState;
        getSwitchStatus(&sample);
        const bool changed = debounce(sample, &switchState, &switchCount);
        if (changed && switchState) {
            holdCount = kHoldTicks;
        } else if (changed) {
            if (holdCount != 0) {
                emit phySwitchTriggerSignal(1);
                holdCount = 0;
            }
        } else if (switchState) {
            if (holdCount != 0 && --holdCount == 0) {
                if (!serPwdnActive)
                    Reset_SerPwdn(true);
                if (!deserPwdnActive)
                    Reset_DeserPwdn(true);
            }
        } else if (holdCount != 0) {
            emit phySwitchTriggerSignal(1);
            holdCount = 0;
        }
    }

    // 2. Deserializer lock (head unit present): logged only.
    {
        bool v = deserLock > 0;
        const bool readable = gpio_get_value(GpioDeserLock, &v) == 0;
        int sample = readable ? (v ? 1 : 0) : deserLock;
        if (debounce(sample, &deserLock, &deserLockCount))
            qDebug() << "DESER LOCK Status(HU exist): " << deserLock;
    }

    // 3. Power-down pulses.
    if (deserPwdnCount != 0 && --deserPwdnCount == 0)
        Reset_DeserPwdn(false);
    if (serPwdnCount != 0 && --serPwdnCount == 0) {
        Reset_SerPwdn(false);
        serResetPending = true;
        serResetWait = kSerResetWaitTicks;
    }

    // 4. Serializer lock (screen present): a rising edge re-applies the route.
    {
        bool v = serLock > 0;
        const bool readable = gpio_get_value(GpioSerLock, &v) == 0;
        const int sample = readable ? (v ? 1 : 0) : serLock;
        const int old = serLock;
        if (debounce(sample, &serLock, &serLockCount)) {
            qDebug() << "SER LOCK Status(SCREEN exist): " << serLock;
            if (old == 0 && serLock != 0) {
                routeCount = kRouteTicks;
                if (serResetPending) {
                    serResetPending = false;
                    serResetWait = 0;
                }
            }
        }
    }

    // 5. After a serializer reset, wait for the lock before re-applying.
    if (serResetPending && serLock != 0) {
        if (serResetWait != 0)
            --serResetWait;
        if (serResetWait == 0) {
            routeCount = kRouteTicks;
            serResetPending = false;
            qDebug() << "SER RESET AND LOCK HIGH. ";
        }
    }

    // 6. Route re-apply.
    if (routeCount != 0 && --routeCount == 0) {
        if (isShowPVM)
            handle_gmsl_switchto_PVM();
        else
            handle_gmsl_switchto_DA();
    }

    // 7. ACC line.
    {
        bool sample = accState;
        getAccStatus(&sample);
        if (debounce(sample, &accState, &accCount)) {
            emit phySwitchTriggerSignal(2);
            qDebug() << "GPIO ACC: " << (accState ? "true" : "false");
        }
        if (accState) {
            if (++accHeldCount > kAccHoldTicks) {
                emit phySwitchTriggerSignal(3);
                accHeldCount = 0;
            }
        } else {
            accHeldCount = 0;
        }
    }

    // 8. Backlight after a route switch.
    handle_gmsl_switch_openbacklight();

    // 9. Restarted at the end, so a slow tick delays the next one.
    pollTimer->start(pollMs);
}

void SerdesControl::switchGMSLLink(bool on)
{
    gpio_set_value(GpioGmslLink, on);
    qDebug() << (on ? "PVM Insert in GMSL Link" : "GMSL Link direct from HU");
}

void SerdesControl::switchVideoSource(bool serdes)
{
    gpio_set_value(GpioVideoSource, serdes);
    qDebug() << (serdes ? "use SERDES video" : "use HEADUNIT video");
    isShowPVM = serdes;
}

void SerdesControl::setLcdBacklight(unsigned int value)
{
    const std::string path = rootedPathLocal("/dev/disp");
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) {
        std::printf("open display device fail!\n");
        return;
    }
    unsigned long args[4] = {0, value, 0, 0};
    if (::ioctl(fd, kDispLcdSetBrightness, args) < 0)
        qDebug() << "set backlight failed";
    ::close(fd);
}

void SerdesControl::Delay_MSec(unsigned int ms)
{
    const QTime until = QTime::currentTime().addMSecs(static_cast<int>(ms));
    while (QTime::currentTime() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

QString SerdesControl::exec_shell(const char* cmd)
{
    QByteArray out;
    if (!captureCommand(QString::fromLocal8Bit(cmd), &out))
        return QStringLiteral("error");
    QString s = QString::fromLocal8Bit(out);
    s.chop(1);
    return s;
}

void SerdesControl::Read_iic_from_ser(unsigned char regHigh, unsigned char regLow,
                                      unsigned char* out, unsigned char count)
{
    const QString cmd = QStringLiteral("i2ctransfer -y -f 1 w2@0x20") +
                        QStringLiteral(" 0x%1").arg(regHigh, 2, 16, QLatin1Char('0')) +
                        QStringLiteral(" 0x%1").arg(regLow, 2, 16, QLatin1Char('0')) +
                        QStringLiteral(" r%1").arg(count);
    const QStringList parts = exec_shell(cmd.toLocal8Bit().constData()).split(QLatin1Char(' '));
    if (parts.size() != count) {
        qDebug() << "Read_iic_from_ser error";
        return;
    }
    for (int i = 0; i < count; ++i) {
        QString p = parts.at(i);
        if (p.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            p = p.mid(2);
        out[i] = static_cast<unsigned char>(p.toUInt(nullptr, 16));
    }
}

void SerdesControl::slot_mtimer_timeout()
{
    static int call = 0;
    static unsigned char last[4] = {0, 0, 0, 0};
    static const struct {
        unsigned char high, low;
        const char* text;
    } regs[4] = {
        {0x07, 0x10, "Read_iic_from_ser 0x710:"},
        {0x07, 0x70, "Read_iic_from_ser 0x770:"},
        {0x07, 0x11, "Read_iic_from_ser 0x711:"},
        {0x07, 0x71, "Read_iic_from_ser 0x771:"},
    };
    call = call % 4 + 1;
    const int i = call - 1;
    unsigned char v = 0;
    Read_iic_from_ser(regs[i].high, regs[i].low, &v, 1);
    if (v != last[i]) {
        last[i] = v;
        qDebug() << regs[i].text << QString::number(v, 16);
    }
}
