// Upgrade page: package choice, MD5 check of the whole package before
// anything runs, version comparison with /etc/version.cfg under the root,
// the script's result judged by the new version, every note.

#include "dataupgradeview.h"
#include "fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

namespace {

const char kChecking[] = "升級包檢測中，請稍後...";
const char kUpgrading[] = "升级中...";

// Unpacks the package over the root, which installs its etc/version.cfg.
const char kUpgradeScript[] = "#!/bin/sh\n"
                              "tar -xf \"$4/$2\" -C \"@ROOT@\" || exit 9\n";

class UpgradeTest : public MediumTest {
protected:
    void SetUp() override
    {
        MediumTest::SetUp();
        writeFile(root() + "/etc/version.cfg", "V2.0\n");
    }

    QString upgradeDir() const { return medium() + "/run/upgrade"; }

    // A package "update-<version>.tar" that installs version.cfg = `installs`,
    // with its md5sum file "<package>.md5".
    QString makePackage(const QString& version, const QString& installs, bool withMd5 = true)
    {
        const QString src = root() + "/pkg/" + version;
        writeFile(src + "/etc/version.cfg", (installs + "\n").toUtf8());
        writeFile(src + "/home/app/payload.bin", QByteArray(10000, '\x11'));
        QDir().mkpath(upgradeDir());
        const QString name = "update-" + version + ".tar";
        sh("tar -cf '" + upgradeDir() + "/" + name + "' -C '" + src + "' etc home");
        if (withMd5)
            sh("cd '" + upgradeDir() + "' && md5sum '" + name + "' > '" + name + ".md5'");
        return name;
    }

    void runUpgrade(DataUpgradeView& page)
    {
        page.findChild<QPushButton*>("pb_upgraded")->click();
        ASSERT_TRUE(waitForReboot());
    }

    QString installedVersion() const { return sh("cat '" + root() + "/etc/version.cfg'"); }

    static QString note(DataUpgradeView& page)
    {
        return page.findChild<QLabel*>("label_note")->text();
    }
    static QString renote(DataUpgradeView& page)
    {
        return page.findChild<QLabel*>("label_renote")->text();
    }
};

TEST_F(UpgradeTest, PackageIsVerifiedInstalledAndCheckedByVersion)
{
    const QString pkg = makePackage("V2.1", "V2.1");
    writeScript("upgrade_script.sh", kUpgradeScript);
    DataUpgradeView page;
    EXPECT_EQ(page.objectName(), "DataUpgradeView");
    EXPECT_EQ(page.windowTitle(), "Form");
    EXPECT_EQ(page.findChild<QLabel*>("label_title")->text(), "軟體升級");
    EXPECT_EQ(page.findChild<QPushButton*>("pb_upgraded")->text(), "開始升級");
    runUpgrade(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    const FixtureRunner::Call call = runner->scriptCalls().first();
    EXPECT_EQ(call.program, medium() + "/run/upgrade_script.sh");
    EXPECT_EQ(call.arguments, (QStringList {"SN123", pkg, "0", upgradeDir()}));
    EXPECT_EQ(installedVersion(), "V2.1\n");
    EXPECT_EQ(capturedNotes(),
              (QStringList {kChecking, "升級包名稱 :" + pkg, kUpgrading, "升級成功"}));
    EXPECT_EQ(renote(page), "等待設備重啟，請拔出升級工具設備");
    EXPECT_EQ(runner->rebootCalls(), 1);
}

TEST_F(UpgradeTest, LastPackageByNameIsChosen)
{
    makePackage("V1.10", "V1.10");
    const QString chosen = makePackage("V1.9", "V1.9");  // sorts after V1.10 as text
    writeScript("upgrade_script.sh", kUpgradeScript);
    DataUpgradeView page;
    runUpgrade(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().arguments[1], chosen);
    EXPECT_EQ(note(page), "升級成功");
}

TEST_F(UpgradeTest, RejectedPackageRunsNothing)
{
    struct Case {
        const char* name;
        std::function<void()> prepare;
        QString finalNote;
    };
    const Case cases[] = {
        {"no upgrade folder", [] {}, "升級包不存在"},
        {"no package in the folder",
         [this] {
             QDir().mkpath(upgradeDir());
             writeFile(upgradeDir() + "/readme.txt", "x");
         },
         kChecking},
        {"md5 missing; the older valid package is not tried",
         [this] {
             makePackage("V2.1", "V2.1");
             makePackage("V2.2", "V2.2", false);
         },
         "升級包校驗錯誤"},
        {"package changed after its md5",
         [this] {
             const QString p = makePackage("V2.2", "V2.2");
             sh("echo tail >> '" + upgradeDir() + "/" + p + "'");
         },
         "升級包校驗錯誤"},
        {"md5 of another package",
         [this] {
             const QString p = makePackage("V2.2", "V2.2");
             sh("cd '" + upgradeDir() + "' && echo 00000000000000000000000000000000 > '" + p +
                ".md5'");
         },
         "升級包校驗錯誤"},
        {"upper-case digest",
         [this] {
             const QString p = makePackage("V2.2", "V2.2");
             sh("cd '" + upgradeDir() + "' && tr a-f A-F < '" + p + ".md5' > u && mv u '" + p +
                ".md5'");
         },
         "升級包校驗錯誤"},
        {"empty md5 file",
         [this] {
             const QString p = makePackage("V2.2", "V2.2");
             writeFile(upgradeDir() + "/" + p + ".md5", QByteArray());
         },
         "升級包校驗錯誤"},
    };
    for (const Case& c : cases) {
        QDir(upgradeDir()).removeRecursively();
        c.prepare();
        writeScript("upgrade_script.sh", kUpgradeScript);
        runner->calls.clear();
        clearLog();
        {
            DataUpgradeView page;
            runUpgrade(page);
            EXPECT_EQ(note(page), c.finalNote) << c.name;
            EXPECT_EQ(renote(page), "等待設備重啟，請拔出升級工具設備") << c.name;
        }
        EXPECT_TRUE(runner->scriptCalls().isEmpty()) << c.name;
        EXPECT_EQ(installedVersion(), "V2.0\n") << c.name;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
    }
}

TEST_F(UpgradeTest, ScriptOutcomes)
{
    struct Case {
        const char* name;
        QString script;  // empty: none on the medium
        bool executable;
        bool failWait;
        QString finalNote;
    };
    const Case cases[] = {
        {"exit 0 without changing the version", "#!/bin/sh\nexit 0\n", true, false,
         "升級失敗,軟體版本未更新"},
        {"exit 3", "#!/bin/sh\nexit 3\n", true, false, "升級失敗"},
        {"installs then exits 1", QString(kUpgradeScript) + "exit 1\n", true, false, "升級失敗"},
        {"wait fails", kUpgradeScript, true, true, "升級失敗"},
        {"missing", QString(), true, false, "升級腳本不存在"},
        {"not executable", kUpgradeScript, false, false, "升級腳本不可運行"},
        {"cannot start", "#!/nonexistent/interpreter\n", true, false, "升級腳本運行失敗"},
    };
    for (const Case& c : cases) {
        writeFile(root() + "/etc/version.cfg", "V2.0\n");
        QDir(medium() + "/run").removeRecursively();
        const QString pkg = makePackage("V2.1", "V2.1");
        prepareScriptCase("upgrade_script.sh", c.script, c.executable, c.failWait);
        {
            DataUpgradeView page;
            runUpgrade(page);
            EXPECT_EQ(note(page), c.finalNote) << c.name;
            EXPECT_EQ(renote(page), "等待設備重啟，請拔出升級工具設備") << c.name;
        }
        const QStringList notes = capturedNotes();
        ASSERT_EQ(notes.size(), 4) << c.name;
        EXPECT_EQ(notes[2], kUpgrading) << c.name;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
    }
    runner->failWait = false;
}

TEST_F(UpgradeTest, SameVersionInstallsNothingAndWaitsForTheMedium)
{
    writeFile(root() + "/etc/version.cfg", "V2.1\n");
    makePackage("V2.1", "V2.1");
    writeScript("upgrade_script.sh", kUpgradeScript);
    DataUpgradeView page;
    page.findChild<QPushButton*>("pb_upgraded")->click();
    // After the countdown the page polls once a step while the upgrade folder
    // is there, and does not reboot.
    QElapsedTimer clock;
    clock.start();
    while (logLinesWith("remove upgrade device first").size() < 3 && clock.elapsed() < 5000)
        spin(2);
    EXPECT_GE(logLinesWith("remove upgrade device first").size(), 3);
    EXPECT_EQ(runner->rebootCalls(), 0);
    EXPECT_TRUE(runner->scriptCalls().isEmpty());
    EXPECT_EQ(note(page), "已經是最新版本: V2.1");
    EXPECT_EQ(renote(page), "請拔出升級工具設備...");
    QDir(upgradeDir()).removeRecursively();
    ASSERT_TRUE(waitForReboot());
    EXPECT_EQ(renote(page), "等待設備重啟");
    EXPECT_EQ(runner->rebootCalls(), 1);
}

TEST_F(UpgradeTest, VersionFileWithCarriageReturnDiffers)
{
    writeFile(root() + "/etc/version.cfg", "V2.1\r\n");
    makePackage("V2.1", "V2.1");
    writeScript("upgrade_script.sh", "#!/bin/sh\nexit 0\n");
    DataUpgradeView page;
    runUpgrade(page);
    EXPECT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(note(page), "升級失敗,軟體版本未更新");
}

TEST_F(UpgradeTest, MissingVersionFileRunsTheScript)
{
    QFile::remove(root() + "/etc/version.cfg");
    const QString pkg = makePackage("V3.0", "V3.0");
    writeScript("upgrade_script.sh", kUpgradeScript);
    qunsetenv("snum");
    DataUpgradeView page;
    runUpgrade(page);
    ASSERT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(runner->scriptCalls().first().arguments, (QStringList {"", pkg, "0", upgradeDir()}));
    EXPECT_EQ(note(page), "升級成功");
}

TEST_F(UpgradeTest, ExtractVersion)
{
    const struct {
        const char* name;
        const char* version;
    } cases[] = {{"update-V2.1.tar", "V2.1"},
                 {"update-V1.10.tar", "V1.10"},
                 {"update-V.tar", "V"},
                 {"update-.tar", ""},
                 {"update-V2.tar.tar", "V2.tar"},
                 // The listing ignores case, and so does the version rule.
                 {"UPDATE-V2.1.TAR", "V2.1"},
                 {"update-V3.0.TAR", "V3.0"},
                 {"other.tar", ""},
                 {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(DataUpgradeView::extractVersion(c.name), QString::fromLatin1(c.version))
            << c.name;
}

TEST_F(UpgradeTest, AutomaticStartWithControlTypeThree)
{
    Utils::setDelayDivisor(10);
    Utils::setSDevControlType(3);
    makePackage("V2.1", "V2.1");
    writeScript("upgrade_script.sh", kUpgradeScript);
    DataUpgradeView page;
    EXPECT_FALSE(page.findChild<QPushButton*>("pb_upgraded")->isVisibleTo(&page));
    ASSERT_TRUE(waitForReboot());
    EXPECT_EQ(runner->scriptCalls().size(), 1);
    EXPECT_EQ(note(page), "升級成功");
}

}  // namespace

namespace {

// A package name too long for the screen keeps both ends: the prefix and
// the version's start on the left, ".tar" on the right.
TEST_F(UpgradeTest, LongPackageNameIsElidedInTheMiddle)
{
    const QString name = "update-V" + QString(166, '7') + ".tar";
    ASSERT_EQ(name.size(), 178);
    const QString text = "升級包名稱 :" + name;
    DataUpgradeView page;
    auto* label = page.findChild<QLabel*>("label_note");
    page.updateLabelNote(text);
    const QString shown = label->text();
    EXPECT_NE(shown, text);
    EXPECT_TRUE(shown.startsWith("升級包名稱 :update-V7")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("7.tar")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(shown), label->contentsRect().width());
    // The debug stream keeps the whole name.
    EXPECT_EQ(capturedNotes().last(), text);
    // Short notes are left as they are.
    page.updateLabelNote("升級成功");
    EXPECT_EQ(label->text(), "升級成功");
}

}  // namespace
