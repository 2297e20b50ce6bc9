#include "newdataupgradeview.h"

#include "pageform.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QPushButton>

class Ui_NewDataUpgradeView {
public:
    QLabel* label_renote = nullptr;
    QLabel* label_title = nullptr;
    QPushButton* pb_update = nullptr;
    QLabel* label_note = nullptr;

    void setupUi(QWidget* page)
    {
        PageForm::setupPage(page, "NewDataUpgradeView");
        label_renote =
            PageForm::makeLabel(page, "label_renote", PageForm::renoteRect(), 16, 50, QString());
        label_title =
            PageForm::makeLabel(page, "label_title", PageForm::titleRect(), 18, 75,
                                QCoreApplication::translate("NewDataUpgradeView", "數據備份"));
        pb_update =
            PageForm::makeButton(page, "pb_update", PageForm::pageButtonRect(),
                                 QCoreApplication::translate("NewDataUpgradeView", "開始備份"));
        label_note =
            PageForm::makeLabel(page, "label_note", PageForm::noteRect(), 16, 50, QString());
    }
};

NewDataUpgradeView::NewDataUpgradeView(QWidget* parent)
    : QWidget(parent), ui(new Ui_NewDataUpgradeView)
{
    ui->setupUi(this);
    connect(ui->pb_update, &QPushButton::clicked, this, &NewDataUpgradeView::on_pb_update_clicked);
    mPathBackData =
        Utils::systemPath(Utils::getSDevType() == 1 ? QStringLiteral("/mnt/sdcard/mmcblk1p1")
                                                    : QStringLiteral("/mnt/usb/sda1"));
    qDebug().noquote() << "==="
                       << "NewDataUpgradeView"
                       << " mPathBackData " << mPathBackData;
}

NewDataUpgradeView::~NewDataUpgradeView()
{
    delete ui;
}

void NewDataUpgradeView::on_pb_update_clicked()
{
    qDebug().noquote() << "==="
                       << "on_pb_update_clicked";
    ui->pb_update->hide();
}
