// SPDX-License-Identifier: GPL-3.0-or-later
// The unit's settings and status records, byte for byte as they travel in frames and as the
// settings file stores them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace qx {

#pragma pack(push, 1)
struct DeviceSettings {
    uint8_t preset = 0;      // active preset 0..3
    uint8_t source[8] = {};  // left/right source index of presets 1..4
    uint8_t muteOn = 0;      // 0 off, 1 muted
    uint8_t dimMode = 0;     // 0 off, 1 "-20 dB", 2 "+20 dB"
    uint8_t monitorMode = 0; // 0 normal, 1 "SUM", 2 "DIF"
    int8_t gainLeft = 0;     // dB
    int8_t gainRight = 0;    // dB
    uint8_t ballistics = 0;  // 0 "VU", else "PPM"
    uint8_t peakHold = 0;    // 0 "OFF", 1 "Peak", 2 "TruePeak"
    uint8_t brightness = 0;  // 0 "10%", 1 "30%", 2 "50%", 3 "100%"
    uint8_t levelScale = 0;  // 0 "dB", else "dBFS"

    friend bool operator==(const DeviceSettings&, const DeviceSettings&) = default;
};

struct DeviceStatus {
    int8_t levelLeft = 0; // meter steps; 0 is the 0 dB mark
    int8_t levelRight = 0;
    uint8_t spare[2] = {};
    uint8_t auxValues[16] = {}; // four big-endian 32-bit values the program does not show

    friend bool operator==(const DeviceStatus&, const DeviceStatus&) = default;
};
#pragma pack(pop)

inline constexpr std::size_t kSettingsSize = 18;
inline constexpr std::size_t kStatusSize = 20;
inline constexpr std::size_t kAnswerPayloadSize = kSettingsSize + kStatusSize;

static_assert(sizeof(DeviceSettings) == kSettingsSize);
static_assert(offsetof(DeviceSettings, preset) == 0);
static_assert(offsetof(DeviceSettings, source) == 1);
static_assert(offsetof(DeviceSettings, muteOn) == 9);
static_assert(offsetof(DeviceSettings, dimMode) == 10);
static_assert(offsetof(DeviceSettings, monitorMode) == 11);
static_assert(offsetof(DeviceSettings, gainLeft) == 12);
static_assert(offsetof(DeviceSettings, gainRight) == 13);
static_assert(offsetof(DeviceSettings, ballistics) == 14);
static_assert(offsetof(DeviceSettings, peakHold) == 15);
static_assert(offsetof(DeviceSettings, brightness) == 16);
static_assert(offsetof(DeviceSettings, levelScale) == 17);
static_assert(sizeof(DeviceStatus) == kStatusSize);
static_assert(offsetof(DeviceStatus, levelLeft) == 0);
static_assert(offsetof(DeviceStatus, levelRight) == 1);
static_assert(offsetof(DeviceStatus, spare) == 2);
static_assert(offsetof(DeviceStatus, auxValues) == 4);

inline constexpr int kSourceCount = 18;

// Byte index of the source slot of `preset` (0..3) and `side` (0 left, 1 right).
constexpr int sourceSlot(int preset, int side) {
    return 1 + 2 * preset + side;
}

// "SDI #1".."SDI #16", "ANALOG L", "ANALOG R"; empty for an index outside the list.
std::string sourceName(int index);

inline constexpr std::array<uint8_t, kSettingsSize> kFactoryDefaults = {
    0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00};

inline std::span<uint8_t, kSettingsSize> rawBytes(DeviceSettings& s) {
    return std::span<uint8_t, kSettingsSize>(reinterpret_cast<uint8_t*>(&s), kSettingsSize);
}
inline std::span<const uint8_t, kSettingsSize> rawBytes(const DeviceSettings& s) {
    return std::span<const uint8_t, kSettingsSize>(reinterpret_cast<const uint8_t*>(&s),
                                                   kSettingsSize);
}

inline DeviceSettings settingsFromBytes(std::span<const uint8_t, kSettingsSize> bytes) {
    DeviceSettings s;
    std::memcpy(&s, bytes.data(), kSettingsSize);
    return s;
}

inline DeviceStatus statusFromBytes(std::span<const uint8_t, kStatusSize> bytes) {
    DeviceStatus s;
    std::memcpy(&s, bytes.data(), kStatusSize);
    return s;
}

inline DeviceSettings factoryDefaults() {
    return settingsFromBytes(kFactoryDefaults);
}

} // namespace qx
