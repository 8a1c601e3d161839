// SPDX-License-Identifier: GPL-3.0-or-later
// One event as one line of JSON, and back:
//   {"time":"2026-12-11T03:12:45.120Z","kind":"over","serial":"QX7700000042","unit":"Studio A",
//    then the event's texts ("key":"value") and numbers ("key":1.5, null when not finite)}
//
// The reader is a small checked parser of exactly this shape: one flat object whose values are
// strings, numbers or null. Anything else (a torn line, a damaged byte, nesting) is refused,
// never half-trusted. Plain C++ without Qt.
#pragma once

#include "watch/Event.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qx::eventlog {

// Longest line the reader accepts; the writer never writes a longer one.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// The line without its newline. Text that is not valid UTF-8 has each bad byte replaced by
// U+FFFD; extra fields named like the fixed ones (time, kind, serial, unit) are left out, and
// so are texts beyond what keeps the line within kMaxLineBytes.
std::string formatEventLine(const watch::Event& event);

// The event a line holds (without its newline; a trailing '\r' is refused too); nullopt when it
// is not a complete line of that shape. A null number reads back as NaN.
std::optional<watch::Event> parseEventLine(std::string_view line);

// `text` as a JSON string, quotes included, with invalid UTF-8 replaced.
std::string jsonQuoted(std::string_view text);

// A number as the log writes it: the shortest text that reads back the same; "null" when not
// finite.
std::string jsonNumber(double value);

} // namespace qx::eventlog
