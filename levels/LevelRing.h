// SPDX-License-Identifier: GPL-3.0-or-later
// The level history: the readings of both channels over the last ten minutes, in a ring of
// fixed size, so memory never grows however long the program runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx::levels {

struct LevelSample {
    // Steady time for spacing and gaps, wall time for what the operator reads; both in ms.
    int64_t monoMs = 0;
    int64_t wallMs = 0;
    int8_t left = 0;
    int8_t right = 0;

    bool overLeft() const;
    bool overRight() const;
};

class LevelRing {
public:
    // Ten minutes at the status rate of 10 Hz.
    static constexpr std::size_t kCapacity = 6000;
    static constexpr std::chrono::milliseconds kSpan{10 * 60 * 1000};
    // Readings closer than this to the previous one are merged into it (the higher level of
    // each channel is kept), so a faster stream cannot shorten the ten minutes nor lose a peak.
    static constexpr std::chrono::milliseconds kMinSpacing{90};
    // No reading for longer than this is a gap: the unit was unplugged, in boot mode or silent.
    static constexpr std::chrono::milliseconds kGapAfter{500};

    explicit LevelRing(std::size_t capacity = kCapacity);

    // Adds a reading; readings must come in steady-time order (an older one is dropped).
    void add(const LevelSample& s);
    void clear();

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return slots_.size(); }
    bool empty() const { return size_ == 0; }
    // 0 is the oldest reading kept.
    const LevelSample& operator[](std::size_t i) const;
    const LevelSample& newest() const { return (*this)[size_ - 1]; }
    // Whether the line breaks between reading i - 1 and reading i.
    bool gapBefore(std::size_t i) const;
    // The first reading at or after `monoMs` (size() when there is none).
    std::size_t lowerBound(int64_t monoMs) const;

private:
    LevelSample& at(std::size_t i);

    std::vector<LevelSample> slots_;
    std::size_t head_ = 0; // slot of the oldest reading
    std::size_t size_ = 0;
};

} // namespace qx::levels
