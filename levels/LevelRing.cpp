// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelRing.h"

#include "levels/LevelScale.h"

#include <algorithm>
#include <stdexcept>

namespace qx::levels {

bool LevelSample::overLeft() const {
    return left == kOverLevel;
}

bool LevelSample::overRight() const {
    return right == kOverLevel;
}

LevelRing::LevelRing(std::size_t capacity) : slots_(std::max<std::size_t>(capacity, 1)) {}

LevelSample& LevelRing::at(std::size_t i) {
    return slots_[(head_ + i) % slots_.size()];
}

const LevelSample& LevelRing::operator[](std::size_t i) const {
    if (i >= size_) {
        throw std::out_of_range("LevelRing index");
    }
    return slots_[(head_ + i) % slots_.size()];
}

void LevelRing::clear() {
    head_ = 0;
    size_ = 0;
}

void LevelRing::add(const LevelSample& s) {
    if (size_ > 0) {
        LevelSample& last = at(size_ - 1);
        if (s.monoMs < last.monoMs) {
            return;
        }
        if (s.monoMs - last.monoMs < kMinSpacing.count()) {
            last.left = std::max(last.left, s.left);
            last.right = std::max(last.right, s.right);
            return;
        }
    }
    if (size_ == slots_.size()) {
        head_ = (head_ + 1) % slots_.size();
        --size_;
    }
    at(size_) = s;
    ++size_;
    // Older than ten minutes before the newest reading: no longer history.
    while (size_ > 1 && s.monoMs - at(0).monoMs > kSpan.count()) {
        head_ = (head_ + 1) % slots_.size();
        --size_;
    }
}

bool LevelRing::gapBefore(std::size_t i) const {
    return i > 0 && i < size_ && (*this)[i].monoMs - (*this)[i - 1].monoMs > kGapAfter.count();
}

std::size_t LevelRing::lowerBound(int64_t monoMs) const {
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if ((*this)[mid].monoMs < monoMs) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

} // namespace qx::levels
