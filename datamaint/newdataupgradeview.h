#ifndef DATAMAINT_NEWDATAUPGRADEVIEW_H
#define DATAMAINT_NEWDATAUPGRADEVIEW_H

#include <QString>
#include <QWidget>

class Ui_NewDataUpgradeView;

// Unfinished second upgrade page: the page layout and a button that hides
// itself. Nothing opens it.
class NewDataUpgradeView : public QWidget {
    Q_OBJECT

public:
    explicit NewDataUpgradeView(QWidget* parent = nullptr);
    ~NewDataUpgradeView() override;

private slots:
    void on_pb_update_clicked();

private:
    Ui_NewDataUpgradeView* ui;
    QString mPathBackData;
};

#endif  // DATAMAINT_NEWDATAUPGRADEVIEW_H
