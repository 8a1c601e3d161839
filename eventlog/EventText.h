// SPDX-License-Identifier: GPL-3.0-or-later
// An event told in one line of text, for the command line, the window and the CSV export.
#pragma once

#include "watch/Event.h"

#include <string>

namespace qx::eventlog {

// The event's further fields as "key=value" words in the order written, texts first; a value
// with spaces, quotes or nothing in it is quoted. A number that was not finite reads "-".
std::string eventDetails(const watch::Event& event);

// The unit as shown: its name, else its serial number, else "-" (the program's own events).
std::string unitShown(const watch::Event& event);

// "2026-12-11 04:12:45  Studio A  over  channel=left": local time, unit, kind, details.
std::string eventText(const watch::Event& event);

} // namespace qx::eventlog
