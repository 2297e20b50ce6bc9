// The reboot countdown of every page, stepped by hand: 5 to 1 seconds, then
// the page's last prompt and one `reboot`, recorded and never run.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "fixture.h"

#include <QDir>
#include <QLabel>

namespace {

template<typename Page>
class CountdownTest : public MediumTest {
};

template<typename Page>
const char* finalPrompt();
template<>
const char* finalPrompt<DataBackupView>()
{
    return "等待設備重啟，請拔出U盤";
}
template<>
const char* finalPrompt<DataRecoverView>()
{
    return "等待設備重啟，請拔出U盤";
}
template<>
const char* finalPrompt<DataUpgradeView>()
{
    return "等待設備重啟，請拔出升級工具設備";
}

using Pages = ::testing::Types<DataBackupView, DataRecoverView, DataUpgradeView>;
TYPED_TEST_SUITE(CountdownTest, Pages);

TYPED_TEST(CountdownTest, FiveToOneThenReboot)
{
    // Real delays: the timers each step schedules never fire while the steps
    // below run without the event loop, and die with the page.
    Utils::setDelayDivisor(1);
    TypeParam page;
    QLabel* renote = page.template findChild<QLabel*>("label_renote");
    for (int n = 5; n >= 1; --n) {
        page.handleRebootCount();
        EXPECT_TRUE(renote->isVisibleTo(&page));
        EXPECT_EQ(renote->text(), QString::number(n) + "秒後自動重啟");
        EXPECT_EQ(this->runner->rebootCalls(), 0);
    }
    page.handleRebootCount();
    EXPECT_EQ(renote->text(), finalPrompt<TypeParam>());
    ASSERT_EQ(this->runner->calls.size(), 1);
    EXPECT_EQ(this->runner->calls.first().program, this->root() + "/sbin/reboot");
    EXPECT_TRUE(this->runner->calls.first().arguments.isEmpty());
}

}  // namespace
