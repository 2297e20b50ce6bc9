// Every page against the media a user may insert: regular files, a FIFO
// where an MD5 file belongs, an MD5 file with one huge line, upper-case
// package names, no medium mounted, and a failing script. For each: the
// note on screen when the reboot is requested, what was written, and the
// reboot itself, which every run ends in.

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "fixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

enum class Page { Backup, Restore, Upgrade };

// Releases a reader stuck on one of the FIFOs after ten seconds, so that a
// page that blocks fails its case instead of hanging the test.
class FifoRelease {
public:
    explicit FifoRelease(QStringList fifos) : mFifos(std::move(fifos))
    {
        mThread = std::thread([this] {
            for (int i = 0; i < 1000 && !mStop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            while (!mStop) {
                for (const QString& f : mFifos) {
                    const int fd = ::open(QFile::encodeName(f).constData(), O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) {
                        mFired = true;
                        ::close(fd);
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~FifoRelease()
    {
        mStop = true;
        mThread.join();
    }
    bool fired() const { return mFired; }

private:
    QStringList mFifos;
    std::atomic<bool> mStop {false};
    std::atomic<bool> mFired {false};
    std::thread mThread;
};

class MediaTest : public MediumTest {
public:
    // The cases' set-up steps use the fixture through a pointer.
    using MediumTest::deviceFolder;
    using MediumTest::medium;
    using MediumTest::root;
    using MediumTest::setMounted;
    using MediumTest::sh;
    using MediumTest::writeFile;
    using MediumTest::writeScript;

protected:
    void SetUp() override
    {
        MediumTest::SetUp();
        writeFile(root() + "/home/krv/data/lut.bin", QByteArray(3000, '\x42'));
        writeFile(root() + "/etc/version.cfg", "V2.0\n");
        writeScripts();
    }

public:
    void writeScripts()
    {
        writeScript("backup_script.sh",
                    "#!/bin/sh\n"
                    "name=\"data-$1-$2-$3\"; dir=\"$4/data-$1\"\n"
                    "tar -cf \"$dir/$name.tar\" -C \"@ROOT@/home/krv\" data || exit 5\n"
                    "(cd \"$dir\" && md5sum \"$name.tar\" > \"$name.md5\") || exit 6\n"
                    "[ -f \"@ROOT@/spoil.sh\" ] && . \"@ROOT@/spoil.sh\"\n"
                    "exit 0\n");
        writeScript(
            "recover_script.sh",
            "#!/bin/sh\n"
            "mkdir -p \"@ROOT@/restored\" && tar -xf \"$4/data-$1/$2\" -C \"@ROOT@/restored\"\n");
        writeScript("upgrade_script.sh", "#!/bin/sh\ntar -xf \"$4/$2\" -C \"@ROOT@\" || exit 9\n");
    }

    // A backup of index `index` in the device folder, with its md5sum file.
    void makeBackup(const QString& index)
    {
        writeFile(root() + "/src" + index + "/content.txt", ("backup " + index + "\n").toUtf8());
        QDir().mkpath(deviceFolder());
        const QString name = "data-SN123-20250101000000-" + index;
        sh("tar -cf '" + deviceFolder() + "/" + name + ".tar' -C '" + root() + "/src" + index +
           "' content.txt");
        sh("cd '" + deviceFolder() + "' && md5sum '" + name + ".tar' > '" + name + ".md5'");
    }

    // A package `name` that installs version.cfg = `installs`, with its md5sum file.
    void makePackage(const QString& name, const QString& installs)
    {
        writeFile(root() + "/pkg/etc/version.cfg", (installs + "\n").toUtf8());
        const QString dir = medium() + "/run/upgrade";
        QDir().mkpath(dir);
        sh("tar -cf '" + dir + "/" + name + "' -C '" + root() + "/pkg' etc");
        sh("cd '" + dir + "' && md5sum '" + name + "' > '" + name + ".md5'");
    }

    void makeFifo(const QString& path)
    {
        QFile::remove(path);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0) << path.toStdString();
    }

    // The digest line followed on the same line by 20 MB of blanks.
    void lengthenFirstLine(const QString& md5File)
    {
        sh("f='" + md5File +
           "'; { tr -d '\\n' < \"$f\"; head -c 20000000 /dev/zero | tr '\\0' ' '; "
           "echo; } > \"$f.x\" && mv \"$f.x\" \"$f\"");
    }
};

struct MediaCase {
    const char* name;
    Page page;
    std::function<void(MediaTest*)> prepare;
    QString note;            // label_note when the reboot is requested
    QStringList written;     // below the root, present afterwards
    QStringList notWritten;  // below the root, absent afterwards
    int scripts;             // medium scripts run
    QStringList fifos;       // below the root, released if a page blocks on them
};

const char kSpoil[] = "/spoil.sh";

TEST_F(MediaTest, EveryPageAgainstEveryMedium)
{
    const QString dev = "/mnt/usb/sda1/run/data/data-SN123";
    const QString upg = "/mnt/usb/sda1/run/upgrade/";
    const MediaCase cases[] = {
        {"backup, regular files", Page::Backup, [](MediaTest*) {}, " 備份成功 ", {dev}, {}, 1, {}},
        {"backup, FIFO as the MD5 file",
         Page::Backup,
         [](MediaTest* t) {
             t->writeFile(t->root() + kSpoil, "rm \"$dir/$name.md5\"; mkfifo \"$dir/$name.md5\"\n");
         },
         "備份失敗 ：備份檔校驗錯誤",
         {dev},
         {},
         1,
         {}},
        {"backup, huge MD5 line",
         Page::Backup,
         [](MediaTest* t) {
             t->writeFile(
                 t->root() + kSpoil,
                 "{ tr -d '\\n' < \"$dir/$name.md5\"; head -c 20000000 /dev/zero | tr '\\0' ' ';"
                 " echo; } > \"$dir/x\" && mv \"$dir/x\" \"$dir/$name.md5\"\n");
         },
         "備份失敗 ：備份檔校驗錯誤",
         {dev},
         {},
         1,
         {}},
        {"backup, no medium mounted",
         Page::Backup,
         [](MediaTest* t) { t->setMounted(false); },
         Utils::noMediumNote(),
         {},
         {dev},
         0,
         {}},
        {"backup, no medium and no mount point",
         Page::Backup,
         [](MediaTest* t) {
             t->setMounted(false);
             QDir(t->root() + "/mnt").removeRecursively();
         },
         Utils::noMediumNote(),
         {},
         {"/mnt/usb/sda1"},
         0,
         {}},
        {"backup, script exits 2",
         Page::Backup,
         [](MediaTest* t) { t->writeFile(t->root() + kSpoil, "exit 2\n"); },
         "備份失敗 ：備份腳本執行錯誤",
         {dev},
         {},
         1,
         {}},
        {"backup, script missing",
         Page::Backup,
         [](MediaTest* t) { QFile::remove(t->medium() + "/run/backup_script.sh"); },
         "備份腳本不存在",
         {dev},
         {},
         0,
         {}},
        {"restore, regular files",
         Page::Restore,
         [](MediaTest* t) { t->makeBackup("1"); },
         "數據還原成功",
         {"/restored/content.txt"},
         {},
         1,
         {}},
        {"restore, FIFO as the newest MD5 file",
         Page::Restore,
         [](MediaTest* t) {
             t->makeBackup("1");
             t->makeBackup("2");
             t->makeFifo(t->deviceFolder() + "/data-SN123-20250101000000-2.md5");
         },
         "數據還原成功",
         {"/restored/content.txt"},
         {},
         1,
         {dev + "/data-SN123-20250101000000-2.md5"}},
        {"restore, huge line in the newest MD5 file",
         Page::Restore,
         [](MediaTest* t) {
             t->makeBackup("1");
             t->makeBackup("2");
             t->lengthenFirstLine(t->deviceFolder() + "/data-SN123-20250101000000-2.md5");
         },
         "數據還原成功",
         {"/restored/content.txt"},
         {},
         1,
         {}},
        {"restore, no medium mounted",
         Page::Restore,
         [](MediaTest* t) {
             t->makeBackup("1");
             t->setMounted(false);
         },
         Utils::noMediumNote(),
         {},
         {"/restored"},
         0,
         {}},
        {"restore, script fails",
         Page::Restore,
         [](MediaTest* t) {
             t->makeBackup("1");
             t->writeScript("recover_script.sh", "#!/bin/sh\nexit 1\n");
         },
         "數據還原失敗",
         {},
         {"/restored"},
         1,
         {}},
        {"upgrade, regular files",
         Page::Upgrade,
         [](MediaTest* t) { t->makePackage("update-V3.0.tar", "V3.0"); },
         "升級成功",
         {},
         {},
         1,
         {}},
        {"upgrade, upper-case name",
         Page::Upgrade,
         [](MediaTest* t) { t->makePackage("UPDATE-V3.0.tar", "V3.0"); },
         "升級成功",
         {},
         {},
         1,
         {}},
        {"upgrade, upper-case suffix",
         Page::Upgrade,
         [](MediaTest* t) { t->makePackage("update-V3.1.TAR", "V3.1"); },
         "升級成功",
         {},
         {},
         1,
         {}},
        {"upgrade, FIFO as the MD5 file",
         Page::Upgrade,
         [](MediaTest* t) {
             t->makePackage("update-V3.0.tar", "V3.0");
             t->makeFifo(t->medium() + "/run/upgrade/update-V3.0.tar.md5");
         },
         "升級包校驗錯誤",
         {},
         {},
         0,
         {upg + "update-V3.0.tar.md5"}},
        {"upgrade, huge MD5 line",
         Page::Upgrade,
         [](MediaTest* t) {
             t->makePackage("update-V3.0.tar", "V3.0");
             t->lengthenFirstLine(t->medium() + "/run/upgrade/update-V3.0.tar.md5");
         },
         "升級包校驗錯誤",
         {},
         {},
         0,
         {}},
        {"upgrade, no medium mounted",
         Page::Upgrade,
         [](MediaTest* t) {
             t->makePackage("update-V3.0.tar", "V3.0");
             t->setMounted(false);
         },
         Utils::noMediumNote(),
         {},
         {},
         0,
         {}},
        {"upgrade, script exits 3",
         Page::Upgrade,
         [](MediaTest* t) {
             t->makePackage("update-V3.0.tar", "V3.0");
             t->writeScript("upgrade_script.sh", "#!/bin/sh\nexit 3\n");
         },
         "升級失敗",
         {},
         {},
         1,
         {}},
    };
    const QString mediumRoot = medium();
    for (const MediaCase& c : cases) {
        // A fresh medium and device for each case.
        QDir(root() + "/mnt").removeRecursively();
        QDir(root() + "/restored").removeRecursively();
        QFile::remove(root() + kSpoil);
        writeFile(root() + "/etc/version.cfg", "V2.0\n");
        QDir().mkpath(mediumRoot + "/run/data");
        setMounted(true);
        writeScripts();
        c.prepare(this);
        runner->calls.clear();
        clearLog();
        QStringList fifos;
        for (const QString& f : c.fifos)
            fifos << root() + f;
        FifoRelease release(fifos);

        std::unique_ptr<QWidget> page;
        const char* button = nullptr;
        switch (c.page) {
        case Page::Backup:
            page = std::make_unique<DataBackupView>();
            button = "pb_backup";
            break;
        case Page::Restore:
            page = std::make_unique<DataRecoverView>();
            button = "pb_recover";
            break;
        case Page::Upgrade:
            page = std::make_unique<DataUpgradeView>();
            button = "pb_upgraded";
            break;
        }
        auto* noteLabel = page->findChild<QLabel*>("label_note");
        QString noteAtReboot;
        runner->onCall = [&](const FixtureRunner::Call& call) {
            if (runner->isReboot(call.program))
                noteAtReboot = noteLabel->text();
        };
        page->findChild<QPushButton*>(button)->click();
        EXPECT_TRUE(waitForReboot(30000)) << c.name;
        runner->onCall = nullptr;
        EXPECT_FALSE(release.fired()) << c.name << ": blocked on a FIFO";
        EXPECT_EQ(noteAtReboot, c.note) << c.name;
        EXPECT_EQ(runner->rebootCalls(), 1) << c.name;
        EXPECT_EQ(runner->scriptCalls().size(), c.scripts) << c.name;
        // The countdown ran before the reboot: 5 to 1, then the reboot step.
        EXPECT_GE(logLinesWith(" rebootCount ").size(), 6) << c.name;
        for (const QString& p : c.written) {
            EXPECT_TRUE(QFileInfo::exists(root() + p)) << c.name << " " << p.toStdString();
        }
        if (c.page == Page::Restore && c.scripts == 1 && !c.written.isEmpty()) {
            EXPECT_EQ(sh("cat '" + root() + "/restored/content.txt'"), "backup 1\n") << c.name;
        }
        for (const QString& p : c.notWritten) {
            EXPECT_FALSE(QFileInfo::exists(root() + p)) << c.name << " " << p.toStdString();
        }
    }
}

}  // namespace
