#pragma once
// The 28-byte vehicle-state record shared with the display application, and
// bit helpers. The record is copied as raw little-endian bytes.

#include <cstddef>
#include <cstdint>

struct DeviceData {
    uint8_t reserved0;      // 0
    uint8_t reserved1;      // 1
    uint8_t reserved2;      // 2
    uint8_t pad3;           // 3
    int32_t speed;          // 4: decoded CAN byte, 0..255
    char keyStatus;         // 8: 2 ignition on
    char lightStatus;       // 9: 0 off, 1/2 on
    uint8_t pad10[2];       // 10
    int32_t angle;          // 12: -2838..2838
    uint8_t reserved16;     // 16
    uint8_t reserved17;     // 17
    char gear;              // 18: 1 P, 2 R, 3 N, 4 D, 0 none yet
    uint8_t reserved19;     // 19
    uint8_t reserved20;     // 20
    uint8_t pad21[3];       // 21
    uint32_t radar;         // 24: six 4-bit zones in bits 0..23
};
static_assert(sizeof(DeviceData) == 28, "DeviceData is 28 bytes on the wire");
static_assert(offsetof(DeviceData, speed) == 4, "layout");
static_assert(offsetof(DeviceData, keyStatus) == 8, "layout");
static_assert(offsetof(DeviceData, angle) == 12, "layout");
static_assert(offsetof(DeviceData, gear) == 18, "layout");
static_assert(offsetof(DeviceData, radar) == 24, "layout");

int getDeviceDataLen();
bool isDeviceDataChanged(const DeviceData* a, const DeviceData* b);
int getBits(int value, int startBit, int bitCount);
int setBits(int value, int startBit, int bitCount, int field);
