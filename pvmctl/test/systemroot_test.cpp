// Paths under the root prefix, and the sandbox the tests run in.

#include "pvmtestenv.h"
#include "systemroot.h"

TEST(SystemRoot, JoinsUnderThePrefix)
{
    struct Case {
        const char* root;
        const char* abs;
        const char* expect;
    } cases[] = {
        {"/", "/dev/watchdog", "/dev/watchdog"},
        {"", "/etc/set_q508gmsl_0.sh", "/etc/set_q508gmsl_0.sh"},
        {"/tmp/fake", "/dev/watchdog", "/tmp/fake/dev/watchdog"},
        {"/tmp/fake/", "/sys/class/gpio/gpio269/value", "/tmp/fake/sys/class/gpio/gpio269/value"},
        {"/tmp/fake//", "/dev/uinput", "/tmp/fake/dev/uinput"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rootedPath(QString::fromLatin1(c.root), QString::fromLatin1(c.abs)), QString::fromLatin1(c.expect));
}

TEST(SystemRoot, TestsNeverSeeTheRealRootOrRunner)
{
    // Installed before any test, outside any fixture.
    EXPECT_NE(systemRoot(), QStringLiteral("/"));
    EXPECT_FALSE(rootedPath(QStringLiteral("/dev/watchdog")).startsWith(QLatin1String("/dev/")));
    ASSERT_TRUE(commandRunner());
    EXPECT_NE(dynamic_cast<RecordingRunner*>(commandRunner().get()), nullptr);
}
