#include "devicedatashare.h"

#include <QDebug>

int getDeviceDataLen()
{
    return static_cast<int>(sizeof(DeviceData));
}

bool isDeviceDataChanged(const DeviceData* a, const DeviceData* b)
{
    return a->reserved0 != b->reserved0 || a->reserved1 != b->reserved1 ||
           a->reserved2 != b->reserved2 || a->speed != b->speed ||
           a->keyStatus != b->keyStatus || a->lightStatus != b->lightStatus ||
           a->angle != b->angle || a->reserved16 != b->reserved16 ||
           a->reserved17 != b->reserved17 || a->gear != b->gear ||
           a->reserved19 != b->reserved19 || a->reserved20 != b->reserved20 ||
           a->radar != b->radar;
}

namespace {
bool validRange(int startBit, int bitCount)
{
    return bitCount >= 1 && bitCount <= 32 && startBit >= 0 && startBit <= 31 &&
           startBit + bitCount <= 32;
}

// Masks are built in 64 bits so that a 32-bit field is well defined.
uint32_t fieldMask(int bitCount)
{
    return static_cast<uint32_t>((uint64_t(1) << bitCount) - 1);
}
}  // namespace

int getBits(int value, int startBit, int bitCount)
{
    if (!validRange(startBit, bitCount)) {
        qDebug() << "Invalid startBit or bitCount values.";
        return -1;
    }
    uint32_t v = static_cast<uint32_t>(value);
    return static_cast<int>((v >> startBit) & fieldMask(bitCount));
}

int setBits(int value, int startBit, int bitCount, int field)
{
    if (!validRange(startBit, bitCount)) {
        qDebug() << "Invalid startBit or bitCount values.";
        return -1;
    }
    if (static_cast<int64_t>(field) >= (int64_t(1) << bitCount)) {
        qDebug() << "Value is too large for the specified bitCount.";
        return -1;
    }
    uint32_t mask = fieldMask(bitCount) << startBit;
    uint32_t v = static_cast<uint32_t>(value);
    uint32_t f = (static_cast<uint32_t>(field) << startBit) & mask;
    return static_cast<int>((v & ~mask) | f);
}
