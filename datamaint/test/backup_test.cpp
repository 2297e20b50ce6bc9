// Backup page: running index, file names, script arguments, MD5 check of
// what the script wrote, every note, and the countdown that ends in a
// recorded reboot.

#include "databackupview.h"
#include "fixture.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

const char kBusy[] = "數據備份中，請稍後...";
const char kChecking[] = "備份數據檢查中......";

// Writes a real tar of the fixture's data folder and its md5sum file under
// the name the page asked for. $EXTRA runs last, to spoil the result.
QString backupScript(const QString& extra = QString())
{
    return QStringLiteral("#!/bin/sh\n"
                          "name=\"data-$1-$2-$3\"\n"
                          "dir=\"$4/data-$1\"\n"
                          "[ -d \"$dir\" ] || exit 4\n"
                          "tar -cf \"$dir/$name.tar\" -C \"@ROOT@/home/krv\" 1_morvelin || exit 5\n"
                          "(cd \"$dir\" && md5sum \"$name.tar\" > \"$name.md5\") || exit 6\n") +
           extra + "\n";
}

class BackupTest : public MediumTest {
protected:
    void SetUp() override
    {
        MediumTest::SetUp();
        writeFile(root() + "/home/krv/1_morvelin/globalimage_base.txt", "1 2 3\n");
        writeFile(root() + "/home/krv/1_morvelin/lut_config.krv", QByteArray(4096, '\x5a'));
    }

    // Clicks the page's button and runs the task until the reboot.
    void runBackup(DataBackupView& page)
    {
        page.findChild<QPushButton*>("pb_backup")->click();
        ASSERT_TRUE(waitForReboot());
    }

    QString note(DataBackupView& page) { return page.findChild<QLabel*>("label_note")->text(); }
    QString renote(DataBackupView& page) { return page.findChild<QLabel*>("label_renote")->text(); }
};

TEST_F(BackupTest, FirstBackupCreatesTheFolderAndVerifies)
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    DataBackupView page;
    EXPECT_EQ(page.objectName(), "DataBackupView");
    EXPECT_EQ(page.findChild<QLabel*>("label_title")->text(), "數據備份");
    EXPECT_EQ(page.findChild<QPushButton*>("pb_backup")->text(), "開始備份");
    writeScript("backup_script.sh", backupScript());
    runBackup(page);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    ASSERT_EQ(runner->scriptCalls().size(), 1);
    const FixtureRunner::Call call = runner->scriptCalls().first();
    EXPECT_EQ(call.program, medium() + "/run/backup_script.sh");
    ASSERT_EQ(call.arguments.size(), 4);
    EXPECT_EQ(call.arguments[0], "SN123");
    const QString stamp = call.arguments[1];
    ASSERT_TRUE(QRegularExpression("^\\d{14}$").match(stamp).hasMatch()) << stamp.toStdString();
    const QDateTime when = QDateTime::fromString(stamp, "yyyyMMddhhmmss");
    EXPECT_TRUE(when >= before && when <= after) << stamp.toStdString();
    EXPECT_EQ(call.arguments[2], "1");
    EXPECT_EQ(call.arguments[3], medium() + "/run/data");

    const QString tar = deviceFolder() + "/data-SN123-" + stamp + "-1.tar";
    ASSERT_TRUE(QFile::exists(tar));
    EXPECT_EQ(capturedNotes(), (QStringList {kBusy, kChecking, " 備份成功 "}));
    EXPECT_EQ(note(page), " 備份成功 ");
    // The tar really holds the data.
    EXPECT_TRUE(sh("tar -tf '" + tar + "'").contains("1_morvelin/lut_config.krv"));
}

TEST_F(BackupTest, RunningIndex)
{
    struct Case {
        const char* name;
        QStringList existing;  // files in the device folder before the backup
        bool makeFolder;
        int expected;
    };
    const Case cases[] = {
        {"new folder", {}, false, 1},
        {"empty folder", {}, true, 1},
        {"gap: 1 and 3",
         {"data-SN123-20250101000000-1.tar", "data-SN123-20250102000000-3.tar"},
         true,
         4},
        {"unreadable index", {"data-S1-x-abc.tar"}, true, 2},
        {"only index 0 or less", {"data-SN123-x-0.tar", "data-SN123-x-.tar"}, true, 2},
        {"pattern ignores case", {"DATA-SN123-x-7.TAR"}, true, 8},
        {"md5 files and others do not count",
         {"data-SN123-x-9.md5", "other-SN123-x-9.tar", "data-SN123-x-9.tar.bak"},
         true,
         1},
        {"serial number with a dot", {"data-SN.5-20250101000000-6.tar"}, true, 7},
    };
    for (const Case& c : cases) {
        QDir(deviceFolder()).removeRecursively();
        if (c.makeFolder)
            QDir().mkpath(deviceFolder());
        for (const QString& f : c.existing)
            writeFile(deviceFolder() + "/" + f, "x");
        runner->calls.clear();
        writeScript("backup_script.sh", backupScript());
        {
            DataBackupView page;
            runBackup(page);
        }
        ASSERT_EQ(runner->scriptCalls().size(), 1) << c.name;
        EXPECT_EQ(runner->scriptCalls().first().arguments[2], QString::number(c.expected))
            << c.name;
        EXPECT_TRUE(QFileInfo(deviceFolder()).isDir()) << c.name;
    }
}

TEST_F(BackupTest, FindBackIndexOnAMissingFolderIsOne)
{
    DataBackupView page;
    EXPECT_EQ(page.findBackIndex(root() + "/nowhere"), 1);
}

TEST_F(BackupTest, UnsetSerialNumber)
{
    qunsetenv("snum");
    writeScript("backup_script.sh", backupScript());
    DataBackupView page;
    runBackup(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    const QStringList args = runner->scriptCalls().first().arguments;
    EXPECT_EQ(args[0], QString());
    EXPECT_TRUE(QFile::exists(medium() + "/run/data/data-/data--" + args[1] + "-1.tar"));
    EXPECT_EQ(note(page), " 備份成功 ");
}

TEST_F(BackupTest, SerialNumberWithASeparatorRunsNoScript)
{
    qputenv("snum", "../../escape");
    writeScript("backup_script.sh", backupScript());
    DataBackupView page;
    runBackup(page);
    EXPECT_TRUE(runner->scriptCalls().isEmpty());
    EXPECT_EQ(note(page), "創建備份檔夾失敗");
    EXPECT_FALSE(QDir(medium() + "/run/escape").exists());
    EXPECT_FALSE(QDir(medium() + "/escape").exists());
}

TEST_F(BackupTest, FolderThatCannotBeCreated)
{
    // A plain file where the common backup folder should be.
    QDir(medium() + "/run/data").removeRecursively();
    writeFile(medium() + "/run/data", "file");
    writeScript("backup_script.sh", backupScript());
    DataBackupView page;
    runBackup(page);
    EXPECT_TRUE(runner->scriptCalls().isEmpty());
    EXPECT_EQ(capturedNotes(), (QStringList {kBusy, "創建備份檔夾失敗"}));
}

struct OutcomeCase {
    const char* name;
    QString script;  // empty: no script on the medium
    bool executable;
    bool failWait;
    QString finalNote;
    bool checked;  // whether the check step ran (a failed script stops before it)
};

// Every outcome shows its note, keeps it through the countdown and then
// reboots once; a failed script is never checked.
TEST_F(BackupTest, EveryOutcomeShowsItsNoteThroughTheCountdownThenReboots)
{
    const OutcomeCase cases[] = {
        {"success", backupScript(), true, false, " 備份成功 ", true},
        {"script missing", QString(), true, false, "備份腳本不存在", false},
        {"script not executable", backupScript(), false, false, "備份腳本不可運行", false},
        {"script cannot start", "#!/nonexistent/interpreter\nexit 0\n", true, false,
         "備份腳本運行失敗", false},
        {"wait fails", backupScript(), true, true, "備份失敗 ：備份腳本執行錯誤", false},
        {"script exits 2", backupScript("exit 2"), true, false, "備份失敗 ：備份腳本執行錯誤",
         false},
        {"script killed", backupScript("kill -9 $$"), true, false, "備份失敗 ：備份腳本執行錯誤",
         false},
        {"data file under another name", backupScript("mv \"$dir/$name.tar\" \"$dir/$name-x.tar\""),
         true, false, "備份失敗 ：備份檔不存在", true},
        {"no md5 file", backupScript("rm \"$dir/$name.md5\""), true, false,
         "備份失敗 ：備份檔MD5不不存在", true},
        {"upper-case digest",
         backupScript(
             "tr a-f A-F < \"$dir/$name.md5\" > \"$dir/u\" && mv \"$dir/u\" \"$dir/$name.md5\""),
         true, false, "備份失敗 ：備份檔校驗錯誤", true},
        {"digest of other data", backupScript("echo extra >> \"$dir/$name.tar\""), true, false,
         "備份失敗 ：備份檔校驗錯誤", true},
        {"empty md5 file", backupScript(": > \"$dir/$name.md5\""), true, false,
         "備份失敗 ：備份檔校驗錯誤", true},
        // An unreadable data file and an MD5 file without a digest give two
        // empty digests; that is no match.
        {"unreadable data and empty md5",
         backupScript(": > \"$dir/$name.md5\"; rm \"$dir/$name.tar\"; mkdir \"$dir/$name.tar\""),
         true, false, "備份失敗 ：備份檔校驗錯誤", true},
    };
    for (const OutcomeCase& c : cases) {
        QDir(medium() + "/run").removeRecursively();
        QDir().mkpath(medium() + "/run/data");
        prepareScriptCase("backup_script.sh", c.script, c.executable, c.failWait);
        {
            DataBackupView page;
            QString noteAtReboot;
            runner->onCall = [&](const FixtureRunner::Call& call) {
                if (runner->isReboot(call.program))
                    noteAtReboot = note(page);
            };
            runBackup(page);
            runner->onCall = nullptr;
            EXPECT_EQ(noteAtReboot, c.finalNote) << c.name;
            EXPECT_EQ(note(page), c.finalNote) << c.name;
            EXPECT_EQ(renote(page), "等待設備重啟，請拔出U盤") << c.name;
            EXPECT_FALSE(page.findChild<QPushButton*>("pb_backup")->isVisibleTo(&page)) << c.name;
        }
        const QStringList notes = capturedNotes();
        ASSERT_FALSE(notes.isEmpty()) << c.name;
        EXPECT_EQ(notes.first(), kBusy) << c.name;
        EXPECT_EQ(notes.last(), c.finalNote) << c.name;
        EXPECT_EQ(notes.contains(kChecking), c.checked) << c.name;
        EXPECT_EQ(logLinesWith("slot_toCheckTimeOut").size(), c.checked ? 1 : 0) << c.name;
        // Countdown 5..1 after the note, then the reboot: exactly one.
        EXPECT_EQ(logLinesWith(" rebootCount ").size(), 6) << c.name;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
    }
    runner->failWait = false;
}

TEST_F(BackupTest, EmptyMediumGetsTheBackupFolders)
{
    QDir(medium() + "/run/data").removeRecursively();
    writeScript("backup_script.sh", backupScript());
    DataBackupView page;
    runBackup(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().arguments[2], "1");
    EXPECT_TRUE(QFileInfo(deviceFolder()).isDir());
    EXPECT_EQ(note(page), " 備份成功 ");
}

TEST_F(BackupTest, AutomaticStartWithControlTypeOne)
{
    Utils::setDelayDivisor(10);
    Utils::setSDevControlType(1);
    writeScript("backup_script.sh", backupScript());
    QElapsedTimer clock;
    clock.start();
    qint64 startedAt = -1;
    runner->onCall = [&](const FixtureRunner::Call& call) {
        if (!runner->isReboot(call.program) && startedAt < 0)
            startedAt = clock.elapsed();
    };
    DataBackupView page;
    EXPECT_FALSE(page.findChild<QPushButton*>("pb_backup")->isVisibleTo(&page));
    ASSERT_TRUE(waitForReboot());
    // 2000 ms then 100 ms before the script, scaled by ten.
    EXPECT_GE(startedAt, 210);
    EXPECT_EQ(note(page), " 備份成功 ");
}

}  // namespace
