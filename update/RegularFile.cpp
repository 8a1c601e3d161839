// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/RegularFile.h"

#include <utility>

namespace qx {

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), errno_(other.errno_), error_(std::move(other.error_)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        errno_ = other.errno_;
        error_ = std::move(other.error_);
    }
    return *this;
}

RegularFile::~RegularFile() {
    reset();
}

int RegularFile::release() {
    return std::exchange(fd_, -1);
}

} // namespace qx
