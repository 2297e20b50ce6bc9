#include "simutouch.h"

#include "systemroot.h"

#include <QDebug>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

static_assert(sizeof(uinput_user_dev) == 1116, "uinput_user_dev layout");
static_assert(sizeof(input_event) == 24, "input_event layout (64-bit)");

namespace {
void ioctlOrLog(int fd, unsigned long request, int arg, const char* text)
{
    if (::ioctl(fd, request, arg) < 0)
        qDebug() << text << std::strerror(errno);
}
}  // namespace

simutouch::simutouch(QObject* parent) : QObject(parent)
{
    std::memset(&uinp, 0, sizeof(uinp));
    fd = ::open(rootedPathLocal("/dev/uinput").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        fd = -1;
        qDebug() << "ERROR: Open uinput device fail.";
        return;
    }

    int version = 0;
    if (::ioctl(fd, UI_GET_VERSION, &version) < 0)
        qDebug() << "UInput Version get FAIL.";
    else
        qDebug() << "UInput Version is:" << version;

    ioctlOrLog(fd, UI_SET_EVBIT, EV_KEY, "***** IOCTL ERR: UI_SET_EVBIT, EV_KEY, err: %s");
    ioctlOrLog(fd, UI_SET_KEYBIT, BTN_TOUCH, "***** IOCTL ERR: UI_SET_KEYBIT, BTN_TOUCH, err: %s");
    ioctlOrLog(fd, UI_SET_EVBIT, EV_REL, "***** IOCTL ERR: UI_SET_EVBIT, EV_REL, err: %s");
    ioctlOrLog(fd, UI_SET_EVBIT, EV_ABS, "***** IOCTL ERR: UI_SET_EVBIT, EV_ABS, err: %s");
    ioctlOrLog(fd, UI_SET_ABSBIT, ABS_MT_POSITION_X,
               "***** IOCTL ERR: UI_SET_ABSBIT, ABS_MT_POSITION_X, err: %s");
    ioctlOrLog(fd, UI_SET_ABSBIT, ABS_MT_POSITION_Y,
               "***** IOCTL ERR: UI_SET_ABSBIT, ABS_MT_POSITION_Y, err: %s");
    ioctlOrLog(fd, UI_SET_ABSBIT, ABS_MT_TRACKING_ID,
               "***** IOCTL ERR: UI_SET_ABSBIT, ABS_MT_TRACKING_ID, err: %s");
    ioctlOrLog(fd, UI_SET_PROPBIT, INPUT_PROP_DIRECT,
               "***** IOCTL ERR: UI_SET_PROPBIT, INPUT_PROP_DIRECT, err: %s");

    std::strncpy(uinp.name, "SimuTouchScreen", UINPUT_MAX_NAME_SIZE - 1);
    uinp.id.bustype = BUS_USB;
    uinp.id.vendor = 0;
    uinp.id.product = 0;
    uinp.id.version = 1;
    uinp.absmax[ABS_MT_POSITION_X] = 1920;
    uinp.absmax[ABS_MT_POSITION_Y] = 720;
    uinp.absmax[ABS_MT_TRACKING_ID] = 65535;

    if (::write(fd, &uinp, sizeof(uinp)) != static_cast<ssize_t>(sizeof(uinp)))
        qDebug() << "***** IOCTL ERR: uinp charateristc write ERR, err: %s" << std::strerror(errno);

    if (::ioctl(fd, UI_DEV_CREATE) < 0)
        qDebug() << "***** ERR: Simutouch ioctl FAIL, err: %s" << std::strerror(errno);
    else
        qDebug() << "Create simutouch device OK, fd=" << fd;
}

simutouch::~simutouch()
{
    if (fd >= 0) {
        ::ioctl(fd, UI_DEV_DESTROY);
        ::close(fd);
    }
}

void simutouch::touchemit(int type, int code, int value)
{
    input_event ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.type = static_cast<__u16>(type);
    ev.code = static_cast<__u16>(code);
    ev.value = value;
    if (fd < 0 || ::write(fd, &ev, sizeof(ev)) != static_cast<ssize_t>(sizeof(ev)))
        qDebug() << "Write SimuTouch Data Fail.";
}
