#ifndef DATAMAINT_MAINWINDOW_H
#define DATAMAINT_MAINWINDOW_H

#include <QMainWindow>

class QLabel;
class QPushButton;
class DataBackupView;
class DataRecoverView;
class DataUpgradeView;

// The main window's form: black backdrop, title, the three task buttons and
// the version label.
class Ui_MainWindow {
public:
    QWidget* centralwidget = nullptr;
    QLabel* label = nullptr;
    QLabel* label_title = nullptr;
    QPushButton* pb_backup = nullptr;
    QPushButton* pb_restoration = nullptr;
    QPushButton* pb_upgrade = nullptr;
    QLabel* label_ver = nullptr;

    void setupUi(QMainWindow* window);
};

// The 1920 x 720 window. With a control type of 1, 2 or 3 its page is opened
// (and starts by itself) before the window is first shown; otherwise it
// waits for one of the three buttons.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows or hides the title and the three buttons.
    void switchItemsShow(bool show);

    DataBackupView* backupView() const { return mBackupView; }
    DataRecoverView* recoverView() const { return mRecoverView; }
    DataUpgradeView* upgradeView() const { return mUpgradeView; }

private slots:
    void on_pb_backup_clicked();
    void on_pb_restoration_clicked();
    void on_pb_upgrade_clicked();

private:
    Ui_MainWindow* ui;
    DataBackupView* mBackupView;
    DataRecoverView* mRecoverView;
    DataUpgradeView* mUpgradeView;
};

#endif  // DATAMAINT_MAINWINDOW_H
