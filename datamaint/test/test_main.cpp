// Test entry point: a QApplication on the offscreen platform, the captured
// debug stream, and a command runner that refuses everything by default.

#include "fixture.h"
#include "utils.h"

#include <QApplication>
#include <gtest/gtest.h>

// Qt's offscreen platform keeps its screen objects until process exit.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:libfontconfig.so\n";
}
// Full stacks on allocation, so that the suppressions above see the plugin.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    installLogCapture();
    // Nothing but the fixtures' runners may start a command, and they never
    // start `reboot`.
    FixtureRunner refuseAll(QString {});
    Utils::setCommandRunner(&refuseAll);
    const int status = RUN_ALL_TESTS();
    Utils::setCommandRunner(nullptr);
    return status;
}
