#include "dataupgradeview.h"

#include "pageform.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

class Ui_DataUpgradeView {
public:
    QLabel* label_note = nullptr;
    QLabel* label_title = nullptr;
    QPushButton* pb_upgraded = nullptr;
    QLabel* label_renote = nullptr;

    void setupUi(QWidget* page)
    {
        PageForm::setupPage(page, "DataUpgradeView");
        label_note =
            PageForm::makeLabel(page, "label_note", PageForm::noteRect(), 16, 50, QString());
        label_title =
            PageForm::makeLabel(page, "label_title", PageForm::titleRect(), 18, 75,
                                QCoreApplication::translate("DataUpgradeView", "軟體升級"));
        pb_upgraded =
            PageForm::makeButton(page, "pb_upgraded", PageForm::pageButtonRect(),
                                 QCoreApplication::translate("DataUpgradeView", "開始升級"));
        label_renote =
            PageForm::makeLabel(page, "label_renote", PageForm::renoteRect(), 16, 50, QString());
        // Bottom to top: note, title, renote, button.
        label_note->raise();
        label_title->raise();
        label_renote->raise();
        pb_upgraded->raise();
    }
};

DataUpgradeView::DataUpgradeView(QWidget* parent)
    : QWidget(parent), ui(new Ui_DataUpgradeView), rebootCount(5), mAlreadyLatest(false)
{
    ui->setupUi(this);
    connect(ui->pb_upgraded, &QPushButton::clicked, this, &DataUpgradeView::on_pb_upgraded_clicked);
    mPathBackData = Utils::getDevicePath();
    if (PageForm::startsByItself("DataUpgradeView", mPathBackData, ui->pb_upgraded, 3)) {
        qDebug().noquote() << "==="
                           << "DataUpgradeView"
                           << "auto run ";
        QTimer::singleShot(Utils::delay(2000), this, &DataUpgradeView::slot_autoBackUpTimeOut);
    }
}

DataUpgradeView::~DataUpgradeView()
{
    delete ui;
}

void DataUpgradeView::updateLabelNote(const QString& text)
{
    PageForm::showNote(ui->label_note, text);
}

void DataUpgradeView::slot_autoBackUpTimeOut()
{
    on_pb_upgraded_clicked();
}

void DataUpgradeView::on_pb_upgraded_clicked()
{
    qDebug().noquote() << " ===="
                       << "on_pb_upgraded_clicked";
    QTimer::singleShot(Utils::delay(500), this, &DataUpgradeView::slot_toLoadTimeOut);
    ui->pb_upgraded->hide();
    updateLabelNote(tr("升級包檢測中，請稍後..."));
    ui->label_renote->hide();
    rebootCount = 5;
}

void DataUpgradeView::on_pushButton_clicked()
{
    qDebug().noquote() << " ===="
                       << "on_pushButton_clicked";
}

void DataUpgradeView::slot_toLoadTimeOut()
{
    qDebug().noquote() << "==="
                       << "slot_toLoadTimeOut";
    doUpgrade();
}

void DataUpgradeView::doUpgrade()
{
    snum = Utils::serialNumber();
    qDebug().noquote() << "snum:" << snum;
    upgradeDir = mPathBackData + "/run/upgrade";
    qDebug().noquote() << "upgradeDir :" << upgradeDir;
    if (!Utils::isMediumMounted()) {
        qDebug().noquote() << "Error: no medium mounted at" << mPathBackData;
        updateLabelNote(Utils::noMediumNote());
        handleRebootCount();
        return;
    }
    checkUpgradeFiles();
    if (!upgradefileName.isEmpty()) {
        updateLabelNote(tr("升級包名稱 :") + QFileInfo(upgradefileName).fileName());
        QTimer::singleShot(Utils::delay(1200), this, &DataUpgradeView::slot_startSHOut);
        return;
    }
    handleRebootCount();
}

void DataUpgradeView::checkUpgradeFiles()
{
    const QString path = mPathBackData + "/run/upgrade";
    if (QFileInfo(path).isDir()) {
        qDebug().noquote() << "==="
                           << "checkUpgradeFiles"
                           << "Path already exists:" << path;
        upgradefileName = findUpgradeIndex(path);
    } else {
        qDebug().noquote() << "==="
                           << "checkUpgradeFiles"
                           << "Error Path not exists:" << path;
        updateLabelNote(tr("升級包不存在"));
    }
    qDebug().noquote() << "==="
                       << "checkUpgradeFiles"
                       << " upgradefileName " << upgradefileName;
}

QString DataUpgradeView::findUpgradeIndex(const QString& dir)
{
    QDir d(dir);
    if (!d.exists())
        return QString();
    const QFileInfoList files = d.entryInfoList(
        QStringList {QStringLiteral("update-V*.tar")},
        QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    if (files.isEmpty()) {
        qDebug().noquote() << "==="
                           << "findUpgradeIndex"
                           << "not found right files ";
        return QString();
    }
    QString candidate;
    for (const QFileInfo& file : files) {
        qDebug().noquote() << "==="
                           << "findUpgradeIndex"
                           << " updateFils name " << file.fileName();
        // The package found is the one whose version is checked afterwards.
        if (!extractVersion(file.fileName()).isEmpty())
            candidate = file.fileName();
    }
    qDebug().noquote() << "==="
                       << "findUpgradeIndex"
                       << " tmpFileName " << candidate;
    if (candidate.isEmpty()) {
        updateLabelNote(tr("升級包不存在"));
        return QString();
    }
    const QString calMd5 = Utils::calculateFileMD5(dir + "/" + candidate);
    const QString fileMd5 = Utils::extractMD5FromFile(dir + "/" + candidate + ".md5");
    if (Utils::md5Matches(calMd5, fileMd5))
        return dir + "/" + candidate;
    updateLabelNote(tr("升級包校驗錯誤"));
    qDebug().noquote() << "==="
                       << "findUpgradeIndex"
                       << "Error  calMd5 " << calMd5 << " fileMd5 " << fileMd5;
    return QString();
}

void DataUpgradeView::slot_startSHOut()
{
    updateLabelNote(tr("升级中..."));
    QTimer::singleShot(Utils::delay(500), this, &DataUpgradeView::slot_toRunSHOut);
}

QString DataUpgradeView::extractVersion(const QString& name)
{
    // The same rule as the package listing, which ignores case: an
    // "UPDATE-V3.0.TAR" that is installed must also be judged by its version.
    const int i = name.indexOf(QStringLiteral("update-"), 0, Qt::CaseInsensitive);
    const int j = name.lastIndexOf(QStringLiteral(".tar"), -1, Qt::CaseInsensitive);
    if (i >= 0 && i + 7 < j)
        return name.mid(i + 7, j - (i + 7));
    return QString();
}

QString DataUpgradeView::checkDeviceVerAndUpgradeFileVer()
{
    const QString deviceVersion = Utils::ReadVersionFromFile();
    const QString fileVersion = extractVersion(QFileInfo(upgradefileName).fileName());
    qDebug().noquote() << "==="
                       << "checkDeviceVerAndUpgradeFileVer"
                       << " deviceVersion   " << deviceVersion;
    qDebug().noquote() << "==="
                       << "checkDeviceVerAndUpgradeFileVer"
                       << " upgradeFileVer " << fileVersion;
    if (!fileVersion.isEmpty() && deviceVersion == fileVersion)
        return fileVersion;
    return QString();
}

int DataUpgradeView::runCmdSH()
{
    const QString script = mPathBackData + "/run/" + "upgrade_script.sh";
    const ScriptRun run = Utils::runScript(
        QStringLiteral("runCmdSH"), script,
        QStringList {snum, QFileInfo(upgradefileName).fileName(), QStringLiteral("0"), upgradeDir});
    switch (run.outcome) {
    case ScriptOutcome::Missing:
        updateLabelNote(tr("升級腳本不存在"));
        return -100;
    case ScriptOutcome::NotExecutable:
        updateLabelNote(tr("升級腳本不可運行"));
        return -101;
    case ScriptOutcome::NotStarted:
        updateLabelNote(tr("升級腳本運行失敗"));
        return -102;
    case ScriptOutcome::WaitFailed:
        return 1;
    case ScriptOutcome::Finished:
        break;
    }
    // Codes at or below -100 are this page's own; a script cannot return them
    // (exit codes are 0 to 255), so they never mask a script's result.
    return run.exitCode;
}

void DataUpgradeView::slot_toRunSHOut()
{
    qDebug().noquote() << "==="
                       << "slot_toRunSHOut";
    const QString latest = checkDeviceVerAndUpgradeFileVer();
    if (!latest.isEmpty()) {
        updateLabelNote(tr("已經是最新版本: ") + latest);
        mAlreadyLatest = true;
    } else {
        const int r = runCmdSH();
        if (r == 0) {
            if (!checkDeviceVerAndUpgradeFileVer().isEmpty())
                updateLabelNote(tr("升級成功"));
            else
                updateLabelNote(tr("升級失敗,軟體版本未更新"));
        } else if (r >= -99) {
            updateLabelNote(tr("升級失敗"));
        }
    }
    handleRebootCount();
}

void DataUpgradeView::slot_toRebootCountTimeOut()
{
    handleRebootCount();
}

void DataUpgradeView::handleRebootCount()
{
    qDebug().noquote() << "==="
                       << "handleRebootCount"
                       << " rebootCount " << rebootCount;
    if (PageForm::countdownTick(ui->label_renote, &rebootCount)) {
        QTimer::singleShot(Utils::delay(1000), this, &DataUpgradeView::slot_toRebootCountTimeOut);
        return;
    }
    if (mAlreadyLatest) {
        if (Utils::checkUpgradeDirExists()) {
            qDebug().noquote() << "==="
                               << "handleRebootCount"
                               << " remove upgrade device first";
            ui->label_renote->setText(tr("請拔出升級工具設備..."));
            QTimer::singleShot(Utils::delay(1000), this,
                               &DataUpgradeView::slot_toRebootCountTimeOut);
            return;
        }
        ui->label_renote->setText(tr("等待設備重啟"));
    } else {
        ui->label_renote->setText(tr("等待設備重啟，請拔出升級工具設備"));
    }
    qDebug().noquote() << "==="
                       << "handleRebootCount"
                       << " reboot";
    Utils::runCommand(Utils::rebootProgram(), QStringList());
}
