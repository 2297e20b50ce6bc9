// The virtual touch screen writes its description and events into the
// uinput device; here a plain file stands in for it.

#include "pvmtestenv.h"
#include "simutouch.h"

#include <cstring>

class SimuTouchTest : public PvmSandboxTest {};

TEST_F(SimuTouchTest, DescriptionAndEventsReachTheDevice)
{
    writeFile("/dev/uinput", "");
    simutouch touch;
    ASSERT_TRUE(touch.isOpen());
    const QByteArray written = readFile("/dev/uinput");
    ASSERT_EQ(written.size(), 1116);
    uinput_user_dev dev;
    std::memcpy(&dev, written.constData(), sizeof(dev));
    EXPECT_STREQ(dev.name, "SimuTouchScreen");
    EXPECT_EQ(dev.id.bustype, BUS_USB);
    EXPECT_EQ(dev.id.version, 1);
    EXPECT_EQ(dev.absmax[ABS_MT_POSITION_X], 1920);
    EXPECT_EQ(dev.absmax[ABS_MT_POSITION_Y], 720);
    EXPECT_EQ(dev.absmax[ABS_MT_TRACKING_ID], 65535);
    EXPECT_EQ(dev.absmin[ABS_MT_POSITION_X], 0);
    EXPECT_EQ(dev.ff_effects_max, 0u);

    touch.touchemit(EV_ABS, ABS_MT_POSITION_X, 960);
    touch.touchemit(EV_SYN, SYN_REPORT, 0);
    const QByteArray all = readFile("/dev/uinput");
    ASSERT_EQ(all.size(), 1116 + 2 * 24);
    input_event ev;
    std::memcpy(&ev, all.constData() + 1116, sizeof(ev));
    EXPECT_EQ(ev.type, EV_ABS);
    EXPECT_EQ(ev.code, ABS_MT_POSITION_X);
    EXPECT_EQ(ev.value, 960);
    EXPECT_EQ(ev.time.tv_sec, 0);
    std::memcpy(&ev, all.constData() + 1116 + 24, sizeof(ev));
    EXPECT_EQ(ev.type, EV_SYN);
}

TEST_F(SimuTouchTest, NoDeviceIsLoggedNotFatal)
{
    simutouch touch;
    EXPECT_FALSE(touch.isOpen());
    touch.touchemit(EV_KEY, BTN_TOUCH, 1);
    EXPECT_FALSE(QFile::exists(rootFile("/dev/uinput")));
}
