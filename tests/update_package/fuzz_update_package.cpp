// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the update package reader. Packages are files the operator picks, so any
// byte string must be accepted or refused without reading out of bounds or growing without
// bound. Each input is read against fixed units and against the package's own name, so the
// record walk runs whenever the header parses; accepted images are packed again with mkorbu's
// writer and must read back the same.
#include "tools/mkorbu/PackageWriter.h"
#include "update/UpdatePackage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void checkResult(const qx::PackageReadResult& r, std::string_view device) {
    switch (r.verdict) {
    case qx::PackageVerdict::Accepted:
        check(r.message.empty());
        check(qx::packageFitsDevice(r.package.header, device));
        check(r.package.flash.size() + r.package.eeprom.size() <= qx::kMaxAreaOffset);
        check(r.package.header.version.major <= 9 && r.package.header.version.minor <= 9);
        check(r.package.header.date.empty());
        break;
    case qx::PackageVerdict::NameMismatch:
        check(r.message == qx::kInvalidFileText);
        check(!qx::packageFitsDevice(r.package.header, device));
        break;
    case qx::PackageVerdict::Malformed:
        check(!r.message.empty());
        break;
    case qx::PackageVerdict::Unreadable:
        check(false);
        break;
    }
}

void checkRoundTrip(const qx::UpdatePackage& package) {
    const qx::TinfVersion v = package.header.version;
    const qx::PackageWriteResult w = qx::writePackage(
        {package.header.name,
         std::string{static_cast<char>('0' + v.major), '.', static_cast<char>('0' + v.minor)},
         package.flash, package.eeprom});
    if (!w.ok) {
        return; // a header near 65535 bytes leaves no room for the version key
    }
    const qx::PackageReadResult again =
        qx::readUpdatePackage(w.bytes, "(boot)" + qx::latin1ToUtf8(package.header.name));
    check(again.verdict == qx::PackageVerdict::Accepted);
    check(again.package.header.name == package.header.name);
    check(again.package.flash == package.flash);
    check(again.package.eeprom == package.eeprom);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly sized heap copy, so that AddressSanitizer sees any read past the end.
    auto copy = std::make_unique<uint8_t[]>(size);
    for (size_t i = 0; i < size; ++i) {
        copy[i] = data[i];
    }
    const std::span<const uint8_t> file(copy.get(), size);

    for (const std::string_view device : {"QX-77ZT (boot)", ""}) {
        checkResult(qx::readUpdatePackage(file, device), device);
    }

    const qx::PackageHeaderResult header = qx::readPackageHeader(file);
    if (!header.ok) {
        return 0;
    }
    check(header.length >= 3 && header.length <= size);
    // Only the first "(boot)" is taken out, so a leading one leaves the name itself.
    const std::string own = "(boot)" + qx::latin1ToUtf8(header.header.name);
    const qx::PackageReadResult r = qx::readUpdatePackage(file, own);
    checkResult(r, own);
    check(r.verdict != qx::PackageVerdict::NameMismatch);
    if (r.verdict == qx::PackageVerdict::Accepted) {
        checkRoundTrip(r.package);
    }
    return 0;
}
