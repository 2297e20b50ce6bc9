#include "databackupview.h"

#include "pageform.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

class Ui_DataBackupView {
public:
    QLabel* label_title = nullptr;
    QPushButton* pb_backup = nullptr;
    QLabel* label_note = nullptr;
    QLabel* label_renote = nullptr;

    void setupUi(QWidget* page)
    {
        PageForm::setupPage(page, "DataBackupView");
        label_title =
            PageForm::makeLabel(page, "label_title", PageForm::titleRect(), 18, 75,
                                QCoreApplication::translate("DataBackupView", "數據備份"));
        pb_backup = PageForm::makeButton(page, "pb_backup", PageForm::pageButtonRect(),
                                         QCoreApplication::translate("DataBackupView", "開始備份"));
        label_note =
            PageForm::makeLabel(page, "label_note", PageForm::noteRect(), 16, 50, QString());
        label_renote =
            PageForm::makeLabel(page, "label_renote", PageForm::renoteRect(), 16, 50, QString());
    }
};

DataBackupView::DataBackupView(QWidget* parent)
    : QWidget(parent), ui(new Ui_DataBackupView), backIndex(0), rebootCount(5)
{
    ui->setupUi(this);
    connect(ui->pb_backup, &QPushButton::clicked, this, &DataBackupView::on_pb_backup_clicked);
    ui->label_renote->hide();
    mPathBackData = Utils::getDevicePath();
    if (PageForm::startsByItself("DataBackupView", mPathBackData, ui->pb_backup, 1)) {
        QTimer::singleShot(Utils::delay(2000), this, &DataBackupView::slot_autoBackUpTimeOut);
    }
}

DataBackupView::~DataBackupView()
{
    delete ui;
}

void DataBackupView::updateLabelNote(const QString& text)
{
    PageForm::showNote(ui->label_note, text);
}

void DataBackupView::on_pb_backup_clicked()
{
    QTimer::singleShot(Utils::delay(100), this, &DataBackupView::slot_toLoadTimeOut);
    ui->pb_backup->hide();
    updateLabelNote(tr("數據備份中，請稍後..."));
    ui->label_renote->hide();
    rebootCount = 5;
}

void DataBackupView::slot_autoBackUpTimeOut()
{
    on_pb_backup_clicked();
}

void DataBackupView::slot_toLoadTimeOut()
{
    qDebug().noquote() << "==="
                       << "slot_toLoadTimeOut";
    doDataBackUp();
}

void DataBackupView::doDataBackUp()
{
    snum = Utils::serialNumber();
    qDebug().noquote() << "snum:" << snum;
    mTimeStamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    qDebug().noquote() << "Formatted DateTime:" << mTimeStamp;
    backupDir = mPathBackData + "/run/data";
    qDebug().noquote() << "backupDir :" << backupDir;
    // Without a mounted medium the path is the device's own storage: nothing
    // may be created there.
    if (!Utils::isMediumMounted()) {
        qDebug().noquote() << "Error: no medium mounted at" << mPathBackData;
        updateLabelNote(Utils::noMediumNote());
        handleRebootCount();
        return;
    }
    checkBackIndex();
    if (backIndex != 0 && runBackupSH() == 0) {
        updateLabelNote(tr("備份數據檢查中......"));
        QTimer::singleShot(Utils::delay(800), this, &DataBackupView::slot_toCheckTimeOut);
        return;
    }
    // No folder, or the script failed: its note stays up through the
    // countdown, so that it is seen before the reboot.
    handleRebootCount();
}

void DataBackupView::checkBackIndex()
{
    const QString path = mPathBackData + "/run/data" + "/data-" + snum;
    qDebug().noquote() << "==="
                       << "checkBackIndex"
                       << " path " << path;
    // A serial number holding a separator would lead the folder (and every
    // file name derived from it) out of the backup folder.
    if (!Utils::isSafeSerialNumber(snum)) {
        qDebug().noquote() << "Error Failed to create path:" << path;
        updateLabelNote(tr("創建備份檔夾失敗"));
        return;
    }
    if (QFileInfo(path).isDir()) {
        qDebug().noquote() << "Path already exists:" << path;
        backIndex = findBackIndex(path);
        qDebug().noquote() << "==="
                           << "checkBackIndex"
                           << " backIndex " << backIndex;
        return;
    }
    if (QDir().mkpath(path)) {
        qDebug().noquote() << "Path created successfully:" << path;
        backIndex = 1;
    } else {
        qDebug().noquote() << "Error Failed to create path:" << path;
        updateLabelNote(tr("創建備份檔夾失敗"));
    }
}

int DataBackupView::findBackIndex(const QString& dir)
{
    QDir d(dir);
    if (!d.exists())
        return 1;
    const QFileInfoList files = d.entryInfoList(
        QStringList {QStringLiteral("data-*.tar")},
        QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    if (files.isEmpty()) {
        qDebug().noquote() << "not found right files ";
        return 1;
    }
    int m = 1;
    for (const QFileInfo& file : files) {
        // The backup's name is the file name less ".tar"; a dot in the serial
        // number must not cut it short.
        const QString base = file.fileName().left(file.fileName().size() - 4);
        const QStringList pieces = base.split('-', Qt::KeepEmptyParts);
        if (pieces.size() < 2)
            continue;
        bool ok = false;
        int index = pieces.last().toInt(&ok, 10);
        if (!ok)
            index = 0;
        m = qMax(m, index);
    }
    return m + 1;
}

int DataBackupView::runBackupSH()
{
    const QString script = mPathBackData + "/run/" + "backup_script.sh";
    const ScriptRun run =
        Utils::runScript(QStringLiteral("runBackupSH"), script,
                         QStringList {snum, mTimeStamp, QString::number(backIndex), backupDir});
    switch (run.outcome) {
    case ScriptOutcome::Missing:
        updateLabelNote(tr("備份腳本不存在"));
        return 1;
    case ScriptOutcome::NotExecutable:
        updateLabelNote(tr("備份腳本不可運行"));
        return 1;
    case ScriptOutcome::NotStarted:
        updateLabelNote(tr("備份腳本運行失敗"));
        return 1;
    case ScriptOutcome::WaitFailed:
        // The busy note must not stay up as though the backup went on.
        updateLabelNote(tr("備份失敗 ：備份腳本執行錯誤"));
        return 1;
    case ScriptOutcome::Finished:
        break;
    }
    if (run.exitCode != 0)
        updateLabelNote(tr("備份失敗 ：備份腳本執行錯誤"));
    return run.exitCode;
}

QString DataBackupView::backupBaseName() const
{
    return mPathBackData + "/run/data" + "/data-" + snum + "/data-" + snum + "-" + mTimeStamp +
           "-" + QString::number(backIndex);
}

int DataBackupView::checkBackUpFiles()
{
    const QString name = backupBaseName();
    const QString dataFile = name + ".tar";
    const QString md5File = name + ".md5";
    qDebug().noquote() << "==="
                       << "checkBackUpFiles"
                       << " backUpFileName  " << dataFile;
    qDebug().noquote() << "==="
                       << "checkBackUpFiles"
                       << " backUpMd5FileName  " << md5File;
    if (!QFileInfo::exists(dataFile)) {
        qDebug().noquote() << "Error: backUpFile does not exist -" << dataFile;
        return -1;
    }
    if (!QFileInfo::exists(md5File)) {
        qDebug().noquote() << "Error: backUpMd5File does not exist -" << md5File;
        return -2;
    }
    const QString calMd5 = Utils::calculateFileMD5(dataFile);
    const QString fileMd5 = Utils::extractMD5FromFile(md5File);
    qDebug().noquote() << "==="
                       << "checkBackUpFiles"
                       << " calMd5 " << calMd5;
    qDebug().noquote() << "==="
                       << "checkBackUpFiles"
                       << " fileMd5 " << fileMd5;
    return Utils::md5Matches(calMd5, fileMd5) ? 1 : -3;
}

void DataBackupView::slot_toCheckTimeOut()
{
    qDebug().noquote() << "==="
                       << "slot_toCheckTimeOut";
    switch (checkBackUpFiles()) {
    case 1:
        updateLabelNote(tr(" 備份成功 "));
        break;
    case -1:
        updateLabelNote(tr("備份失敗 ：備份檔不存在"));
        break;
    case -2:
        updateLabelNote(tr("備份失敗 ：備份檔MD5不不存在"));
        break;
    default:
        updateLabelNote(tr("備份失敗 ：備份檔校驗錯誤"));
        break;
    }
    handleRebootCount();
}

void DataBackupView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

void DataBackupView::handleRebootCount()
{
    qDebug().noquote() << "==="
                       << "handleRebootCount"
                       << " rebootCount " << rebootCount;
    if (PageForm::countdownTick(ui->label_renote, &rebootCount)) {
        QTimer::singleShot(Utils::delay(1000), this, &DataBackupView::slot_toRebootCountTimeOut);
        return;
    }
    PageForm::rebootWithNote(ui->label_renote);
}
