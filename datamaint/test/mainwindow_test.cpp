// Main window: the menu, opening the pages by button, and the automatic
// start of each task by the control type without any input.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "fixture.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"

#include <QLabel>
#include <QPushButton>

namespace {

class MainWindowTest : public MediumTest {};

const char* const kMenuItems[] = {"label_title", "pb_backup", "pb_restoration", "pb_upgrade"};

QWidget* menuItem(MainWindow& w, const char* name)
{
    return w.centralWidget()->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

TEST_F(MainWindowTest, ManualMenu)
{
    MainWindow w;
    w.show();
    EXPECT_EQ(w.objectName(), "MainWindow");
    EXPECT_EQ(w.windowTitle(), "MainWindow");
    EXPECT_EQ(w.size(), QSize(1920, 720));
    for (const char* name : kMenuItems)
        EXPECT_TRUE(menuItem(w, name)->isVisible()) << name;
    EXPECT_EQ(static_cast<QLabel*>(menuItem(w, "label_title"))->text(), "工程維護工具");
    EXPECT_EQ(static_cast<QPushButton*>(menuItem(w, "pb_backup"))->text(), "數據備份");
    EXPECT_EQ(static_cast<QPushButton*>(menuItem(w, "pb_restoration"))->text(), "數據還原");
    EXPECT_EQ(static_cast<QPushButton*>(menuItem(w, "pb_upgrade"))->text(), "軟體升級");
    EXPECT_EQ(static_cast<QLabel*>(menuItem(w, "label_ver"))->text(), Utils::getVerStr());
    EXPECT_EQ(w.backupView(), nullptr);
    EXPECT_EQ(w.recoverView(), nullptr);
    EXPECT_EQ(w.upgradeView(), nullptr);
    spin(100);
    EXPECT_TRUE(runner->calls.isEmpty());
    for (const char* name : {"pb_backup", "pb_restoration", "pb_upgrade"}) {
        auto* b = static_cast<QPushButton*>(menuItem(w, name));
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(b->minimumSize(), QSize(178, 50));
        EXPECT_EQ(b->font().pointSize(), 18);
    }
}

TEST_F(MainWindowTest, ButtonsOpenTheirPages)
{
    const struct {
        const char* button;
        const char* page;
        const char* pageButton;
    } cases[] = {{"pb_backup", "DataBackupView", "pb_backup"},
                 {"pb_restoration", "DataRecoverView", "pb_recover"},
                 {"pb_upgrade", "DataUpgradeView", "pb_upgraded"}};
    for (const auto& c : cases) {
        MainWindow w;
        w.show();
        static_cast<QPushButton*>(menuItem(w, c.button))->click();
        QWidget* page = w.findChild<QWidget*>(c.page, Qt::FindDirectChildrenOnly);
        ASSERT_NE(page, nullptr) << c.page;
        EXPECT_TRUE(page->isVisible()) << c.page;
        EXPECT_EQ(page->geometry(), QRect(0, 0, 1920, 720)) << c.page;
        for (const char* name : kMenuItems)
            EXPECT_FALSE(menuItem(w, name)->isVisible()) << name;
        EXPECT_TRUE(menuItem(w, "label_ver")->isVisible());
        EXPECT_TRUE(menuItem(w, "label")->isVisible());
        // A manual page waits for its own button.
        EXPECT_TRUE(page->findChild<QPushButton*>(c.pageButton)->isVisible()) << c.page;
        spin(60);
        EXPECT_TRUE(runner->calls.isEmpty()) << c.page;
    }
}

TEST_F(MainWindowTest, EachControlValueStartsItsTaskWithoutInput)
{
    const struct {
        int control;
        const char* page;
        const char* pageButton;
        const char* script;
    } cases[] = {{1, "DataBackupView", "pb_backup", "backup_script.sh"},
                 {2, "DataRecoverView", "pb_recover", "recover_script.sh"},
                 {3, "DataUpgradeView", "pb_upgraded", "upgrade_script.sh"}};
    // Something for the restore and upgrade pages to pick.
    writeFile(deviceFolder() + "/data-SN123-20250101000000-1.tar", "backup");
    sh("cd '" + deviceFolder() +
       "' && md5sum data-SN123-20250101000000-1.tar > data-SN123-20250101000000-1.md5");
    writeFile(medium() + "/run/upgrade/update-V9.tar", "package");
    sh("cd '" + medium() + "/run/upgrade' && md5sum update-V9.tar > update-V9.tar.md5");
    for (const char* s : {"backup_script.sh", "recover_script.sh", "upgrade_script.sh"})
        writeScript(s, "#!/bin/sh\nexit 0\n");

    for (const auto& c : cases) {
        Utils::setSDevControlType(c.control);
        runner->calls.clear();
        MainWindow w;
        // The page is open before the window is first shown.
        QWidget* page = w.findChild<QWidget*>(c.page, Qt::FindDirectChildrenOnly);
        ASSERT_NE(page, nullptr) << c.page;
        EXPECT_FALSE(page->findChild<QPushButton*>(c.pageButton)->isVisibleTo(page)) << c.page;
        for (const char* name : kMenuItems)
            EXPECT_FALSE(menuItem(w, name)->isVisibleTo(&w)) << name;
        w.show();
        ASSERT_TRUE(waitForReboot()) << c.page;
        ASSERT_EQ(runner->scriptCalls().size(), 1) << c.page;
        EXPECT_EQ(runner->scriptCalls().first().program, medium() + "/run/" + c.script) << c.page;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.page;
    }
}

TEST_F(MainWindowTest, SecondUpgradePageOnlyHidesItsButton)
{
    Utils::setSDevType(1);
    NewDataUpgradeView page;
    EXPECT_EQ(page.objectName(), "NewDataUpgradeView");
    EXPECT_EQ(page.windowTitle(), "Form");
    EXPECT_EQ(page.size(), QSize(1920, 720));
    EXPECT_EQ(page.findChild<QLabel*>("label_title")->text(), "數據備份");
    auto* button = page.findChild<QPushButton*>("pb_update");
    EXPECT_EQ(button->text(), "開始備份");
    EXPECT_EQ(logLinesWith(root() + "/mnt/sdcard/mmcblk1p1").size(), 1);
    page.show();
    button->click();
    EXPECT_FALSE(button->isVisible());
    EXPECT_EQ(page.findChild<QLabel*>("label_note")->text(), QString());
    EXPECT_EQ(page.findChild<QLabel*>("label_renote")->text(), QString());
    spin(50);
    EXPECT_TRUE(runner->calls.isEmpty());
}

}  // namespace
