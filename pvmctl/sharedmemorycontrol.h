#pragma once
// Exchange of the vehicle-state record and the display application's
// heartbeat and flags through the 64-byte block "PvmSharedMemory5", in a
// thread of its own ("ShareMemThread").

#include <QElapsedTimer>
#include <QObject>
#include <QSharedMemory>
#include <QString>
#include <atomic>
#include <functional>

class DeviceDatasManager;
class QSystemSemaphore;
class QThread;
class QTimer;

struct SharedMemoryOptions {
    QString key = QStringLiteral("PvmSharedMemory5");
    QString semaphoreKey = QStringLiteral("PvmSemaphore");
    int segmentSize = 64;
    // Exchange rhythm: 1000 ms on the sender side, 100 ms on the peer side
    // when left at 0.
    int exchangeIntervalMs = 0;
    // The heartbeat counts as stalled after this much monotonic time
    // without a change.
    qint64 stallMs = 10000;
    // Monotonic milliseconds; a steady clock when empty.
    std::function<qint64()> clock;
    // Record keeper; DeviceDatasManager::self() when null.
    DeviceDatasManager* manager = nullptr;
};

class SharedMemoryControl : public QObject {
    Q_OBJECT
public:
    explicit SharedMemoryControl(bool isSender,
                                 const SharedMemoryOptions& options = SharedMemoryOptions());
    // Stops the exchange thread and waits for it; call from the creating thread.
    ~SharedMemoryControl() override;

    int getAVMRunCount() const { return AVMRunCount.load(); }
    void setAVMRunCount(int count) { AVMRunCount.store(count); }
    void updatemAVMRunCount();

    bool getIsTurnSwitchEnable() const { return isTurnSwitchEnable.load(); }
    void setIsTurnSwitchEnable(bool on);
    bool getIsAVMInited() const { return isAVMInited.load(); }
    void setIsAVMInited(bool on);
    bool getIsSlogEnable() const { return isSlogEnable.load(); }
    void setIsSlogEnable(bool on) { isSlogEnable.store(on); }

    void logCharArray(const char* data, int len);

    bool isInitOK() const { return initOK; }
    // Exchanges performed (including failed attaches), for monitoring.
    int exchangeCount() const { return exchanges.load(); }
    int stallCountValue() const { return stallCount.load(); }

signals:
    void avmInitOkSignal();
    void turnSwitchSignal();
    void avmStopSignal(bool stop);

public slots:
    void runSlot();
    void on_runTimerOut();
    void on_DeviceDataChanged();

private slots:
    void stopInThread(QThread* target);

private:
    qint64 nowMs() const;

    QSharedMemory sharedMemory;
    QSystemSemaphore* semaphore = nullptr;
    bool isSender;
    bool initOK = false;
    QThread* thread = nullptr;
    QTimer* runTimer = nullptr;
    char* buffer = nullptr;
    bool changeExchange = false;
    std::atomic<bool> isSlogEnable{false};
    std::atomic<bool> isAVMInited{false};
    std::atomic<bool> isTurnSwitchEnable{false};
    std::atomic<int> AVMRunCount{1};
    std::atomic<int> stallCount{0};
    bool avmStopped = false;

    SharedMemoryOptions options;
    DeviceDatasManager* manager = nullptr;
    QElapsedTimer steady;
    qint64 lastBeatMs = 0;
    bool firstIn = true;
    int errorlog = 0;
    std::atomic<int> exchanges{0};
};
