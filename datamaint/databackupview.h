#ifndef DATAMAINT_DATABACKUPVIEW_H
#define DATAMAINT_DATABACKUPVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataBackupView;

// Page that backs the device's data up to the medium: picks the next running
// index in the device's backup folder, runs the medium's backup script,
// checks the ".tar" and ".md5" files it left, then reboots after a countdown.
class DataBackupView : public QWidget {
    Q_OBJECT

public:
    explicit DataBackupView(QWidget* parent = nullptr);
    ~DataBackupView() override;

    void updateLabelNote(const QString& text);
    void doDataBackUp();
    // Makes sure the device's backup folder exists and sets the index.
    void checkBackIndex();
    // The next free running index among the backups in `dir`.
    int findBackIndex(const QString& dir);
    // Runs the backup script; 0 when it ran and exited with 0.
    int runBackupSH();
    // 1 when this backup's data file matches its MD5 file; -1 data file
    // missing, -2 MD5 file missing, -3 digests differ.
    int checkBackUpFiles();
    void handleRebootCount();

private slots:
    void on_pb_backup_clicked();
    void slot_autoBackUpTimeOut();
    void slot_toLoadTimeOut();
    void slot_toCheckTimeOut();
    void slot_toRebootCountTimeOut();

private:
    // "data-" + snum + "-" + time stamp + "-" + index, in the device's folder.
    QString backupBaseName() const;

    Ui_DataBackupView* ui;
    QString snum;
    int backIndex;
    QString mTimeStamp;
    QString backupDir;
    int rebootCount;
    QString mPathBackData;
};

#endif  // DATAMAINT_DATABACKUPVIEW_H
