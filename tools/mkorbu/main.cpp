// SPDX-License-Identifier: GPL-3.0-or-later
// mkorbu: packs a flash image and an EEPROM image into an update package.
//
//   mkorbu --name QX-77ZT --flash f.bin --eeprom e.bin [--version 1.2] -o out.orbu
//
// Either image may be left out; it is then empty in the package.
#include "tools/mkorbu/PackageWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr std::string_view kUsage =
    "usage: mkorbu --name MODEL [--flash FLASH.bin] [--eeprom EEPROM.bin] [--version M.m] "
    "-o OUT.orbu\n";

struct Options {
    std::optional<std::string> name;
    std::optional<std::string> flash;
    std::optional<std::string> eeprom;
    std::optional<std::string> version;
    std::optional<std::string> output;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::optional<std::string>* slot = nullptr;
        if (arg == "--name") {
            slot = &options.name;
        } else if (arg == "--flash") {
            slot = &options.flash;
        } else if (arg == "--eeprom") {
            slot = &options.eeprom;
        } else if (arg == "--version") {
            slot = &options.version;
        } else if (arg == "-o" || arg == "--output") {
            slot = &options.output;
        } else {
            std::cerr << "mkorbu: unknown argument \"" << arg << "\"\n";
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::cerr << "mkorbu: " << arg << " needs a value\n";
            return std::nullopt;
        }
        *slot = argv[++i];
    }
    if (!options.name || !options.output) {
        std::cerr << "mkorbu: --name and -o are required\n";
        return std::nullopt;
    }
    return options;
}

bool readImage(const std::optional<std::string>& path, std::vector<std::uint8_t>& image) {
    if (!path) {
        return true;
    }
    std::ifstream in(*path, std::ios::binary);
    if (!in) {
        std::cerr << "mkorbu: cannot open \"" << *path << "\": " << std::strerror(errno) << "\n";
        return false;
    }
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::cerr << "mkorbu: cannot read \"" << *path << "\"\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }

    qx::PackageContents contents;
    contents.name = *options->name;
    contents.version = options->version;
    if (!readImage(options->flash, contents.flash) ||
        !readImage(options->eeprom, contents.eeprom)) {
        return 1;
    }

    const qx::PackageWriteResult package = qx::writePackage(contents);
    if (!package.ok) {
        std::cerr << "mkorbu: " << package.error << "\n";
        return 1;
    }

    std::ofstream out(*options->output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(package.bytes.data()),
              static_cast<std::streamsize>(package.bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "mkorbu: cannot write \"" << *options->output << "\"\n";
        return 1;
    }
    return 0;
}
