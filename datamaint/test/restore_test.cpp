// Restore page: the newest backup whose MD5 matches is chosen and really
// restored by the medium's script; corrupt or missing ones are passed over.

#include "datarecoverview.h"
#include "fixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

const char kBusy[] = "還原中，請稍後...";
const char kNoBackup[] = "備份檔不存在";

// Unpacks the named backup into @ROOT@/restored.
const char kRecoverScript[] = "#!/bin/sh\n"
                              "mkdir -p \"@ROOT@/restored\" || exit 7\n"
                              "tar -xf \"$4/data-$1/$2\" -C \"@ROOT@/restored\" || exit 8\n";

class RestoreTest : public MediumTest {
protected:
    // A backup "data-SN123-<stamp>-<index>" holding content.txt = "backup
    // <index> <stamp>", with its md5sum file.
    QString makeBackup(const QString& stamp, const QString& index)
    {
        const QString src = root() + "/src/" + stamp + "-" + index;
        writeFile(src + "/content.txt", ("backup " + index + " " + stamp + "\n").toUtf8());
        QDir().mkpath(deviceFolder());
        const QString name = "data-SN123-" + stamp + "-" + index;
        sh("tar -cf '" + deviceFolder() + "/" + name + ".tar' -C '" + src + "' content.txt");
        sh("cd '" + deviceFolder() + "' && md5sum '" + name + ".tar' > '" + name + ".md5'");
        return name;
    }

    void runRestore(DataRecoverView& page)
    {
        page.findChild<QPushButton*>("pb_recover")->click();
        ASSERT_TRUE(waitForReboot());
    }

    QString restoredContent() const
    {
        QFile f(root() + "/restored/content.txt");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static QString note(DataRecoverView& page)
    {
        return page.findChild<QLabel*>("label_note")->text();
    }
};

TEST_F(RestoreTest, NewestValidBackupIsRestored)
{
    makeBackup("20250103000000", "1");
    makeBackup("20250101000000", "2");
    const QString newest = makeBackup("20240101000000", "3");  // oldest stamp, highest index
    writeScript("recover_script.sh", kRecoverScript);
    DataRecoverView page;
    EXPECT_EQ(page.objectName(), "DataRecoverView");
    EXPECT_EQ(page.findChild<QLabel*>("label_title")->text(), "數據還原");
    EXPECT_EQ(page.findChild<QPushButton*>("pb_recover")->text(), "開始還原");
    runRestore(page);

    ASSERT_EQ(runner->scriptCalls().size(), 1);
    const FixtureRunner::Call call = runner->scriptCalls().first();
    EXPECT_EQ(call.program, medium() + "/run/recover_script.sh");
    EXPECT_EQ(call.arguments,
              (QStringList {"SN123", newest + ".tar", "3", medium() + "/run/data"}));
    EXPECT_EQ(restoredContent(), "backup 3 20240101000000\n");
    EXPECT_EQ(capturedNotes(),
              (QStringList {kBusy, "備份檔名稱 :" + newest + ".tar", "數據還原成功"}));
    EXPECT_EQ(page.findChild<QLabel*>("label_renote")->text(), "等待設備重啟，請拔出U盤");
    EXPECT_EQ(runner->rebootCalls(), 1);
}

struct Spoil {
    const char* name;
    QString command;  // run in the device folder; $N is the newest backup's name
    int rejected;     // "Error  calMd5 " lines: candidates listed and refused
};

TEST_F(RestoreTest, CorruptNewestFallsBackToTheOneBefore)
{
    const Spoil spoils[] = {
        {"other digest", "echo 00000000000000000000000000000000 > \"$N.md5\"", 1},
        {"data changed", "echo more >> \"$N.tar\"", 1},
        {"md5 missing", "rm \"$N.md5\"", 1},
        {"upper-case digest", "tr a-f A-F < \"$N.md5\" > u && mv u \"$N.md5\"", 1},
        {"empty md5", ": > \"$N.md5\"", 1},
        // A folder in place of the data file is no candidate at all.
        {"data is a folder, empty md5", ": > \"$N.md5\"; rm \"$N.tar\"; mkdir \"$N.tar\"", 0},
    };
    for (const Spoil& s : spoils) {
        QDir(deviceFolder()).removeRecursively();
        QDir(root() + "/restored").removeRecursively();
        makeBackup("20250101000000", "1");
        const QString second = makeBackup("20250102000000", "2");
        const QString third = makeBackup("20250103000000", "3");
        sh("cd '" + deviceFolder() + "' && N='" + third + "' && " + s.command);
        writeScript("recover_script.sh", kRecoverScript);
        runner->calls.clear();
        clearLog();
        {
            DataRecoverView page;
            runRestore(page);
            EXPECT_EQ(note(page), "數據還原成功") << s.name;
        }
        ASSERT_EQ(runner->scriptCalls().size(), 1) << s.name;
        EXPECT_EQ(runner->scriptCalls().first().arguments[1], second + ".tar") << s.name;
        EXPECT_EQ(runner->scriptCalls().first().arguments[2], "2") << s.name;
        EXPECT_EQ(restoredContent(), "backup 2 20250102000000\n") << s.name;
        EXPECT_EQ(logLinesWith("Error  calMd5 ").size(), s.rejected) << s.name;
    }
}

TEST_F(RestoreTest, EqualIndicesTakeTheFirstByName)
{
    makeBackup("20250105000000", "2");
    const QString first = makeBackup("20250104000000", "2");
    writeScript("recover_script.sh", kRecoverScript);
    DataRecoverView page;
    runRestore(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().arguments[1], first + ".tar");
}

TEST_F(RestoreTest, DottedSerialNumberIsRestored)
{
    qputenv("snum", "SN.7");
    QDir().mkpath(deviceFolder());
    const QString src = root() + "/src/dotted";
    writeFile(src + "/content.txt", "dotted\n");
    const QString name = "data-SN.7-20250101000000-4";
    sh("tar -cf '" + deviceFolder() + "/" + name + ".tar' -C '" + src + "' content.txt");
    sh("cd '" + deviceFolder() + "' && md5sum '" + name + ".tar' > '" + name + ".md5'");
    writeScript("recover_script.sh", kRecoverScript);
    DataRecoverView page;
    runRestore(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().arguments,
              (QStringList {"SN.7", name + ".tar", "4", medium() + "/run/data"}));
    EXPECT_EQ(restoredContent(), "dotted\n");
}

TEST_F(RestoreTest, NoValidBackupRunsNoScript)
{
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"no device folder", [] {}},
        {"empty device folder", [this] { QDir().mkpath(deviceFolder()); }},
        {"only index 0", [this] { makeBackup("20250101000000", "0"); }},
        {"index not a number", [this] { makeBackup("20250101000000", "x"); }},
        {"stray name without an MD5 file",
         [this] { writeFile(deviceFolder() + "/data-SN123-20250101000000-5.old.tar", "x"); }},
        {"only a corrupt backup",
         [this] {
             const QString n = makeBackup("20250101000000", "3");
             sh("cd '" + deviceFolder() + "' && echo more >> '" + n + ".tar'");
         }},
        {"separator in the serial number",
         [this] {
             makeBackup("20250101000000", "1");
             qputenv("snum", "SN123/../SN123");
         }},
    };
    for (const Case& c : cases) {
        QDir(medium() + "/run/data").removeRecursively();
        QDir().mkpath(medium() + "/run/data");
        qputenv("snum", "SN123");
        c.prepare();
        writeScript("recover_script.sh", kRecoverScript);
        runner->calls.clear();
        clearLog();
        {
            DataRecoverView page;
            runRestore(page);
            EXPECT_EQ(note(page), kNoBackup) << c.name;
        }
        EXPECT_TRUE(runner->scriptCalls().isEmpty()) << c.name;
        EXPECT_EQ(capturedNotes().first(), kBusy) << c.name;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
    }
}

TEST_F(RestoreTest, FailingScriptShowsTheFailureNote)
{
    struct Case {
        const char* name;
        QString script;  // empty: none on the medium
        bool executable;
        bool failWait;
    };
    const Case cases[] = {
        {"exits 1", "#!/bin/sh\nexit 1\n", true, false},
        {"missing", QString(), true, false},
        {"not executable", kRecoverScript, false, false},
        {"cannot start", "#!/nonexistent/interpreter\n", true, false},
        {"wait fails", kRecoverScript, true, true},
    };
    for (const Case& c : cases) {
        QDir(medium() + "/run").removeRecursively();
        makeBackup("20250101000000", "1");
        prepareScriptCase("recover_script.sh", c.script, c.executable, c.failWait);
        {
            DataRecoverView page;
            runRestore(page);
            EXPECT_EQ(note(page), "數據還原失敗") << c.name;
        }
        EXPECT_EQ(capturedNotes().size(), 3) << c.name;  // busy, name, failure
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
    }
    runner->failWait = false;
}

TEST_F(RestoreTest, AutomaticStartWithControlTypeTwoOnTheSdCard)
{
    Utils::setSDevType(1);
    Utils::setSDevControlType(2);
    qputenv("snum", "SN9");
    const QString sd = root() + "/mnt/sdcard/mmcblk1p1";
    const QString folder = sd + "/run/data/data-SN9";
    writeFile(root() + "/src/sd/content.txt", "sd\n");
    QDir().mkpath(folder);
    sh("tar -cf '" + folder + "/data-SN9-20250101000000-1.tar' -C '" + root() +
       "/src/sd' content.txt");
    sh("cd '" + folder +
       "' && md5sum data-SN9-20250101000000-1.tar > data-SN9-20250101000000-1.md5");
    writeFile(sd + "/run/recover_script.sh", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(sd + "/run/recover_script.sh",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    DataRecoverView page;
    EXPECT_FALSE(page.findChild<QPushButton*>("pb_recover")->isVisibleTo(&page));
    ASSERT_TRUE(waitForReboot());
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().program, sd + "/run/recover_script.sh");
    EXPECT_EQ(runner->scriptCalls().first().arguments.last(), sd + "/run/data");
    EXPECT_EQ(note(page), "數據還原成功");
}

}  // namespace
