#include "sharedmemorycontrol.h"

#include "devicedatasmanager.h"
#include "sharedipc.h"

#include <QDebug>
#include <QSystemSemaphore>
#include <QThread>
#include <QTimer>
#include <cstring>

namespace {
const int kRecordLen = 28;
const int kChangeRestartMs = 1000;
}  // namespace

SharedMemoryControl::SharedMemoryControl(bool sender, const SharedMemoryOptions& opts)
    : QObject(nullptr), isSender(sender), options(opts)
{
    steady.start();
    manager = options.manager ? options.manager : DeviceDatasManager::self().data();
    // The segment, its lock semaphore (named after it) and the exchange
    // semaphore are shared with the display application: made here, so that
    // no teardown of this process removes a semaphore another one holds.
    for (const QString& k : {options.key, options.semaphoreKey}) {
        QString why;
        if (!keepSystemSemaphore(k, 1, &why))
            qDebug() << "sharedMemory semaphore not kept" << k << why;
    }
    sharedMemory.setKey(options.key);

    if (isSender) {
        // Not QSharedMemory::create(): it would take the lock semaphore over
        // and reset it under a peer that holds it. The exchange attaches.
        QString why;
        if (createSharedSegment(options.key, options.segmentSize, &why) != SegmentResult::Created)
            qDebug() << "sharedMemory error create" << why;
    } else {
        isTurnSwitchEnable.store(true);
    }

    semaphore = new QSystemSemaphore(options.semaphoreKey, 1, QSystemSemaphore::Open);
    initOK = true;
    qDebug() << "sharedMemory ShareMemInitOK ";
    buffer = new char[kRecordLen];
    std::memset(buffer, 0, kRecordLen);
    lastBeatMs = nowMs();

    thread = new QThread();
    thread->setObjectName(QStringLiteral("ShareMemThread"));
    moveToThread(thread);
    connect(thread, &QThread::started, this, &SharedMemoryControl::runSlot);
    thread->start(QThread::InheritPriority);
}

SharedMemoryControl::~SharedMemoryControl()
{
    if (thread) {
        if (thread->isRunning() && QThread::currentThread() != thread) {
            // Tear the timer down and detach inside the exchange thread, then
            // hand this object back to the caller's thread.
            QMetaObject::invokeMethod(this, "stopInThread", Qt::BlockingQueuedConnection,
                                      Q_ARG(QThread*, QThread::currentThread()));
        }
        thread->quit();
        if (QThread::currentThread() != thread)
            thread->wait();
        delete thread;
        thread = nullptr;
    }
    if (sharedMemory.isAttached())
        sharedMemory.detach();
    delete semaphore;
    delete[] buffer;
    qDebug() << "~SharedMemoryControl";
}

void SharedMemoryControl::stopInThread(QThread* target)
{
    delete runTimer;
    runTimer = nullptr;
    if (sharedMemory.isAttached())
        sharedMemory.detach();
    moveToThread(target);
}

qint64 SharedMemoryControl::nowMs() const
{
    return options.clock ? options.clock() : steady.elapsed();
}

void SharedMemoryControl::runSlot()
{
    runTimer = new QTimer(this);
    connect(runTimer, &QTimer::timeout, this, &SharedMemoryControl::on_runTimerOut);
    int interval = options.exchangeIntervalMs > 0 ? options.exchangeIntervalMs
                                                  : (isSender ? 1000 : 100);
    runTimer->start(interval);
}

void SharedMemoryControl::updatemAVMRunCount()
{
    int v = AVMRunCount.load() + 1;
    if (v > 254)
        v = 1;
    AVMRunCount.store(v);
}

void SharedMemoryControl::setIsTurnSwitchEnable(bool on)
{
    isTurnSwitchEnable.store(on);
    if (isSender)
        qDebug() << "==== " << "setIsTurnSwitchEnable" << " isTurnSwitchEnable "
                 << (on ? "true" : "false");
}

void SharedMemoryControl::setIsAVMInited(bool on)
{
    isAVMInited.store(on);
    qDebug() << "==== " << "setIsAVMInited" << " isAVMInited " << (on ? "true" : "false");
}

void SharedMemoryControl::logCharArray(const char* data, int len)
{
    if (!isSlogEnable.load())
        return;
    QString line = isSender ? QStringLiteral("Send ") : QStringLiteral(" Rvc ");
    line += QStringLiteral("size ") + QString::number(len);
    for (int i = 0; i < len; ++i)
        line += QStringLiteral(" %1 ").arg(static_cast<unsigned char>(data[i]), 2, 16,
                                           QLatin1Char('0'));
    qDebug().noquote() << line;
}

void SharedMemoryControl::on_DeviceDataChanged()
{
    if (runTimer)
        runTimer->stop();
    changeExchange = true;
    on_runTimerOut();
    changeExchange = false;
    if (runTimer)
        runTimer->start(options.exchangeIntervalMs > 0 ? options.exchangeIntervalMs
                                                       : kChangeRestartMs);
}

void SharedMemoryControl::on_runTimerOut()
{
    if (!initOK)
        return;
    exchanges.fetch_add(1);

    if (!sharedMemory.isAttached()) {
        if (!sharedMemory.attach(QSharedMemory::ReadWrite)) {
            if (errorlog % 20 == 0)
                qDebug() << "sharedMemory error attach" << sharedMemory.errorString();
            ++errorlog;
            return;
        }
    }

    if (!semaphore->acquire()) {
        qDebug() << "acquire failed" << semaphore->errorString();
        return;
    }

    bool initedBecameTrue = false;
    bool turnChanged = false;
    const bool locked = sharedMemory.lock();
    if (!locked) {
        qDebug() << "lock failed " << sharedMemory.errorString();
    } else {
        char* d = static_cast<char*>(sharedMemory.data());
        const int n = sharedMemory.size();
        if (isSender) {
            if (firstIn) {
                std::memset(d, 0, static_cast<size_t>(n));
                firstIn = false;
            }
            if (n >= kRecordLen) {
                manager->structToCharArray(buffer);
                std::memcpy(d, buffer, kRecordLen);
            }
            // A segment shorter than the trailer has no heartbeat or flags.
            if (n >= 4) {
                const int h = static_cast<unsigned char>(d[n - 4]);
                const bool turn = d[n - 3] == 1;
                const bool inited = d[n - 2] == 1;
                const bool slog = d[n - 1] == 1;

                if (h == AVMRunCount.load()) {
                    int c = stallCount.load() + 1;
                    if (c > 9)
                        c = 11;
                    stallCount.store(c);
                    // Stalled only after the heartbeat stood still for the
                    // whole stall time: record changes add exchanges, so a
                    // count alone would fire early on a healthy peer.
                    if (nowMs() - lastBeatMs >= options.stallMs && !avmStopped) {
                        avmStopped = true;
                        emit avmStopSignal(true);
                    }
                } else {
                    stallCount.store(0);
                    lastBeatMs = nowMs();
                    if (avmStopped) {
                        avmStopped = false;
                        emit avmStopSignal(false);
                    }
                    AVMRunCount.store(h);
                    logCharArray(d, n);
                }
                if (slog != isSlogEnable.load()) {
                    setIsSlogEnable(slog);
                    logCharArray(d, n);
                }
                if (inited != isAVMInited.load()) {
                    setIsAVMInited(inited);
                    logCharArray(d, n);
                    initedBecameTrue = inited;
                }
                if (turn != isTurnSwitchEnable.load()) {
                    setIsTurnSwitchEnable(turn);
                    turnChanged = true;
                }
            }
        } else {
            if (n < kRecordLen) {
                qDebug() << "too small shareSize " << n;
            } else {
                manager->charArrayToStruct(d, kRecordLen);
                d[n - 1] = isSlogEnable.load() ? 1 : 0;
                d[n - 2] = isAVMInited.load() ? 1 : 0;
                d[n - 3] = isTurnSwitchEnable.load() ? 1 : 0;
                d[n - 4] = static_cast<char>(AVMRunCount.load() & 0xFF);
            }
        }
        sharedMemory.unlock();
    }
    semaphore->release();

    if (isSender) {
        if (changeExchange)
            logCharArray(buffer, kRecordLen);
        if (initedBecameTrue)
            emit avmInitOkSignal();
        if (turnChanged)
            emit turnSwitchSignal();
    } else if (manager->handleRcvDataChanged()) {
        manager->structToCharArray(buffer);
        logCharArray(buffer, kRecordLen);
    }
}
