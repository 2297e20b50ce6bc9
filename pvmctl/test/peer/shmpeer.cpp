// Stand-in for the display application in the restart test: attaches to the
// daemon's block and stays attached. Every turn it takes the exchange
// semaphore and the segment lock, holds them a while, moves the heartbeat,
// sets "AVM inited", and counts the turns on which it found its last
// heartbeat cleared (a daemon's first exchange clears the whole block).
// After each turn it prints "turns <n> clears <m>".
//
// shmpeer <segment key> <semaphore key> [hold ms]

#include <QCoreApplication>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QThread>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: shmpeer SEGMENT_KEY SEMAPHORE_KEY [HOLD_MS]\n");
        return 2;
    }
    const int holdMs = argc > 3 ? std::atoi(argv[3]) : 10;
    QSharedMemory shm(QString::fromLocal8Bit(argv[1]));
    QSystemSemaphore sem(QString::fromLocal8Bit(argv[2]), 1, QSystemSemaphore::Open);
    for (int i = 0; !shm.attach(QSharedMemory::ReadWrite); ++i) {
        if (i == 1000) {
            std::fprintf(stderr, "attach: %s\n", qPrintable(shm.errorString()));
            return 3;
        }
        QThread::msleep(10);
    }

    unsigned char beat = 0;
    long turns = 0, clears = 0;
    for (;;) {
        if (!sem.acquire()) {
            std::printf("error acquire %s\n", qPrintable(sem.errorString()));
            return 4;
        }
        if (!shm.lock()) {
            std::printf("error lock %s\n", qPrintable(shm.errorString()));
            sem.release();
            return 5;
        }
        auto* d = static_cast<unsigned char*>(shm.data());
        const int n = shm.size();
        if (turns > 0 && d[n - 4] != beat)
            ++clears;
        beat = static_cast<unsigned char>(beat % 250 + 1);
        d[n - 4] = beat;
        d[n - 2] = 1;
        QThread::msleep(static_cast<unsigned long>(holdMs));
        shm.unlock();
        sem.release();
        ++turns;
        std::printf("turns %ld clears %ld\n", turns, clears);
        std::fflush(stdout);
        QThread::msleep(5);
    }
}
