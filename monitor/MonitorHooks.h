// SPDX-License-Identifier: GPL-3.0-or-later
// Where the monitor lets other parts of the program follow it (the alarms, the event log): each
// hook runs on the monitor's (main) thread and may be left empty.
#pragma once

#include <functional>
#include <string>

namespace qx::room {
class UnitRoom;
}

namespace qx::monitor {

struct MonitorHooks {
    // The monitor has made its room and is about to start it: at start, and again each time it
    // takes the units back from the window program (a new room each time). The room lives until
    // beforeRelease() or stopping() has returned.
    std::function<void(room::UnitRoom&)> started;
    // The units are about to go to the window program: no transfer runs, the room is still
    // there and still polled. Flush what must not be lost here.
    std::function<void()> beforeRelease;
    // The units are back from the window program (after started() with the new room).
    std::function<void()> afterTake;
    // The monitor is ending: no transfer runs; the room, when the monitor holds the units, is
    // still there.
    std::function<void()> stopping;
    // A line about what the monitor does (the program's events, for a terminal or the journal);
    // empty: written to the standard error.
    std::function<void(const std::string&)> log;
};

} // namespace qx::monitor
