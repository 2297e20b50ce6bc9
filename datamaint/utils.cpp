#include "utils.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <cstdio>

int Utils::sDevType = 0;
int Utils::sDevControlType = 0;

namespace {

QString gRootPrefix = QStringLiteral("/");
CommandRunner* gRunner = nullptr;
int gDelayDivisor = 1;

const char kVersionFile[] = "/etc/version.cfg";

}  // namespace

Utils::Utils(QObject* parent) : QObject(parent) {}

Utils::~Utils() = default;

int Utils::getSDevType() { return sDevType; }

void Utils::setSDevType(int type) {
  if (static_cast<unsigned>(type) <= 2u) {
    sDevType = type;
    qDebug().noquote() << "===" << "setSDevType" << type;
  }
}

int Utils::getSDevControlType() { return sDevControlType; }

void Utils::setSDevControlType(int type) {
  if (static_cast<unsigned>(type) <= 3u) {
    sDevControlType = type;
    qDebug().noquote() << "===" << "setSDevControlType" << type;
  }
}

QString Utils::getDevicePath() {
  return systemPath(sDevType == 1 ? QStringLiteral("/mnt/sdcard/mmcblk1p1")
                                  : QStringLiteral("/mnt/usb/sda1"));
}

bool Utils::checkUpgradeDirExists() {
  return QFileInfo(getDevicePath() + "/run/upgrade").isDir();
}

QString Utils::getVerStr() {
  return QStringLiteral("Ver: ") + QStringLiteral(__DATE__) + "_" + QStringLiteral(__TIME__);
}

QString Utils::calculateFileMD5(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    qDebug().noquote() << "Failed to open file:" << path;
    return QString();
  }
  QCryptographicHash hash(QCryptographicHash::Md5);
  if (!hash.addData(&file) || file.error() != QFileDevice::NoError) {
    file.close();
    qDebug().noquote() << "Failed to calculate MD5:" << path;
    return QString();
  }
  file.close();
  return QString::fromLatin1(hash.result().toHex());
}

QString Utils::ReadVersionFromFile() {
  const QString path = systemPath(QString::fromLatin1(kVersionFile));
  const QByteArray native = QFile::encodeName(path);
  std::FILE* f = std::fopen(native.constData(), "rb");
  if (!f) {
    std::printf("Open failed:%s\n", native.constData());
    std::fflush(stdout);
    return QString();
  }
  QByteArray line;
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') break;
    line.append(static_cast<char>(c));
  }
  const bool readNothing = line.isEmpty() && c == EOF;
  std::fclose(f);
  if (readNothing) {
    std::printf("Read failed:%s\n", native.constData());
    std::fflush(stdout);
    return QString();
  }
  const int nul = line.indexOf('\0');
  if (nul >= 0) line.truncate(nul);
  return QString::fromUtf8(line);
}

QString Utils::extractMD5FromFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    qDebug().noquote() << "Failed to open MD5 file:" << path;
    return QString();
  }
  QString line = QString::fromUtf8(file.readLine());
  file.close();
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  if (line.isEmpty()) {
    qDebug().noquote() << "MD5 file is empty:" << path;
    return QString();
  }
  static const QRegularExpression digest(QStringLiteral("([0-9a-f]{32})"));
  const QRegularExpressionMatch m = digest.match(line);
  if (!m.hasMatch()) {
    qDebug().noquote() << "No valid MD5 found in line:" << line;
    return QString();
  }
  return m.captured(1);
}

bool Utils::md5Matches(const QString& calculated, const QString& stored) {
  return !calculated.isEmpty() && calculated == stored;
}

void Utils::setRootPrefix(const QString& root) {
  gRootPrefix = root.isEmpty() ? QStringLiteral("/") : root;
}

QString Utils::rootPrefix() { return gRootPrefix; }

QString Utils::systemPath(const QString& absolutePath) {
  QString root = gRootPrefix;
  while (root.endsWith('/')) root.chop(1);
  return root + absolutePath;
}

void Utils::setCommandRunner(CommandRunner* runner) { gRunner = runner; }

CommandRunner* Utils::commandRunner() { return gRunner; }

CommandResult Utils::runCommand(const QString& program, const QStringList& arguments,
                                int startTimeoutMs) {
  if (!gRunner) {
    CommandResult refused;
    refused.errorString = QStringLiteral("no command runner installed");
    qDebug().noquote() << "Error: no command runner for" << program;
    return refused;
  }
  return gRunner->run(program, arguments, startTimeoutMs);
}

ScriptRun Utils::runScript(const QString& operation, const QString& scriptPath,
                           const QStringList& arguments) {
  qDebug().noquote() << "===" << operation << scriptPath;
  ScriptRun run;
  const QFileInfo info(scriptPath);
  if (!info.exists()) {
    qDebug().noquote() << "Error: Script does not exist -" << scriptPath;
    run.outcome = ScriptOutcome::Missing;
    return run;
  }
  if (!info.isFile() || !info.isExecutable()) {
    qDebug().noquote() << "Error: Script is not executable -" << scriptPath;
    run.outcome = ScriptOutcome::NotExecutable;
    return run;
  }
  const CommandResult r = runCommand(scriptPath, arguments, 30000);
  if (!r.started) {
    qDebug().noquote() << "Error: Failed to start script -" << r.errorString;
    run.outcome = ScriptOutcome::NotStarted;
    return run;
  }
  if (!r.finished) {
    qDebug().noquote() << "Error: Script execution timed out or encountered an error -"
                       << r.errorString;
    run.outcome = ScriptOutcome::WaitFailed;
    return run;
  }
  qDebug().noquote() << "Script execution completed";
  const QStringList lines = QString::fromUtf8(r.standardOutput).split('\n', Qt::KeepEmptyParts);
  for (const QString& piece : lines) qDebug().noquote() << "Standard Output: " << piece;
  qDebug().noquote() << "Error Output:" << QString::fromUtf8(r.standardError);
  qDebug() << "Exit Status:" << r.exitStatus;
  qDebug() << "Exit Code:" << r.exitCode;
  run.outcome = ScriptOutcome::Finished;
  run.exitCode = r.exitCode;
  // A script killed by a signal has not succeeded, whatever its code reads.
  if (r.exitStatus == QProcess::CrashExit && run.exitCode == 0) run.exitCode = 1;
  return run;
}

void Utils::setDelayDivisor(int divisor) { gDelayDivisor = divisor < 1 ? 1 : divisor; }

int Utils::delay(int milliseconds) { return milliseconds / gDelayDivisor; }

QString Utils::serialNumber() {
  return QProcessEnvironment::systemEnvironment().value(QStringLiteral("snum"));
}

bool Utils::isSafeSerialNumber(const QString& snum) {
  return !snum.contains('/') && !snum.contains(QChar(0));
}
