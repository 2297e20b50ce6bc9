#ifndef DATAMAINT_DATAUPGRADEVIEW_H
#define DATAMAINT_DATAUPGRADEVIEW_H

#include <QString>
#include <QWidget>

class Ui_DataUpgradeView;

// Page that installs a software package "update-V*.tar" from the medium:
// MD5 check of the package, version comparison with the installed version,
// the medium's upgrade script, a second version check, then a countdown and
// a reboot (after the medium is removed when nothing was installed).
class DataUpgradeView : public QWidget {
    Q_OBJECT

public:
    explicit DataUpgradeView(QWidget* parent = nullptr);
    ~DataUpgradeView() override;

    void updateLabelNote(const QString& text);
    // Selects the last package of `dir` by name and verifies its MD5; the
    // full path, or empty when none was accepted.
    QString findUpgradeIndex(const QString& dir);
    void checkUpgradeFiles();
    void doUpgrade();
    // Version part of a package name: update-V2.1.tar gives V2.1.
    static QString extractVersion(const QString& name);
    // The package's version when it equals the installed one, else empty.
    QString checkDeviceVerAndUpgradeFileVer();
    // Runs the upgrade script: its exit code, 1 when waiting failed, or -100
    // (missing), -101 (not executable), -102 (not started).
    int runCmdSH();
    void handleRebootCount();

public slots:
    void slot_autoBackUpTimeOut();
    void slot_toLoadTimeOut();
    void slot_toRunSHOut();
    void slot_startSHOut();
    void slot_toRebootCountTimeOut();

private slots:
    void on_pb_upgraded_clicked();
    void on_pushButton_clicked();

private:
    Ui_DataUpgradeView* ui;
    QString mPathBackData;
    QString snum;
    QString upgradeDir;
    QString upgradefileName;
    int rebootCount;
    bool mAlreadyLatest;
};

#endif  // DATAMAINT_DATAUPGRADEVIEW_H
