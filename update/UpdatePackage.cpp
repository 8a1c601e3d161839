// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdatePackage.h"

#include "update/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include <fcntl.h>

namespace qx {

namespace {

constexpr std::string_view kNameKey = "NAME=";
constexpr std::string_view kVersionKey = "VERSION=";
constexpr std::string_view kBootMark = "(boot)";

// A valid package has a header of at most 65535 bytes and a record area of at most 65535 bytes.
// Reading one byte more than that is enough to refuse anything longer with the same verdict and
// message as the whole file would get, without loading an arbitrarily large file into memory.
constexpr std::size_t kMaxFileRead = 0xFFFF + kMaxAreaOffset + 1;

std::string malformed(std::string_view what) {
    return "Malformed update package: " + std::string(what) + ".";
}

std::uint8_t digitAt(std::string_view text, std::size_t pos) {
    if (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        return static_cast<std::uint8_t>(text[pos] - '0');
    }
    return 0;
}

std::size_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::size_t>(bytes[offset]) << 8 | bytes[offset + 1];
}

} // namespace

PackageHeaderResult readPackageHeader(std::span<const std::uint8_t> file) {
    PackageHeaderResult result;
    if (file.size() < 2) {
        result.error = malformed("the file is too short to hold a header");
        return result;
    }
    const std::size_t length = readU16(file, 0);
    if (length < 3) {
        result.error = malformed("the header length is " + std::to_string(length) +
                                 ", less than the 3 bytes of the shortest header");
        return result;
    }
    if (length > file.size()) {
        result.error = malformed("the header length " + std::to_string(length) +
                                 " runs past the end of the file of " +
                                 std::to_string(file.size()) + " bytes");
        return result;
    }

    const auto raw = file.subspan(2, length - 2);
    const auto end = std::find(raw.begin(), raw.end(), std::uint8_t{0});
    const std::string text(raw.begin(), end);

    const std::size_t namePos = text.find(kNameKey);
    if (namePos != std::string::npos) {
        // The name ends at the first "&" of the whole text, which must come after the key.
        const std::size_t amp = text.find('&');
        if (amp == std::string::npos || amp < namePos) {
            result.error = malformed("the model name after \"NAME=\" is not ended by \"&\"");
            return result;
        }
        const std::size_t start = namePos + kNameKey.size();
        result.header.name = text.substr(start, amp - start);
    }

    const std::size_t versionPos = text.find(kVersionKey);
    if (versionPos != std::string::npos) {
        // Written as "1.2": the first and the third character after the key.
        result.header.version.major = digitAt(text, versionPos + kVersionKey.size());
        result.header.version.minor = digitAt(text, versionPos + kVersionKey.size() + 2);
    }

    result.ok = true;
    result.length = length;
    return result;
}

PackageRecordsResult readPackageRecords(std::span<const std::uint8_t> area) {
    PackageRecordsResult result;
    if (area.empty()) {
        result.error = malformed("there are no records after the header");
        return result;
    }
    if (area.size() > kMaxAreaOffset) {
        result.error = malformed("the record area is " + std::to_string(area.size()) +
                                 " bytes long, more than the 65535 allowed");
        return result;
    }

    std::size_t offset = 0;
    while (offset < area.size()) {
        const std::size_t left = area.size() - offset;
        const std::string where = "the record at offset " + std::to_string(offset);
        if (left < 7) {
            result.error = malformed(where + " ends before its kind byte");
            return result;
        }
        const std::size_t n = std::min(readU16(area, offset), kMaxRecordData);
        const std::uint8_t kind = area[offset + 6];
        if (kind == kKindFlash || kind == kKindEeprom) {
            // The first data byte must be there even for an empty record.
            if (left - 7 < std::max<std::size_t>(n, 1)) {
                result.error = malformed(where + " ends before its data does");
                return result;
            }
            auto& image = kind == kKindFlash ? result.flash : result.eeprom;
            const auto data = area.subspan(offset + 7, n);
            image.insert(image.end(), data.begin(), data.end());
        }
        const std::size_t next = offset + n + kRecordOverhead;
        if (next > kMaxAreaOffset) {
            result.error = malformed(where + " reaches past offset 65535");
            return result;
        }
        offset = next;
    }
    result.ok = true;
    return result;
}

std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() * 2);
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string deviceNameFromField(std::string_view deviceField) {
    std::string name(deviceField);
    // "(boot)" is plain ASCII, so a byte search cannot match inside a multi-byte character.
    const std::size_t pos = name.find(kBootMark);
    if (pos != std::string::npos) {
        name.erase(pos, kBootMark.size());
    }
    return name;
}

bool packageFitsDevice(const Tinf& header, std::string_view deviceField) {
    return deviceNameFromField(deviceField) == latin1ToUtf8(header.name);
}

PackageReadResult readUpdatePackage(std::span<const std::uint8_t> file,
                                    std::string_view deviceField) {
    PackageReadResult result;
    PackageHeaderResult header = readPackageHeader(file);
    if (!header.ok) {
        result.verdict = PackageVerdict::Malformed;
        result.message = std::move(header.error);
        return result;
    }
    if (!packageFitsDevice(header.header, deviceField)) {
        result.verdict = PackageVerdict::NameMismatch;
        result.package.header = std::move(header.header);
        result.message = std::string(kInvalidFileText);
        return result;
    }
    PackageRecordsResult records = readPackageRecords(file.subspan(header.length));
    if (!records.ok) {
        result.verdict = PackageVerdict::Malformed;
        result.message = std::move(records.error);
        return result;
    }
    result.verdict = PackageVerdict::Accepted;
    result.package.header = std::move(header.header);
    result.package.flash = std::move(records.flash);
    result.package.eeprom = std::move(records.eeprom);
    return result;
}

PackageFileRead readPackageFileBytes(const std::filesystem::path& path) {
    const auto refused = [&path](const std::string& reason) {
        PackageFileRead result;
        result.message =
            "Cannot read the update package \"" + path.string() + "\": " + reason + ".";
        return result;
    };
    const auto unreadable = [&refused](int error) {
        return refused(error != 0 ? std::error_code(error, std::generic_category()).message()
                                  : std::string("read error"));
    };

    // A pipe or a device picked in the dialog would block the window (or never end).
    RegularFile opened = RegularFile::open(path.string(), O_RDONLY);
    if (!opened.ok()) {
        return refused(opened.error());
    }
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(opened.fd(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return unreadable(errno);
    }
    opened.release(); // closed by the stream from now on
    std::vector<std::uint8_t> bytes(kMaxFileRead);
    std::size_t got = 0;
    while (got < bytes.size()) {
        errno = 0;
        const std::size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, file.get());
        got += n;
        if (n == 0) {
            if (std::ferror(file.get())) {
                return unreadable(errno);
            }
            break;
        }
    }
    bytes.resize(got);
    PackageFileRead result;
    result.ok = true;
    result.bytes = std::move(bytes);
    return result;
}

PackageReadResult readUpdatePackageFile(const std::filesystem::path& path,
                                        std::string_view deviceField) {
    PackageFileRead file = readPackageFileBytes(path);
    if (!file.ok) {
        PackageReadResult result;
        result.verdict = PackageVerdict::Unreadable;
        result.message = std::move(file.message);
        return result;
    }
    return readUpdatePackage(file.bytes, deviceField);
}

} // namespace qx
