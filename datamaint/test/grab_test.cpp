// Renders the main window and every page to PNG and checks that each text
// fits its widget and every widget lies inside the 1920 x 720 window.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "fixture.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"

#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {

class GrabTest : public MediumTest {
protected:
    static QString grabDir()
    {
        const QString dir = QStringLiteral(DATAMAINT_GRAB_DIR);
        QDir().mkpath(dir);
        return dir;
    }

    // Every visible label and button of `window` shows its whole text inside
    // the window.
    static void expectLaidOut(QWidget& window, const std::string& what)
    {
        const QRect bounds = window.rect();
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (!w->isVisibleTo(&window))
                continue;
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w))
                text = label->text();
            else if (auto* button = qobject_cast<QPushButton*>(w))
                text = button->text();
            else
                continue;
            const QRect g(w->mapTo(&window, QPoint(0, 0)), w->size());
            const std::string name =
                what + "/" + w->objectName().toStdString() + " \"" + text.toStdString() + "\"";
            EXPECT_TRUE(bounds.contains(g)) << name;
            if (text.isEmpty())
                continue;
            const QSize hint = w->sizeHint();
            EXPECT_LE(hint.width(), g.width()) << name;
            EXPECT_LE(hint.height(), g.height()) << name;
        }
    }

    // Saves the grab and checks that text was drawn: light pixels on black.
    static void saveGrab(QWidget& window, const QString& name)
    {
        const QImage image = window.grab().toImage();
        ASSERT_EQ(image.size(), QSize(1920, 720)) << name.toStdString();
        EXPECT_TRUE(image.save(grabDir() + "/" + name + ".png")) << name.toStdString();
        int light = 0;
        for (int y = 40; y < 121; ++y)
            for (int x = 0; x < 1920; ++x)
                light += qGray(image.pixel(x, y)) > 128;
        EXPECT_GT(light, 200) << name.toStdString() << ": no title drawn";
    }
};

TEST_F(GrabTest, ChineseFontIsAvailable)
{
    EXPECT_FALSE(QFontDatabase().families(QFontDatabase::TraditionalChinese).isEmpty());
}

TEST_F(GrabTest, MainWindowAndPagesFitTheWindow)
{
    const QStringList backupNotes = {"數據備份中，請稍後...",
                                     "備份數據檢查中......",
                                     " 備份成功 ",
                                     "備份失敗 ：備份檔不存在",
                                     "備份失敗 ：備份檔MD5不不存在",
                                     "備份失敗 ：備份檔校驗錯誤",
                                     "創建備份檔夾失敗",
                                     "備份腳本不存在",
                                     "備份腳本不可運行",
                                     "備份腳本運行失敗",
                                     "備份失敗 ：備份腳本執行錯誤",
                                     "未檢測到存儲設備"};
    const QStringList restoreNotes = {"還原中，請稍後...",
                                      "備份檔名稱 :data-SN0123456789-20250516114930-123.tar",
                                      "備份檔不存在", "數據還原成功", "數據還原失敗"};
    const QStringList upgradeNotes = {"升級包檢測中，請稍後...",
                                      "升級包名稱 :update-V10.20.30.tar",
                                      "升级中...",
                                      "已經是最新版本: V10.20.30",
                                      "升級成功",
                                      "升級失敗,軟體版本未更新",
                                      "升級失敗",
                                      "升級包不存在",
                                      "升級包校驗錯誤",
                                      "升級腳本不存在",
                                      "升級腳本不可運行",
                                      "升級腳本運行失敗"};
    const QStringList renotes = {"5秒後自動重啟", "等待設備重啟，請拔出U盤",
                                 "請拔出升級工具設備...", "等待設備重啟",
                                 "等待設備重啟，請拔出升級工具設備"};

    MainWindow w;
    w.show();
    EXPECT_EQ(w.size(), QSize(1920, 720));
    expectLaidOut(w, "menu");
    saveGrab(w, "mainwindow");

    auto checkPage = [&](const char* button, const char* pageName, const QStringList& notes) {
        w.findChild<QPushButton*>(button, Qt::FindChildrenRecursively)->click();
        QWidget* page = w.findChild<QWidget*>(pageName, Qt::FindDirectChildrenOnly);
        ASSERT_NE(page, nullptr);
        page->raise();
        expectLaidOut(w, pageName);
        saveGrab(w, pageName);
        auto* note = page->findChild<QLabel*>("label_note");
        auto* renote = page->findChild<QLabel*>("label_renote");
        renote->show();
        for (int i = 0; i < qMax(notes.size(), renotes.size()); ++i) {
            note->setText(notes[i % notes.size()]);
            renote->setText(renotes[i % renotes.size()]);
            expectLaidOut(w, pageName);
        }
        note->setText(notes.last());
        renote->setText(renotes.last());
        saveGrab(w, QString::fromLatin1(pageName) + "-notes");
        page->hide();
    };
    checkPage("pb_backup", "DataBackupView", backupNotes);
    checkPage("pb_restoration", "DataRecoverView", restoreNotes);
    checkPage("pb_upgrade", "DataUpgradeView", upgradeNotes);

    NewDataUpgradeView second(&w);
    second.show();
    expectLaidOut(w, "NewDataUpgradeView");
    saveGrab(w, "NewDataUpgradeView");
}

}  // namespace
