// Medium and control types, paths under the root prefix, MD5 of files and of
// MD5 files, the installed version, the version string, the command line.

#include "commandline.h"
#include "fixture.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTime>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs `read` on a thread and waits at most five seconds for it. A reader
// stuck on the FIFO `fifo` is then released by opening it for writing, so
// that a regression fails instead of hanging the test.
template<typename F>
bool finishesWithoutBlocking(const QString& fifo, F read)
{
    std::atomic<bool> done {false};
    std::thread t([&] {
        read();
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool finished = done;
    while (!done) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    t.join();
    return finished;
}

class UtilsTest : public MediumTest {};

TEST_F(UtilsTest, TypesAcceptOnlyTheirRange)
{
    struct Case {
        int value;
        int device;   // medium type after setSDevType(value) from 0
        int control;  // control type after setSDevControlType(value) from 0
    };
    const Case cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2},  {3, 0, 3},
                          {4, 0, 0}, {7, 0, 0}, {-1, 0, 0}, {-2147483647 - 1, 0, 0}};
    for (const Case& c : cases) {
        Utils::setSDevType(0);
        Utils::setSDevControlType(0);
        Utils::setSDevType(c.value);
        Utils::setSDevControlType(c.value);
        EXPECT_EQ(Utils::getSDevType(), c.device) << c.value;
        EXPECT_EQ(Utils::getSDevControlType(), c.control) << c.value;
    }
}

TEST_F(UtilsTest, DevicePathFollowsTheMediumTypeUnderTheRoot)
{
    const struct {
        int type;
        const char* path;
    } cases[] = {{0, "/mnt/usb/sda1"}, {1, "/mnt/sdcard/mmcblk1p1"}, {2, "/mnt/usb/sda1"}};
    for (const auto& c : cases) {
        Utils::setSDevType(c.type);
        EXPECT_EQ(Utils::getDevicePath(), root() + c.path);
        Utils::setRootPrefix("/");
        EXPECT_EQ(Utils::getDevicePath(), QString::fromLatin1(c.path));
        Utils::setRootPrefix(root());
    }
    // An out-of-range value leaves the USB path.
    Utils::setSDevType(0);
    Utils::setSDevType(7);
    EXPECT_EQ(Utils::getDevicePath(), root() + "/mnt/usb/sda1");
}

TEST_F(UtilsTest, UpgradeDirPresence)
{
    EXPECT_FALSE(Utils::checkUpgradeDirExists());
    writeFile(medium() + "/run/upgrade", "not a folder");
    EXPECT_FALSE(Utils::checkUpgradeDirExists());
    QFile::remove(medium() + "/run/upgrade");
    QDir().mkpath(medium() + "/run/upgrade");
    EXPECT_TRUE(Utils::checkUpgradeDirExists());
}

TEST_F(UtilsTest, FileMd5AgreesWithMd5sum)
{
    const QString dir = root() + "/files";
    writeFile(dir + "/empty", QByteArray());
    writeFile(dir + "/short", "V2.1\n");
    QByteArray big;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        big.append(static_cast<char>((i * 131) >> 3));
    writeFile(dir + "/big", big);
    sh("tar -cf '" + dir + "/pack.tar' -C '" + dir + "' short big");
    for (const char* name : {"empty", "short", "big", "pack.tar"}) {
        const QString path = dir + "/" + name;
        const QString digest = Utils::calculateFileMD5(path);
        EXPECT_EQ(digest, md5sum(path)) << name;
        EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(digest).hasMatch()) << name;
    }
    EXPECT_EQ(Utils::calculateFileMD5(dir + "/empty"), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(UtilsTest, FileMd5OfUnreadableFileIsEmpty)
{
    EXPECT_EQ(Utils::calculateFileMD5(root() + "/missing"), QString());
    EXPECT_EQ(logLinesWith("Failed to open file:").size(), 1);
    QDir().mkpath(root() + "/folder");
    EXPECT_EQ(Utils::calculateFileMD5(root() + "/folder"), QString());
}

TEST_F(UtilsTest, DigestFromMd5File)
{
    const QString d = "0123456789abcdef0123456789abcdef";
    struct Case {
        const char* name;
        QByteArray content;
        QString expected;
    };
    const Case cases[] = {
        {"md5sum form", (d + "  data-S-1.tar\n").toUtf8(), d},
        {"digest alone, no line end", d.toUtf8(), d},
        {"digest after text", ("sum=" + d + " x\n").toUtf8(), d},
        {"crlf", (d + "  f\r\n").toUtf8(), d},
        {"upper case", (d.toUpper() + "  f\n").toUtf8(), QString()},
        {"longer run gives its first 32", (d + "99aa\n").toUtf8(), d},
        {"only the first line counts", ("none here\n" + d + "\n").toUtf8(), QString()},
        {"too short", "0123456789abcdef\n", QString()},
        {"empty file", QByteArray(), QString()},
        {"empty first line", ("\n" + d).toUtf8(), QString()},
        {"line at the bound", (d + QString(Utils::kMaxMd5LineBytes - 32, ' ') + "\n").toUtf8(), d},
        {"line at the bound, no line end",
         (d + QString(Utils::kMaxMd5LineBytes - 32, ' ')).toUtf8(), d},
        {"line one byte over", (d + QString(Utils::kMaxMd5LineBytes - 31, ' ') + "\n").toUtf8(),
         QString()},
        {"huge line", (d + QString(8 << 20, 'x') + "\n").toUtf8(), QString()},
    };
    for (const Case& c : cases) {
        const QString path = root() + "/sums/" + c.name;
        writeFile(path, c.content);
        EXPECT_EQ(Utils::extractMD5FromFile(path), c.expected) << c.name;
    }
    EXPECT_EQ(Utils::extractMD5FromFile(root() + "/sums/missing"), QString());
    EXPECT_FALSE(logLinesWith("MD5 file is empty:").isEmpty());
    EXPECT_FALSE(logLinesWith("No valid MD5 found in line:").isEmpty());
    EXPECT_FALSE(logLinesWith("Failed to open MD5 file:").isEmpty());
}

TEST_F(UtilsTest, FifoIsNeverOpened)
{
    const QString fifo = root() + "/sums/pipe.md5";
    QDir().mkpath(root() + "/sums");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QString digest = "x", md5 = "x";
    EXPECT_TRUE(finishesWithoutBlocking(fifo, [&] { digest = Utils::extractMD5FromFile(fifo); }));
    EXPECT_TRUE(finishesWithoutBlocking(fifo, [&] { md5 = Utils::calculateFileMD5(fifo); }));
    EXPECT_EQ(digest, QString());
    EXPECT_EQ(md5, QString());
    // A symbolic link to it is no better.
    const QString link = root() + "/sums/link.md5";
    ASSERT_TRUE(QFile::link(fifo, link));
    EXPECT_TRUE(finishesWithoutBlocking(fifo, [&] { digest = Utils::extractMD5FromFile(link); }));
    EXPECT_EQ(digest, QString());
    // The installed version likewise.
    QFile::remove(root() + "/etc/version.cfg");
    QDir().mkpath(root() + "/etc");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root() + "/etc/version.cfg").constData(), 0644), 0);
    QString version = "x";
    EXPECT_TRUE(finishesWithoutBlocking(root() + "/etc/version.cfg",
                                        [&] { version = Utils::ReadVersionFromFile(); }));
    EXPECT_EQ(version, QString());
}

TEST_F(UtilsTest, MountedMediumRule)
{
    struct Case {
        const char* name;
        QByteArray mounts;  // the root's /proc/mounts; null: no file
        bool folder;        // the mount point exists as a folder
        int devType;
        bool mounted;
    };
    const Case cases[] = {
        {"usb listed", "/dev/sda1 /mnt/usb/sda1 vfat rw 0 0\n", true, 0, true},
        {"usb listed, type 2", "/dev/sda1 /mnt/usb/sda1 vfat rw 0 0\n", true, 2, true},
        {"sd card listed", "/dev/mmcblk1p1 /mnt/sdcard/mmcblk1p1 vfat rw 0 0\n", true, 1, true},
        {"only the other medium listed", "/dev/sda1 /mnt/usb/sda1 vfat rw 0 0\n", true, 1, false},
        {"nothing listed", "proc /proc proc rw 0 0\n", true, 0, false},
        {"no mount table", QByteArray(), true, 0, false},
        {"listed but no folder", "/dev/sda1 /mnt/usb/sda1 vfat rw 0 0\n", false, 0, false},
        {"a parent listed, not the point", "/dev/sda1 /mnt/usb vfat rw 0 0\n", true, 0, false},
        {"device field is not the point", "/mnt/usb/sda1 /other vfat rw 0 0\n", true, 0, false},
    };
    for (const Case& c : cases) {
        QDir(root() + "/mnt").removeRecursively();
        QFile::remove(root() + "/proc/mounts");
        Utils::setSDevType(c.devType);
        if (c.folder)
            QDir().mkpath(Utils::getDevicePath());
        if (!c.mounts.isNull())
            writeFile(root() + "/proc/mounts", c.mounts);
        EXPECT_EQ(Utils::isMediumMounted(), c.mounted) << c.name;
    }
}

TEST_F(UtilsTest, RebootProgramStaysInsideTheRoot)
{
    EXPECT_EQ(Utils::rebootProgram(), root() + "/sbin/reboot");
    Utils::setRootPrefix(root() + "///");
    EXPECT_EQ(Utils::rebootProgram(), root() + "/sbin/reboot");
    Utils::setRootPrefix("/");
    EXPECT_EQ(Utils::rebootProgram(), "reboot");
    Utils::setRootPrefix(root());
}

TEST_F(UtilsTest, EmptyDigestNeverMatches)
{
    const QString d = "0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(Utils::md5Matches(d, d));
    EXPECT_FALSE(Utils::md5Matches(d, d.toUpper()));
    EXPECT_FALSE(Utils::md5Matches(QString(), QString()));
    EXPECT_FALSE(Utils::md5Matches(QString(), d));
    EXPECT_FALSE(Utils::md5Matches(d, QString()));
}

TEST_F(UtilsTest, InstalledVersionFromTheVersionFileUnderTheRoot)
{
    const struct {
        const char* name;
        QByteArray content;
        QString expected;
    } cases[] = {
        {"with line feed", "V2.1\n", "V2.1"},
        {"without line feed", "V2.1", "V2.1"},
        {"only the first line", "V2.1\nV9.9\n", "V2.1"},
        {"carriage return stays", "V2.1\r\n", "V2.1\r"},
        {"cut at a NUL", QByteArray("V2\0.1\n", 6), "V2"},
        {"UTF-8", "V2.1-測試\n", QString::fromUtf8("V2.1-測試")},
        {"empty file", QByteArray(), QString()},
    };
    const QString path = root() + "/etc/version.cfg";
    for (const auto& c : cases) {
        writeFile(path, c.content);
        EXPECT_EQ(Utils::ReadVersionFromFile(), c.expected) << c.name;
    }
    QFile::remove(path);
    EXPECT_EQ(Utils::ReadVersionFromFile(), QString());
}

TEST_F(UtilsTest, VersionStringCarriesTheBuildDateAndTime)
{
    const QString v = Utils::getVerStr();
    const QRegularExpressionMatch m =
        QRegularExpression("^Ver: ([A-Z][a-z]{2} [ 0-9]\\d \\d{4})_(\\d{2}:\\d{2}:\\d{2})$")
            .match(v);
    ASSERT_TRUE(m.hasMatch()) << v.toStdString();
    EXPECT_EQ(m.captured(1), QStringLiteral(__DATE__));
    EXPECT_TRUE(QTime::fromString(m.captured(2), "hh:mm:ss").isValid());
}

TEST_F(UtilsTest, WithoutARunnerNothingStarts)
{
    Utils::setCommandRunner(nullptr);
    const CommandResult r = Utils::runCommand("reboot", {});
    EXPECT_FALSE(r.started);
    Utils::setCommandRunner(runner);
}

TEST_F(UtilsTest, SerialNumberWithASeparatorIsUnsafe)
{
    EXPECT_TRUE(Utils::isSafeSerialNumber(""));
    EXPECT_TRUE(Utils::isSafeSerialNumber("SN.1-2"));
    EXPECT_FALSE(Utils::isSafeSerialNumber("../x"));
    EXPECT_FALSE(Utils::isSafeSerialNumber("a/b"));
}

struct CommandLineCase {
    QStringList args;
    int status;
    int device;
    int control;
    const char* message;  // error line expected, or null
    const char* root = "";
};

TEST_F(UtilsTest, CommandLine)
{
    const CommandLineCase cases[] = {
        {{"datamaint"}, 0, 0, 0, nullptr},
        {{"datamaint", "-d", "1", "-c", "2"}, 0, 1, 2, nullptr},
        {{"datamaint", "--device", "2", "--control", "3"}, 0, 2, 3, nullptr},
        {{"datamaint", "--device=1"}, 0, 1, 0, nullptr},
        {{"datamaint", "-c", "1"}, 0, 0, 1, nullptr},
        {{"datamaint", "--root", "/tmp/box", "-c", "1"}, 0, 0, 1, nullptr, "/tmp/box"},
        {{"datamaint", "-r", "/srv/x", "-d", "1"}, 0, 1, 0, nullptr, "/srv/x"},
        {{"datamaint", "-d", "7", "-c", "-1"}, 0, 7, -1, nullptr},
        {{"datamaint", "-d", "x"}, 1, 0, 0, "Error: The first argument is not a valid integer"},
        {{"datamaint", "-d", "x", "-c", "y"},
         1,
         0,
         0,
         "Error: The first argument is not a valid integer"},
        {{"datamaint", "-c", "2.5"}, 1, 0, 0, "Error: The second argument is not a valid integer"},
        {{"datamaint", "--device", ""},
         1,
         0,
         0,
         "Error: The first argument is not a valid integer"},
    };
    for (const CommandLineCase& c : cases) {
        clearLog();
        CommandLineValues values;
        values.device = -99;
        values.control = -99;
        const int status = parseCommandLine(c.args, &values);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(status, c.status) << what;
        if (c.status == 0) {
            EXPECT_EQ(values.device, c.device) << what;
            EXPECT_EQ(values.control, c.control) << what;
            EXPECT_EQ(values.root, QString::fromUtf8(c.root)) << what;
        } else {
            EXPECT_EQ(logLinesWith(c.message).size(), 1) << what;
        }
    }
}

}  // namespace
