// SPDX-License-Identifier: GPL-3.0-or-later
// Reading of `.orbu` update packages: the header with the model name, the check against the
// connected unit, and the flash and EEPROM images of the record area.
//
// Packages come from outside, so every length is checked before it is read and every damaged
// package is refused with a message saying what is wrong. Nothing here touches the unit: the
// caller sends the images only after an accepted result.
#ifndef QX_UPDATE_PACKAGE_H
#define QX_UPDATE_PACKAGE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// Largest offset within the record area; the unit addresses its memories with 16 bits.
inline constexpr std::size_t kMaxAreaOffset = 65535;
// A record's length field may say more, but no record carries more data than this.
inline constexpr std::size_t kMaxRecordData = 256;
// Bytes of a record besides its data: length, four unread bytes, kind, two trailing bytes.
inline constexpr std::size_t kRecordOverhead = 9;
// Record kinds that are kept; any other kind is stepped over.
inline constexpr std::uint8_t kKindFlash = 0;
inline constexpr std::uint8_t kKindEeprom = 2;
// What the update window shows when a package is meant for another model.
inline constexpr std::string_view kInvalidFileText = "Invalid file!";

struct TinfVersion {
    std::uint8_t major = 0; // 0 to 9
    std::uint8_t minor = 0; // 0 to 9
};

// The package header. `name` and `date` are 8-bit text exactly as stored in the file.
struct Tinf {
    std::string name;
    TinfVersion version;
    std::string date; // no header key fills it
};

struct UpdatePackage {
    Tinf header;
    std::vector<std::uint8_t> flash;  // byte i goes to flash address i
    std::vector<std::uint8_t> eeprom; // byte i goes to EEPROM address i
};

enum class PackageVerdict {
    Accepted,     // the package fits the unit; `package` is complete
    NameMismatch, // meant for another model; only `package.header` is filled
    Malformed,    // the file is damaged; `message` says how
    Unreadable,   // the file could not be read; `message` gives the system's reason
};

struct PackageReadResult {
    PackageVerdict verdict = PackageVerdict::Malformed;
    UpdatePackage package;
    std::string message; // English; kInvalidFileText for a name mismatch, empty when accepted
};

struct PackageHeaderResult {
    bool ok = false;
    Tinf header;
    std::size_t length = 0; // H: the record area starts here
    std::string error;      // what is wrong when !ok
};

struct PackageRecordsResult {
    bool ok = false;
    std::vector<std::uint8_t> flash;
    std::vector<std::uint8_t> eeprom;
    std::string error; // what is wrong when !ok
};

// Reads the header length and the "NAME=" and "VERSION=" keys of a whole package file.
PackageHeaderResult readPackageHeader(std::span<const std::uint8_t> file);

// Walks the records after the header and gathers the two images.
PackageRecordsResult readPackageRecords(std::span<const std::uint8_t> area);

// Widens 8-bit package text to UTF-8, one character per byte.
std::string latin1ToUtf8(std::string_view latin1);

// The unit's model name: the "Device" field (UTF-8) with its first "(boot)" taken out.
std::string deviceNameFromField(std::string_view deviceField);

// True when the package is meant for the unit whose "Device" field (UTF-8) is given. Letter case
// and spaces count; an empty name fits only an empty field.
bool packageFitsDevice(const Tinf& header, std::string_view deviceField);

// Reads a whole package in the order header, check against the unit, record area, so that a
// package for another model is refused as such even when its records are damaged.
PackageReadResult readUpdatePackage(std::span<const std::uint8_t> file,
                                    std::string_view deviceField);

struct PackageFileRead {
    bool ok = false;
    std::vector<std::uint8_t> bytes; // the whole file when ok
    std::string message;             // why it could not be read, when !ok
};

// Loads a package file whole, refusing anything but a regular file.
PackageFileRead readPackageFileBytes(const std::filesystem::path& path);

// The same for a file on disk. The file is loaded first; a file that cannot be opened or read is
// refused as Unreadable with the system's reason in the message.
PackageReadResult readUpdatePackageFile(const std::filesystem::path& path,
                                        std::string_view deviceField);

} // namespace qx

#endif
