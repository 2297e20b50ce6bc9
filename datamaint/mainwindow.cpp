#include "mainwindow.h"

#include "databackupview.h"
#include "datarecoverview.h"
#include "dataupgradeview.h"
#include "pageform.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFont>
#include <QLabel>
#include <QPushButton>

void Ui_MainWindow::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(1920, 720);
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow"));
    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    centralwidget->setStyleSheet(QString());

    label = new QLabel(centralwidget);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(0, 0, 1920, 720));
    label->setStyleSheet(QStringLiteral("background-color: rgb(0, 0, 0);"));

    label_title = PageForm::makeLabel(centralwidget, "label_title", QRect(0, 40, 1920, 81), 18, 75,
                                      QCoreApplication::translate("MainWindow", "工程維護工具"));

    pb_backup = PageForm::makeButton(centralwidget, "pb_backup", QRect(290, 250, 320, 220),
                                     QCoreApplication::translate("MainWindow", "數據備份"));
    pb_restoration =
        PageForm::makeButton(centralwidget, "pb_restoration", QRect(800, 250, 320, 220),
                             QCoreApplication::translate("MainWindow", "數據還原"));
    pb_upgrade = PageForm::makeButton(centralwidget, "pb_upgrade", QRect(1310, 250, 320, 220),
                                      QCoreApplication::translate("MainWindow", "軟體升級"));

    label_ver = new QLabel(centralwidget);
    label_ver->setObjectName(QStringLiteral("label_ver"));
    label_ver->setGeometry(QRect(20, 640, 1001, 61));
    QFont verFont;
    verFont.setPointSize(16);
    label_ver->setFont(verFont);
    label_ver->setStyleSheet(QStringLiteral("color: rgb(238, 238, 236);"));

    window->setCentralWidget(centralwidget);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), mBackupView(nullptr), mRecoverView(nullptr),
      mUpgradeView(nullptr)
{
    ui->setupUi(this);
    connect(ui->pb_backup, &QPushButton::clicked, this, &MainWindow::on_pb_backup_clicked);
    connect(ui->pb_restoration, &QPushButton::clicked, this,
            &MainWindow::on_pb_restoration_clicked);
    connect(ui->pb_upgrade, &QPushButton::clicked, this, &MainWindow::on_pb_upgrade_clicked);
    const int control = Utils::getSDevControlType();
    qDebug().noquote() << "==="
                       << "MainWindow"
                       << " getSDevControlType " << control;
    switch (control) {
    case 1:
        on_pb_backup_clicked();
        break;
    case 2:
        on_pb_restoration_clicked();
        break;
    case 3:
        on_pb_upgrade_clicked();
        break;
    default:
        break;
    }
    ui->label_ver->setText(Utils::getVerStr());
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::switchItemsShow(bool show)
{
    ui->label_title->setVisible(show);
    ui->pb_backup->setVisible(show);
    ui->pb_restoration->setVisible(show);
    ui->pb_upgrade->setVisible(show);
}

void MainWindow::on_pb_backup_clicked()
{
    qDebug().noquote() << "==="
                       << "on_pb_backup_clicked";
    if (!mBackupView)
        mBackupView = new DataBackupView(this);
    mBackupView->show();
    switchItemsShow(false);
}

void MainWindow::on_pb_restoration_clicked()
{
    qDebug().noquote() << "==="
                       << "on_pb_restoration_clicked";
    if (!mRecoverView)
        mRecoverView = new DataRecoverView(this);
    mRecoverView->show();
    switchItemsShow(false);
}

void MainWindow::on_pb_upgrade_clicked()
{
    qDebug().noquote() << "==="
                       << "on_pb_upgrade_clicked";
    if (!mUpgradeView)
        mUpgradeView = new DataUpgradeView(this);
    mUpgradeView->show();
    switchItemsShow(false);
}
