#include "datarecoverview.h"

#include "pageform.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

class Ui_DataRecoverView {
public:
    QLabel* label_title = nullptr;
    QLabel* label_renote = nullptr;
    QLabel* label_note = nullptr;
    QPushButton* pb_recover = nullptr;

    void setupUi(QWidget* page)
    {
        PageForm::setupPage(page, "DataRecoverView");
        label_title =
            PageForm::makeLabel(page, "label_title", PageForm::titleRect(), 18, 75,
                                QCoreApplication::translate("DataRecoverView", "數據還原"));
        label_renote =
            PageForm::makeLabel(page, "label_renote", PageForm::renoteRect(), 16, 50, QString());
        label_note =
            PageForm::makeLabel(page, "label_note", PageForm::noteRect(), 16, 50, QString());
        pb_recover =
            PageForm::makeButton(page, "pb_recover", PageForm::pageButtonRect(),
                                 QCoreApplication::translate("DataRecoverView", "開始還原"));
    }
};

DataRecoverView::DataRecoverView(QWidget* parent)
    : QWidget(parent), ui(new Ui_DataRecoverView), rebootCount(5), maxIndex(0)
{
    ui->setupUi(this);
    connect(ui->pb_recover, &QPushButton::clicked, this, &DataRecoverView::on_pb_recover_clicked);
    mPathBackData = Utils::getDevicePath();
    if (PageForm::startsByItself("DataRecoverView", mPathBackData, ui->pb_recover, 2)) {
        QTimer::singleShot(Utils::delay(2000), this, &DataRecoverView::slot_autoBackUpTimeOut);
    }
}

DataRecoverView::~DataRecoverView()
{
    delete ui;
}

void DataRecoverView::updateLabelNote(const QString& text)
{
    PageForm::showNote(ui->label_note, text);
}

void DataRecoverView::on_pb_recover_clicked()
{
    qDebug().noquote() << "==="
                       << "on_pb_recover_clicked";
    QTimer::singleShot(Utils::delay(100), this, &DataRecoverView::slot_toLoadTimeOut);
    ui->pb_recover->hide();
    updateLabelNote(tr("還原中，請稍後..."));
    ui->label_renote->hide();
    rebootCount = 5;
}

void DataRecoverView::slot_autoBackUpTimeOut()
{
    on_pb_recover_clicked();
}

void DataRecoverView::slot_toLoadTimeOut()
{
    qDebug().noquote() << "==="
                       << "slot_toLoadTimeOut";
    doDataRecocery();
}

void DataRecoverView::doDataRecocery()
{
    qDebug().noquote() << "==="
                       << "doDataRecocery";
    snum = Utils::serialNumber();
    qDebug().noquote() << "snum:" << snum;
    backupDir = mPathBackData + "/run/data";
    qDebug().noquote() << "backupDir :" << backupDir;
    if (!Utils::isMediumMounted()) {
        qDebug().noquote() << "Error: no medium mounted at" << mPathBackData;
        updateLabelNote(Utils::noMediumNote());
        handleRebootCount();
        return;
    }
    checkBackIndex();
    if (!backfileName.isEmpty()) {
        updateLabelNote(tr("備份檔名稱 :") + QFileInfo(backfileName).fileName());
        QTimer::singleShot(Utils::delay(1000), this, &DataRecoverView::slot_toRunSHOut);
        return;
    }
    updateLabelNote(tr("備份檔不存在"));
    handleRebootCount();
}

void DataRecoverView::checkBackIndex()
{
    const QString path = mPathBackData + "/run/data" + "/data-" + snum;
    qDebug().noquote() << "==="
                       << "checkBackIndex"
                       << " path " << path;
    // A serial number holding a separator would reach outside the backup folder.
    if (Utils::isSafeSerialNumber(snum) && QFileInfo(path).isDir()) {
        qDebug().noquote() << "Path already exists:" << path;
        backfileName = findBackIndex(path);
    } else {
        qDebug().noquote() << "Error Path not exists:" << path;
        updateLabelNote(tr("備份檔不存在"));
    }
    qDebug().noquote() << "==="
                       << "checkBackIndex"
                       << " backfileName " << backfileName;
}

QString DataRecoverView::findBackIndex(const QString& dir)
{
    QDir d(dir);
    if (!d.exists())
        return QString();
    const QFileInfoList files = d.entryInfoList(
        QStringList {QStringLiteral("data-*.tar")},
        QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    if (files.isEmpty()) {
        qDebug().noquote() << "not found right files ";
        return QString();
    }
    int best = 0;
    QString result;
    for (const QFileInfo& file : files) {
        // The backup's name is the file name less ".tar"; the file checked is the
        // file listed, and the one restored is the one checked.
        const QString tarName = file.fileName();
        const QString base = tarName.left(tarName.size() - 4);
        const QStringList pieces = base.split('-', Qt::KeepEmptyParts);
        if (pieces.size() < 2)
            continue;
        bool ok = false;
        int index = pieces.last().toInt(&ok, 10);
        if (!ok)
            index = 0;
        const QString calMd5 = Utils::calculateFileMD5(dir + "/" + tarName);
        const QString fileMd5 = Utils::extractMD5FromFile(dir + "/" + base + ".md5");
        if (!Utils::md5Matches(calMd5, fileMd5)) {
            qDebug().noquote() << "==="
                               << "findBackIndex"
                               << "Error  calMd5 " << calMd5 << " fileMd5 " << fileMd5;
            continue;
        }
        if (index > best) {
            best = index;
            result = dir + "/" + tarName;
        }
    }
    qDebug().noquote() << "==="
                       << "findBackIndex"
                       << " maxIndex " << best;
    maxIndex = best;
    return result;
}

int DataRecoverView::runCmdSH()
{
    const QString script = mPathBackData + "/run/" + "recover_script.sh";
    const ScriptRun run = Utils::runScript(QStringLiteral("runCmdSH"), script,
                                           QStringList {snum, QFileInfo(backfileName).fileName(),
                                                        QString::number(maxIndex), backupDir});
    return run.outcome == ScriptOutcome::Finished ? run.exitCode : 1;
}

void DataRecoverView::slot_toRunSHOut()
{
    qDebug().noquote() << "==="
                       << "slot_toRunSHOut";
    if (runCmdSH() == 0)
        updateLabelNote(tr("數據還原成功"));
    else
        updateLabelNote(tr("數據還原失敗"));
    handleRebootCount();
}

void DataRecoverView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

void DataRecoverView::handleRebootCount()
{
    qDebug().noquote() << "==="
                       << "handleRebootCount"
                       << " rebootCount " << rebootCount;
    if (PageForm::countdownTick(ui->label_renote, &rebootCount)) {
        QTimer::singleShot(Utils::delay(1000), this, &DataRecoverView::slot_toRebootCountTimeOut);
        return;
    }
    PageForm::rebootWithNote(ui->label_renote);
}
