// SPDX-License-Identifier: GPL-3.0-or-later
// The line format of the state files: one record per line, fields separated by single spaces,
// every field printable ASCII without spaces. Any other byte in a field is written as %HH; an
// empty field is a lone "%".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::state {

std::string escapeField(std::string_view text);
// nullopt for anything escapeField cannot have written.
std::optional<std::string> unescapeField(std::string_view field);

// Lower-case hexadecimal, two digits a byte.
std::string hexText(std::span<const std::uint8_t> bytes);
// Exactly `size` bytes from 2 × `size` hexadecimal digits (either case); nullopt otherwise.
std::optional<std::vector<std::uint8_t>> bytesFromHex(std::string_view text, std::size_t size);

// A decimal number without sign or leading zeros (a lone 0 aside) that fits 64 bits.
std::optional<std::uint64_t> decimalField(std::string_view field);
std::optional<std::int64_t> signedDecimalField(std::string_view field);

// The file's lines without their '\n'; nullopt when the last line is not ended (a cut-short
// file) or a line holds a byte outside printable ASCII.
std::optional<std::vector<std::string_view>> textLines(std::span<const std::uint8_t> file);
// What every state file starts with: at most `maxSize` bytes of text lines, the first one
// `header`, then at most `maxRecords` record lines. The lines, header included; nullopt with
// `error` set otherwise. `kind` names the file ("a settings memory"), `records` what its lines
// hold ("units").
struct StateFileShape {
    std::size_t maxSize;
    std::string_view header;
    std::size_t maxRecords;
    std::string_view kind;
    std::string_view records;
};
std::optional<std::vector<std::string_view>>
headedLines(std::span<const std::uint8_t> file, const StateFileShape& shape, std::string& error);
// The fields of a line; empty fields (two spaces in a row, a leading or trailing space) give
// nullopt.
std::optional<std::vector<std::string_view>> lineFields(std::string_view line);

} // namespace qx::state
