// Displayed texts, byte for byte: the expected values are written as UTF-8
// escapes, so they do not depend on how the compiler or the translation
// functions decode the sources.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "fixture.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"
#include "pageform.h"

#include <QLabel>
#include <QPushButton>
#include <functional>
#include <memory>

namespace {

// 工程維護工具
const char kToolTitle[] =
    "\xe5\xb7\xa5\xe7\xa8\x8b\xe7\xb6\xad\xe8\xad\xb7\xe5\xb7\xa5\xe5\x85\xb7";
// 數據備份
const char kBackup[] = "\xe6\x95\xb8\xe6\x93\x9a\xe5\x82\x99\xe4\xbb\xbd";
// 數據還原
const char kRestore[] = "\xe6\x95\xb8\xe6\x93\x9a\xe9\x82\x84\xe5\x8e\x9f";
// 軟體升級
const char kUpgrade[] = "\xe8\xbb\x9f\xe9\xab\x94\xe5\x8d\x87\xe7\xb4\x9a";
// 開始備份
const char kStartBackup[] = "\xe9\x96\x8b\xe5\xa7\x8b\xe5\x82\x99\xe4\xbb\xbd";
// 開始還原
const char kStartRestore[] = "\xe9\x96\x8b\xe5\xa7\x8b\xe9\x82\x84\xe5\x8e\x9f";
// 開始升級
const char kStartUpgrade[] = "\xe9\x96\x8b\xe5\xa7\x8b\xe5\x8d\x87\xe7\xb4\x9a";
// 秒後自動重啟
const char kCountdown[] =
    "\xe7\xa7\x92\xe5\xbe\x8c\xe8\x87\xaa\xe5\x8b\x95\xe9\x87\x8d\xe5\x95\x9f";
// 等待設備重啟，請拔出U盤
const char kRebootNote[] = "\xe7\xad\x89\xe5\xbe\x85\xe8\xa8\xad\xe5\x82\x99\xe9\x87\x8d\xe5\x95"
                           "\x9f\xef\xbc\x8c\xe8\xab\x8b\xe6\x8b\x94\xe5\x87\xba"
                           "U"
                           "\xe7\x9b\xa4";
// 未檢測到存儲設備
const char kNoMedium[] = "\xe6\x9c\xaa\xe6\xaa\xa2\xe6\xb8\xac\xe5\x88\xb0\xe5\xad\x98\xe5\x84\xb2"
                         "\xe8\xa8\xad\xe5\x82\x99";
// 數據備份中，請稍後...
const char kBackupBusy[] = "\xe6\x95\xb8\xe6\x93\x9a\xe5\x82\x99\xe4\xbb\xbd\xe4\xb8\xad\xef\xbc"
                           "\x8c\xe8\xab\x8b\xe7\xa8\x8d\xe5\xbe\x8c...";
// 還原中，請稍後...
const char kRestoreBusy[] = "\xe9\x82\x84\xe5\x8e\x9f\xe4\xb8\xad\xef\xbc\x8c\xe8\xab\x8b\xe7\xa8"
                            "\x8d\xe5\xbe\x8c...";
// 升級包檢測中，請稍後...
const char kUpgradeBusy[] = "\xe5\x8d\x87\xe7\xb4\x9a\xe5\x8c\x85\xe6\xaa\xa2\xe6\xb8\xac\xe4\xb8"
                            "\xad\xef\xbc\x8c\xe8\xab\x8b\xe7\xa8\x8d\xe5\xbe\x8c...";

class TextsTest : public MediumTest {};

QByteArray labelBytes(const QWidget& root, const char* name)
{
    if (auto* label = root.findChild<QLabel*>(name))
        return label->text().toUtf8();
    if (auto* button = root.findChild<QPushButton*>(name))
        return button->text().toUtf8();
    return QByteArray("<no widget>");
}

TEST_F(TextsTest, FormsShowTheirTextsUnchanged)
{
    MainWindow window;
    DataBackupView backup;
    DataRecoverView restore;
    DataUpgradeView upgrade;
    NewDataUpgradeView second;
    const struct {
        const QWidget* root;
        const char* widget;  // null: the window title
        const char* bytes;
    } cases[] = {
        {&window, nullptr, "MainWindow"},
        {&window, "label_title", kToolTitle},
        {&window, "pb_backup", kBackup},
        {&window, "pb_restoration", kRestore},
        {&window, "pb_upgrade", kUpgrade},
        {&backup, nullptr, "Form"},
        {&backup, "label_title", kBackup},
        {&backup, "pb_backup", kStartBackup},
        {&restore, nullptr, "Form"},
        {&restore, "label_title", kRestore},
        {&restore, "pb_recover", kStartRestore},
        {&upgrade, nullptr, "Form"},
        {&upgrade, "label_title", kUpgrade},
        {&upgrade, "pb_upgraded", kStartUpgrade},
        {&second, nullptr, "Form"},
        {&second, "label_title", kBackup},
        {&second, "pb_update", kStartBackup},
    };
    for (const auto& c : cases) {
        const QByteArray shown =
            c.widget ? labelBytes(*c.root, c.widget) : c.root->windowTitle().toUtf8();
        EXPECT_EQ(shown.toHex(), QByteArray(c.bytes).toHex())
            << c.root->objectName().toStdString() << " " << (c.widget ? c.widget : "title");
    }
    EXPECT_TRUE(labelBytes(window, "label_ver").startsWith("Ver: "));
}

TEST_F(TextsTest, BusyNotesUnchanged)
{
    const struct {
        const char* name;
        std::function<QWidget*()> make;
        const char* button;
        const char* bytes;
    } cases[] = {
        {"backup", [] { return new DataBackupView; }, "pb_backup", kBackupBusy},
        {"restore", [] { return new DataRecoverView; }, "pb_recover", kRestoreBusy},
        {"upgrade", [] { return new DataUpgradeView; }, "pb_upgraded", kUpgradeBusy},
    };
    for (const auto& c : cases) {
        std::unique_ptr<QWidget> page(c.make());
        page->show();
        page->findChild<QPushButton*>(c.button)->click();
        EXPECT_EQ(labelBytes(*page, "label_note").toHex(), QByteArray(c.bytes).toHex()) << c.name;
    }
}

TEST_F(TextsTest, CountdownRebootAndMediumNotesUnchanged)
{
    QLabel label;
    label.resize(1920, 81);
    int count = 5;
    ASSERT_TRUE(PageForm::countdownTick(&label, &count));
    EXPECT_EQ(label.text().toUtf8().toHex(), (QByteArray("5") + kCountdown).toHex());
    PageForm::rebootWithNote(&label);
    EXPECT_EQ(label.text().toUtf8().toHex(), QByteArray(kRebootNote).toHex());
    EXPECT_EQ(runner->rebootCalls(), 1);
    EXPECT_EQ(Utils::noMediumNote().toUtf8().toHex(), QByteArray(kNoMedium).toHex());
}

}  // namespace
