#ifndef DATAMAINT_DATARECOVERVIEW_H
#define DATAMAINT_DATARECOVERVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataRecoverView;

// Page that restores the device's data from the newest valid backup on the
// medium (highest index whose data file matches its MD5 file), runs the
// medium's restore script on it, then reboots after a countdown.
class DataRecoverView : public QWidget {
    Q_OBJECT

public:
    explicit DataRecoverView(QWidget* parent = nullptr);
    ~DataRecoverView() override;

    void updateLabelNote(const QString& text);
    void doDataRecocery();
    // Sets backfileName from the device's backup folder.
    void checkBackIndex();
    // Full path of the backup to restore from `dir`, or empty.
    QString findBackIndex(const QString& dir);
    // Runs the restore script; 0 when it ran and exited with 0.
    int runCmdSH();
    void handleRebootCount();

private slots:
    void on_pb_recover_clicked();
    void slot_autoBackUpTimeOut();
    void slot_toLoadTimeOut();
    void slot_toRunSHOut();
    void slot_toRebootCountTimeOut();

private:
    Ui_DataRecoverView* ui;
    int rebootCount;
    QString snum;
    QString backupDir;
    QString backfileName;
    QString mPathBackData;
    int maxIndex;
};

#endif  // DATAMAINT_DATARECOVERVIEW_H
